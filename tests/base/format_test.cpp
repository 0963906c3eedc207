#include "base/Format.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

namespace {

using base::Array;
using base::Decimal;
using base::Dictionary;
using base::Error;
using base::format;
using base::Value;

template <class T>
std::string cFormat(const std::string& fmt, T value) {
    char buf[512];
    const int n = std::snprintf(buf, sizeof buf, fmt.c_str(), value);
    return std::string(buf, static_cast<size_t>(std::max(n, 0)));
}

// A random "%[flags][width][.precision]" prefix; `allowAlt` where '#' is defined in C.
std::string randomSpec(std::mt19937_64& rng, bool allowAlt) {
    std::string spec = "%";
    const std::string flags = allowAlt ? "-+ 0#" : "-+ 0";
    for (char f : flags) {
        if (rng() % 4 == 0) {
            spec.push_back(f);
        }
    }
    if (rng() % 2 == 0) {
        spec += std::to_string(rng() % 25);
    }
    if (rng() % 2 == 0) {
        spec += "." + (rng() % 3 == 0 ? std::string() : std::to_string(rng() % 22));
    }
    return spec;
}

int64_t randomInteger(std::mt19937_64& rng) {
    switch (rng() % 4) {
        case 0:
            return static_cast<int64_t>(rng() % 21) - 10;
        case 1:
            return static_cast<int64_t>(rng()) >> (rng() % 64);
        case 2:
            return rng() % 2 ? std::numeric_limits<int64_t>::max()
                             : std::numeric_limits<int64_t>::min();
        default:
            return static_cast<int64_t>(rng());
    }
}

double randomDouble(std::mt19937_64& rng) {
    static const double kSpecial[] = {
        0.0,      -0.0,      0.5,         1.5,   2.5,  -2.5,        0.125,  1e-5,
        9.5,      99.5,      0.05,        0.005, 1e21, 123456789.0, 5e-324, 1.7976931348623157e308,
        HUGE_VAL, -HUGE_VAL, std::nan("")};
    switch (rng() % 4) {
        case 0:
            return kSpecial[rng() % std::size(kSpecial)];
        case 1:
            return static_cast<double>(static_cast<int64_t>(rng() % 2000001) - 1000000) / 1000.0;
        case 2:
            return std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 120) - 80);
        default:
            return std::bit_cast<double>(rng());
    }
}

// ---- against the C library's printf -----------------------------------------------------

TEST(FormatNumbers, SignedIntegersMatchPrintf) {
    std::mt19937_64 rng(1);
    for (int i = 0; i < 20000; ++i) {
        const int64_t v = randomInteger(rng);
        const std::string spec = randomSpec(rng, false) + (rng() % 2 ? "d" : "i");
        const int iv = static_cast<int>(v);
        ASSERT_EQ(format(spec, iv), cFormat(spec, iv)) << spec << " " << iv;
        const std::string longSpec = spec.substr(0, spec.size() - 1) + "l" + spec.back();
        ASSERT_EQ(format(longSpec, static_cast<long>(v)), cFormat(longSpec, static_cast<long>(v)))
            << longSpec << " " << v;
        const std::string llSpec = spec.substr(0, spec.size() - 1) + "ll" + spec.back();
        ASSERT_EQ(format(llSpec, static_cast<long long>(v)),
                  cFormat(llSpec, static_cast<long long>(v)))
            << llSpec << " " << v;
    }
}

TEST(FormatNumbers, UnsignedIntegersMatchPrintf) {
    std::mt19937_64 rng(2);
    const char conversions[] = {'u', 'x', 'X', 'o'};
    for (int i = 0; i < 20000; ++i) {
        const int64_t v = randomInteger(rng);
        const char c = conversions[rng() % std::size(conversions)];
        const std::string prefix = randomSpec(rng, c != 'u');
        const std::string spec = prefix + c;
        const unsigned uv = static_cast<unsigned>(v);
        ASSERT_EQ(format(spec, uv), cFormat(spec, uv)) << spec << " " << uv;
        // Negative ints shown through an unsigned conversion, as C does for an int.
        const int iv = static_cast<int>(v);
        ASSERT_EQ(format(spec, iv), cFormat(spec, static_cast<unsigned>(iv))) << spec << " " << iv;
        for (const char* length : {"l", "ll", "z"}) {
            const std::string lspec = prefix + length + c;
            ASSERT_EQ(format(lspec, static_cast<uint64_t>(v)),
                      cFormat(lspec, static_cast<unsigned long>(v)))
                << lspec << " " << v;
        }
        const std::string lspec = prefix + "l" + c;
        ASSERT_EQ(format(lspec, static_cast<long>(v)),
                  cFormat(lspec, static_cast<unsigned long>(v)))
            << lspec << " " << v;
        const std::string hhspec = prefix + "hh" + c;
        ASSERT_EQ(format(hhspec, static_cast<signed char>(v)),
                  cFormat(hhspec, static_cast<unsigned char>(v)))
            << hhspec << " " << v;
    }
}

TEST(FormatNumbers, FloatingPointMatchesPrintf) {
    std::mt19937_64 rng(3);
    const char conversions[] = {'f', 'F', 'e', 'E', 'g', 'G'};
    for (int i = 0; i < 30000; ++i) {
        const double v = randomDouble(rng);
        const std::string spec =
            randomSpec(rng, true) + conversions[rng() % std::size(conversions)];
        ASSERT_EQ(format(spec, v), cFormat(spec, v)) << spec << " " << v;
    }
    // The forms the system's texts use.
    for (double v : {0.0, 0.005, 0.015, 1.005, 2.5, 3.5, -0.5, 1234.5678, 1e15, 99.995, 7.0}) {
        for (const char* spec : {"%0.2f", "%0.3f", "%0.0f", "%.1f", "%5.1f%%"}) {
            EXPECT_EQ(format(spec, v), cFormat(spec, v)) << spec << " " << v;
        }
    }
}

TEST(FormatNumbers, SizesAndCharactersMatchPrintf) {
    EXPECT_EQ(format("%zu bytes", size_t{123456789}), "123456789 bytes");
    EXPECT_EQ(format("%llu", std::numeric_limits<unsigned long long>::max()),
              "18446744073709551615");
    EXPECT_EQ(format("%lu", 0ul), "0");
    EXPECT_EQ(format("%02x%02x", 7, 255), "07ff");
    EXPECT_EQ(format("[%c%3c%-3c]", 'a', 'b', 'c'),
              cFormat("[%c", 'a') + cFormat("%3c", 'b') + cFormat("%-3c]", 'c'));
    EXPECT_EQ(format("%c", 0xe9), "\u00e9");  // a code point becomes UTF-8
    EXPECT_EQ(format("%c", "\u00e9t\u00e9"), "\u00e9");
    EXPECT_EQ(format("%*d|%-*d|%.*f", 5, 42, 4, 7, 2, 3.14159), "   42|7   |3.14");
    EXPECT_EQ(format("%*d|%.*f", -5, 42, -1, 2.5), "42   |2.500000");  // as C reads them
    EXPECT_EQ(format("%p", static_cast<const void*>(nullptr)), "0x0");
}

// ---- %@, %s and conversions across types ----------------------------------------------

TEST(FormatObjects, ObjectConversionWritesAnything) {
    const Value dict(Dictionary{{"a", 1}});
    EXPECT_EQ(format("%@", dict), "{\n    a = 1;\n}");
    EXPECT_EQ(format("<%@>", Value("text")), "<text>");
    EXPECT_EQ(format("%@", Error("D", 2)),
              "Error Domain=D Code=2 \"The operation couldn\u2019t be completed. (D error 2.)\"");
    EXPECT_EQ(format("%@", Decimal::fromString("-1.50").value()), "-1.5");
    EXPECT_EQ(format("%@ %@ %@", 42, 0.1, std::string("s")), "42 0.1 s");
    EXPECT_EQ(format("%@ %@", std::numeric_limits<uint64_t>::max(), std::nan("")),
              "18446744073709551615 nan");
    EXPECT_EQ(format("%s", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(format("%@", static_cast<const void*>(nullptr)), "(null)");
    EXPECT_EQ(format("%s|%5s|%-5s|%.2s", "abc", "ab", "ab", "abc"), "abc|   ab|ab   |ab");
    EXPECT_EQ(format("%5@|", "\u00e9"), "    \u00e9|");  // widths count characters
    EXPECT_EQ(format("%.1s|", "\u00e9"), "|");           // precision never splits a character
    EXPECT_EQ(format("%s", Value(Array{})), "(\n)");
}

TEST(FormatObjects, ArgumentsConvertToTheConversion) {
    EXPECT_EQ(format("%d", "42abc"), "42");
    EXPECT_EQ(format("%d", std::string("  -7")), "-7");
    EXPECT_EQ(format("%d", Value("12")), "12");
    EXPECT_EQ(format("%d", 3.99), "3");
    EXPECT_EQ(format("%d", -1e300), "-9223372036854775808");
    EXPECT_EQ(format("%d", Decimal::fromString("1e30").value()), "18446744073709551615");
    EXPECT_EQ(format("%d", std::numeric_limits<uint64_t>::max()), "18446744073709551615");
    EXPECT_EQ(format("%f", 2), "2.000000");
    EXPECT_EQ(format("%0.2f", "3.14159"), "3.14");
    EXPECT_EQ(format("%.1f", Decimal::fromString("0.25").value()), "0.2");
    EXPECT_EQ(format("%s", 42), "42");
    EXPECT_EQ(format("%x", -1), "ffffffff");
    EXPECT_EQ(format("%lx", int64_t{-1}), "ffffffffffffffff");
    EXPECT_EQ(format("%x", int64_t{-5000000000}), "fffffffed5fa0e00");  // not an int's
    EXPECT_EQ(format("%d", true), "1");
    EXPECT_EQ(format("%d", Error("D", 9)), "9");
}

// ---- text that is not a complete conversion ---------------------------------------------

TEST(FormatLiterals, MissingArgumentsAreWrittenLiterally) {
    EXPECT_EQ(format("%d %s"), "%d %s");
    EXPECT_EQ(format("%d and %d", 1), "1 and %d");
    EXPECT_EQ(format("%05.1f%@", 1.25), "001.2%@");
    EXPECT_EQ(format("%*d", 5), "%*d");
    EXPECT_EQ(format("%.*f|%d", 2), "%.*f|%d");
    EXPECT_EQ(format("100%"), "100%");
    EXPECT_EQ(format("100%", 5), "100%");
    EXPECT_EQ(format("50%% done"), "50% done");
    EXPECT_EQ(format("%y %k", 1), "%y %k");  // unknown conversions, arguments untouched
    EXPECT_EQ(format("%y %d", 1), "%y 1");
    EXPECT_EQ(format("%ll"), "%ll");
    EXPECT_EQ(format(""), "");
    EXPECT_EQ(format("no conversions", 1, 2), "no conversions");
    EXPECT_EQ(format(std::string_view("a\0%d", 4), 7), std::string("a\0"
                                                                   "7",
                                                                   3));
}

TEST(FormatLiterals, HugeWidthsAreCapped) {
    EXPECT_EQ(format("%99999999999999999999d", 1).size(), 10000u);
    EXPECT_EQ(format("%.99999999f", 1.0).size(), 10002u);
    EXPECT_EQ(format("%*d", std::numeric_limits<int64_t>::min(), 1).size(), 10000u);
    EXPECT_EQ(format("%.*s", std::numeric_limits<int64_t>::max(), "abc"), "abc");
}

}  // namespace

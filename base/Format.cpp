#include "base/Format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <system_error>

namespace base {

namespace {

// Widths and precisions are capped: format strings are ours, but a stray "%999999999d"
// must not ask for a gigabyte.
constexpr int kMaxWidth = 10'000;

struct Spec {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool zero = false;
    bool alt = false;
    bool widthFromArg = false;
    bool precisionFromArg = false;
    int width = 0;
    int precision = -1;  // -1: none given
    int lengthBits = 0;  // bits named by h/hh/l/ll/z/j/t/q/L; 0 when there is none
    char conversion = 0;
};

// An integer argument as sign and magnitude, so every int64 and uint64 stays exact.
struct Integer {
    bool negative = false;
    uint64_t magnitude = 0;
    bool fitsInt32 = false;  // it could have come from an int
};

Integer integerFromSigned(int64_t v) {
    Integer i;
    i.negative = v < 0;
    i.magnitude = i.negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    i.fitsInt32 =
        v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
    return i;
}

Integer integerFromUnsigned(uint64_t v) {
    Integer i;
    i.magnitude = v;
    i.fitsInt32 = v <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
    return i;
}

Integer integerFromDouble(double d) {
    if (std::isnan(d)) {
        return Integer{};
    }
    if (d < 0) {
        if (d <= -9223372036854775808.0) {
            return integerFromSigned(std::numeric_limits<int64_t>::min());
        }
        return integerFromSigned(static_cast<int64_t>(d));
    }
    if (d >= 18446744073709551616.0) {
        return integerFromUnsigned(std::numeric_limits<uint64_t>::max());
    }
    return integerFromUnsigned(static_cast<uint64_t>(d));
}

Integer integerFromDecimal(const Decimal& d) {
    return d.isNegative() ? integerFromSigned(d.toInt64()) : integerFromUnsigned(d.toUInt64());
}

Integer integerOf(const FormatArg& arg) {
    struct Visitor {
        Integer operator()(int64_t v) const { return integerFromSigned(v); }
        Integer operator()(uint64_t v) const { return integerFromUnsigned(v); }
        Integer operator()(double v) const { return integerFromDouble(v); }
        Integer operator()(std::string_view v) const {
            return integerFromSigned(Value(v).integerValue());
        }
        Integer operator()(const Value* v) const { return integerFromSigned(v->integerValue()); }
        Integer operator()(const Error* v) const { return integerFromSigned(v->code()); }
        Integer operator()(const Decimal* v) const { return integerFromDecimal(*v); }
        Integer operator()(const void* v) const {
            return integerFromUnsigned(reinterpret_cast<uintptr_t>(v));
        }
    };
    return std::visit(Visitor{}, arg.storage());
}

double doubleOf(const FormatArg& arg) {
    struct Visitor {
        double operator()(int64_t v) const { return static_cast<double>(v); }
        double operator()(uint64_t v) const { return static_cast<double>(v); }
        double operator()(double v) const { return v; }
        double operator()(std::string_view v) const { return Value(v).doubleValue(); }
        double operator()(const Value* v) const { return v->doubleValue(); }
        double operator()(const Error* v) const { return static_cast<double>(v->code()); }
        double operator()(const Decimal* v) const { return v->toDouble(); }
        double operator()(const void* v) const {
            return static_cast<double>(reinterpret_cast<uintptr_t>(v));
        }
    };
    return std::visit(Visitor{}, arg.storage());
}

template <class T>
std::string toText(T v) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    (void)ec;
    return std::string(buf, end);
}

std::string hexText(uint64_t v, bool upper) {
    char buf[20];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, 16);
    (void)ec;
    if (upper) {
        std::transform(buf, end, buf, [](char c) { return c >= 'a' && c <= 'f' ? c - 32 : c; });
    }
    return std::string(buf, end);
}

std::string pointerText(const void* p) {
    return "0x" + hexText(reinterpret_cast<uintptr_t>(p), false);
}

// What %@ and %s write for an argument.
std::string objectText(const FormatArg& arg) {
    struct Visitor {
        std::string operator()(int64_t v) const { return toText(v); }
        std::string operator()(uint64_t v) const { return toText(v); }
        std::string operator()(double v) const {
            if (std::isnan(v)) {
                return "nan";
            }
            return toText(v);  // shortest text that reads back, "inf" for infinity
        }
        std::string operator()(std::string_view v) const { return std::string(v); }
        std::string operator()(const Value* v) const { return v->describe(); }
        std::string operator()(const Error* v) const { return v->describe(); }
        std::string operator()(const Decimal* v) const { return v->toString(); }
        std::string operator()(const void* v) const { return v ? pointerText(v) : "(null)"; }
    };
    return std::visit(Visitor{}, arg.storage());
}

size_t codePoints(std::string_view s) {
    return static_cast<size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// Cuts `s` to at most `bytes` bytes without splitting a UTF-8 sequence.
std::string_view truncateUtf8(std::string_view s, size_t bytes) {
    if (s.size() <= bytes) {
        return s;
    }
    while (bytes > 0 && (static_cast<unsigned char>(s[bytes]) & 0xC0) == 0x80) {
        --bytes;
    }
    return s.substr(0, bytes);
}

void appendUtf8(std::string& out, uint64_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Pads `body` (whose first `prefixLength` bytes are sign and radix prefix) to the width.
void appendPadded(std::string& out, const Spec& spec, std::string_view body, size_t prefixLength,
                  bool zeroPadAllowed, size_t visibleLength) {
    const size_t width = static_cast<size_t>(spec.width);
    const size_t pad = width > visibleLength ? width - visibleLength : 0;
    if (spec.left) {
        out.append(body);
        out.append(pad, ' ');
    } else if (spec.zero && zeroPadAllowed) {
        out.append(body.substr(0, prefixLength));
        out.append(pad, '0');
        out.append(body.substr(prefixLength));
    } else {
        out.append(pad, ' ');
        out.append(body);
    }
}

void appendText(std::string& out, const Spec& spec, std::string_view text) {
    if (spec.precision >= 0) {
        text = truncateUtf8(text, static_cast<size_t>(spec.precision));
    }
    appendPadded(out, spec, text, 0, false, codePoints(text));
}

void appendInteger(std::string& out, const Spec& spec, Integer value) {
    const char c = spec.conversion;
    const bool isSigned = c == 'd' || c == 'i';
    uint64_t magnitude = value.magnitude;
    if (!isSigned && value.negative) {
        // Unsigned conversions of negative numbers show their two's complement in the
        // width the length modifier names (an int's when there is none and it fits one).
        const int bits = spec.lengthBits != 0 ? spec.lengthBits : (value.fitsInt32 ? 32 : 64);
        magnitude = 0 - magnitude;
        if (bits < 64) {
            magnitude &= (uint64_t{1} << bits) - 1;
        }
    }
    std::string digits;
    if (c == 'x' || c == 'X') {
        digits = hexText(magnitude, c == 'X');
    } else if (c == 'o') {
        char buf[24];
        auto [end, ec] = std::to_chars(buf, buf + sizeof buf, magnitude, 8);
        (void)ec;
        digits.assign(buf, end);
    } else {
        digits = toText(magnitude);
    }
    if (spec.precision == 0 && magnitude == 0) {
        digits.clear();
    }
    if (spec.precision > 0 && digits.size() < static_cast<size_t>(spec.precision)) {
        digits.insert(0, static_cast<size_t>(spec.precision) - digits.size(), '0');
    }
    std::string prefix;
    if (isSigned) {
        if (value.negative && magnitude != 0) {
            prefix = "-";
        } else if (spec.plus) {
            prefix = "+";
        } else if (spec.space) {
            prefix = " ";
        }
    } else if (spec.alt && c == 'o' && (digits.empty() || digits[0] != '0')) {
        digits.insert(0, "0");
    } else if (spec.alt && (c == 'x' || c == 'X') && magnitude != 0) {
        prefix = c == 'x' ? "0x" : "0X";
    }
    const std::string body = prefix + digits;
    appendPadded(out, spec, body, prefix.size(), spec.precision < 0, body.size());
}

std::string fixedText(double v, int precision) {
    std::string buf(static_cast<size_t>(precision) + 400, '\0');
    auto [end, ec] =
        std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, precision);
    (void)ec;
    buf.resize(static_cast<size_t>(end - buf.data()));
    return buf;
}

std::string scientificText(double v, int precision) {
    std::string buf(static_cast<size_t>(precision) + 40, '\0');
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v,
                                   std::chars_format::scientific, precision);
    (void)ec;
    buf.resize(static_cast<size_t>(end - buf.data()));
    return buf;
}

// Drops trailing zeros of the fraction (and a bare point), before any exponent.
void stripFractionZeros(std::string& s) {
    const size_t point = s.find('.');
    if (point == std::string::npos) {
        return;
    }
    const size_t e = std::min(s.find('e'), s.size());
    size_t last = e;
    while (last > point + 1 && s[last - 1] == '0') {
        --last;
    }
    if (last == point + 1) {
        last = point;
    }
    s.erase(last, e - last);
}

void ensurePoint(std::string& s) {
    if (s.find('.') == std::string::npos) {
        s.insert(std::min(s.find('e'), s.size()), ".");
    }
}

// %g: fixed or scientific by the decimal exponent, as C does.
std::string generalText(double v, int precision, bool alt) {
    const int p = precision < 0 ? 6 : std::max(precision, 1);
    int exponent = 0;
    if (v != 0) {
        const std::string sci = scientificText(v, p - 1);
        size_t at = sci.find('e') + 1;
        at += sci[at] == '+' ? 1 : 0;
        std::from_chars(sci.data() + at, sci.data() + sci.size(), exponent);
    }
    std::string s = (exponent < p && exponent >= -4) ? fixedText(v, p - 1 - exponent)
                                                     : scientificText(v, p - 1);
    if (alt) {
        ensurePoint(s);
    } else {
        stripFractionZeros(s);
    }
    return s;
}

void appendFloat(std::string& out, const Spec& spec, double v) {
    const char c = spec.conversion;
    const bool upper = c == 'F' || c == 'E' || c == 'G';
    const double magnitude = std::fabs(v);
    std::string digits;
    const bool finite = std::isfinite(v);
    if (!finite) {
        digits = std::isnan(v) ? "nan" : "inf";
    } else if (c == 'f' || c == 'F') {
        digits = fixedText(magnitude, spec.precision < 0 ? 6 : spec.precision);
        if (spec.alt) {
            ensurePoint(digits);
        }
    } else if (c == 'e' || c == 'E') {
        digits = scientificText(magnitude, spec.precision < 0 ? 6 : spec.precision);
        if (spec.alt) {
            ensurePoint(digits);
        }
    } else {
        digits = generalText(magnitude, spec.precision, spec.alt);
    }
    if (upper) {
        std::transform(digits.begin(), digits.end(), digits.begin(),
                       [](char ch) { return ch >= 'a' && ch <= 'z' ? ch - 32 : ch; });
    }
    std::string prefix;
    if (std::signbit(v)) {
        prefix = "-";
    } else if (spec.plus) {
        prefix = "+";
    } else if (spec.space) {
        prefix = " ";
    }
    const std::string body = prefix + digits;
    appendPadded(out, spec, body, prefix.size(), finite, body.size());
}

void appendCharacter(std::string& out, const Spec& spec, const FormatArg& arg) {
    std::string ch;
    if (const auto* s = std::get_if<std::string_view>(&arg.storage())) {
        size_t n = s->empty() ? 0 : 1;
        while (n < s->size() && (static_cast<unsigned char>((*s)[n]) & 0xC0) == 0x80) {
            ++n;
        }
        ch.assign(s->substr(0, n));
    } else {
        const Integer i = integerOf(arg);
        appendUtf8(ch, i.negative ? (0 - i.magnitude) & 0xFF : i.magnitude);
    }
    Spec plain = spec;
    plain.precision = -1;
    appendPadded(out, plain, ch, 0, false, ch.empty() ? 0 : 1);
}

bool isConversion(char c) {
    static constexpr std::string_view kConversions = "@sdiuxXocpfFeEgG";
    return kConversions.find(c) != std::string_view::npos;
}

// Reads "%[flags][width][.precision][length]conversion" from `fmt` at `i` (just past the
// '%'). Leaves `i` past what was read; conversion 0 when the text ended first.
Spec parseSpec(std::string_view fmt, size_t& i) {
    Spec spec;
    for (; i < fmt.size(); ++i) {
        const char c = fmt[i];
        if (c == '-') {
            spec.left = true;
        } else if (c == '+') {
            spec.plus = true;
        } else if (c == ' ') {
            spec.space = true;
        } else if (c == '0') {
            spec.zero = true;
        } else if (c == '#') {
            spec.alt = true;
        } else {
            break;
        }
    }
    auto readNumber = [&](int& into) {
        for (; i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9'; ++i) {
            into = std::min(into * 10 + (fmt[i] - '0'), kMaxWidth);
        }
    };
    if (i < fmt.size() && fmt[i] == '*') {
        spec.widthFromArg = true;
        ++i;
    } else {
        readNumber(spec.width);
    }
    if (i < fmt.size() && fmt[i] == '.') {
        ++i;
        spec.precision = 0;
        if (i < fmt.size() && fmt[i] == '*') {
            spec.precisionFromArg = true;
            ++i;
        } else {
            readNumber(spec.precision);
        }
    }
    for (; i < fmt.size(); ++i) {
        const char c = fmt[i];
        if (c == 'h') {
            spec.lengthBits = spec.lengthBits == 16 ? 8 : 16;
        } else if (c == 'l' || c == 'z' || c == 'j' || c == 't' || c == 'q' || c == 'L') {
            spec.lengthBits = 64;
        } else {
            break;
        }
    }
    if (i < fmt.size()) {
        spec.conversion = fmt[i++];
    }
    return spec;
}

void appendPointer(std::string& out, const Spec& spec, const FormatArg& arg) {
    std::string text;
    if (const auto* p = std::get_if<const void*>(&arg.storage())) {
        text = pointerText(*p);
    } else {
        text = "0x" + hexText(integerOf(arg).magnitude, false);
    }
    appendPadded(out, spec, text, 0, false, text.size());
}

void appendConversion(std::string& out, const Spec& spec, const FormatArg& arg) {
    switch (spec.conversion) {
        case '@':
        case 's':
            appendText(out, spec, objectText(arg));
            break;
        case 'c':
            appendCharacter(out, spec, arg);
            break;
        case 'p':
            appendPointer(out, spec, arg);
            break;
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            appendInteger(out, spec, integerOf(arg));
            break;
        default:
            appendFloat(out, spec, doubleOf(arg));
            break;
    }
}

// A width or precision taken from an argument; a negative width means left-aligned and
// a negative precision means none, as in C.
void takeStarArguments(Spec& spec, std::span<const FormatArg> args, size_t& next) {
    if (spec.widthFromArg) {
        const Integer w = integerOf(args[next++]);
        spec.left = spec.left || w.negative;
        spec.width = static_cast<int>(std::min<uint64_t>(w.magnitude, kMaxWidth));
    }
    if (spec.precisionFromArg) {
        const Integer p = integerOf(args[next++]);
        spec.precision =
            p.negative ? -1 : static_cast<int>(std::min<uint64_t>(p.magnitude, kMaxWidth));
    }
}

}  // namespace

std::string vformat(std::string_view fmt, std::span<const FormatArg> args) {
    std::string out;
    out.reserve(fmt.size() + 16);
    size_t next = 0;
    size_t i = 0;
    while (i < fmt.size()) {
        const size_t percent = fmt.find('%', i);
        if (percent == std::string_view::npos) {
            out.append(fmt.substr(i));
            break;
        }
        out.append(fmt.substr(i, percent - i));
        i = percent + 1;
        Spec spec = parseSpec(fmt, i);
        const std::string_view literal = fmt.substr(percent, i - percent);
        if (spec.conversion == '%') {
            out.push_back('%');
            continue;
        }
        const size_t needed = 1 + (spec.widthFromArg ? 1 : 0) + (spec.precisionFromArg ? 1 : 0);
        if (!isConversion(spec.conversion)) {
            out.append(literal);  // unknown: written as it stands, no argument used
            continue;
        }
        if (args.size() - next < needed) {
            // Never guess: the conversion is written as it stands, and so is every later
            // one, since the arguments no longer line up with them.
            out.append(literal);
            next = args.size();
            continue;
        }
        takeStarArguments(spec, args, next);
        appendConversion(out, spec, args[next++]);
    }
    return out;
}

}  // namespace base

#include "base/Value.h"

#include <gtest/gtest.h>

#include "base/ValueArena.h"

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using base::Array;
using base::Data;
using base::Date;
using base::Decimal;
using base::Dictionary;
using base::Value;

// ---- dictionaries ----------------------------------------------------------------------

TEST(Dictionary, KeepsInsertionOrderAndReplacesInPlace) {
    Dictionary d;
    d.set("b", 1);
    d.set("a", 2);
    d.set("c", 3);
    d.set("a", "two");  // replaces, keeps its first position
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(*d.find("a"), Value("two"));
    EXPECT_EQ(d.size(), 3u);
    EXPECT_TRUE(d.remove("b"));
    EXPECT_FALSE(d.remove("b"));
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(d.find("b"), nullptr);
    d.set("b", 4);  // back again, now last
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"a", "c", "b"}));
    *d.find("c") = Value(true);
    EXPECT_EQ(*d.find("c"), Value(true));
    d.clear();
    EXPECT_TRUE(d.empty());
    EXPECT_FALSE(d.contains("a"));

    // A repeated key in a literal behaves like a repeated set.
    const Dictionary literal{{"x", 1}, {"y", 2}, {"x", 3}};
    EXPECT_EQ(literal.keys(), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(*literal.find("x"), Value(3));
}

TEST(Dictionary, LargeDictionariesStayConsistent) {
    // Past the size where lookups switch to the hash index: replacing, removing and
    // re-adding must keep order and lookups in step.
    Dictionary d;
    std::vector<std::string> order;
    std::mt19937 rng(3);
    for (int i = 0; i < 3000; ++i) {
        const std::string key = "k" + std::to_string(rng() % 1500);
        if (rng() % 5 == 0) {
            const bool had = std::find(order.begin(), order.end(), key) != order.end();
            EXPECT_EQ(d.remove(key), had) << key;
            std::erase(order, key);
            continue;
        }
        if (std::find(order.begin(), order.end(), key) == order.end()) {
            order.push_back(key);
        }
        d.set(key, i);
    }
    ASSERT_EQ(d.keys(), order);
    for (const auto& [key, value] : d) {
        ASSERT_EQ(d.find(key), &value) << key;
    }
    EXPECT_EQ(d.find("absent"), nullptr);
    // Shrinking below the index size goes back to plain scans without losing anything.
    for (size_t i = 0; i + 3 < order.size(); ++i) {
        ASSERT_TRUE(d.remove(order[i]));
    }
    ASSERT_EQ(d.size(), 3u);
    for (size_t i = order.size() - 3; i < order.size(); ++i) {
        EXPECT_TRUE(d.contains(order[i]));
    }
}

TEST(Dictionary, EqualityIgnoresOrderButNotContent) {
    const Dictionary a{{"x", 1}, {"y", Array{1, 2}}};
    const Dictionary b{{"y", Array{1, 2}}, {"x", 1.0}};
    EXPECT_EQ(a, b);
    EXPECT_NE(a, (Dictionary{{"x", 1}}));
    EXPECT_NE(a, (Dictionary{{"x", 1}, {"y", Array{2, 1}}}));
    EXPECT_NE(a, (Dictionary{{"x", 1}, {"z", Array{1, 2}}}));
}

// ---- conversions ---------------------------------------------------------------------

TEST(ValueConversion, IntegerValueOfStrings) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    const std::pair<const char*, int64_t> cases[] = {
        {"42", 42},
        {"  42", 42},
        {"\t\n 7", 7},
        {"-17abc", -17},
        {"+5", 5},
        {"12.9", 12},
        {"1e3", 1},
        {"abc", 0},
        {"", 0},
        {" - 5", 0},
        {"--5", 0},
        {"0x1F", 0},
        {"9223372036854775807", kMax},
        {"99999999999999999999", kMax},
        {"-9223372036854775808", kMin},
        {"-99999999999999999999", kMin},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(Value(text).integerValue(), expected) << text;
    }
    EXPECT_EQ(Value(12.9).integerValue(), 12);
    EXPECT_EQ(Value(-12.9).integerValue(), -12);
    EXPECT_EQ(Value(1e30).integerValue(), kMax);
    EXPECT_EQ(Value(true).integerValue(), 1);
    EXPECT_EQ(Value().integerValue(), 0);
    EXPECT_EQ(Value(Array{1}).integerValue(), 0);
    EXPECT_EQ(Value(std::nan("")).integerValue(), 0);
    EXPECT_EQ(Value(-HUGE_VAL).integerValue(), kMin);
}

TEST(ValueConversion, BoolValueOfStringsAndNumbers) {
    for (const char* yes : {"YES", "yes", "true", "T", "1", "7", "-001", "  +0y", "0009"}) {
        EXPECT_TRUE(Value(yes).boolValue()) << yes;
    }
    for (const char* no : {"NO", "no", "false", "", "0", "00", "0.5", "  ", "-", "x1", "+-1"}) {
        EXPECT_FALSE(Value(no).boolValue()) << no;
    }
    EXPECT_TRUE(Value(0.001).boolValue());
    EXPECT_TRUE(Value(-1).boolValue());
    EXPECT_FALSE(Value(0).boolValue());
    EXPECT_FALSE(Value(-0.0).boolValue());
    EXPECT_TRUE(Value(HUGE_VAL).boolValue());
    EXPECT_FALSE(Value().boolValue());
    EXPECT_FALSE(Value(Dictionary{{"a", 1}}).boolValue());
}

TEST(ValueConversion, DoubleValueAndStringValue) {
    EXPECT_EQ(Value("  3.25xyz").doubleValue(), 3.25);
    EXPECT_EQ(Value("-.5").doubleValue(), -0.5);
    EXPECT_EQ(Value("1e400").doubleValue(), HUGE_VAL);
    EXPECT_EQ(Value("1e5000000").doubleValue(), HUGE_VAL);
    EXPECT_EQ(Value("-1e-5000000").doubleValue(), 0.0);
    EXPECT_TRUE(std::signbit(Value("-1e-400").doubleValue()));
    EXPECT_EQ(Value("2e").doubleValue(), 2.0);  // a dangling exponent is not part of it
    EXPECT_EQ(Value("abc").doubleValue(), 0.0);
    EXPECT_EQ(Value("0.1").doubleValue(), 0.1);
    EXPECT_EQ(Value(Decimal::fromString("0.1").value()).doubleValue(), 0.1);

    EXPECT_EQ(Value(Decimal::fromString("1.50").value()).stringValue(), "1.5");
    EXPECT_EQ(Value(0.1).stringValue(), "0.1");  // shortest text of the double, exactly
    EXPECT_EQ(Value(1e21).stringValue(), "1e+21");
    EXPECT_EQ(Value(true).stringValue(), "1");
    EXPECT_EQ(Value().stringValue(), "");
    EXPECT_EQ(Value("as is ").stringValue(), "as is ");
    EXPECT_EQ(Value(std::nan("")).stringValue(), "nan");
    EXPECT_EQ(Value(-HUGE_VAL).stringValue(), "-inf");
}

TEST(ValueConversion, NumbersKeepExactValues) {
    EXPECT_EQ(Value(0.1).decimal(), Decimal::fromString("0.1"));
    EXPECT_EQ(Value(std::numeric_limits<int64_t>::min()).decimal()->toInt64(),
              std::numeric_limits<int64_t>::min());
    EXPECT_EQ(Value(std::numeric_limits<uint64_t>::max()).decimal()->toUInt64(),
              std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(Value(true).decimal(), Decimal(1));
    EXPECT_FALSE(Value("1").decimal());
    EXPECT_FALSE(Value(HUGE_VAL).decimal());
    EXPECT_TRUE(Value(HUGE_VAL).isNonFiniteNumber());
    EXPECT_TRUE(Value(HUGE_VAL).isNumber());
    EXPECT_FALSE(Value(1.5).isNonFiniteNumber());
}

// ---- equality and storage ------------------------------------------------------------

TEST(ValueEquality, DeepAndByValue) {
    EXPECT_EQ(Value(1), Value(1.0));
    EXPECT_EQ(Value(1), Value(Decimal::fromString("10e-1").value()));
    EXPECT_EQ(Value(1u), Value(1LL));
    EXPECT_NE(Value(true), Value(1));
    EXPECT_NE(Value(false), Value(0));
    EXPECT_EQ(Value(true), Value(true));
    EXPECT_NE(Value("1"), Value(1));
    EXPECT_NE(Value(), Value(""));
    EXPECT_EQ(Value(), Value(nullptr));
    EXPECT_EQ(Value(std::nan("")), Value(std::nan("")));
    EXPECT_NE(Value(HUGE_VAL), Value(-HUGE_VAL));
    EXPECT_NE(Value(HUGE_VAL), Value(1e308));
    EXPECT_EQ(Value(Data{1, 2}), Value(Data{1, 2}));
    EXPECT_NE(Value(Data{1, 2}), Value(Data{1, 2, 3}));
    EXPECT_EQ(Value(Date{5}), Value(Date{5}));
    EXPECT_NE(Value(Date{5}), Value(5));

    const Value nested(Array{1, Value(Dictionary{{"a", Array{"x", 2.5}}, {"b", Value()}})});
    const Value same(Array{1.0, Value(Dictionary{{"b", nullptr}, {"a", Array{"x", 2.50}}})});
    const Value other(Array{1.0, Value(Dictionary{{"b", nullptr}, {"a", Array{"x", 2.51}}})});
    EXPECT_EQ(nested, same);
    EXPECT_NE(nested, other);
    EXPECT_NE(Value(Array{1, 2}), Value(Array{1, 2, 3}));
}

TEST(ValueStorage, CopiesAreIndependent) {
    Value original(Dictionary{{"list", Array{1, 2}}});
    Value copy = original;
    copy.dictionary()->set("extra", true);
    copy.dictionary()->find("list")->array()->push_back(3);
    EXPECT_EQ(original.size(), 1u);
    EXPECT_EQ(original["list"].size(), 2u);
    EXPECT_EQ(copy.size(), 2u);
    EXPECT_EQ(copy["list"].size(), 3u);

    Value alone(Array{1});
    const Array* before = static_cast<const Value&>(alone).array();
    alone.array()->push_back(2);  // sole owner: no copy needed
    EXPECT_EQ(static_cast<const Value&>(alone).array(), before);
    EXPECT_EQ(Value(1).array(), nullptr);
    EXPECT_EQ(Value(1).dictionary(), nullptr);
}

TEST(ValueStorage, LookupsOfMissingThingsGiveNull) {
    const Value v(Dictionary{{"a", Array{1, 2}}});
    EXPECT_TRUE(v["missing"].isNull());
    EXPECT_TRUE(v["a"][2].isNull());
    EXPECT_TRUE(v["a"]["key"].isNull());
    EXPECT_TRUE(v[0].isNull());
    EXPECT_EQ(v["a"][1], Value(2));
    EXPECT_EQ(Value("text").size(), 0u);
    EXPECT_EQ(Value(std::string_view("view")).type(), Value::Type::String);
    EXPECT_EQ(Value(static_cast<const char*>(nullptr)), Value(""));
}

// ---- texts --------------------------------------------------------------------------

// Texts up to 14 bytes live in the value itself, longer ones in a shared block; both
// must behave as the same std::string-like text at and around that edge.
TEST(ValueText, InlineAndSharedTextsAgree) {
    for (size_t n : {0, 1, 13, 14, 15, 16, 100}) {
        std::string text(n, 'x');
        if (n > 2) {
            text[1] = '\0';  // embedded NULs are text like any other byte
        }
        const base::String s(text);
        EXPECT_EQ(s.size(), n);
        EXPECT_EQ(s, text);
        EXPECT_EQ(s.str(), text);
        EXPECT_EQ(s.c_str()[n], '\0');
        EXPECT_EQ(base::String::plain(text), s);  // the plain mark is no part of the text
        const Value v(s);
        const Value copy = v;
        EXPECT_EQ(*copy.string(), text);
        EXPECT_EQ(copy, v);
        EXPECT_NE(Value(text + "y"), v);
        EXPECT_LT(s, text + "y");
        EXPECT_EQ(s + "!", text + "!");
    }
    // Equal lengths, different bytes, on both sides of the edge.
    EXPECT_NE(Value(std::string(14, 'a')), Value(std::string(13, 'a') + "b"));
    EXPECT_NE(Value(std::string(15, 'a')), Value(std::string(14, 'a') + "b"));
    // A long text is shared by copies, never copied.
    const base::String longText(std::string(40, 'z'));
    const base::String shared = longText;
    EXPECT_EQ(shared.data(), longText.data());
}

// Values are shared between threads and copied freely: the counts behind shared texts
// and containers must stay exact (run under the thread sanitizer as well).
TEST(ValueText, SharedAcrossThreads) {
    const Value tree(Dictionary{{"list", Array{std::string(50, 'a'), 1.25, Data{1, 2}}},
                                {"name", std::string(30, 'n')}});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&tree] {
            for (int i = 0; i < 2000; ++i) {
                Value copy = tree;
                if (i % 2 == 0) {
                    copy.dictionary()->find("list")->array()->push_back(i);  // copy-on-write
                }
                ASSERT_EQ(copy["name"], tree["name"]);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(tree["list"].size(), 3u);
}

// A parsed document lives in an arena that every value taken out of it holds: threads
// copy parts of one and let go of them in any order while the document's first owner
// has already gone; whichever thread lets go last frees it (run under the thread
// sanitizer as well).
TEST(ValueText, ArenaDocumentSharedAcrossThreads) {
    for (int round = 0; round < 20; ++round) {
        Value root;
        {
            base::TreeBuilder builder(64);
            std::vector<Value> elements;
            elements.push_back(builder.number("123456789012345678901234"));
            elements.push_back(Value(builder.string("an element longer than inline", true)));
            std::vector<Dictionary::Entry> members;
            members.emplace_back(builder.string("a key longer than inline", true),
                                 Value(builder.string("a value longer than inline", false)));
            members.emplace_back("list", builder.array(elements));
            root = builder.finish(builder.dictionary(members));
        }
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([copy = root, t]() mutable {
                Value list = copy["list"];
                for (int i = 0; i < 200; ++i) {
                    if (i == 50 * t) {
                        copy = nullptr;  // the parts taken keep the arena
                    }
                    const Value element = list[1];
                    ASSERT_EQ(*element.string(), "an element longer than inline");
                    ASSERT_EQ(list[0].stringValue(), "123456789012345678901234");
                    if (i % 50 == 0) {
                        list.array()->push_back(i);  // a copy in the heap, still sharing texts
                    }
                }
            });
        }
        EXPECT_EQ(root["a key longer than inline"], Value("a value longer than inline"));
        root = nullptr;
        for (std::thread& t : threads) {
            t.join();
        }
    }
}

// ---- describe --------------------------------------------------------------------------

TEST(ValueDescribe, ScalarsReadAsThemselves) {
    EXPECT_EQ(Value("plain text").describe(), "plain text");
    EXPECT_EQ(Value(-12.5).describe(), "-12.5");
    EXPECT_EQ(Value(true).describe(), "1");
    EXPECT_EQ(Value().describe(), "<null>");
    EXPECT_EQ(Value(Data{}).describe(), "<>");
    EXPECT_EQ(Value(Data{0x0a, 0x1b, 0xff, 0, 1}).describe(), "<0a1bff00 01>");
    EXPECT_EQ(Value(Date{1796790391}).describe(), "2026-12-09 04:26:31 +0000");
    EXPECT_EQ(Value(Date{1796790391.999}).describe(), "2026-12-09 04:26:31 +0000");
    EXPECT_EQ(Value(Date{-0.5}).describe(), "1969-12-31 23:59:59 +0000");
    EXPECT_EQ(Value(Date{0}).describe(), "1970-01-01 00:00:00 +0000");
}

TEST(ValueDescribe, CollectionsInTheClassicStyle) {
    EXPECT_EQ(Value(Array{}).describe(), "(\n)");
    EXPECT_EQ(Value(Dictionary{}).describe(), "{\n}");
    EXPECT_EQ(Value(Array{"a", 2}).describe(), "(\n    a,\n    2\n)");
    const Value v(Dictionary{
        {"name", "Clip_01"},
        {"title", "My \"best\" take\n"},
        {"size", 0.5},
        {"tags", Array{"x", Value(Dictionary{{"k", 1}})}},
        {"meta", Value(Dictionary{{"empty", Value()}})},
        {"key with space", Data{1, 2}},
    });
    EXPECT_EQ(v.describe(),
              "{\n"
              "    name = Clip_01;\n"
              "    title = \"My \\\"best\\\" take\\n\";\n"
              "    size = \"0.5\";\n"
              "    tags =     (\n"
              "        x,\n"
              "                {\n"
              "            k = 1;\n"
              "        }\n"
              "    );\n"
              "    meta =     {\n"
              "        empty = \"<null>\";\n"
              "    };\n"
              "    \"key with space\" = <0102>;\n"
              "}");
}

}  // namespace

namespace {

// A million levels would overflow any stack if destroying a tree recursed.
TEST(ValueLifetimeTest, DeepTreesAreDestroyedWithoutRecursion) {
    for (bool dictionaries : {false, true}) {
        base::Value v(1);
        for (int i = 0; i < 1'000'000; ++i) {
            if (dictionaries) {
                base::Dictionary d;
                d.set("k", std::move(v));
                v = base::Value(std::move(d));
            } else {
                base::Array a;
                a.push_back(std::move(v));
                v = base::Value(std::move(a));
            }
        }
        base::Value shared = v;  // a second owner keeps the tree alive ...
        v = base::Value();
        EXPECT_TRUE(shared.isArray() || shared.isDictionary());
    }  // ... until here
}

}  // namespace

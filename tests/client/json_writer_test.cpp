// The writer's text shapes, escapes, key order and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "base/Decimal.h"
#include "client/json/QMJSON.h"
#include "tests/client/JsonTestSupport.h"

namespace {

using base::Array;
using base::Dictionary;
using base::Value;
using jsontest::Chain;
using jsontest::chainOf;

std::string write(const Value& value, bool humanReadable = false, bool sortKeys = false) {
    QMJSON json;
    json.setHumanReadable(humanReadable);
    json.setSortKeys(sortKeys);
    base::Error error = jsontest::blankError();
    std::optional<std::string> text = json.stringWithFragment(value, &error);
    EXPECT_TRUE(text) << error.localizedDescription();
    return text.value_or("<failed>");
}

Chain writeFailure(const Value& value, bool allowScalar = true) {
    base::Error error = jsontest::blankError();
    EXPECT_FALSE(QMJSON().stringWithObject(value, allowScalar, &error));
    return chainOf(error);
}

TEST(WriterShape, HumanReadableExample) {
    Value v(Dictionary{{"a", Value(Array{1, 2})}});
    EXPECT_EQ(write(v, true), "{\n  \"a\" : [\n    1,\n    2\n  ]\n}");
    EXPECT_EQ(write(v), "{\"a\":[1,2]}");
}

TEST(WriterShape, EmptyContainersStayOnOneLine) {
    EXPECT_EQ(write(Value(Array{}), true), "[]");
    EXPECT_EQ(write(Value(Dictionary{}), true), "{}");
    Value v(Dictionary{
        {"a", Value(Array{})}, {"b", Value(Dictionary{})}, {"c", Value(Array{Value(Array{})})}});
    EXPECT_EQ(write(v, true), "{\n  \"a\" : [],\n  \"b\" : {},\n  \"c\" : [\n    []\n  ]\n}");
    EXPECT_EQ(write(v), "{\"a\":[],\"b\":{},\"c\":[[]]}");
}

TEST(WriterShape, Scalars) {
    EXPECT_EQ(write(Value(true)), "true");
    EXPECT_EQ(write(Value(false)), "false");
    EXPECT_EQ(write(Value()), "null");
    EXPECT_EQ(write(Value(-42)), "-42");
    EXPECT_EQ(write(Value(*base::Decimal::fromString("18446744073709551615"))),
              "18446744073709551615");
    EXPECT_EQ(write(Value(*base::Decimal::fromString("-0.5"))), "-0.5");
    EXPECT_EQ(write(Value(Array{Value(true), Value(1), Value(0), Value(false)})),
              "[true,1,0,false]");
}

TEST(WriterShape, EveryEscape) {
    const std::string raw = std::string("q\" b\\ s/ \b\f\n\r\t v\x0b z") + '\0' +
                            "\x01\x1f\x7f \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
    EXPECT_EQ(write(Value(raw)),
              "\"q\\\" b\\\\ s/ \\b\\f\\n\\r\\t v\\u000b z\\u0000\\u0001\\u001f\x7f "
              "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"");
    EXPECT_EQ(write(Value("plain / text")), "\"plain / text\"");
    EXPECT_EQ(write(Value("")), "\"\"");
}

TEST(WriterShape, EscapedTextReadsBackUnchanged) {
    std::string all;
    for (int b = 0; b < 0x80; ++b) {
        all.push_back(static_cast<char>(b));
    }
    all += "\xc3\xa9\xef\xbf\xbd\xf4\x8f\xbf\xbf";
    std::optional<std::string> text = QMJSON().stringWithFragment(Value(all));
    ASSERT_TRUE(text);
    std::optional<Value> back = QMJSON().fragmentWithString(*text);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back->string(), all);
}

TEST(WriterShape, SortKeysByCodePoint) {
    // U+FFFD sorts before U+1F600 by code point (their UTF-16 forms would sort the other way).
    Value v(Dictionary{{"b", 1},
                       {"\xf0\x9f\x98\x80", 2},
                       {"a", 3},
                       {"\xef\xbf\xbd", 4},
                       {"B", 5},
                       {"aa", 6},
                       {"", 7},
                       {"\xc3\xa9", 8}});
    EXPECT_EQ(write(v, false, true),
              "{\"\":7,\"B\":5,\"a\":3,\"aa\":6,\"b\":1,\"\xc3\xa9\":8,\"\xef\xbf\xbd\":4,"
              "\"\xf0\x9f\x98\x80\":2}");
    EXPECT_EQ(write(v),
              "{\"b\":1,\"\xf0\x9f\x98\x80\":2,\"a\":3,\"\xef\xbf\xbd\":4,\"B\":5,"
              "\"aa\":6,\"\":7,\"\xc3\xa9\":8}");
    Value nested(Dictionary{{"z", Value(Dictionary{{"y", 1}, {"x", 2}})}, {"m", 0}});
    EXPECT_EQ(write(nested, true, true),
              "{\n  \"m\" : 0,\n  \"z\" : {\n    \"x\" : 2,\n    \"y\" : 1\n  }\n}");
}

TEST(WriterRefusal, ScalarAtTopNeedsFragment) {
    EXPECT_EQ(writeFailure(Value(1), false), (Chain{{4, "Not valid type for JSON"}}));
    EXPECT_EQ(writeFailure(Value("s"), false), (Chain{{4, "Not valid type for JSON"}}));
    EXPECT_EQ(writeFailure(Value(), false), (Chain{{4, "Not valid type for JSON"}}));
    EXPECT_TRUE(QMJSON().stringWithObject(Value(Array{})));
    EXPECT_FALSE(QMJSON().stringWithObject(Value(true)));
}

TEST(WriterRefusal, NonFiniteNumbersAreNotWritten) {
    for (double d : {std::nan(""), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(writeFailure(Value(d)),
                  (Chain{{1, "JSON serialisation not supported for Number"}}));
        EXPECT_EQ(writeFailure(Value(Array{1, Value(d)})),
                  (Chain{{1, "JSON serialisation not supported for Number"}}));
        EXPECT_EQ(writeFailure(Value(Dictionary{{"ok", 1}, {"bad", Value(d)}})),
                  (Chain{{1, "Unsupported value for key bad in object"}}));
    }
    EXPECT_EQ(write(Value(0.25)), "0.25");
}

TEST(WriterRefusal, ValuesWithoutJsonForm) {
    EXPECT_EQ(writeFailure(Value(base::Data{1, 2})),
              (Chain{{1, "JSON serialisation not supported for Data"}}));
    EXPECT_EQ(writeFailure(Value(base::Date{0})),
              (Chain{{1, "JSON serialisation not supported for Date"}}));
    // The outermost object names its own key in place of what failed deeper down.
    Value v(Dictionary{{"outer", Value(Array{Value(Dictionary{{"inner", Value(base::Data{})}})})}});
    EXPECT_EQ(writeFailure(v), (Chain{{1, "Unsupported value for key outer in object"}}));
}

TEST(WriterRefusal, TextThatIsNoUtf8) {
    EXPECT_EQ(writeFailure(Value(std::string("a\xff"))),
              (Chain{{1, "JSON serialisation not supported for String"}}));
    EXPECT_EQ(writeFailure(Value(std::string("\xed\xa0\x80"))),
              (Chain{{1, "JSON serialisation not supported for String"}}));
    EXPECT_EQ(writeFailure(Value(Dictionary{{std::string("k\xc0\x80"), 1}})),
              (Chain{{1, "JSON object key must be string"}}));
}

Value nestedArrays(size_t depth) {
    Value v{Array{}};
    for (size_t i = 1; i < depth; ++i) {
        v = Value(Array{std::move(v)});
    }
    return v;
}

TEST(WriterRefusal, NestingBeyondTheHardCap) {
    std::optional<std::string> text =
        QMJSON().stringWithObject(nestedArrays(QMJSON::kNestingLimit));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), 2 * QMJSON::kNestingLimit);
    EXPECT_EQ(writeFailure(nestedArrays(QMJSON::kNestingLimit + 1)),
              (Chain{{1, "JSON serialisation not supported for Array"}}));
}

TEST(WriterRefusal, FailsQuietlyWithoutErrorSlot) {
    EXPECT_FALSE(QMJSON().stringWithObject(Value(base::Data{}), true, nullptr));
    EXPECT_FALSE(QMJSON().stringWithFragment(Value(std::nan("")), nullptr));
}

TEST(Convenience, OneCallFormsLogTheirFailures) {
    EXPECT_EQ(JSONValue("[1]")->size(), 1u);
    EXPECT_EQ(JSONFragmentValue("7")->decimal(), base::Decimal(7));
    EXPECT_EQ(*JSONRepresentation(Value(Array{1})), "[1]");
    EXPECT_EQ(*JSONFragment(Value("x")), "\"x\"");

    testing::internal::CaptureStderr();
    EXPECT_FALSE(JSONValue("7"));
    EXPECT_FALSE(JSONRepresentation(Value(7)));
    EXPECT_FALSE(JSONFragment(Value(base::Date{})));
    EXPECT_FALSE(JSONFragmentValue("[1,]"));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Valid fragment, but not JSON"), std::string::npos) << log;
    EXPECT_NE(log.find("Not valid type for JSON"), std::string::npos) << log;
    EXPECT_NE(log.find("JSON serialisation not supported for Date"), std::string::npos) << log;
    EXPECT_NE(log.find("Trailing comma disallowed in array"), std::string::npos) << log;
}

}  // namespace

// The reader's error vocabulary, value model, depth limits and number exactness.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "base/Decimal.h"
#include "client/json/QMJSON.h"
#include "tests/client/JsonTestSupport.h"

namespace {

using jsontest::Chain;
using jsontest::chainOf;

struct FailureCase {
    std::string text;
    bool allowScalar;
    Chain chain;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << testing::PrintToString(c.text);
}

class ReaderFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(ReaderFailure, ReportsExactChain) {
    const FailureCase& c = GetParam();
    base::Error error = jsontest::blankError();
    std::optional<base::Value> value = QMJSON().objectWithString(c.text, c.allowScalar, &error);
    ASSERT_FALSE(value.has_value());
    EXPECT_EQ(chainOf(error), c.chain);
}

const char* const kInArray = "Expected value while parsing array";
const char* const kBroken = "Broken unicode character";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Structure, ReaderFailure, testing::Values(
    FailureCase{"", true, {{11, "Unexpected end of string"}}},
    FailureCase{" \t\r\n", true, {{11, "Unexpected end of string"}}},
    FailureCase{"[1,]", false, {{9, "Trailing comma disallowed in array"}}},
    FailureCase{"[1, \n ]", false, {{9, "Trailing comma disallowed in array"}}},
    FailureCase{"[,1]", false, {{3, kInArray}, {3, "Unrecognised leading character"}}},
    FailureCase{"[1,,2]", false, {{3, kInArray}, {3, "Unrecognised leading character"}}},
    FailureCase{"[", false, {{11, "End of input while parsing array"}}},
    FailureCase{"[1", false, {{11, "End of input while parsing array"}}},
    FailureCase{"[1, ", false, {{11, "End of input while parsing array"}}},
    FailureCase{"[ ", false, {{3, kInArray}, {11, "Unexpected end of string"}}},
    FailureCase{"{", false, {{11, "End of input while parsing object"}}},
    FailureCase{"{ ", false, {{3, "Object key string expected"}}},
    FailureCase{"{\"a\":1", false, {{11, "End of input while parsing object"}}},
    FailureCase{"{\"a\" 1}", false, {{3, "Expected ':' separating key and value"}}},
    FailureCase{"{\"a\"", false, {{3, "Expected ':' separating key and value"}}},
    FailureCase{"{\"a\":1,}", false, {{9, "Trailing comma disallowed in object"}}},
    FailureCase{"{1:2}", false, {{3, "Object key string expected"}}},
    FailureCase{"{,}", false, {{3, "Object key string expected"}}},
    FailureCase{"{\"a\\x\":1}", false,
                {{3, "Object key string expected"}, {8, "Illegal escape sequence '0x78'"}}},
    FailureCase{"{\"a\":}", false,
                {{3, "Object value expected for key: a"}, {3, "Unrecognised leading character"}}},
    FailureCase{"{\"k\xc3\xa9y\":", false,
                {{3, "Object value expected for key: k\xc3\xa9y"}, {11, "Unexpected end of string"}}},
    FailureCase{"[{\"k\":[1,]}]", false,
                {{3, kInArray}, {3, "Object value expected for key: k"},
                 {9, "Trailing comma disallowed in array"}}},
    FailureCase{"{\"a\":{\"b\":nul}}", false,
                {{3, "Object value expected for key: a"}, {3, "Object value expected for key: b"},
                 {3, "Expected 'null'"}}},
    FailureCase{"{} {}", false, {{10, "Garbage after JSON"}}},
    FailureCase{"[1] x", false, {{10, "Garbage after JSON"}}},
    FailureCase{"1 x", false, {{10, "Garbage after JSON"}}},
    FailureCase{"1", false, {{4, "Valid fragment, but not JSON"}}},
    FailureCase{" \"s\" ", false, {{4, "Valid fragment, but not JSON"}}},
    FailureCase{"null", false, {{4, "Valid fragment, but not JSON"}}},
    FailureCase{".5", true, {{3, "Unrecognised leading character"}}},
    FailureCase{"\xff", true, {{3, "Unrecognised leading character"}}},
    FailureCase{"]", true, {{3, "Unrecognised leading character"}}}));

INSTANTIATE_TEST_SUITE_P(Literals, ReaderFailure, testing::Values(
    FailureCase{"tru", true, {{3, "Expected 'true'"}}},
    FailureCase{"t", true, {{3, "Expected 'true'"}}},
    FailureCase{"trUe", true, {{3, "Expected 'true'"}}},
    FailureCase{"fals", true, {{3, "Expected 'false'"}}},
    FailureCase{"nul", true, {{3, "Expected 'null'"}}},
    FailureCase{"[nil]", false, {{3, kInArray}, {3, "Expected 'null'"}}},
    FailureCase{"truex", true, {{10, "Garbage after JSON"}}},
    FailureCase{"[truex]", false, {{3, kInArray}, {3, "Unrecognised leading character"}}}));

INSTANTIATE_TEST_SUITE_P(Numbers, ReaderFailure, testing::Values(
    FailureCase{"-", true, {{2, "No digits after initial minus"}}},
    FailureCase{"-x", true, {{2, "No digits after initial minus"}}},
    FailureCase{"- 1", true, {{2, "No digits after initial minus"}}},
    FailureCase{"01", true, {{2, "Leading 0 disallowed in number"}}},
    FailureCase{"-00", true, {{2, "Leading 0 disallowed in number"}}},
    FailureCase{"1.", true, {{2, "No digits after decimal point"}}},
    FailureCase{"1.e5", true, {{2, "No digits after decimal point"}}},
    FailureCase{"1e", true, {{2, "No digits after exponent"}}},
    FailureCase{"1E+", true, {{2, "No digits after exponent"}}},
    FailureCase{"1e-x", true, {{2, "No digits after exponent"}}},
    FailureCase{"+1", true, {{2, "Leading + disallowed in number"}}},
    FailureCase{"[+1]", false, {{3, kInArray}, {2, "Leading + disallowed in number"}}},
    FailureCase{"1e2000000", true, {{2, "Failed creating decimal instance"}}},
    FailureCase{"1.5.3", true, {{10, "Garbage after JSON"}}}));

INSTANTIATE_TEST_SUITE_P(Strings, ReaderFailure, testing::Values(
    FailureCase{"\"abc", true, {{5, "Unescaped control character '0x0'"}}},
    FailureCase{"\"", true, {{5, "Unescaped control character '0x0'"}}},
    FailureCase{"\"a\tb\"", true, {{5, "Unescaped control character '0x9'"}}},
    FailureCase{"\"a\nb\"", true, {{5, "Unescaped control character '0xa'"}}},
    FailureCase{"\"\x1f\"", true, {{5, "Unescaped control character '0x1f'"}}},
    FailureCase{std::string("\"a\0b\"", 5), true, {{5, "Unescaped control character '0x0'"}}},
    FailureCase{"\"\\", true, {{8, "Illegal escape sequence '0x0'"}}},
    FailureCase{"\"\\q\"", true, {{8, "Illegal escape sequence '0x71'"}}},
    FailureCase{"\"\\U0041\"", true, {{8, "Illegal escape sequence '0x55'"}}},
    FailureCase{"\"\\\xc3\xa9\"", true, {{8, "Illegal escape sequence '0xc3'"}}},
    FailureCase{"\"\\n", true, {{11, "Unexpected EOF while parsing string"}}},
    FailureCase{"\"\\u0041", true, {{11, "Unexpected EOF while parsing string"}}},
    FailureCase{"\"\\uD83D\\uDE00", true, {{11, "Unexpected EOF while parsing string"}}},
    // Bytes that are no UTF-8: stray continuation, overlong, encoded surrogate, beyond
    // U+10FFFF, a sequence cut short by the closing quote or by the end.
    FailureCase{"\"\x80\"", true, {{6, "Invalid UTF-8 in string"}}},
    FailureCase{"\"\xff\"", true, {{6, "Invalid UTF-8 in string"}}},
    FailureCase{"\"\xc0\xaf\"", true, {{6, "Invalid UTF-8 in string"}}},
    FailureCase{"\"\xe0\x80\xaf\"", true, {{6, "Invalid UTF-8 in string"}}},
    FailureCase{"\"\xed\xa0\x80\"", true, {{6, "Invalid UTF-8 in string"}}},
    FailureCase{"\"\xf4\x90\x80\x80\"", true, {{6, "Invalid UTF-8 in string"}}},
    FailureCase{"\"\xe2\x82\"", true, {{6, "Invalid UTF-8 in string"}}},
    FailureCase{"\"\xe2\x82", true, {{6, "Invalid UTF-8 in string"}}},
    FailureCase{"{\"\xc3\":1}", false,
                {{3, "Object key string expected"}, {6, "Invalid UTF-8 in string"}}}));

INSTANTIATE_TEST_SUITE_P(UnicodeEscapes, ReaderFailure, testing::Values(
    FailureCase{"\"\\uDC00\"", true, {{6, kBroken}, {6, "Invalid high character in surrogate pair"}}},
    FailureCase{"\"\\uD83Dx\"", true, {{6, kBroken}, {6, "Missing low character in surrogate pair"}}},
    FailureCase{"\"\\uD83D\"", true, {{6, kBroken}, {6, "Missing low character in surrogate pair"}}},
    FailureCase{"\"\\uD83D\\n\"", true, {{6, kBroken}, {6, "Missing low character in surrogate pair"}}},
    FailureCase{"\"\\uD83D\\u12\"", true,
                {{6, kBroken}, {6, "Missing low character in surrogate pair"},
                 {6, "Missing hex digit in quad"}}},
    FailureCase{"\"\\uD83D\\u0041\"", true, {{6, kBroken}, {6, "Invalid low surrogate char"}}},
    FailureCase{"\"\\uD83D\\uD83D\"", true, {{6, kBroken}, {6, "Invalid low surrogate char"}}},
    FailureCase{"\"\\u12G4\"", true, {{6, kBroken}, {6, "Missing hex quad"}}},
    FailureCase{"\"\\u", true, {{6, kBroken}, {6, "Missing hex quad"}}},
    FailureCase{"[\"\\uDFFF\"]", false,
                {{3, kInArray}, {6, kBroken}, {6, "Invalid high character in surrogate pair"}}}));
// clang-format on

TEST(Reader, MissingTextIsCode12) {
    base::Error error = jsontest::blankError();
    EXPECT_FALSE(QMJSON().objectWithString(std::nullopt, &error));
    EXPECT_EQ(chainOf(error), (Chain{{12, "Input was 'nil'"}}));
    EXPECT_FALSE(QMJSON().fragmentWithString(std::nullopt, nullptr));
    // An empty view is a text, only an empty one.
    EXPECT_FALSE(QMJSON().fragmentWithString(std::string_view(), &error));
    EXPECT_EQ(chainOf(error), (Chain{{11, "Unexpected end of string"}}));
}

TEST(Reader, FailsQuietlyWithoutErrorSlot) {
    EXPECT_FALSE(QMJSON().objectWithString("[1,]", nullptr));
    EXPECT_FALSE(QMJSON().objectWithString("1", nullptr));
    EXPECT_FALSE(QMJSON().fragmentWithString("\"\\uD83D\"", nullptr));
}

TEST(Reader, BuildsTheValueModel) {
    std::optional<base::Value> v = QMJSON().objectWithString(
        "{\"s\":\"a\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\uD83D\\uDE00\xe2\x82\xac\", \"t\":true, "
        "\"f\":false, \"n\":null, \"i\":-12, \"d\":1.50e1, \"a\":[], \"o\":{}}");
    ASSERT_TRUE(v);
    ASSERT_TRUE(v->isDictionary());
    EXPECT_EQ(v->dictionary()->keys(),
              (std::vector<std::string>{"s", "t", "f", "n", "i", "d", "a", "o"}));
    EXPECT_EQ(*(*v)["s"].string(), "a\"\\/\b\f\n\r\t\xc3\xa9\xf0\x9f\x98\x80\xe2\x82\xac");
    EXPECT_TRUE((*v)["t"].isBool() && (*v)["t"].boolValue());
    EXPECT_TRUE((*v)["f"].isBool() && !(*v)["f"].boolValue());
    EXPECT_TRUE((*v)["n"].isNull());
    EXPECT_TRUE((*v)["n"].isNull() && v->dictionary()->contains("n"));
    EXPECT_EQ((*v)["i"].decimal(), base::Decimal(-12));
    EXPECT_EQ((*v)["d"].decimal(), base::Decimal(15));
    EXPECT_TRUE((*v)["a"].isArray() && (*v)["a"].size() == 0);
    EXPECT_TRUE((*v)["o"].isDictionary() && (*v)["o"].size() == 0);
}

TEST(Reader, EscapedNulAndControlCharactersSurvive) {
    std::optional<base::Value> v = QMJSON().fragmentWithString("\"a\\u0000b\\u001f\\u007f\"");
    ASSERT_TRUE(v);
    EXPECT_EQ(*v->string(), std::string("a\0b\x1f\x7f", 5));
}

TEST(Reader, SeparatorsAndWhitespace) {
    // Commas between elements and members are optional; whitespace is the C space class.
    std::optional<base::Value> v =
        QMJSON().objectWithString("\v[\f1 2\r\n\"x\"\t{\"a\":1 \"b\":2}]");
    ASSERT_TRUE(v);
    ASSERT_EQ(v->size(), 4u);
    EXPECT_EQ((*v)[1].decimal(), base::Decimal(2));
    EXPECT_EQ((*v)[3].dictionary()->keys(), (std::vector<std::string>{"a", "b"}));
}

TEST(Reader, RepeatedKeyKeepsFirstPositionWithLaterValue) {
    std::optional<base::Value> v = QMJSON().objectWithString("{\"a\":1,\"b\":2,\"a\":3}");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->dictionary()->keys(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ((*v)["a"].decimal(), base::Decimal(3));

    // A large object takes the hashed path; repeats there must merge the same way and
    // a hundred thousand distinct keys must not take quadratic time.
    std::string text = "{";
    const int kKeys = 100'000;
    for (int i = 0; i < kKeys; ++i) {
        text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    }
    text += "\"k7\":\"again\",\"k99999\":null,\"k0\":[0]}";
    v = QMJSON().objectWithString(text);
    ASSERT_TRUE(v);
    ASSERT_EQ(v->size(), static_cast<size_t>(kKeys));
    const auto& entries = *v->dictionary();
    EXPECT_EQ(entries.begin()->first, "k0");
    EXPECT_TRUE(entries.begin()->second.isArray());
    EXPECT_EQ(*(*v)["k7"].string(), "again");
    EXPECT_TRUE((*v)["k99999"].isNull());
    EXPECT_EQ((*v)["k12345"].decimal(), base::Decimal(12345));
}

TEST(Reader, TextEndsAtNulButContentAfterItIsGarbage) {
    EXPECT_TRUE(QMJSON().objectWithString(std::string_view("[1]\0\0", 5)));
    base::Error error = jsontest::blankError();
    EXPECT_FALSE(QMJSON().objectWithString(std::string_view("[1]\0[2]", 7), &error));
    EXPECT_EQ(chainOf(error), (Chain{{10, "Garbage after JSON"}}));
    EXPECT_FALSE(QMJSON().objectWithString(std::string_view("[1,\0 2]", 7), &error));
    EXPECT_EQ(chainOf(error), (Chain{{11, "End of input while parsing array"}}));
}

TEST(Reader, FragmentsAndLiteralsAtTheTop) {
    QMJSON json;
    EXPECT_EQ(json.fragmentWithString("12")->decimal(), base::Decimal(12));
    EXPECT_EQ(*json.fragmentWithString(" \"x\" ")->string(), "x");
    EXPECT_TRUE(json.fragmentWithString("null")->isNull());
    EXPECT_TRUE(json.fragmentWithString("true")->boolValue());
    EXPECT_TRUE(json.objectWithString("[true,false,null]"));
}

std::string nested(size_t depth, const char* open, const char* close, const char* inner = "") {
    std::string text;
    for (size_t i = 0; i < depth; ++i) {
        text += open;
    }
    text += inner;
    for (size_t i = 0; i < depth; ++i) {
        text += close;
    }
    return text;
}

TEST(ReaderDepth, DefaultLimitAccepts512AndRefuses513) {
    QMJSON json;
    EXPECT_EQ(json.maxDepth(), 512u);
    EXPECT_TRUE(json.objectWithString(nested(512, "[", "]")));

    base::Error error = jsontest::blankError();
    EXPECT_FALSE(json.objectWithString(nested(513, "[", "]"), &error));
    Chain chain = chainOf(error);
    ASSERT_EQ(chain.size(), 513u);
    EXPECT_EQ(chain.front(), (jsontest::Link{3, kInArray}));
    EXPECT_EQ(chain[511], (jsontest::Link{3, kInArray}));
    EXPECT_EQ(chain.back(), (jsontest::Link{7, "Nested too deep"}));
}

TEST(ReaderDepth, ObjectsCountAndWrapWithTheirKeys) {
    QMJSON json;
    json.setMaxDepth(2);
    EXPECT_TRUE(json.objectWithString("{\"a\":[1]}"));
    base::Error error = jsontest::blankError();
    EXPECT_FALSE(json.objectWithString("{\"a\":{\"b\":[1]}}", &error));
    EXPECT_EQ(chainOf(error), (Chain{{3, "Object value expected for key: a"},
                                     {3, "Object value expected for key: b"},
                                     {7, "Nested too deep"}}));
    // Depth is per parse: a failed parse leaves nothing behind for the next one.
    EXPECT_TRUE(json.objectWithString("[[1]]"));
}

TEST(ReaderDepth, NoLimitStillStopsAtTheHardCap) {
    QMJSON json;
    json.setMaxDepth(0);
    std::optional<base::Value> deep =
        json.objectWithString(nested(QMJSON::kNestingLimit, "[", "]"));
    ASSERT_TRUE(deep);

    base::Error error = jsontest::blankError();
    EXPECT_FALSE(json.objectWithString(nested(QMJSON::kNestingLimit + 1, "[", "]"), &error));
    Chain chain = chainOf(error);
    EXPECT_EQ(chain.size(), QMJSON::kNestingLimit + 1);
    EXPECT_EQ(chain.back(), (jsontest::Link{7, "Nested too deep"}));

    // Hostile input far beyond the cap, unclosed: fails without touching the stack.
    EXPECT_FALSE(json.objectWithString(std::string(2'000'000, '['), nullptr));
    json.setMaxDepth(1'000'000);
    EXPECT_FALSE(json.objectWithString(nested(200'000, "{\"k\":", "}", "1"), nullptr));
}

TEST(ReaderNumbers, KeepEveryDigit) {
    std::optional<base::Value> v = QMJSON().objectWithString(
        "[9007199254740993, 18446744073709551615, -9223372036854775808, 0.1, 1e2, 1.10, -0, "
        "0.000000000000000000000000000001, 123456789012345678901234567890.5, 2E-3, 5e+0]");
    ASSERT_TRUE(v);
    EXPECT_EQ((*v)[0].decimal()->toInt64(), 9007199254740993);
    EXPECT_EQ((*v)[1].decimal()->toUInt64(), 18446744073709551615u);
    EXPECT_EQ((*v)[2].decimal()->toInt64(), INT64_MIN);
    EXPECT_EQ((*v)[3].decimal()->coefficient(), "1");
    EXPECT_EQ((*v)[3].decimal()->exponent(), -1);
    EXPECT_EQ((*v)[4].decimal(), base::Decimal(100));
    EXPECT_EQ((*v)[5].decimal(), base::Decimal::fromString("1.1"));
    EXPECT_TRUE((*v)[6].decimal()->isZero());
    EXPECT_EQ((*v)[7].decimal()->coefficient(), "1");
    EXPECT_EQ((*v)[7].decimal()->exponent(), -30);
    EXPECT_EQ((*v)[8].decimal()->coefficient(), "1234567890123456789012345678905");
    EXPECT_EQ((*v)[8].decimal()->exponent(), -1);
    EXPECT_EQ((*v)[9].decimal(), base::Decimal::fromString("0.002"));
    EXPECT_EQ((*v)[10].decimal(), base::Decimal(5));
}

// Numbers stay their text until asked: every question about them, and writing them
// back, must answer as the exact decimal would, whether the text is inline or long.
TEST(ReaderNumbers, TextAnswersAsItsDecimal) {
    std::optional<base::Value> v = QMJSON().objectWithString(
        "[1.50, -0.0, 1e2, 12345678901234567890.5000, -12.9, 1e400, 0.000, "
        "0.0000000000000000000000001, 100000000000000000000000, 99999999999999999999, 7]");
    ASSERT_TRUE(v);
    const base::Value& a = *v;
    EXPECT_EQ(a[0], base::Value(1.5));
    EXPECT_EQ(a[0].decimal(), base::Decimal::fromString("1.5"));
    EXPECT_EQ(a[0].stringValue(), "1.5");
    EXPECT_EQ(a[1], base::Value(0));
    EXPECT_FALSE(a[1].boolValue());
    EXPECT_FALSE(std::signbit(a[1].doubleValue()));  // a decimal zero has no sign
    EXPECT_EQ(a[2].integerValue(), 100);
    EXPECT_EQ(a[3].decimal()->coefficient(), "123456789012345678905");
    EXPECT_EQ(a[3].integerValue(), INT64_MAX);
    EXPECT_EQ(a[4].integerValue(), -12);
    EXPECT_EQ(a[4].doubleValue(), -12.9);
    EXPECT_EQ(a[5].doubleValue(), HUGE_VAL);
    EXPECT_FALSE(a[6].boolValue());
    EXPECT_TRUE(a[7].boolValue());
    EXPECT_EQ(a[9].integerValue(), INT64_MAX);
    EXPECT_EQ(a[10].integerValue(), 7);
    // Written in Decimal's plain text, whatever the text read.
    EXPECT_EQ(QMJSON().stringWithObject(a),
              "[1.5,0,100,12345678901234567890.5,-12.9,1e+400,0,1e-25,1e+23,"
              "99999999999999999999,7]");
    // A copy shares a long number's text and still compares by value.
    const base::Value copy = a[3];
    EXPECT_EQ(copy, base::Value(base::Decimal::fromString("12345678901234567890.5").value()));
}

// Dictionaries build a lookup index from 16 keys on; reading one across that size with
// repeated keys must keep first positions and later values on both sides of it.
TEST(Reader, RepeatedKeysAcrossTheIndexSize) {
    for (int count : {15, 16, 17, 40}) {
        std::string text = "{";
        for (int i = 0; i < count; ++i) {
            text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
        }
        text += "\"k0\":\"again\",\"k" + std::to_string(count - 1) + "\":\"last\"}";
        std::optional<base::Value> v = QMJSON().objectWithString(text);
        ASSERT_TRUE(v) << count;
        const base::Dictionary& d = *v->dictionary();
        ASSERT_EQ(d.size(), static_cast<size_t>(count));
        EXPECT_EQ(d.begin()->first, "k0");
        EXPECT_EQ(*d.find("k0"), base::Value("again"));
        EXPECT_EQ(*d.find("k" + std::to_string(count - 1)), base::Value("last"));
        for (int i = 1; i + 1 < count; ++i) {
            ASSERT_EQ(*d.find("k" + std::to_string(i)), base::Value(i)) << count << " " << i;
        }
        EXPECT_EQ(d.find("k" + std::to_string(count)), nullptr);
        // A copy (made when a shared dictionary changes) finds the same entries.
        base::Value copy = *v;
        copy.dictionary()->set("extra", true);
        EXPECT_EQ(*copy.dictionary()->find("k1"), base::Value(1));
        EXPECT_EQ(copy.size(), v->size() + 1);
    }
}

// A document lives in one arena that its parts keep alive: parts taken out of it stay
// valid after the rest goes, and changing a part (or the document) works on a copy
// that never shows through to anyone else holding the original.
TEST(ReaderArena, PartsOutliveTheDocumentAndChangeAsCopies) {
    std::string text = R"({"name":"a name longer than fourteen bytes","n":123456789012345678901.5,)"
                       R"("list":[1,"second element, also long",{"deep":"x"}],"many":{)";
    for (int i = 0; i < 20; ++i) {
        text += std::string(i ? "," : "") + "\"key number " + std::to_string(i) +
                "\":" + std::to_string(i);
    }
    text += "}}";
    std::optional<base::Value> doc = QMJSON().objectWithString(text);
    ASSERT_TRUE(doc);
    base::String name = *(*doc)["name"].string();
    base::Value number = (*doc)["n"];
    base::Value list = (*doc)["list"];
    base::Value many = (*doc)["many"];
    base::Value keptWhole = *doc;
    doc.reset();

    EXPECT_EQ(name, "a name longer than fourteen bytes");
    EXPECT_EQ(number.decimal(), base::Decimal::fromString("123456789012345678901.5"));
    EXPECT_EQ(list[1], base::Value("second element, also long"));
    EXPECT_EQ(list[2]["deep"], base::Value("x"));
    EXPECT_EQ(many["key number 19"], base::Value(19));

    // Changes: the part holding them is copied, the document's own stay as read.
    list.array()->push_back("added");
    list.array()->at(2).dictionary()->set("deep", "changed");
    ASSERT_TRUE(many.dictionary()->remove("key number 0"));
    many.dictionary()->set("key number 5", "five");
    EXPECT_EQ(list.size(), 4u);
    EXPECT_EQ(list[2]["deep"], base::Value("changed"));
    EXPECT_EQ(many.size(), 19u);
    EXPECT_EQ(many.dictionary()->begin()->first, "key number 1");
    EXPECT_EQ(many["key number 5"], base::Value("five"));
    EXPECT_EQ(many["key number 6"], base::Value(6));
    EXPECT_EQ(keptWhole["list"].size(), 3u);
    EXPECT_EQ(keptWhole["list"][2]["deep"], base::Value("x"));
    EXPECT_EQ(keptWhole["many"].size(), 20u);
    EXPECT_EQ(keptWhole["many"]["key number 5"], base::Value(5));

    // Containers and values copied, moved and assigned out of it outlive the whole too.
    base::Dictionary standalone = *keptWhole["many"].dictionary();
    base::Array elements = *keptWhole["list"].array();
    base::Value holder;
    holder = keptWhole["name"];
    base::Value moved = std::move(keptWhole);
    const std::optional<std::string> written = QMJSON().stringWithObject(moved);
    moved = nullptr;
    EXPECT_EQ(standalone.size(), 20u);
    EXPECT_EQ(*standalone.find("key number 7"), base::Value(7));
    EXPECT_EQ(elements[1], base::Value("second element, also long"));
    EXPECT_EQ(holder, base::Value("a name longer than fourteen bytes"));
    EXPECT_EQ(written, QMJSON().stringWithObject(*QMJSON().objectWithString(text)));
}

}  // namespace

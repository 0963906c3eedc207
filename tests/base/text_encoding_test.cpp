#include "base/TextEncoding.h"

#include <gtest/gtest.h>

#include <string>

namespace base {
namespace {

TEST(TextEncodingTest, ConvertsSingleByteEncodings) {
    EXPECT_EQ(TextEncoding::toUtf8("caf\xe9", "ISO-8859-1"), "caf\xc3\xa9");
    EXPECT_EQ(TextEncoding::fromUtf8("caf\xc3\xa9", "ISO-8859-1"), "caf\xe9");
    EXPECT_EQ(TextEncoding::toUtf8("\x80", "WINDOWS-1252"), "\xe2\x82\xac");
    EXPECT_EQ(TextEncoding::fromUtf8("\xe2\x82\xac", "CP1252"), "\x80");
    EXPECT_EQ(TextEncoding::toUtf8("", "ISO-8859-1"), "");
}

TEST(TextEncodingTest, ConvertsWideAndStatefulEncodings) {
    EXPECT_EQ(TextEncoding::fromUtf8("A\xc3\xa9", "UTF-16LE"), std::string("A\0\xe9\0", 4));
    EXPECT_EQ(TextEncoding::toUtf8(std::string("\0A\xd8\x3d\xde\x00", 6), "UTF-16BE"),
              "A\xf0\x9f\x98\x80");
    // The shift state is flushed at the end: the text returns to ASCII.
    std::optional<std::string> jis =
        TextEncoding::fromUtf8("\xe6\x97\xa5\xe6\x9c\xac", "ISO-2022-JP");
    ASSERT_TRUE(jis);
    EXPECT_TRUE(jis->ends_with("\x1b(B"));
    EXPECT_EQ(TextEncoding::toUtf8(*jis, "ISO-2022-JP"), "\xe6\x97\xa5\xe6\x9c\xac");
}

TEST(TextEncodingTest, GrowsTheOutputForLongTexts) {
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += "a\xc3\xa9\xe2\x82\xac";
    }
    std::optional<std::string> wide = TextEncoding::fromUtf8(text, "UTF-32LE");
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->size(), 20000u * 3 * 4);
    EXPECT_EQ(TextEncoding::toUtf8(*wide, "UTF-32LE"), text);
}

TEST(TextEncodingTest, RefusesWhatCannotBeConvertedExactly) {
    EXPECT_FALSE(TextEncoding::fromUtf8("\xe2\x82\xac", "ISO-8859-1"));  // no euro sign there
    EXPECT_FALSE(TextEncoding::fromUtf8("\xe2\x82\xac", "ISO-8859-1//TRANSLIT"));
    EXPECT_FALSE(TextEncoding::fromUtf8("a\xffz", "ISO-8859-1"));
    EXPECT_FALSE(TextEncoding::toUtf8("\x81", "CP1252"));  // unassigned
    EXPECT_FALSE(TextEncoding::toUtf8("a", "NO-SUCH-ENCODING"));
    EXPECT_FALSE(TextEncoding::toUtf8(std::string("\0", 1), "UTF-16LE"));        // truncated unit
    EXPECT_FALSE(TextEncoding::toUtf8(std::string("\x00\xd8", 2), "UTF-16LE"));  // lone surrogate
}

TEST(TextEncodingTest, ChecksUtf8Strictly) {
    for (const char* good : {"", "plain", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80",
                             "\xf4\x8f\xbf\xbf", "\xed\x9f\xbf", "\xee\x80\x80"}) {
        EXPECT_TRUE(TextEncoding::isValidUtf8(good)) << good;
    }
    EXPECT_TRUE(TextEncoding::isValidUtf8(std::string("a\0b", 3)));
    for (const char* bad :
         {"\x80", "\xbf", "\xc0\x80", "\xc1\xbf", "\xe0\x80\x80", "\xf0\x80\x80\x80",
          "\xed\xa0\x80", "\xed\xbf\xbf", "\xf4\x90\x80\x80", "\xf8\x88\x80\x80\x80", "\xff",
          "\xc3", "\xe2\x82", "\xc3\x28", "ok\xe2\x28\xa1"}) {
        EXPECT_FALSE(TextEncoding::isValidUtf8(bad)) << testing::PrintToString(std::string(bad));
    }
}

}  // namespace
}  // namespace base

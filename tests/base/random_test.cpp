#include "base/Random.h"

#include <gtest/gtest.h>

#include <array>
#include <regex>
#include <set>

namespace base {
namespace {

TEST(RandomTest, RandomStringUsesOnlyTheAlphabetAndTheRequestedLength) {
    EXPECT_EQ(randomString(0), "");
    for (size_t n : {1u, 8u, 32u, 63u, 64u, 65u, 1000u}) {
        std::string s = randomString(n);
        ASSERT_EQ(s.size(), n);
        EXPECT_EQ(s.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"), std::string::npos);
    }
}

TEST(RandomTest, RandomStringIsUniformOverTheAlphabet) {
    // 360,000 draws: each of the 36 characters is expected 10,000 times (sd ~ 98).
    // A modulo bias (256 % 36 = 4 favoured characters) would put the first four
    // near 10,700, far outside the bound.
    std::array<int, 128> counts{};
    std::string s = randomString(360000);
    for (char c : s) {
        counts[static_cast<unsigned char>(c)]++;
    }
    for (char c : std::string("abcdefghijklmnopqrstuvwxyz0123456789")) {
        EXPECT_GT(counts[static_cast<unsigned char>(c)], 9400) << c;
        EXPECT_LT(counts[static_cast<unsigned char>(c)], 10600) << c;
    }
}

TEST(RandomTest, RandomValuesDoNotRepeat) {
    std::set<std::string> strings;
    std::set<std::vector<uint8_t>> bytes;
    std::set<std::string> uuids;
    for (int i = 0; i < 200; ++i) {
        strings.insert(randomString(32));
        bytes.insert(randomBytes(16));
        uuids.insert(uuidString());
    }
    EXPECT_EQ(strings.size(), 200u);
    EXPECT_EQ(bytes.size(), 200u);
    EXPECT_EQ(uuids.size(), 200u);
    EXPECT_EQ(randomBytes(0).size(), 0u);
    EXPECT_EQ(randomBytes(1000).size(), 1000u);
}

TEST(RandomTest, UuidIsUpperCaseVersion4) {
    static const std::regex shape(
        "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    for (int i = 0; i < 50; ++i) {
        std::string uuid = uuidString();
        EXPECT_TRUE(std::regex_match(uuid, shape)) << uuid;
    }
}

}  // namespace
}  // namespace base

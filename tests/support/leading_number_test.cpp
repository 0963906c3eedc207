#include "support/LeadingNumber.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using owtext::leadingDouble;
using owtext::leadingInteger;

TEST(LeadingNumber, IntegersStopAtTheFirstNonDigitAndSaturate) {
    EXPECT_EQ(leadingInteger(" \t\r\n-42abc"), -42);
    EXPECT_EQ(leadingInteger("+7.9"), 7);
    EXPECT_EQ(leadingInteger("\v5"), 0);  // only space, tab, CR and LF are skipped
    EXPECT_EQ(leadingInteger("- 5"), 0);
    EXPECT_EQ(leadingInteger(""), 0);
    EXPECT_EQ(leadingInteger("99999999999999999999"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(leadingInteger("-99999999999999999999"), std::numeric_limits<int64_t>::min());
}

TEST(LeadingNumber, DecimalsReadFixedNotationOnly) {
    EXPECT_DOUBLE_EQ(leadingDouble(" -12.5s"), -12.5);
    EXPECT_DOUBLE_EQ(leadingDouble(".5"), 0.5);
    EXPECT_DOUBLE_EQ(leadingDouble("3."), 3);
    EXPECT_DOUBLE_EQ(leadingDouble("1e3"), 1);
    EXPECT_DOUBLE_EQ(leadingDouble("inf"), 0);
    EXPECT_DOUBLE_EQ(leadingDouble("0x10"), 0);
    EXPECT_DOUBLE_EQ(leadingDouble("."), 0);
    EXPECT_TRUE(std::isinf(leadingDouble(std::string(400, '9'))));
    EXPECT_DOUBLE_EQ(leadingDouble("0." + std::string(400, '0') + "1"), 0);
}

}  // namespace

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "base/Clock.h"
#include "support/OWTimeEstimate.h"

namespace {

class TimeEstimateTest : public testing::Test {
  protected:
    std::shared_ptr<base::ManualClock> clock = std::make_shared<base::ManualClock>();
    OWTimeEstimate estimate = OWTimeEstimate::timeEstimateWithTotal(100.0, clock);
};

TEST_F(TimeEstimateTest, WarmUpShowsCalculatingOrNothing) {
    estimate.start();
    estimate.incrementCurrentValue(50);
    clock->advance(3.9);
    EXPECT_EQ(estimate.timeRemaining(), "Calculating time");
    EXPECT_EQ(estimate.secondsRemaining(), -1);
    estimate.setShowCalculatingTimeMessage(false);
    EXPECT_EQ(estimate.timeRemaining(), "");
}

TEST_F(TimeEstimateTest, LinearExtrapolation) {
    estimate.start();
    clock->advance(10);
    estimate.incrementCurrentValue(25);
    EXPECT_DOUBLE_EQ(estimate.secondsRemaining(), 30.0);
    EXPECT_EQ(estimate.timeRemaining(), "00:00:30");
}

TEST_F(TimeEstimateTest, ProgressCountsFromTheStartValue) {
    estimate.setCurrentValue(40);
    estimate.startWithValue(40);
    EXPECT_EQ(estimate.currentValue(), 40.0);  // an existing current value is kept
    clock->advance(10);
    estimate.incrementCurrentValue(30);
    EXPECT_DOUBLE_EQ(estimate.secondsRemaining(), (100 - 30) * (10.0 / 30));
}

TEST_F(TimeEstimateTest, NoProgressOrNoTotalIsUnknown) {
    estimate.start();
    clock->advance(10);
    EXPECT_EQ(estimate.timeRemaining(), "Unknown");
    // An empty file (total 0) or a nonsense total must not turn into NaN or a huge text.
    for (double total : {0.0, -5.0, std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity()}) {
        estimate.setTotalValue(total);
        estimate.setCurrentValue(10);
        EXPECT_EQ(estimate.secondsRemaining(), -1) << total;
        EXPECT_EQ(estimate.timeRemaining(), "Unknown") << total;
    }
    OWTimeEstimate unset(clock);
    unset.start();
    clock->advance(10);
    EXPECT_EQ(unset.timeRemaining(), "Unknown");
}

TEST_F(TimeEstimateTest, TextIsCachedForPointEightSeconds) {
    estimate.start();
    clock->advance(10);
    estimate.incrementCurrentValue(25);
    EXPECT_EQ(estimate.timeRemaining(), "00:00:30");
    estimate.incrementCurrentValue(25);
    clock->advance(0.5);
    EXPECT_EQ(estimate.timeRemaining(), "00:00:30");
    clock->advance(0.35);
    EXPECT_EQ(estimate.timeRemaining(), "00:00:11");  // 50 % after 10.85 s
}

TEST_F(TimeEstimateTest, RoundsUpAndWrapsHours) {
    estimate.start();
    clock->advance(10);
    // 59.2 seconds left: percent p with (100 - p) * 10 / p = 59.2.
    estimate.setCurrentValue(100.0 * 10 / 69.2);
    EXPECT_EQ(estimate.timeRemaining(), "00:01:00");
    OWTimeEstimate slow = OWTimeEstimate::timeEstimateWithTotal(100.0, clock);
    slow.start();
    clock->advance(900);
    slow.setCurrentValue(1);  // 99 * 900 = 89,100 s
    EXPECT_EQ(slow.timeRemaining(), "00:45:00");
    OWTimeEstimate slower = OWTimeEstimate::timeEstimateWithTotal(1e300, clock);  // ~1e302 s left
    slower.start();
    clock->advance(10);
    slower.setCurrentValue(1e-2);
    EXPECT_EQ(slower.timeRemaining().size(), 8u);
}

TEST_F(TimeEstimateTest, ResetKeepsStartDateAndCopiesAreIndependent) {
    estimate.start();
    const auto started = estimate.startDate();
    clock->advance(10);
    estimate.incrementCurrentValue(25);
    EXPECT_EQ(estimate.timeRemaining(), "00:00:30");
    OWTimeEstimate copy = estimate;
    estimate.reset();
    EXPECT_EQ(estimate.startDate(), started);
    EXPECT_EQ(estimate.cachedValue(), std::nullopt);
    EXPECT_EQ(estimate.timeRemaining(), "Unknown");
    EXPECT_EQ(copy.cachedValue(), "00:00:30");
    EXPECT_EQ(copy.currentValue(), 25.0);
}

}  // namespace

// The phases a request moves through, and the rule that nothing leaves a cancel.
#include <gtest/gtest.h>

#include "transfer/TXRequestLifecycle.h"

namespace {

using Phase = TXRequestLifecycle::Phase;

TEST(RequestLifecycle, RoundsOfOneRequestAndTheirCompleteness) {
    TXRequestLifecycle life;
    EXPECT_FALSE(life.isComplete());
    // A time-out retry, a challenge answered by a receiver, a redirect, then the end.
    const std::pair<Phase, bool> road[] = {
        {Phase::Running, false},
        {Phase::Retrying, false},
        {Phase::Running, false},
        {Phase::Ended, true},
        {Phase::AwaitingCredentials, true},
        {Phase::Ended, true},
        {Phase::Running, false},
        {Phase::Ended, true},
        {Phase::Redirecting, true},
        {Phase::Running, false},
        {Phase::Ended, true},
    };
    for (const auto& [phase, complete] : road) {
        EXPECT_TRUE(life.enter(phase));
        EXPECT_EQ(life.phase(), phase);
        EXPECT_EQ(life.isComplete(), complete) << static_cast<int>(phase);
    }
    EXPECT_FALSE(life.isRetrying());
    EXPECT_FALSE(life.awaitsCredentials());
}

TEST(RequestLifecycle, ACancelledRequestNeverRunsAgain) {
    TXRequestLifecycle life;
    life.enter(Phase::AwaitingCredentials);
    EXPECT_TRUE(life.enter(Phase::Cancelled));
    for (Phase next : {Phase::Running, Phase::Retrying, Phase::Redirecting, Phase::Ended,
                       Phase::AwaitingCredentials, Phase::Ready}) {
        EXPECT_FALSE(life.enter(next));
        EXPECT_TRUE(life.isCancelled());
        EXPECT_TRUE(life.isComplete());
    }
    EXPECT_TRUE(life.enter(Phase::Cancelled));
}

}  // namespace

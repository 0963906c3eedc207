// Lifetimes, matching and replacement of cached replies, on a manual clock.
#include <gtest/gtest.h>

#include <thread>

#include "client/OWQuorvaneCacheController.h"

namespace {

class ReplyCacheTest : public ::testing::Test {
  protected:
    std::shared_ptr<base::ManualClock> clock = std::make_shared<base::ManualClock>();
    OWQuorvaneCacheController cache{clock};
};

TEST_F(ReplyCacheTest, EntriesLiveExactlyTheirContextsLifetime) {
    cache.addCacheObject("projects", "access_token=t", base::Value("p"));
    cache.addCacheObject("projects/workflows", "access_token=t", base::Value("w"));
    cache.addCacheObject("unlisted", "b", base::Value("u"));
    clock->advance(5);
    EXPECT_TRUE(cache.cachedResult("unlisted", "b"));  // exactly at its lifetime: kept
    clock->advance(0.5);
    EXPECT_FALSE(cache.cachedResult("unlisted", "b"));
    clock->advance(14.5);
    EXPECT_EQ(cache.cachedResult("projects", "access_token=t"), base::Value("p"));
    clock->advance(0.001);
    EXPECT_FALSE(cache.cachedResult("projects", "access_token=t"));
    EXPECT_EQ(cache.resultCache().size(), 1u);  // the stale entry is gone, not just hidden
    clock->advance(279);
    EXPECT_TRUE(cache.cachedResult("projects/workflows", "access_token=t"));
}

TEST_F(ReplyCacheTest, ADifferentBodyIsAMiss) {
    cache.addCacheObject("projects/files", "project_id=1&access_token=a", base::Value(1));
    EXPECT_FALSE(cache.cachedResult("projects/files", "project_id=2&access_token=a"));
    EXPECT_FALSE(cache.cachedResult("projects/files", "project_id=1&access_token=b"));
    EXPECT_FALSE(cache.cachedResult("projects/folders", "project_id=1&access_token=a"));
}

TEST_F(ReplyCacheTest, ReplacementLeavesOneEntryPerContextAndBody) {
    for (int i = 0; i < 2; ++i) {
        cache.deleteCacheForContext(std::string("sessions"), std::string("b"));
        cache.addCacheObject("sessions", "b", base::Value(i));
    }
    EXPECT_EQ(cache.resultCache().size(), 1u);
    EXPECT_EQ(cache.cachedResult("sessions", "b"), base::Value(1));
    cache.deleteCacheForContext(std::nullopt, std::string("b"));  // matches nothing
    EXPECT_EQ(cache.resultCache().size(), 1u);
    cache.clearAll();
    EXPECT_TRUE(cache.resultCache().empty());
}

TEST_F(ReplyCacheTest, OnlyTheTableContextsAreCacheable) {
    EXPECT_TRUE(OWQuorvaneCacheController::isCacheableContext("files/canupload"));
    EXPECT_FALSE(OWQuorvaneCacheController::isCacheableContext("files/upload"));
    EXPECT_EQ(OWQuorvaneCacheController::defaultCacheTimeouts().size(), 16u);
}

TEST_F(ReplyCacheTest, ClientThreadsShareTheStoreSafely) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                std::string body = std::to_string(t) + ":" + std::to_string(i % 10);
                cache.deleteCacheForContext(std::string("projects"), body);
                cache.addCacheObject("projects", body, base::Value(i));
                cache.cachedResult("projects", body);
                if (i % 50 == 0)
                    cache.clearAll();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_LE(cache.resultCache().size(), 40u);
}

}  // namespace

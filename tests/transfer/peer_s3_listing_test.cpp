// Bucket and service listings against s3rver: objects are stored with our own
// signed PUTs, then listed by prefix, delimiter, marker and page size, with
// prefixes whose characters would split or end an unescaped query.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

#include "platform/crypto/Digest.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/S3rver.h"
#include "tests/transfer/RecordingDelegate.h"
#include "transfer/TXS3Bucket.h"
#include "transfer/TXS3BucketObject.h"
#include "transfer/TXS3BucketRequest.h"
#include "transfer/TXS3ObjectRequest.h"
#include "transfer/TXS3ServiceRequest.h"

namespace {

using testsupport::S3rver;
using Outcome = txtest::RecordingDelegate;

constexpr const char* kBucket = "listing";
// s3rver's built-in account.
constexpr const char* kKey = S3rver::kKey;
constexpr const char* kOwnerID = "123456789000";
constexpr const char* kOwnerName = "S3rver";

// Each key's contents is its own name, so sizes and ETags differ per object.
const std::vector<std::string> kKeys = {
    "photos/a.jpg",      "photos/b.jpg",       "photos/2023/c.jpg", "photos/2024/d.jpg",
    "photos/2024/e.jpg", "photosynthesis.txt", "readme.txt",        "R&D/plan.txt",
    "R&D/budget.txt",    "R/decoy.txt",        "a+b/one.txt",       "a b/decoy.txt",
    "x=y/two.txt",       "x/decoy.txt",        "c#1/three.txt",     "c/decoy.txt",
    "my docs/four.txt",  "my/decoy.txt",
};

std::vector<std::string> keysOf(const std::vector<TXS3BucketObject>& objects) {
    std::vector<std::string> keys;
    for (const auto& o : objects) keys.push_back(o.key());
    return keys;
}

std::vector<std::string> sortedKeys(std::vector<std::string> keys) {
    std::sort(keys.begin(), keys.end());
    return keys;
}

// The keys starting with `prefix`, in S3's order.
std::vector<std::string> keysWithPrefix(const std::string& prefix) {
    std::vector<std::string> keys;
    for (const auto& k : kKeys) {
        if (k.rfind(prefix, 0) == 0)
            keys.push_back(k);
    }
    return sortedKeys(keys);
}

class S3rverListingTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        QV_REQUIRE_PEER_BINARY(S3rver::binary(), "s3rver (tests/peers, npm)");
        ASSERT_TRUE(server_.start(kBucket)) << server_.failure();
        TXS3Request::setSharedAccessKey(kKey);
        TXS3Request::setSharedSecretAccessKey(kKey);
    }

    void TearDown() override {
        ::unsetenv("QUORVANE_STORAGE_HOST");
        ::unsetenv("QUORVANE_STORAGE_SCHEME");
        MainThreadTest::TearDown();
    }

    // Runs the request to its end; the delegate's record of it.
    Outcome run(const std::shared_ptr<TXHTTPRequest>& request) {
        auto outcome = std::make_shared<Outcome>();
        request->setDelegate(outcome);
        request->startAsynchronous();
        EXPECT_TRUE(pumpUntil([&] { return outcome->finished + outcome->failed > 0; }, 60));
        return *outcome;
    }

    void putObjects() {
        for (const auto& key : kKeys) {
            base::Data bytes(key.begin(), key.end());
            auto outcome = run(TXS3ObjectRequest::PUTRequestForData(bytes, kBucket, key));
            ASSERT_EQ(outcome.failed, 0) << key << ": " << outcome.error->localizedDescription();
        }
    }

    // One page of a listing, which must succeed.
    std::shared_ptr<TXS3BucketRequest> list(const std::string& prefix,
                                            const std::string& delimiter = "",
                                            const std::string& marker = "", int maxKeys = 0) {
        auto request = TXS3BucketRequest::requestWithBucket(kBucket);
        request->setPrefix(prefix);
        request->setDelimiter(delimiter);
        request->setMarker(marker);
        request->setMaxResultCount(maxKeys);
        auto outcome = run(request);
        EXPECT_EQ(outcome.failed, 0) << outcome.error->localizedDescription();
        return request;
    }

    std::shared_ptr<TXS3ServiceRequest> listService() {
        auto request = TXS3ServiceRequest::serviceRequest();
        auto outcome = run(request);
        EXPECT_EQ(outcome.failed, 0) << outcome.error->localizedDescription();
        return request;
    }

    S3rver server_;
};

// ---- prefix and delimiter ----------------------------------------------------------

TEST_F(S3rverListingTest, PrefixAndDelimiterGiveObjectsAndSubFoldersWithTheirFields) {
    double before = std::floor(base::Date::now().secondsSince1970);
    ASSERT_NO_FATAL_FAILURE(putObjects());
    double after = base::Date::now().secondsSince1970;

    auto photos = list("photos/", "/");
    EXPECT_EQ(keysOf(photos->objects()),
              (std::vector<std::string>{"photos/a.jpg", "photos/b.jpg"}));
    EXPECT_EQ(photos->commonPrefixes(), (std::vector<std::string>{"photos/2023/", "photos/2024/"}));
    EXPECT_FALSE(photos->isTruncated());

    for (const auto& object : photos->objects()) {
        SCOPED_TRACE(object.key());
        EXPECT_EQ(object.bucket(), kBucket);
        EXPECT_EQ(object.size(), object.key().size());
        using platform::crypto::Digest;
        EXPECT_EQ(object.ETag(),
                  "\"" + Digest::hex(Digest::of(Digest::Algorithm::MD5, object.key())) + "\"");
        EXPECT_EQ(object.ownerID(), kOwnerID);
        EXPECT_EQ(object.ownerName(), kOwnerName);
        ASSERT_TRUE(object.lastModified().has_value());
        EXPECT_GE(object.lastModified()->secondsSince1970, before);
        EXPECT_LE(object.lastModified()->secondsSince1970, after);
    }

    // Without a prefix the top level splits into its files and its folders.
    auto top = list("", "/");
    EXPECT_EQ(keysOf(top->objects()),
              (std::vector<std::string>{"photosynthesis.txt", "readme.txt"}));
    EXPECT_EQ(sortedKeys(top->commonPrefixes()),
              sortedKeys({"R&D/", "R/", "a+b/", "a b/", "x=y/", "x/", "c#1/", "c/", "my docs/",
                          "my/", "photos/"}));

    // Without a delimiter a prefix reaches every depth, and only that prefix.
    auto deep = list("photos/");
    EXPECT_EQ(sortedKeys(keysOf(deep->objects())), keysWithPrefix("photos/"));
    EXPECT_TRUE(deep->commonPrefixes().empty());
}

TEST_F(S3rverListingTest, PrefixesWithQueryCharactersListOnlyTheirFolder) {
    ASSERT_NO_FATAL_FAILURE(putObjects());
    // Unescaped, "&" would cut the prefix to "R", "+" would read as a space, "#"
    // would end the address at "c" and the space would break the request line.
    for (const std::string prefix : {"R&D/", "a+b/", "x=y/", "c#1/", "my docs/"}) {
        SCOPED_TRACE(prefix);
        auto request = list(prefix);
        EXPECT_EQ(sortedKeys(keysOf(request->objects())), keysWithPrefix(prefix));
        EXPECT_FALSE(request->objects().empty());
    }
    // The same characters in a marker.
    EXPECT_EQ(keysOf(list("R&D/", "", "R&D/budget.txt")->objects()),
              (std::vector<std::string>{"R&D/plan.txt"}));
}

// ---- pages ----------------------------------------------------------------------

TEST_F(S3rverListingTest, MaxKeysTruncatesAndTheMarkerContinuesWithoutGapsOrRepeats) {
    ASSERT_NO_FATAL_FAILURE(putObjects());
    // s3rver walks its store folder by folder, so its order is S3's byte order only
    // where no folder name extends another with a character below "/" ("R" and
    // "R&D"); the pages stay under "photos", where the two agree.
    std::vector<std::string> listed;
    std::string marker;
    int pages = 0;
    for (bool more = true; more && pages < 20; ++pages) {
        auto page = list("photos", "", marker, 4);
        auto keys = keysOf(page->objects());
        more = page->isTruncated();
        // A truncated page is full; the last one holds the rest.
        if (more) {
            EXPECT_EQ(keys.size(), 4u) << "page " << pages;
        }
        ASSERT_FALSE(keys.empty()) << "page " << pages;
        listed.insert(listed.end(), keys.begin(), keys.end());
        marker = keys.back();
    }
    EXPECT_EQ(pages, 2);
    EXPECT_EQ(listed, keysWithPrefix("photos"));

    // Pages within a prefix, continued from a key with query characters.
    auto first = list("R&D/", "", "", 1);
    ASSERT_EQ(keysOf(first->objects()), (std::vector<std::string>{"R&D/budget.txt"}));
    EXPECT_TRUE(first->isTruncated());
    auto second = list("R&D/", "", "R&D/budget.txt", 1);
    EXPECT_EQ(keysOf(second->objects()), (std::vector<std::string>{"R&D/plan.txt"}));
    EXPECT_FALSE(second->isTruncated());
}

TEST_F(S3rverListingTest, AMarkerSkipsEarlierKeysAndNoCountMeansTheServersPage) {
    ASSERT_NO_FATAL_FAILURE(putObjects());
    auto after = list("photos/", "", "photos/2024/d.jpg");
    EXPECT_EQ(keysOf(after->objects()),
              (std::vector<std::string>{"photos/2024/e.jpg", "photos/a.jpg", "photos/b.jpg"}));

    // A count of 0 is not sent; sent, it would ask the server for an empty page.
    auto all = list("", "", "", 0);
    EXPECT_EQ(sortedKeys(keysOf(all->objects())), sortedKeys(kKeys));
    EXPECT_FALSE(all->isTruncated());
    auto negative = list("", "", "", -1);
    EXPECT_EQ(sortedKeys(keysOf(negative->objects())), sortedKeys(kKeys));
}

TEST_F(S3rverListingTest, AnEmptyOrMissingBucket) {
    auto empty = list("photos/", "/");
    EXPECT_TRUE(empty->objects().empty());
    EXPECT_TRUE(empty->commonPrefixes().empty());
    EXPECT_FALSE(empty->isTruncated());

    auto missing = TXS3BucketRequest::requestWithBucket("no-such-bucket");
    auto outcome = run(missing);
    ASSERT_EQ(outcome.failed, 1);
    EXPECT_EQ(outcome.error->code(), 2);
    EXPECT_TRUE(missing->objects().empty());
}

// ---- buckets ----------------------------------------------------------------------

TEST_F(S3rverListingTest, ServiceListsBucketsWithTheirOwnerAsTheyAreMadeAndRemoved) {
    auto names = [](const std::shared_ptr<TXS3ServiceRequest>& r) {
        std::vector<std::string> out;
        for (const auto& b : r->buckets()) out.push_back(b.name());
        return sortedKeys(out);
    };
    auto initial = listService();
    EXPECT_EQ(names(initial), (std::vector<std::string>{kBucket}));
    EXPECT_EQ(initial->ownerID(), kOwnerID);
    EXPECT_EQ(initial->ownerName(), kOwnerName);

    auto made = run(TXS3BucketRequest::PUTRequestWithBucket("second"));
    ASSERT_EQ(made.failed, 0) << made.error->localizedDescription();
    auto both = listService();
    EXPECT_EQ(names(both), (std::vector<std::string>{kBucket, "second"}));
    for (const auto& bucket : both->buckets()) {
        SCOPED_TRACE(bucket.name());
        EXPECT_EQ(bucket.ownerID(), kOwnerID);
        EXPECT_EQ(bucket.ownerName(), kOwnerName);
    }

    // A bucket that still holds an object is not removed.
    auto put = run(TXS3ObjectRequest::PUTRequestForData(base::Data{1}, "second", "k"));
    ASSERT_EQ(put.failed, 0) << put.error->localizedDescription();
    auto refused = run(TXS3BucketRequest::DELETERequestWithBucket("second"));
    ASSERT_EQ(refused.failed, 1);
    EXPECT_EQ(refused.error->code(), 2);
    EXPECT_EQ(names(listService()), (std::vector<std::string>{kBucket, "second"}));

    ASSERT_EQ(run(TXS3ObjectRequest::DELETERequestWithBucket("second", "k")).failed, 0);
    auto removed = run(TXS3BucketRequest::DELETERequestWithBucket("second"));
    ASSERT_EQ(removed.failed, 0) << removed.error->localizedDescription();
    EXPECT_EQ(names(listService()), (std::vector<std::string>{kBucket}));
}

}  // namespace

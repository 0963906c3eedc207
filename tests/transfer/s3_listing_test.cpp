// Bucket and service listings: addresses and signed resources, and replies as S3
// sends them (namespaced, owner first), including the odd cases of the format.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "tests/helpers/MainThread.h"
#include "tests/transfer/HttpTestServer.h"
#include "transfer/TXS3Bucket.h"
#include "transfer/TXS3BucketObject.h"
#include "transfer/TXS3BucketRequest.h"
#include "transfer/TXS3ObjectRequest.h"
#include "transfer/TXS3ServiceRequest.h"

namespace {

using txtest::HttpTestServer;

// A ListBucketResult recorded from S3 (keys and ids changed).
const char* kFolderListing = R"(<?xml version="1.0" encoding="UTF-8"?>
<ListBucketResult xmlns="http://s3.amazonaws.com/doc/2006-03-01/">
  <Name>media</Name><Prefix>photos/</Prefix><Marker></Marker><MaxKeys>2</MaxKeys>
  <Delimiter>/</Delimiter><IsTruncated>true</IsTruncated>
  <Contents>
    <Key>photos/a.jpg</Key><LastModified>2009-10-12T17:50:30.000Z</LastModified>
    <ETag>&quot;fba9dede5f27731c9771645a39863328&quot;</ETag><Size>434234</Size>
    <Owner><ID>75aa57f09aa0c8caeab4f8c24e99d10f8e7faeebf76c078efc7c6caea54ba06a</ID>
    <DisplayName>mtd@amazon.com</DisplayName></Owner><StorageClass>STANDARD</StorageClass>
  </Contents>
  <Contents>
    <Key>photos/b.jpg</Key><LastModified>2009-10-12T17:50:31.250Z</LastModified>
    <ETag>"x"</ETag><Size>18446744073709551615</Size>
  </Contents>
  <CommonPrefixes><Prefix>photos/2006/</Prefix></CommonPrefixes>
  <CommonPrefixes><Prefix>photos/2007/</Prefix></CommonPrefixes>
</ListBucketResult>)";

const char* kServiceListing = R"(<?xml version="1.0" encoding="UTF-8"?>
<ListAllMyBucketsResult xmlns="http://s3.amazonaws.com/doc/2006-03-01">
  <Owner><ID>bcaf1ffd86f461ca5fb16fd081034f</ID><DisplayName>webfile</DisplayName></Owner>
  <Buckets>
    <Bucket><Name>quotes</Name><CreationDate>2006-02-03T16:45:09.000Z</CreationDate></Bucket>
    <Bucket><Name>samples</Name><CreationDate>2006-02-03T16:41:58.000Z</CreationDate></Bucket>
  </Buckets>
</ListAllMyBucketsResult>)";

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// ---- addresses ----------------------------------------------------------------

TEST(S3ListingAddress, ParametersAreEscapedInOrderAndOnlyWhenSet) {
    ScopedEnv host("QUORVANE_STORAGE_HOST", "s3.example.test");
    ScopedEnv scheme("QUORVANE_STORAGE_SCHEME", "https");
    auto r = TXS3BucketRequest::requestWithBucket("media");
    r->buildURL();
    EXPECT_EQ("https://media.s3.example.test", r->url()->absoluteString());
    EXPECT_EQ("/media/", r->canonicalizedResource());

    r->setPrefix("R&D/a+b=c #1/");
    r->setMarker("R&D/z");
    r->setDelimiter("/");
    r->setMaxResultCount(0);
    r->buildURL();
    EXPECT_EQ(
        "https://media.s3.example.test?prefix=R%26D/a%2Bb%3Dc%20%231/&marker=R%26D/z&delimiter=/",
        r->url()->absoluteString());
    EXPECT_EQ("/media/", r->canonicalizedResource());  // the query is not signed
    r->setMaxResultCount(50);
    r->buildURL();
    EXPECT_NE(std::string::npos, r->url()->absoluteString().find("&max-keys=50"));
}

TEST(S3ListingAddress, SubResourceIsAddressedAndSignedButEmptyCountsAsNone) {
    ScopedEnv host("QUORVANE_STORAGE_HOST", "s3.example.test");
    ScopedEnv scheme("QUORVANE_STORAGE_SCHEME", "http");
    auto r = TXS3BucketRequest::requestWithBucket("media", "acl");
    r->setPrefix("p");
    r->buildURL();
    EXPECT_EQ("http://media.s3.example.test/?acl&prefix=p", r->url()->absoluteString());
    EXPECT_EQ("/media/?acl", r->canonicalizedResource());
    auto empty = TXS3BucketRequest::requestWithBucket("media", "");
    empty->buildURL();
    EXPECT_EQ("http://media.s3.example.test", empty->url()->absoluteString());
    EXPECT_EQ("/media/", empty->canonicalizedResource());

    EXPECT_EQ("PUT", TXS3BucketRequest::PUTRequestWithBucket("b")->requestMethod());
    EXPECT_EQ("DELETE", TXS3BucketRequest::DELETERequestWithBucket("b")->requestMethod());
    auto copy = std::dynamic_pointer_cast<TXS3BucketRequest>(r->copy());
    ASSERT_TRUE(copy);
    EXPECT_EQ("acl", copy->subResource());
    EXPECT_EQ("p", copy->prefix());

    auto service = TXS3ServiceRequest::serviceRequest();
    service->buildURL();
    EXPECT_EQ("http://s3.example.test", service->url()->absoluteString());
    EXPECT_EQ("/", service->canonicalizedResource());
}

// An object's sub-resource: none, set but empty, and a part upload's query.
TEST(S3ObjectAddress, AnEmptySubResourceLeavesALoneQuestionMarkAndSignsNothing) {
    ScopedEnv host("QUORVANE_STORAGE_HOST", "s3.example.test");
    ScopedEnv scheme("QUORVANE_STORAGE_SCHEME", "http");
    struct Case {
        std::optional<std::string> sub;
        std::string url, resource;
    } cases[] = {
        {std::nullopt, "http://media.s3.example.test/a%20b.mov", "/media/a%20b.mov"},
        {"", "http://media.s3.example.test/a%20b.mov?", "/media/a%20b.mov"},
        {"partNumber=3&uploadId=X",
         "http://media.s3.example.test/a%20b.mov?partNumber=3&uploadId=X",
         "/media/a%20b.mov?partNumber=3&uploadId=X"},
    };
    for (const auto& c : cases) {
        auto r = c.sub ? TXS3ObjectRequest::requestWithBucket("media", "a b.mov", *c.sub)
                       : TXS3ObjectRequest::requestWithBucket("media", "a b.mov");
        r->buildURL();
        EXPECT_EQ(c.url, r->url()->absoluteString()) << c.sub.value_or("(none)");
        EXPECT_EQ(c.resource, r->canonicalizedResource()) << c.sub.value_or("(none)");
        // A copy keeps the difference between none and empty.
        auto copy = std::dynamic_pointer_cast<TXS3ObjectRequest>(r->copy());
        ASSERT_TRUE(copy);
        EXPECT_EQ(c.sub, copy->subResource());
    }
}

// ---- bucket listings ------------------------------------------------------------

TEST(S3BucketListing, RecordedFolderListingGivesObjectsAndSubFolders) {
    auto listing = TXS3BucketRequest::parseListing(kFolderListing, "media");
    ASSERT_TRUE(listing);
    EXPECT_TRUE(listing->isTruncated);
    // The echoed top-level prefix is not a common prefix.
    EXPECT_EQ((std::vector<std::string>{"photos/2006/", "photos/2007/"}), listing->commonPrefixes);
    ASSERT_EQ(2u, listing->objects.size());
    const auto& a = listing->objects[0];
    EXPECT_EQ("media", a.bucket());
    EXPECT_EQ("photos/a.jpg", a.key());
    EXPECT_EQ("\"fba9dede5f27731c9771645a39863328\"", a.ETag());
    EXPECT_EQ(434234u, a.size());
    EXPECT_EQ("mtd@amazon.com", a.ownerName());
    ASSERT_TRUE(a.lastModified());
    EXPECT_EQ(1255369830.0, a.lastModified()->secondsSince1970);
    EXPECT_EQ(
        "Key: photos/a.jpg lastModified: 2009-10-12 17:50:30 +0000 ETag: "
        "\"fba9dede5f27731c9771645a39863328\" size: 434234 ownerID: "
        "75aa57f09aa0c8caeab4f8c24e99d10f8e7faeebf76c078efc7c6caea54ba06a ownerName: "
        "mtd@amazon.com",
        a.description());
    const auto& b = listing->objects[1];
    EXPECT_FALSE(b.lastModified());  // milliseconds other than .000
    EXPECT_EQ(UINT64_MAX, b.size());
    EXPECT_EQ("", b.ownerID());
}

TEST(S3BucketListing, OnlyTrueTruncatesAndFieldsOutsideContentsAreIgnored) {
    for (const char* value : {"false", "TRUE", "1", ""}) {
        std::string xml = std::string("<ListBucketResult><IsTruncated>") + value +
                          "</IsTruncated><Key>stray</Key><ETag>e</ETag></ListBucketResult>";
        auto listing = TXS3BucketRequest::parseListing(xml, "b");
        ASSERT_TRUE(listing);
        EXPECT_FALSE(listing->isTruncated) << value;
        EXPECT_TRUE(listing->objects.empty());
    }
    auto empty = TXS3BucketRequest::parseListing("<L><Contents/></L>", "b");
    ASSERT_EQ(1u, empty->objects.size());
    EXPECT_EQ("b", empty->objects[0].bucket());
    EXPECT_FALSE(TXS3BucketRequest::parseListing("<L><Contents>", "b"));
    // No external entity is ever read.
    auto entity = TXS3BucketRequest::parseListing(
        "<!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>"
        "<L><Contents><Key>&e;</Key></Contents></L>",
        "b");
    if (entity && !entity->objects.empty()) {
        EXPECT_EQ(std::string::npos, entity->objects[0].key().find("root"));
    }
}

TEST(S3BucketListing, DatesNeedTheExactListingForm) {
    EXPECT_TRUE(TXS3Bucket::dateFromListing("2024-02-29T23:59:59.000Z"));
    for (const char* bad :
         {"2023-02-29T00:00:00.000Z", "2024-13-01T00:00:00.000Z", "2024-01-01T24:00:00.000Z",
          "2024-01-01T00:00:00Z", "2024-01-01 00:00:00.000Z", "2024-01-01T00:00:00.001Z", ""}) {
        EXPECT_FALSE(TXS3Bucket::dateFromListing(bad)) << bad;
    }
}

TEST(S3BucketListing, ObjectsMakeRequestsForTheirKey) {
    auto o = TXS3BucketObject::objectWithBucket("media");
    o.setKey("photos/a b.jpg");
    auto get = o.GETRequest();
    EXPECT_EQ("media", get->bucket());
    EXPECT_EQ("photos/a b.jpg", get->key());
    EXPECT_EQ("GET", get->requestMethod());
    EXPECT_EQ("DELETE", o.DELETERequest()->requestMethod());
    auto put = o.PUTRequestWithFile("/tmp/file");
    EXPECT_EQ("PUT", put->requestMethod());
    EXPECT_EQ("photos/a b.jpg", put->key());
    TXS3BucketObject copy = o;
    EXPECT_EQ(o.description(), copy.description());
    EXPECT_EQ("Key: photos/a b.jpg lastModified: (null) ETag:  size: 0 ownerID:  ownerName: ",
              o.description());
}

// ---- service listings -----------------------------------------------------------

TEST(S3ServiceListing, EveryBucketCarriesTheOwnerNamedBeforeIt) {
    auto listing = TXS3ServiceRequest::parseListing(kServiceListing);
    ASSERT_TRUE(listing);
    EXPECT_EQ("bcaf1ffd86f461ca5fb16fd081034f", listing->ownerID);
    ASSERT_EQ(2u, listing->buckets.size());
    EXPECT_EQ("samples", listing->buckets[1].name());
    EXPECT_EQ("webfile", listing->buckets[1].ownerName());
    EXPECT_EQ(
        "Name: quotes creationDate: 2006-02-03 16:45:09 +0000 ownerID: "
        "bcaf1ffd86f461ca5fb16fd081034f ownerName: webfile",
        listing->buckets[0].description());
}

class S3ServiceRequestTest : public testsupport::MainThreadTest {};

TEST_F(S3ServiceRequestTest, ListingAndErrorRepliesEndTheRequestAsS3Does) {
    std::atomic<bool> fail{false};
    HttpTestServer server([&](const txtest::ReceivedRequest&) {
        if (fail) {
            return HttpTestServer::Reply{HttpTestServer::response(
                403, "Content-Type: application/xml\r\n",
                "<Error><Code>AccessDenied</Code><Message>Access Denied</Message></Error>")};
        }
        return HttpTestServer::Reply{
            HttpTestServer::response(200, "Content-Type: application/xml\r\n", kServiceListing)};
    });
    ScopedEnv host("QUORVANE_STORAGE_HOST", "127.0.0.1:" + std::to_string(server.port()));
    ScopedEnv scheme("QUORVANE_STORAGE_SCHEME", "http");
    TXS3Request::setSharedAccessKey("AKID");
    TXS3Request::setSharedSecretAccessKey("secret");
    auto ok = TXS3ServiceRequest::serviceRequest();
    ok->startSynchronous();
    EXPECT_FALSE(ok->error());
    EXPECT_EQ(2u, ok->buckets().size());
    EXPECT_EQ("webfile", ok->ownerName());
    EXPECT_NE(std::string::npos, server.requests().at(0).header("Authorization").find("AWS AKID:"));

    fail = true;
    auto denied = TXS3ServiceRequest::serviceRequest();
    denied->startSynchronous();
    ASSERT_TRUE(denied->error());
    EXPECT_EQ(2, denied->error()->code());
    EXPECT_EQ("Access Denied", denied->error()->localizedDescription());
    EXPECT_TRUE(denied->buckets().empty());
}

}  // namespace

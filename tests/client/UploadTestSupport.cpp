#include "tests/client/UploadTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "base/UserDefaults.h"
#include "client/OWQuorvaneURLLoader.h"
#include "client/json/QMJSON.h"
#include "platform/crypto/Digest.h"
#include "tests/helpers/Peer.h"
#include "transfer/TXS3Request.h"

namespace uploadtest {

int64_t UploadDelegate::progressSum() const {
    int64_t sum = 0;
    for (int64_t p : progress) {
        sum += p;
    }
    return sum;
}

std::string UploadDelegate::failureText(size_t i) const {
    if (i >= failures.size()) {
        return {};
    }
    return base::Value(failures[i].userInfo())["error"].stringValue();
}

void UploadRoadTest::SetUp() {
    MainThreadTest::SetUp();
    base::UserDefaults::setPreferencesFolder(dir.makeFolder("prefs"));
    setSegmented(false);
}

void UploadRoadTest::TearDown() {
    client.reset();
    base::UserDefaults::setPreferencesFolder(std::nullopt);
    MainThreadTest::TearDown();
}

bool UploadRoadTest::startService() {
    service = std::make_unique<fakes::FakeService>(std::vector<std::string>{});
    if (!service->running()) {
        return false;
    }
    const auto reply = service->request("POST", "/_control/issue", R"({"user_name": "alice"})");
    QMJSON json;
    const auto issued = json.objectWithString(reply.body);
    token = issued ? (*issued)["access_token"].stringValue() : "";
    return !token.empty();
}

void UploadRoadTest::makeClient(const std::string& site, const std::string& server) {
    account = std::make_shared<quorvanetest::FakeAccount>();
    account->link(token);
    account->setSite(site, server);
    OWQuorvane::Services services;
    services.account = account;
    services.loader = OWQuorvaneURLLoader::shared();
    services.center = sharedCenter;
    client = OWQuorvane::create(delegate, services);
}

void UploadRoadTest::setSegmented(bool on) {
    base::UserDefaults::standard()->setObject(on, OWQuorvane::kSegmentedUploadsDefault);
}

base::Array UploadRoadTest::logged(const std::string& path) const {
    base::Array entries;
    QMJSON json;
    const auto log = json.objectWithString(service->request("GET", "/_control/api_log").body);
    if (log && log->array()) {
        for (const base::Value& entry : *log->array()) {
            if (entry["path"].stringValue() == path) {
                entries.push_back(entry);
            }
        }
    }
    return entries;
}

bool UploadRoadTest::waitForOutcome(double seconds) {
    return pumpUntil([this] { return delegate->outcomes() > 0; }, seconds);
}

std::string UploadRoadTest::writeFile(const std::string& name, size_t size) const {
    const std::string path = dir.file(name);
    std::ofstream out(path, std::ios::binary);
    std::string block(65536, '\0');
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>((i * 31 + i / 251) & 0xFF);
    }
    for (size_t done = 0; done < size; done += block.size()) {
        out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - done)));
    }
    return path;
}

void UploadRoadTest::useStorage(const std::string& bucket, const std::string& key,
                                const std::string& secret) {
    ::setenv("QUORVANE_STORAGE_BUCKET", bucket.c_str(), 1);
    ::setenv("QUORVANE_STORAGE_ACCESS_KEY", key.c_str(), 1);
    ::setenv("QUORVANE_STORAGE_SECRET_KEY", secret.c_str(), 1);
}

void UploadRoadTest::forgetStorage() {
    TXS3Request::setSharedAccessKey("");
    TXS3Request::setSharedSecretAccessKey("");
    for (const char* name :
         {"QUORVANE_STORAGE_BUCKET", "QUORVANE_STORAGE_ACCESS_KEY", "QUORVANE_STORAGE_SECRET_KEY",
          "QUORVANE_STORAGE_HOST", "QUORVANE_STORAGE_SCHEME"}) {
        ::unsetenv(name);
    }
}

void StandInRoadTest::SetUp() {
    UploadRoadTest::SetUp();
    using testsupport::S3StandIn;
    if (S3StandIn::interpreter().empty() || !startService()) {
        const std::string why = "python3 with botocore, or the stand-in service, is missing: " +
                                (service ? service->problem() : std::string());
        if (testsupport::Peer::isCi()) {
            FAIL() << why;
        }
        GTEST_SKIP() << why;
    }
    ASSERT_TRUE(storage.start()) << storage.failure();
    useStorage(S3StandIn::kBucket, S3StandIn::kAccessKey, S3StandIn::kSecretKey);
    makeClient(service->url());
}

void StandInRoadTest::TearDown() {
    UploadRoadTest::TearDown();
    forgetStorage();
}

bool has(const base::Value& dictionary, const std::string& key) {
    const auto* d = dictionary.dictionary();
    return d && d->find(key);
}

void uploadWithEveryField(OWQuorvane& client, const std::string& path, base::Dictionary extra) {
    client.uploadFile(path, 1, std::string("/Cuts"), 11, std::string("Cut One"),
                      std::string("first cut"), 29.97f, std::string("01:00:00:00"), 4321, true,
                      {"a@example.com", "b@example.com"}, false, std::string("app-9"), false,
                      std::move(extra));
}

void expectEveryField(const base::Value& f, const std::string& token) {
    EXPECT_TRUE(f["source"].stringValue().starts_with("uploads/"));
    EXPECT_TRUE(f["source"].stringValue().ends_with("-ab_c_1_.mov"));
    EXPECT_EQ(f["parent"].stringValue(), "/Cuts");
    EXPECT_EQ(f["department"].stringValue(), "11");
    EXPECT_EQ(f["project_id"].stringValue(), "1");
    EXPECT_EQ(f["title"].stringValue(), "Cut One");
    EXPECT_EQ(f["mime-type"].stringValue(), "video/quicktime");
    EXPECT_EQ(f["auto_revise"].stringValue(), "1");
    EXPECT_EQ(f["notifications"].stringValue(), "0");
    EXPECT_EQ(f["description"].stringValue(), "first cut");
    EXPECT_EQ(f["frameRate"].stringValue(), "29.97");
    EXPECT_EQ(f["timecodeStart"].stringValue(), "01:00:00:00");
    EXPECT_EQ(f["duration"].stringValue(), "4321");
    EXPECT_EQ(f["app_id"].stringValue(), "app-9");
    EXPECT_EQ(f["status"].stringValue(), "3");
    EXPECT_EQ(f["link_emails"].stringValue(), "a@example.com,b@example.com");
    EXPECT_EQ(f["link_comments"].stringValue(), "0");
    EXPECT_EQ(f["access_token"].stringValue(), token);
    EXPECT_FALSE(has(f, "request"));
}

base::Value fieldsOf(const base::Value& entry) {
    base::Dictionary fields;
    if (const auto* list = entry["fields"].array()) {
        for (const auto& pair : *list) {
            fields.set(pair[0].stringValue(), pair[1].stringValue());
        }
    }
    return fields;
}

std::string sha256Hex(const std::string& bytes) {
    using platform::crypto::Digest;
    return Digest::hex(Digest::of(Digest::Algorithm::SHA256, bytes));
}

}  // namespace uploadtest

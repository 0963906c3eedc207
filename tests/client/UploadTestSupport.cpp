#include "tests/client/UploadTestSupport.h"

#include <cstdlib>
#include <fstream>

#include "base/UserDefaults.h"
#include "client/OWQuorvaneURLLoader.h"
#include "client/json/QMJSON.h"
#include "platform/crypto/Digest.h"

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
    services.center = &center;
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

bool has(const base::Value& dictionary, const std::string& key) {
    const auto* d = dictionary.dictionary();
    return d && d->find(key);
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

#pragma once
// A service client wired for end-to-end uploads: the stand-in service on loopback (its
// REST API, token issued by its control endpoint), an account holding that token, the
// real API loader, private user defaults, and a delegate that records the outcomes.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/NotificationCenter.h"
#include "base/Value.h"
#include "client/OWQuorvane.h"
#include "tests/client/QuorvaneFakes.h"
#include "tests/fakes/FakeService.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/TempDir.h"
#include "tests/transfer/S3StandIn.h"

namespace uploadtest {

class UploadDelegate : public OWQuorvaneDelegate {
  public:
    void fileUploaded(OWQuorvane&, const base::Value& result) override {
        uploaded.push_back(result);
    }
    void uploadFileFailedWithError(OWQuorvane&, const base::Error& error) override {
        failures.push_back(error);
    }
    void didUploadBytes(OWQuorvane&, int64_t bytes, const base::Dictionary& file) override {
        progress.push_back(bytes);
        files.push_back(file);
    }
    void thumbnailUploadSuccessful(OWQuorvane&, const base::Value& result) override {
        thumbnails.push_back(result);
    }
    size_t outcomes() const { return uploaded.size() + failures.size(); }
    int64_t progressSum() const;
    std::string failureText(size_t i = 0) const;

    std::vector<base::Value> uploaded;
    std::vector<base::Error> failures;
    std::vector<int64_t> progress;
    std::vector<base::Dictionary> files;
    std::vector<base::Value> thumbnails;
};

class UploadRoadTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the service and links the account; false (test skipped or failed) when
    // the service cannot run here.
    bool startService();
    // A client of `server` (self-hosted) or of the hosted service with `site`.
    void makeClient(const std::string& site, const std::string& server = {});
    void setSegmented(bool on);
    // Entries of the service's API log for `path` ("/api/0/files/upload").
    base::Array logged(const std::string& path) const;
    // Waits for exactly one outcome; false on time-out.
    bool waitForOutcome(double seconds = 60);

    // `size` bytes of a known pattern.
    std::string writeFile(const std::string& name, size_t size) const;

    // Points the storage configuration at `bucket` and its keys, which every client
    // sets as the shared storage keys.
    static void useStorage(const std::string& bucket, const std::string& key,
                           const std::string& secret);
    // Clears the storage configuration and the shared keys again.
    static void forgetStorage();

    testsupport::TempDir dir;
    std::unique_ptr<fakes::FakeService> service;
    std::string token;
    std::shared_ptr<quorvanetest::FakeAccount> account;
    std::shared_ptr<base::NotificationCenter> sharedCenter =
        std::make_shared<base::NotificationCenter>();
    base::NotificationCenter& center = *sharedCenter;
    std::shared_ptr<UploadDelegate> delegate = std::make_shared<UploadDelegate>();
    std::shared_ptr<OWQuorvane> client;
};

// The hosted road to the storage stand-in: the stand-in service and the stand-in
// storage started, and a client of the service; skipped locally (failed in CI) when
// either cannot run here.
class StandInRoadTest : public UploadRoadTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    testsupport::S3StandIn storage;
};

// Fields of a logged form as a dictionary (later entries win).
base::Value fieldsOf(const base::Value& entry);
bool has(const base::Value& dictionary, const std::string& key);

// Uploads `path` with every field of the long form set; `extra` is the caller's own
// dictionary of fields.
void uploadWithEveryField(OWQuorvane& client, const std::string& path, base::Dictionary extra);
// The fields such an upload registers, whichever storage it went to (the local path
// excepted: the roads send it differently). `extra` carried "status" = "3".
void expectEveryField(const base::Value& fields, const std::string& token);
std::string sha256Hex(const std::string& bytes);

}  // namespace uploadtest

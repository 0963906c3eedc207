#pragma once
// A token controller wired to private collaborators: a keychain file and user defaults
// in a temporary folder, its own notification center, captured alerts, and a token
// exchange the test answers by hand.
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "base/NotificationCenter.h"
#include "base/UserDefaults.h"
#include "client/KCKeychainBindings.h"
#include "client/KCKeychainBindingsController.h"
#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneTokenExchange.h"
#include "platform/keychain/KeychainFile.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/TempDir.h"

namespace authtest {

inline constexpr const char* kAppName = "Quorvane Plugin Hub";
inline constexpr const char* kClientID = "Hv3PzQ8wLmT5cXr2NbJa";
inline constexpr const char* kHosted = "https://hosted.example";

// Keeps every request; the test answers the oldest one.
class ScriptedExchange : public OWQuorvaneTokenExchange {
  public:
    struct Pending {
        Request request;
        Completion done;
    };
    void send(const Request& request, Completion done) override;
    size_t pending() const { return pending_.size(); }
    const Request& last() const { return sent.back(); }
    // Answers the oldest request with a reply body.
    void reply(const std::string& body, int status = 200);
    void fail(int status, const std::string& body, const std::string& errorText = "failed");

    std::vector<Request> sent;

  private:
    std::deque<Pending> pending_;
};

// One notification as an observer saw it, with the in-flight flag at that moment.
struct Seen {
    std::string name;
    bool refreshing = false;
};

class AuthControllerTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A controller with these collaborators (the fixture makes `controller` with them).
    std::shared_ptr<OWQuorvaneAuthController> makeController(
        std::optional<std::string> clientID = std::string(kClientID),
        std::shared_ptr<const OWQuorvaneHubHandOver> hub = nullptr);
    std::vector<std::string> seenNames() const;
    // Callback with the right scheme and state, and `code`.
    void authorize(const std::string& code);
    // Links the account through the callback and a token reply.
    void link(const std::string& access = "t1", const std::string& refresh = "r1",
              int expiresIn = 3600);
    std::string recordService() const { return std::string("Quorvane - ") + kAppName; }

    testsupport::TempDir dir;
    std::shared_ptr<base::ManualClock> clock;
    std::shared_ptr<platform::keychain::KeychainFile> keychainFile;
    std::unique_ptr<KCKeychainBindingsController> keychain;
    std::shared_ptr<base::UserDefaults> defaults;
    std::shared_ptr<base::NotificationCenter> sharedCenter =
        std::make_shared<base::NotificationCenter>();
    base::NotificationCenter& center = *sharedCenter;
    std::shared_ptr<ScriptedExchange> exchange = std::make_shared<ScriptedExchange>();
    std::vector<std::string> alerts;
    std::vector<Seen> seen;
    std::shared_ptr<OWQuorvaneAuthController> controller;

  private:
    base::Observation observation_;
};

}  // namespace authtest

// Programs of the suite renewing the one sign-in side by side, as built: the widget in
// its window and in its terminal form, the hub's "-oauth" and the hub's unlink, against
// a stand-in service that replaces the refresh token on every renewal and holds the
// renewing program's answer back. Renewals take turns; an unlink sticks.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <ctime>
#include <future>
#include <thread>

#include "base/Format.h"
#include "base/NotificationCenter.h"
#include "base/UserDefaults.h"
#include "client/KCKeychainBindings.h"
#include "client/KCKeychainBindingsController.h"
#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneTokenRecord.h"
#include "client/json/QMJSON.h"
#include "tests/fakes/FakeService.h"
#include "tests/helpers/MainThread.h"
#include "tests/hub/oauth/OAuthModeTest.h"

namespace hubtest {
namespace {

using platform::keychain::KeychainFile;

// The client id of the widget's bundle, with which it renews.
constexpr const char* kWidgetClientID = "Tw7KqN2xRb5VhLc9MpZd";

// A program left running in the background (the widget's window), ended by the test.
class Background {
  public:
    Background(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
        std::vector<std::string> all = testsupport::environmentWith(env);
        auto pointers = [](const std::vector<std::string>& strings) {
            std::vector<char*> out;
            for (const auto& s : strings) {
                out.push_back(const_cast<char*>(s.c_str()));
            }
            out.push_back(nullptr);
            return out;
        };
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (::posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, pointers(argv).data(),
                          pointers(all).data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Background() { end(); }
    bool running() { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    void end() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

  private:
    pid_t pid_ = -1;
};

class RenewalTurnsTest : public testsupport::MainThreadTest, public HubHome {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        if (!runWidget()) {
            GTEST_SKIP() << "the widget is not built";
        }
        QV_REQUIRE_SERVICE(service);
        siteURL = service.url();
        service.configure(R"({"rotate_refresh": true})");
        QMJSON json;
        const auto issued = json.objectWithString(service.request("POST", "/_control/issue").body);
        ASSERT_TRUE(issued);
        store((*issued)["access_token"].stringValue(),
              "alice######0###" + (*issued)["refresh_token"].stringValue());
    }
    // The record with its tokens as they are, expiring `seconds` from now (0: long ago).
    void expireIn(double seconds) {
        KeychainFile file(keychainFolder());
        const auto item = file.find(kRecordService, hub::kAppName);
        ASSERT_TRUE(item && item->generic);
        const auto fields = OWQuorvaneTokenRecord::splitFields(*item->generic);
        ASSERT_TRUE(fields && fields->size() == 4);
        const double expiry = seconds == 0 ? 0 : static_cast<double>(std::time(nullptr)) + seconds;
        ASSERT_EQ(
            file.update(kRecordService, hub::kAppName, item->password,
                        base::format("%@######%0.0f###%@", (*fields)[0], expiry, (*fields)[3])),
            platform::keychain::Status::Success);
    }
    std::string recordFile() const { return keychainFolder() + "/" + KeychainFile::kFileName; }
    size_t renewalsSeen() const {
        const std::string log = service.log();
        size_t count = 0;
        for (size_t at = log.find("\"path\": \"/token\""); at != std::string::npos;
             at = log.find("\"path\": \"/token\"", at + 1)) {
            ++count;
        }
        return count;
    }
    // The user unlinks in the hub: its token controller forgets the account.
    void unlinkInTheHub() {
        OWQuorvaneAuthController::Services services;
        KCKeychainBindingsController keychain(std::make_shared<KeychainFile>(keychainFolder()));
        base::NotificationCenter center;
        services.keychain = &keychain;
        services.defaults =
            std::make_shared<base::UserDefaults>("com.oxburyworks.QuorvPluginHub", configHome);
        services.center = &center;
        services.alert = [](const std::string&) {};
        services.hostedSiteURL = siteURL;
        OWQuorvaneAuthController::create(hub::kAppName, std::string(kWidgetClientID), services)
            ->revokeAuthorization();
    }

    fakes::FakeService service{
        {"--client", std::string(kWidgetClientID) + ":" + OWQuorvaneAuthController::kOAuthPKey}};
};

TEST_F(RenewalTurnsTest, RenewalsTakeTurnsAndAnUnlinkSticks) {
    using namespace std::chrono_literals;
    {
        SCOPED_TRACE("the user unlinks while the window's timer and --print renew");
        service.configure(R"({"refresh_answer_delay": 4})");
        // The window arms its renewal for two seconds after its start.
        expireIn(62);
        const std::string runtime = dir.makeFolder("runtime");
        ::chmod(runtime.c_str(), 0700);
        std::vector<std::string> env = environment();
        env.push_back("QT_QPA_PLATFORM=offscreen");
        env.push_back("XDG_RUNTIME_DIR=" + runtime);
        Background window({QV_TODAY_EXECUTABLE}, env);
        const auto waited = std::chrono::steady_clock::now();
        while (renewalsSeen() == 0 && std::chrono::steady_clock::now() - waited < 20s) {
            std::this_thread::sleep_for(50ms);
        }
        ASSERT_EQ(renewalsSeen(), 1u);  // the window's, its answer held back
        const auto renewing = std::chrono::steady_clock::now();
        // --print finds the token due and renews at once.
        auto print = std::async(std::launch::async, [&] { return runWidget(); });
        std::this_thread::sleep_for(1s);
        unlinkInTheHub();
        EXPECT_FALSE(KeychainFile(keychainFolder()).find(kRecordService, hub::kAppName));

        EXPECT_EQ(print.get()->status, 2);             // no account, as after an unlink
        std::this_thread::sleep_until(renewing + 5s);  // the window's answer has come
        EXPECT_TRUE(window.running());
        EXPECT_FALSE(KeychainFile(keychainFolder()).find(kRecordService, hub::kAppName));
        EXPECT_EQ(runHub({"-oauth"}).out, kNoAccount);
        EXPECT_EQ(runWidget()->status, 2);
        window.end();
    }

    // Linked again for the races below.
    service.request("POST", "/_control/reset");
    QMJSON json;
    const auto issued = json.objectWithString(service.request("POST", "/_control/issue").body);
    ASSERT_TRUE(issued);
    store((*issued)["access_token"].stringValue(),
          "alice######0###" + (*issued)["refresh_token"].stringValue());

    service.configure(R"({"refresh_answer_delay": 2})");
    for (size_t programs : {2u, 4u, 4u}) {
        SCOPED_TRACE(base::format("%li programs renewing at once", static_cast<long>(programs)));
        expireIn(0);
        service.request("POST", "/_control/reset");
        std::vector<std::future<std::optional<testsupport::ToolResult>>> runs;
        for (size_t i = 0; i < programs; ++i) {
            runs.push_back(std::async(std::launch::async, [&] { return runWidget(); }));
        }
        for (auto& run : runs) {
            EXPECT_EQ(run.get()->status, 0);
        }
        EXPECT_EQ(renewalsSeen(), 1u);  // the others took the tokens it kept
        EXPECT_NE(runHub({"-oauth"}).out, kNoAccount);
    }

    {
        SCOPED_TRACE("a program that cannot get its turn");
        expireIn(0);
        service.request("POST", "/_control/reset");
        const std::string before = testsupport::readFile(recordFile());
        const auto held =
            KeychainFile(keychainFolder()).takeTurn(OWQuorvaneAuthController::kRenewalTurnName, 0);
        ASSERT_TRUE(held);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(runWidget()->status, 1);
        EXPECT_GE(std::chrono::steady_clock::now() - started,
                  std::chrono::duration<double>(OWQuorvaneAuthController::kRenewalTurnSeconds));
        EXPECT_EQ(testsupport::readFile(recordFile()), before);
        EXPECT_EQ(renewalsSeen(), 0u);
    }
}

}  // namespace
}  // namespace hubtest

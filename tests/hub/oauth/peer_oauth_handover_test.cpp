// Accounts linked through the stand-in service and handed over by the built hub: a user
// name that holds the record's separator moves no field, and an exporter with no record
// of its own takes the hub's answer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "base/Format.h"
#include "base/NotificationCenter.h"
#include "base/UserDefaults.h"
#include "client/KCKeychainBindings.h"
#include "client/KCKeychainBindingsController.h"
#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneHubCredentials.h"
#include "client/OWQuorvaneTokenRecord.h"
#include "client/json/QMJSON.h"
#include "tests/fakes/FakeService.h"
#include "tests/helpers/MainThread.h"
#include "tests/hub/oauth/OAuthModeTest.h"

namespace hubtest {
namespace {

namespace fs = std::filesystem;

constexpr const char* kClientID = "Hv3PzQ8wLmT5cXr2NbJa";

class HandOverPeerTest : public testsupport::MainThreadTest, public HubHome {
  protected:
    std::shared_ptr<OWQuorvaneAuthController> makeController() {
        OWQuorvaneAuthController::Services services;
        services.keychain = keychain.get();
        services.defaults = defaults;
        services.center = &center;
        services.alert = [this](const std::string& message) { alerts.push_back(message); };
        services.hostedSiteURL = service.url();
        return OWQuorvaneAuthController::create(hub::kAppName, std::string(kClientID), services);
    }
    void waitForReply(OWQuorvaneAuthController& controller) {
        ASSERT_TRUE(pumpUntil([&] { return !controller.isRefreshingToken(); }, 30));
    }
    // The requests a service saw, other than those that script it.
    static std::string requestsSeen(const fakes::FakeService& peer) {
        std::string log = peer.log();
        std::string seen;
        const std::string needle = "\"path\": \"";
        for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) {
            const std::string path = log.substr(
                at + needle.size(), log.find('"', at + needle.size()) - at - needle.size());
            if (!path.starts_with("/_control")) {
                seen += path + " ";
            }
        }
        return seen;
    }

    fakes::FakeService service{
        {"--client", std::string(kClientID) + ":" + OWQuorvaneAuthController::kOAuthPKey}};
    // Where a user name could try to send the account.
    fakes::FakeService elsewhere{
        {"--client", std::string(kClientID) + ":" + OWQuorvaneAuthController::kOAuthPKey}};
    std::unique_ptr<KCKeychainBindingsController> keychain =
        std::make_unique<KCKeychainBindingsController>(
            std::make_shared<platform::keychain::KeychainFile>(keychainFolder()));
    std::shared_ptr<base::UserDefaults> defaults =
        std::make_shared<base::UserDefaults>("com.oxburyworks.QuorvPluginHub", configHome);
    base::NotificationCenter center;
    std::vector<std::string> alerts;
};

// The user name is the service's to choose. Linked and refreshed under names that hold
// "###", the record, the hub's hand-over and the widget keep the hosted server and the
// tokens, and nothing reaches the address hidden in a name.
TEST_F(HandOverPeerTest, AUserNameHoldingTheSeparatorMovesNoField) {
    QV_REQUIRE_SERVICE(service);
    QV_REQUIRE_SERVICE(elsewhere);
    siteURL = service.url();
    for (const std::string& name :
         {"x###" + elsewhere.url(), std::string("Team ### Edit#"), std::string("%%alice")}) {
        SCOPED_TRACE(name);
        service.configure(R"({"user_name": ")" + name + R"("})");
        auto controller = makeController();
        const auto page = service.request(
            "GET", base::format("/authorize?response_type=code&client_id=%@&state=%@", kClientID,
                                controller->oauthStateCode()));
        ASSERT_EQ(page.status, 302);
        controller->handleURL(page.location());
        waitForReply(*controller);
        ASSERT_EQ(controller->username(), name);
        controller->refreshOAuthToken();
        waitForReply(*controller);
        const auto access = controller->oauthToken();
        const auto refresh = controller->oauthRefreshToken();
        ASSERT_TRUE(access && refresh);
        const std::string expiry =
            base::format("%0.0f", controller->oauthTokenExpires()->secondsSince1970);
        EXPECT_TRUE(alerts.empty());

        // Any program of the suite loading the record.
        auto reader = makeController();
        reader->loadSavedSettings();
        EXPECT_EQ(reader->quorvServerURLString(), "");
        EXPECT_EQ(reader->oauthToken(), access);
        EXPECT_EQ(reader->oauthRefreshToken(), refresh);
        EXPECT_EQ(base::format("%0.0f", reader->oauthTokenExpires()->secondsSince1970), expiry);

        const auto handOver = runHub({"-oauth"});
        EXPECT_EQ(handOver.status, 0);
        EXPECT_EQ(handOver.out, "###" + expiry + "###" + *refresh + "###" + *access);
        if (const auto widget = runWidget()) {
            EXPECT_EQ(widget->status, 0);
        }
        EXPECT_EQ(requestsSeen(elsewhere), "");
    }
}

// The token endpoint's reply with these values and an hour of life.
std::string tokenReply(const std::string& access, const std::string& refresh,
                       const std::string& user) {
    const base::Dictionary tokens{{"access_token", access},
                                  {"refresh_token", refresh},
                                  {"user_name", user},
                                  {"expires_in", 3600}};
    QMJSON json;
    return R"({"json": )" + json.stringWithObject(base::Value(tokens)).value_or("") + "}";
}

// Values the service may choose, each as the user name and both tokens: through the
// link and a refresh, another program's load of the record, and the hub's hand-over as
// an exporter reads it, every one arrives whole.
TEST_F(HandOverPeerTest, EveryValueArrivesWholeInEveryProgram) {
    QV_REQUIRE_SERVICE(service);
    siteURL = service.url();
    using namespace std::string_literals;
    for (const std::string& value : {"%%abc"s, "%%"s, "%%%23x"s, "a\0b"s, "x\xef\xbf\xbf"s,
                                     "\x01\x0b\x1b\xef\xbf\xbe"s, "tok "s}) {
        SCOPED_TRACE(testing::PrintToString(value));
        service.script("/token", tokenReply(value, value, value), 2);
        auto controller = makeController();
        const auto page = service.request(
            "GET", base::format("/authorize?response_type=code&client_id=%@&state=%@", kClientID,
                                controller->oauthStateCode()));
        controller->handleURL(page.location());
        waitForReply(*controller);
        controller->refreshOAuthToken();
        waitForReply(*controller);
        EXPECT_EQ(controller->oauthToken(), value);
        EXPECT_TRUE(alerts.empty());

        auto reader = makeController();
        reader->loadSavedSettings();
        EXPECT_EQ(reader->oauthToken(), value);
        EXPECT_EQ(reader->oauthRefreshToken(), value);
        EXPECT_EQ(reader->username(), value);

        const auto handOver = runHub({"-oauth"});
        EXPECT_EQ(handOver.status, 0);
        const auto credentials = OWQuorvaneHubCredentials::parse(handOver.out);
        ASSERT_TRUE(credentials) << handOver.out;
        EXPECT_EQ(credentials->accessToken, value);
        EXPECT_EQ(credentials->refreshToken, value);
    }
}

// A value longer than the record or the hand-over can be read back with is refused when
// it arrives, with an alert: the link stays as it was, for every program.
TEST_F(HandOverPeerTest, ValuesTooLongToReadBackAreRefusedWhenTheyArrive) {
    QV_REQUIRE_SERVICE(service);
    siteURL = service.url();
    auto controller = makeController();
    const auto page =
        service.request("GET", base::format("/authorize?response_type=code&client_id=%@&state=%@",
                                            kClientID, controller->oauthStateCode()));
    controller->handleURL(page.location());
    waitForReply(*controller);
    const auto access = controller->oauthToken();
    const auto refresh = controller->oauthRefreshToken();
    ASSERT_TRUE(access && refresh);

    const std::string huge(70'000, 'x');
    for (const std::string& reply :
         {tokenReply(huge, "r", "bob"), tokenReply("t", huge, "bob"), tokenReply("t", "r", huge)}) {
        alerts.clear();
        service.script("/token", reply);
        controller->refreshOAuthToken();
        waitForReply(*controller);
        ASSERT_TRUE(pumpUntil([&] { return !alerts.empty(); }, 10));
        EXPECT_NE(alerts.front().find("too long"), std::string::npos) << alerts.front();
        EXPECT_EQ(controller->oauthToken(), access);

        auto reader = makeController();
        reader->loadSavedSettings();
        EXPECT_EQ(reader->oauthToken(), access);
        EXPECT_EQ(reader->oauthRefreshToken(), refresh);
        const auto credentials = OWQuorvaneHubCredentials::parse(runHub({"-oauth"}).out);
        ASSERT_TRUE(credentials);
        EXPECT_EQ(credentials->accessToken, access);
    }
}

// Two programs started together with an expired token, against a service that rotates
// refresh tokens: both refresh with the one stored token and the service refuses the
// second. The refused program takes the tokens the other stored; the account stays
// linked.
TEST_F(HandOverPeerTest, TwoProgramsRefreshingAtOnceKeepTheAccount) {
    // The service as the widget knows it (the client id of its bundle).
    fakes::FakeService rotating{
        {"--client", std::string("Tw7KqN2xRb5VhLc9MpZd:") + OWQuorvaneAuthController::kOAuthPKey}};
    QV_REQUIRE_SERVICE(rotating);
    if (!runWidget()) {
        GTEST_SKIP() << "the widget is not built";
    }
    siteURL = rotating.url();
    // Refreshes wait a second, so that both programs ask with the one token before
    // either has stored the next one.
    rotating.configure(R"({"rotate_refresh": true, "refresh_delay": 1})");
    QMJSON json;
    const auto issued = json.objectWithString(rotating.request("POST", "/_control/issue").body);
    ASSERT_TRUE(issued);
    platform::keychain::KeychainFile file(keychainFolder());
    ASSERT_EQ(file.add({kRecordService, hub::kAppName, (*issued)["access_token"].stringValue(),
                        "alice######0###" + (*issued)["refresh_token"].stringValue()}),
              platform::keychain::Status::Success);
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        // Expired again, with the tokens the last round stored.
        const auto item = file.find(kRecordService, hub::kAppName);
        ASSERT_TRUE(item && item->generic);
        const auto fields = OWQuorvaneTokenRecord::splitFields(*item->generic);
        ASSERT_TRUE(fields && fields->size() == 4);
        ASSERT_EQ(file.update(kRecordService, hub::kAppName, item->password,
                              (*fields)[0] + "######0###" + (*fields)[3]),
                  platform::keychain::Status::Success);

        auto first = std::async(std::launch::async, [&] { return runWidget(); });
        auto second = std::async(std::launch::async, [&] { return runWidget(); });
        // Each updates: the refused one with the tokens the other stored.
        EXPECT_EQ(first.get()->status, 0);
        EXPECT_EQ(second.get()->status, 0);
        const auto after = runWidget();
        ASSERT_EQ(after->status, 0);
    }
}

class ExporterHandOverTest : public testsupport::MainThreadTest, public HubHome {};

// An exporter whose own view of the keychain holds no record asks the hub, as it is set
// up to at its start, takes the account the hub answers with, and keeps it in memory
// only.
TEST_F(ExporterHandOverTest, AnExporterWithoutARecordTakesTheHubsAnswer) {
    store("tok-7", "alice###https://review.example.org###1893456000###ref-7");
    // The hub as installed, seeing its own keychain: a bundle whose program starts the
    // built hub with the hub's data folder.
    testsupport::TempDir exporterHome;
    const std::string bundle = exporterHome.makeFolder("Apps/Quorvane Plugin Hub.app");
    fs::create_directories(bundle + "/Contents/MacOS");
    fs::copy_file(std::string(kBundle) + "/Contents/Info.plist", bundle + "/Contents/Info.plist");
    const std::string program = bundle + "/" + OWQuorvaneHubHandOver::kHubExecutable;
    std::ofstream(program) << "#!/bin/sh\nXDG_DATA_HOME='" << dataHome << "' exec '"
                           << hubExecutable() << "' \"$@\"\n";
    fs::permissions(program, fs::perms::owner_all);

    std::vector<ScopedEnv> env;
    env.emplace_back(OWQuorvaneHubHandOver::kBundleEnvironment, bundle);
    env.emplace_back("XDG_DATA_HOME", exporterHome.makeFolder("data"));
    env.emplace_back("XDG_CONFIG_HOME", exporterHome.makeFolder("config"));
    env.emplace_back("QUORVANE_SITE_URL", siteURL);
    OWQuorvaneAuthController::askHubWhenNoRecord();
    auto exporter = OWQuorvaneAuthController::sharedController(
        std::string(hub::kAppName), std::string(kClientID), /*noLoad=*/true);
    exporter->loadSavedSettings();

    EXPECT_EQ(exporter->oauthToken(), "tok-7");
    EXPECT_EQ(exporter->oauthRefreshToken(), "ref-7");
    EXPECT_EQ(exporter->quorvServerURLString(), "https://review.example.org");
    EXPECT_EQ(exporter->oauthTokenExpires(), base::Date{1893456000});
    platform::keychain::KeychainFile exporterKeychain(
        platform::keychain::KeychainFile::defaultFolder());
    EXPECT_TRUE(exporterKeychain.list(kRecordService, 10).empty());
}

}  // namespace
}  // namespace hubtest

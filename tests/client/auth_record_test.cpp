// The shared token record, its older forms and the hub's credential line: reading and
// writing them, and the controller's loading and saving through them.
#include <gtest/gtest.h>

#include <limits>

#include "base/Format.h"
#include "base/PropertyList.h"
#include "client/OWQuorvaneHubCredentials.h"
#include "client/OWQuorvaneHubHandOver.h"
#include "client/OWQuorvaneTokenRecord.h"
#include "tests/client/AuthTestSupport.h"
#include "tests/fakes/FakeHub.h"
#include "tests/helpers/TempDir.h"

namespace {

using authtest::AuthControllerTest;
using authtest::kAppName;
using Kind = OWQuorvaneTokenRecord::Kind;
using platform::keychain::Status;

// ---- the record text ----

TEST(TokenRecordText, FourFieldRecordGivesTokens) {
    auto r = OWQuorvaneTokenRecord::fromItem(kAppName, "t1", " alice\n###(null)###1700003600###r1",
                                             false);
    EXPECT_EQ(r.kind, Kind::Tokens);
    EXPECT_EQ(r.username, "alice");
    EXPECT_EQ(r.serverURL, "");
    EXPECT_EQ(r.accessToken, "t1");
    EXPECT_EQ(r.expires, base::Date{1700003600});
    EXPECT_EQ(r.refreshToken, "r1");

    // A record written without a refresh token does not load "(null)" as one.
    r = OWQuorvaneTokenRecord::fromItem(kAppName, "t1", "alice### https://h.example ###0###(null)",
                                        false);
    EXPECT_EQ(r.serverURL, "https://h.example");
    EXPECT_FALSE(r.refreshToken);
    EXPECT_EQ(r.expires, base::Date{0});
}

TEST(TokenRecordText, ShortAndLegacyRecords) {
    auto r = OWQuorvaneTokenRecord::fromItem("alice@example.com", "pw", "alice###x###(null)", true);
    EXPECT_EQ(r.kind, Kind::PasswordGrant);
    EXPECT_EQ(r.password, "pw");
    EXPECT_EQ(r.loginEmail, "alice@example.com");
    EXPECT_EQ(r.serverURL, "");
    EXPECT_FALSE(r.accessToken);

    r = OWQuorvaneTokenRecord::fromItem("alice@example.com", "pw", "alice###x###srv", false);
    EXPECT_EQ(r.kind, Kind::UserOnly);
    EXPECT_EQ(r.username, "alice@example.com");

    for (const char* generic : {"", "a", "a###b"}) {
        r = OWQuorvaneTokenRecord::fromItem("acct", "t", std::string(generic), true);
        EXPECT_EQ(r.kind, Kind::UserOnly) << generic;
        EXPECT_EQ(r.username, "acct");
        EXPECT_FALSE(r.accessToken);
    }
    r = OWQuorvaneTokenRecord::fromItem("acct", "t", std::nullopt, true);
    EXPECT_EQ(r.kind, Kind::UserOnly);
}

TEST(TokenRecordText, IntegerFieldsReadLikeTheOriginalWriter) {
    EXPECT_EQ(OWQuorvaneTokenRecord::integerValue("  1700000000"), 1700000000);
    EXPECT_EQ(OWQuorvaneTokenRecord::integerValue("-42abc"), -42);
    EXPECT_EQ(OWQuorvaneTokenRecord::integerValue("+7"), 7);
    EXPECT_EQ(OWQuorvaneTokenRecord::integerValue("1.9e9"), 1);
    EXPECT_EQ(OWQuorvaneTokenRecord::integerValue("(null)"), 0);
    EXPECT_EQ(OWQuorvaneTokenRecord::integerValue(""), 0);
    EXPECT_EQ(OWQuorvaneTokenRecord::integerValue("99999999999999999999999"),
              std::numeric_limits<int64_t>::max());
    EXPECT_EQ(OWQuorvaneTokenRecord::integerValue("-99999999999999999999999"),
              std::numeric_limits<int64_t>::min());
}

TEST(TokenRecordText, GenericAttributeRoundTrips) {
    const std::string text = OWQuorvaneTokenRecord::genericAttribute(
        "bob", "https://h.example", base::Date{1700000000.4}, "r9");
    EXPECT_EQ(text, "bob###https://h.example###1700000000###r9");
    auto r = OWQuorvaneTokenRecord::fromItem(kAppName, "t9", text, false);
    EXPECT_EQ(r.username, "bob");
    EXPECT_EQ(r.serverURL, "https://h.example");
    EXPECT_EQ(r.expires, base::Date{1700000000});
    EXPECT_EQ(r.refreshToken, "r9");

    EXPECT_EQ(OWQuorvaneTokenRecord::genericAttribute(std::nullopt, "", std::nullopt, std::nullopt),
              "(null)######0###(null)");
}

// Every value reads back whole from the record and the hub's line, and is stored as text
// the keychain's property list takes; records written before values were escaped, and
// access tokens, which never were, read as they were written.
TEST(TokenRecordText, EveryValueReadsBackAsWritten) {
    using namespace std::string_literals;
    for (const std::string& value :
         {"%%abc"s, "%%"s, "%%%23x"s, "(null)"s, "a\0b"s, "\xef\xbf\xbf"s, "x\xef\xbf\xbey"s,
          "\x01\x0b\x1b"s, "tok "s, " "s, "x#"s, "a###b"s, "\xff\xfe"s, "%25%23"s}) {
        SCOPED_TRACE(testing::PrintToString(value));
        const std::string generic =
            OWQuorvaneTokenRecord::genericAttribute(value, value, base::Date{7}, value);
        base::Error error("", 0);
        EXPECT_TRUE(base::PropertyList::toXml(base::Value(generic), &error)) << generic;
        const auto r = OWQuorvaneTokenRecord::fromItem(kAppName, value, generic, false);
        EXPECT_EQ(r.kind, Kind::Tokens);
        EXPECT_EQ(r.accessToken, value);
        EXPECT_EQ(r.refreshToken, value);
        const auto line =
            OWQuorvaneHubCredentials::line("https://h.example", base::Date{7}, value, value);
        const auto c = OWQuorvaneHubCredentials::parse(line);
        ASSERT_TRUE(c) << line;
        EXPECT_EQ(c->accessToken, value);
        EXPECT_EQ(c->refreshToken, value);
        EXPECT_EQ(c->serverURL, "https://h.example");
    }
    // Written before values were escaped: each field as it stands.
    const auto old =
        OWQuorvaneTokenRecord::fromItem(kAppName, "%%%23x", "bob######0###%%abc", false);
    EXPECT_EQ(old.accessToken, "%%%23x");
    EXPECT_EQ(old.refreshToken, "%%abc");
    EXPECT_EQ(OWQuorvaneTokenRecord::fromItem(kAppName, "%%", "b######0###%%", false).accessToken,
              "%%");
    // Written escaped by the first writer that escaped: read the same.
    EXPECT_EQ(OWQuorvaneTokenRecord::fromItem(kAppName, "t", "b######0###%%%25%25r%23", false)
                  .refreshToken,
              "%%r#");
}

TEST(TokenRecordText, OversizedTextIsNotTakenApart) {
    const std::string huge(OWQuorvaneTokenRecord::kMaxTextLength + 1, '#');
    EXPECT_FALSE(OWQuorvaneTokenRecord::splitFields(huge));
    EXPECT_EQ(OWQuorvaneTokenRecord::fromItem("a", "t", huge, true).kind, Kind::UserOnly);
}

// ---- the hub's credential line ----

TEST(HubCredentialLine, FourFieldsAreCredentials) {
    auto c = OWQuorvaneHubCredentials::parse("https://h.example###1700000000###r1###t1");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->serverURL, "https://h.example");
    EXPECT_EQ(c->expires, base::Date{1700000000});
    EXPECT_EQ(c->refreshToken, "r1");
    EXPECT_EQ(c->accessToken, "t1");
    EXPECT_EQ(OWQuorvaneHubCredentials::parse(c->line())->accessToken, "t1");

    c = OWQuorvaneHubCredentials::parse("###0###(null)###(null)");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->serverURL, "");
    EXPECT_EQ(c->expires, base::Date{0});
    EXPECT_FALSE(c->refreshToken);
    EXPECT_FALSE(c->accessToken);
}

TEST(HubCredentialLine, AnythingElseIsNot) {
    for (const char* output : {"", "a###b###c", "a###b###c###d###e", "garbage", "\n"}) {
        EXPECT_FALSE(OWQuorvaneHubCredentials::parse(output)) << output;
    }
    EXPECT_FALSE(OWQuorvaneHubCredentials::parse(
        "s###1###r###" + std::string(OWQuorvaneHubCredentials::kMaxOutputLength, 't')));
}

// ---- loading and saving ----

class AuthRecordTest : public AuthControllerTest {
  protected:
    void store(const std::string& service, const std::string& account, const std::string& password,
               std::optional<std::string> generic) {
        ASSERT_EQ(keychainFile->add({service, account, password, std::move(generic)}),
                  Status::Success);
    }
};

TEST_F(AuthRecordTest, RecordLoadsTokensAndTheStoredUserName) {
    const double expiry = clock->now() + 3600;
    store(recordService(), kAppName, "t1", base::format("alice###(null)###%0.0f###r1", expiry));
    defaults->setObject(std::string("alice@example.com"), "quorvUserName");
    controller->loadSavedSettings();
    EXPECT_EQ(controller->oauthToken(), "t1");
    EXPECT_EQ(controller->oauthRefreshToken(), "r1");
    EXPECT_EQ(controller->oauthTokenExpires(), base::Date{expiry});
    EXPECT_EQ(controller->username(), "alice@example.com");
    EXPECT_EQ(controller->quorvServerURLString(), "");
    EXPECT_EQ(controller->refreshTimerFireTime(), clock->now() + 3540);
    EXPECT_TRUE(controller->dontAutoReloadOldSettings());
    EXPECT_TRUE(exchange->sent.empty());
}

TEST_F(AuthRecordTest, UserNameIsNoneWithoutTheStoredDefault) {
    store(recordService(), kAppName, "t1", "alice###(null)###0###(null)");
    controller->loadSavedSettings();
    EXPECT_FALSE(controller->username());
}

TEST_F(AuthRecordTest, ServerAddressesThatAreKept) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"revu1", ""},    {"HTTP://x", "HTTP://x"},
        {"http", "http"}, {"review.x", "review.x"},
        {"(null)", ""},   {"  https://a.b  ", "https://a.b"}};
    for (const auto& [written, loaded] : cases) {
        keychainFile->remove(recordService(), kAppName);
        store(recordService(), kAppName, "t", "u###" + written + "###0###(null)");
        controller->loadSavedSettings();
        EXPECT_EQ(controller->quorvServerURLString(), loaded) << written;
    }
}

TEST_F(AuthRecordTest, ATokenDueWithinAMinuteRefreshesAtOnce) {
    store(recordService(), kAppName, "t1",
          base::format("alice###(null)###%0.0f###r1", clock->now() + 60));
    controller->loadSavedSettings();
    ASSERT_EQ(exchange->sent.size(), 1u);
    EXPECT_EQ(exchange->last().fields[1].second, "r1");
    EXPECT_FALSE(controller->refreshTimerFireTime());
}

TEST_F(AuthRecordTest, LegacyPasswordRecordIsHonouredByTheFirstLoadOnly) {
    store("com.oxburyworks.quorvane", "alice@example.com", "s3cret",
          "alice###ignored###https://review.example.org");
    controller->loadSavedSettings();
    ASSERT_EQ(exchange->sent.size(), 1u);
    // The password goes to the server the record names.
    EXPECT_EQ(exchange->last().url, "https://review.example.org/token");
    EXPECT_EQ(exchange->last().clientSecret, OWQuorvaneAuthController::kServerOAuthPKey);
    EXPECT_EQ(exchange->last().fields[2].second, "s3cret");
    exchange->reply(R"({"error":"invalid_grant"})", 400);

    controller->loadSavedSettings();
    EXPECT_EQ(exchange->sent.size(), 1u);
}

TEST_F(AuthRecordTest, OlderRecordUnderTheOldServiceStillLoads) {
    store("com.oxburyworks.quorvane", kAppName, "t0", "bob###(null)###0###r0");
    controller->loadSavedSettings();
    EXPECT_EQ(controller->oauthToken(), "t0");
    ASSERT_EQ(exchange->sent.size(), 1u);  // expired: refreshed at once
    EXPECT_EQ(exchange->last().fields[1].second, "r0");
}

TEST_F(AuthRecordTest, SavedRecordLoadsInAnotherController) {
    link("tok", "ref", 7200);
    auto other = makeController();
    other->loadSavedSettings();
    EXPECT_EQ(other->oauthToken(), "tok");
    EXPECT_EQ(other->oauthRefreshToken(), "ref");
    EXPECT_EQ(other->username(), "alice");
    EXPECT_EQ(other->oauthTokenExpires(), controller->oauthTokenExpires());
}

TEST_F(AuthRecordTest, AFailedKeychainWriteStillAnnouncesTheSettings) {
    store("unrelated", "x", "y", std::nullopt);
    ASSERT_EQ(::chmod((keychainFile->folder() + "/items.plist").c_str(), 0644), 0);
    authorize("c");
    exchange->reply(R"({"access_token":"t1","expires_in":3600})");
    EXPECT_EQ(controller->oauthToken(), "t1");
    EXPECT_EQ(seenNames(),
              (std::vector<std::string>{"OWQuorvanePauseQueue", "OWQuorvaneUpdateSettings",
                                        "OWQuorvaneOAuthChanged"}));
}

// ---- the hub hand-over ----

class HubHandOverTest : public AuthControllerTest {
  protected:
    std::shared_ptr<OWQuorvaneAuthController> exporter() {
        auto search = std::vector<std::string>{apps};
        return makeController(std::string(authtest::kClientID),
                              std::make_shared<OWQuorvaneHubHandOver>(search, 2.0));
    }
    std::string apps = dir.makeFolder("Applications");
    fakes::FakeHub hub{apps};
};

TEST_F(HubHandOverTest, ExporterReadsTheHubsCredentialsWithoutStoringThem) {
    const double expiry = clock->now() + 7200;
    hub.prints(base::format("https://review.example.org###%0.0f###r7###t7", expiry));
    controller = exporter();
    controller->loadSavedSettings();
    EXPECT_EQ(controller->oauthToken(), "t7");
    EXPECT_EQ(controller->oauthRefreshToken(), "r7");
    EXPECT_EQ(controller->quorvServerURLString(), "https://review.example.org");
    EXPECT_EQ(controller->refreshTimerFireTime(), expiry - 60);
    EXPECT_EQ(testsupport::readFile(hub.argumentsFile()), "-oauth\n");
    EXPECT_TRUE(keychainFile->list(recordService(), 10).empty());
}

TEST_F(HubHandOverTest, NullCredentialsLeaveNoTokens) {
    hub.prints("###0###(null)###(null)");
    controller = exporter();
    controller->loadSavedSettings();
    EXPECT_FALSE(controller->oauthToken());
    EXPECT_FALSE(controller->oauthRefreshToken());
    EXPECT_EQ(controller->oauthTokenExpires(), base::Date{0});
    EXPECT_EQ(controller->quorvServerURLString(), "");
    EXPECT_TRUE(exchange->sent.empty());
}

TEST_F(HubHandOverTest, GarbledOrSilentHubLeavesEverythingEmpty) {
    controller = exporter();
    for (const char* output : {"https://x###0###r", "garbage", ""}) {
        hub.prints(output);
        controller->loadSavedSettings();
        EXPECT_FALSE(controller->oauthToken()) << output;
        EXPECT_FALSE(controller->oauthTokenExpires()) << output;
    }
}

TEST_F(HubHandOverTest, AHangingHubIsAbandonedAtTheTimeOut) {
    hub.hangs();
    controller = exporter();
    controller->loadSavedSettings();
    EXPECT_FALSE(controller->oauthToken());
}

TEST_F(HubHandOverTest, TheHubIsNotAskedWhenARecordExists) {
    hub.prints("###0###r###t");
    ASSERT_EQ(keychainFile->add({recordService(), kAppName, "t1", "a###(null)###0###r1"}),
              Status::Success);
    controller = exporter();
    controller->loadSavedSettings();
    EXPECT_EQ(controller->oauthToken(), "t1");
    EXPECT_EQ(testsupport::readFile(hub.argumentsFile()), "");
}

TEST_F(HubHandOverTest, OnlyABundleWithTheHubsIdentifierIsTheHub) {
    testsupport::TempDir other;
    other.makeFolder("Impostor.app/Contents");
    other.write("Impostor.app/Contents/Info.plist",
                "<plist><dict><key>CFBundleIdentifier</key><string>x.y</string></dict></plist>");
    EXPECT_FALSE(OWQuorvaneHubHandOver({other.path()}).hubBundlePath());
    EXPECT_EQ(OWQuorvaneHubHandOver({other.path(), apps}).hubBundlePath(), hub.bundlePath());
}

}  // namespace

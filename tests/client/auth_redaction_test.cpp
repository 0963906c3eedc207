// Secrets never reach a log line: the masking of addresses, form bodies and replies,
// and the log the controller writes while linking.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "client/OWQuorvaneRedaction.h"
#include "platform/system/ConsoleUser.h"
#include "support/OWLog.h"
#include "tests/client/AuthTestSupport.h"

namespace {

namespace redact = OWQuorvaneRedaction;

TEST(Redaction, AddressesAndFormBodies) {
    EXPECT_EQ(redact::text("quorvx://oauth/authorized?code=abc123&state=zz9&x=1"),
              "quorvx://oauth/authorized?code=<redacted>&state=<redacted>&x=1");
    EXPECT_EQ(redact::text("grant_type=refresh_token&refresh_token=r1"),
              "grant_type=refresh_token&refresh_token=<redacted>");
    EXPECT_EQ(redact::text("username=a&password=p%20w"), "username=a&password=<redacted>");
    // Names that merely end like a secret's are left alone.
    EXPECT_EQ(redact::text("zipcode=12345&barcode=9"), "zipcode=12345&barcode=9");
}

TEST(Redaction, JsonReplies) {
    EXPECT_EQ(
        redact::text(R"({"access_token": "t1", "refresh_token":"r1","user_name":"alice"})"),
        R"({"access_token": "<redacted>", "refresh_token":"<redacted>","user_name":"alice"})");
    EXPECT_EQ(redact::text(R"({"access_token":"a\"b"})"), R"({"access_token":"<redacted>"})");
    const base::Value reply = base::Dictionary{
        {"access_token", "t1"},
        {"nested", base::Array{base::Value(base::Dictionary{{"refresh_token", "r1"}})}},
        {"expires_in", 3600}};
    const std::string text = redact::value(reply).describe();
    EXPECT_EQ(text.find("t1"), std::string::npos);
    EXPECT_EQ(text.find("r1"), std::string::npos);
    EXPECT_NE(text.find("3600"), std::string::npos);
    EXPECT_EQ(redact::token(std::nullopt), "(null)");
    EXPECT_EQ(redact::token("secret"), "<redacted>");
}

class AuthLogTest : public authtest::AuthControllerTest {
  protected:
    void SetUp() override {
        AuthControllerTest::SetUp();
        for (const char* name : {"HOME", "XDG_STATE_HOME", "SUDO_UID", "PKEXEC_UID"}) {
            const char* old = std::getenv(name);
            saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
            ::unsetenv(name);
        }
        ::setenv("HOME", dir.path().c_str(), 1);
        // Running as root would put the log in the machine's folder.
        platform::system::ConsoleUser::setRootOverride(false);
        OWLog::resetForTesting();
        OWLog::createNewLog("auth-tests");
    }
    void TearDown() override {
        OWLog::resetForTesting();
        platform::system::ConsoleUser::setRootOverride(std::nullopt);
        for (const auto& [name, value] : saved) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
        AuthControllerTest::TearDown();
    }
    std::string logText() {
        OWLog::finishWriting();
        std::string all;
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(dir.path() + "/.local/state")) {
            if (entry.is_regular_file()) {
                all += testsupport::readFile(entry.path().string());
            }
        }
        return all;
    }
    std::map<std::string, std::optional<std::string>> saved;
};

TEST_F(AuthLogTest, LinkingRefreshingAndFailingLogNoSecret) {
    authorize("c0de5ecret");
    exchange->reply(
        R"({"access_token":"tok5ecret","expires_in":3600,"refresh_token":"ref5ecret"})");
    controller->refreshOAuthToken();
    exchange->reply(R"({"access_token":"tok5ecret2",)");  // unreadable
    controller->refreshOAuthToken();
    exchange->fail(500, R"({"access_token":"tok5ecret3"})");
    controller->fetchOAuthToken(std::nullopt, false, "pass5ecret", "a@b.c");
    exchange->reply(R"({"error":"invalid_grant","refresh_token":"ref5ecret4"})", 400);
    const std::string log = logText();
    ASSERT_NE(log.find("OAuth URL received"), std::string::npos);
    ASSERT_NE(log.find("Reloading refresh token"), std::string::npos);
    ASSERT_NE(log.find("Oauth response error"), std::string::npos);
    EXPECT_EQ(log.find("5ecret"), std::string::npos) << log;
    EXPECT_EQ(log.find(controller->oauthStateCode()), std::string::npos);
}

}  // namespace

// The hub's "-oauth" hand-over, run as the exporters run it: the built program in its
// bundle, with a private keychain, read back byte for byte and by the exporters' reader.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "apps/hub/HubOAuthMode.h"
#include "base/UserDefaults.h"
#include "client/KCKeychainBindings.h"
#include "client/KCKeychainBindingsController.h"
#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneHubCredentials.h"
#include "client/OWQuorvaneHubHandOver.h"
#include "platform/keychain/KeychainFile.h"
#include "tests/helpers/BinaryPlist.h"
#include "tests/helpers/RunTool.h"
#include "tests/helpers/TempDir.h"
#include "tests/hub/oauth/OAuthModeTest.h"

namespace hubtest {
namespace {

namespace fs = std::filesystem;

struct HandOverCase {
    const char* name;
    const char* access;   // nullptr: no record at all
    const char* generic;  // the record's free-text attribute
    std::vector<std::string> arguments;
    const char* expected;
};

class OAuthModeOutputTest : public OAuthModeTest,
                            public ::testing::WithParamInterface<HandOverCase> {};

TEST_P(OAuthModeOutputTest, WritesExactlyTheHandOverAndExitsWithZero) {
    const HandOverCase& c = GetParam();
    if (c.access) {
        store(c.access, c.generic);
    }
    const auto result = runHub(c.arguments);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, c.expected);
    // Logging was off before anything could write: not even a log file was started.
    EXPECT_FALSE(fs::exists(stateHome + "/Oxbury Works")) << "a log was written";
}

INSTANTIATE_TEST_SUITE_P(
    Records, OAuthModeOutputTest,
    ::testing::Values(
        HandOverCase{
            "Hosted", "a1", "alice######1893456000###r1", {"-oauth"}, "###1893456000###r1###a1"},
        HandOverCase{"SelfHosted",
                     "a1",
                     "alice###https://review.example.org###1893456000###r1",
                     {"-oauth"},
                     "https://review.example.org###1893456000###r1###a1"},
        HandOverCase{"NoRecord", nullptr, nullptr, {"-oauth"}, "###0###(null)###(null)"},
        HandOverCase{"AfterOtherArguments",
                     "a1",
                     "alice######1893456000###r1",
                     {"-NSDocumentRevisionsDebugMode", "YES", "-oauth"},
                     "###1893456000###r1###a1"},
        // An expired token starts a refresh on the way; the values loaded are written.
        HandOverCase{"ExpiredStartsARefreshNotWaitedFor",
                     "a1",
                     "alice######1000###r1",
                     {"-oauth"},
                     "###1000###r1###a1"},
        // A custom address too short to be one falls back to the hosted service.
        HandOverCase{"ShortServerFallsBack",
                     "a1",
                     "alice###abcde###1893456000###(null)",
                     {"-oauth"},
                     "###1893456000###(null)###a1"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- damaged keychain files ----

// Arrays nested `levels` deep, as XML and as a binary list (each array refers to the
// next; four-byte offsets and references).
std::string deepXml(size_t levels) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    for (size_t i = 0; i < levels; ++i) {
        text += "<array>";
    }
    for (size_t i = 0; i < levels; ++i) {
        text += "</array>";
    }
    return text + "</plist>\n";
}

// `levels` arrays, each holding the next.
std::string deepBinary(size_t levels) {
    std::vector<std::string> objects;
    for (size_t i = 1; i < levels; ++i) {
        objects.push_back("\xa1" + testsupport::plistReference(i, 4));
    }
    objects.emplace_back("\xa0");
    return testsupport::binaryPlist(objects, 4);
}

struct Damage {
    const char* name;
    std::function<void(const std::string& path)> make;
};

// Every program that reads the account (the hub's "-oauth", the widget) ends at once on a
// keychain file it cannot read, answers that no account is linked, and moves the file
// aside, so the next link starts a fresh one and nobody must delete it by hand.
TEST_F(OAuthModeTest, ADamagedKeychainFileIsMovedAsideAndReadsAsNoAccount) {
    const auto write = [](const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    };
    const std::vector<Damage> damages = {
        {"deep XML", [&](const std::string& p) { write(p, deepXml(200'000)); }},
        {"deep binary", [&](const std::string& p) { write(p, deepBinary(100'000)); }},
        {"garbage", [&](const std::string& p) { write(p, "\x01not a property list\xff"); }},
        {"a list of no items", [&](const std::string& p) { write(p, deepXml(3)); }},
        {"a pipe", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"a folder", [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0700), 0); }},
    };
    const std::string items = keychainFolder() + "/" + platform::keychain::KeychainFile::kFileName;
    const auto movedAside = [&] {
        size_t count = 0;
        for (const auto& entry : fs::directory_iterator(keychainFolder())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("items.plist.corrupt-")) {
                fs::remove_all(entry.path());
                ++count;
            }
        }
        return count;
    };
    fs::create_directories(keychainFolder());
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        damage.make(items);
        const auto hub = runHub({"-oauth"});
        EXPECT_EQ(hub.status, 0);
        EXPECT_EQ(hub.out, kNoAccount);
        EXPECT_FALSE(fs::exists(fs::symlink_status(items)));
        EXPECT_EQ(movedAside(), 1u);

        damage.make(items);
        if (const auto widget = runWidget()) {
            EXPECT_EQ(widget->status, 2);
            EXPECT_EQ(widget->out, "");
            EXPECT_FALSE(fs::exists(fs::symlink_status(items)));
            EXPECT_EQ(movedAside(), 1u);
        }
        fs::remove_all(items);
    }
    // A fresh record after all that reads as ever.
    store("a1", "alice######1893456000###r1");
    EXPECT_EQ(runHub({"-oauth"}).out, "###1893456000###r1###a1");
}

TEST(OAuthHandOverText, RoundsAFractionalExpiryAndMarksWhatIsMissing) {
    EXPECT_EQ(OWQuorvaneHubCredentials::line("", base::Date{1893456000.6}, "r", "a"),
              "###1893456001###r###a");
    EXPECT_EQ(OWQuorvaneHubCredentials::line("", base::Date{1893456000.4}, "r", "a"),
              "###1893456000###r###a");
    EXPECT_EQ(OWQuorvaneHubCredentials::line("https://x.example", std::nullopt, std::nullopt,
                                             std::nullopt),
              "https://x.example###0###(null)###(null)");
}

TEST(OAuthArgument, IsFoundOnlyAsAWholeArgumentAfterTheProgramName) {
    const char* anywhere[] = {"hub", "-a", "-oauth", "b"};
    const char* partial[] = {"hub", "-oauthx", "oauth", "--oauth"};
    const char* asProgramName[] = {"-oauth"};
    EXPECT_TRUE(hub::hasOAuthArgument(4, anywhere));
    EXPECT_FALSE(hub::hasOAuthArgument(4, partial));
    EXPECT_FALSE(hub::hasOAuthArgument(1, asProgramName));
}

}  // namespace
}  // namespace hubtest

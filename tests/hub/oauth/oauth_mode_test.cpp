// The hub's "-oauth" hand-over, run as the exporters run it: the built program in its
// bundle, with a private keychain, read back byte for byte and by the exporters' reader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "apps/hub/HubOAuthMode.h"
#include "base/RunLoop.h"
#include "base/UserDefaults.h"
#include "client/KCKeychainBindings.h"
#include "client/KCKeychainBindingsController.h"
#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneHubHandOver.h"
#include "platform/keychain/KeychainFile.h"
#include "tests/helpers/RunTool.h"
#include "tests/helpers/TempDir.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kBundle = QV_HUB_BUNDLE;
constexpr const char* kRecordService = "Quorvane - Quorvane Plugin Hub";

// Sets a variable for the life of the object, then restores it.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) {
            old_ = old;
        }
        ::setenv(name_.c_str(), value.c_str(), 1);
    }
    ScopedEnv(ScopedEnv&& other) noexcept : name_(std::move(other.name_)), old_(other.old_) {
        other.name_.clear();
    }
    ~ScopedEnv() {
        if (name_.empty()) {
            return;
        }
        if (old_) {
            ::setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }

  private:
    std::string name_;
    std::optional<std::string> old_;
};

class OAuthModeTest : public ::testing::Test {
  protected:
    std::string hubExecutable() const {
        return std::string(kBundle) + "/" + OWQuorvaneHubHandOver::kHubExecutable;
    }
    std::vector<std::string> environment() const {
        return {"HOME=" + dir.path(), "XDG_DATA_HOME=" + dataHome, "XDG_CONFIG_HOME=" + configHome,
                "XDG_STATE_HOME=" + stateHome,
                // A refresh the load starts goes nowhere and is not waited for.
                "QUORVANE_SITE_URL=http://127.0.0.1:9"};
    }
    void store(const std::string& access, const std::string& generic) {
        platform::keychain::KeychainFile file(dataHome + "/Oxbury Works/Keychain");
        ASSERT_EQ(file.add({kRecordService, hub::kAppName, access, generic}),
                  platform::keychain::Status::Success);
    }
    testsupport::ToolResult runHub(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), hubExecutable());
        return testsupport::runTool(arguments, environment());
    }

    testsupport::TempDir dir;
    std::string dataHome = dir.makeFolder("data");
    std::string configHome = dir.makeFolder("config");
    std::string stateHome = dir.makeFolder("state");
};

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

TEST(OAuthHandOverText, RoundsAFractionalExpiryAndMarksWhatIsMissing) {
    EXPECT_EQ(hub::handOverText("", base::Date{1893456000.6}, "r", "a"), "###1893456001###r###a");
    EXPECT_EQ(hub::handOverText("", base::Date{1893456000.4}, "r", "a"), "###1893456000###r###a");
    EXPECT_EQ(hub::handOverText("https://x.example", std::nullopt, std::nullopt, std::nullopt),
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

// An exporter with no record of its own asks the real hub and takes over its account.
TEST_F(OAuthModeTest, AnExporterReadsTheHubsAccountThroughTheRealProgram) {
    store("tok-7", "alice###https://review.example.org###1893456000###ref-7");
    // The hub inherits the exporter's environment.
    std::vector<ScopedEnv> env;
    env.emplace_back(OWQuorvaneHubHandOver::kBundleEnvironment, kBundle);
    for (const std::string& entry : environment()) {
        const size_t eq = entry.find('=');
        env.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
    }
    testsupport::TempDir exporterDir;
    OWQuorvaneAuthController::Services services;
    auto exporterKeychain = std::make_unique<KCKeychainBindingsController>(
        std::make_shared<platform::keychain::KeychainFile>(exporterDir.makeFolder("Keychain")));
    services.keychain = exporterKeychain.get();
    services.defaults =
        std::make_shared<base::UserDefaults>("com.oxburyworks.exporter", exporterDir.path());
    services.hub = std::make_shared<OWQuorvaneHubHandOver>(std::vector<std::string>{});
    auto exporter = OWQuorvaneAuthController::create("Quorvane Exporter", "exp", services);
    exporter->loadSavedSettings();

    EXPECT_EQ(exporter->oauthToken(), "tok-7");
    EXPECT_EQ(exporter->oauthRefreshToken(), "ref-7");
    EXPECT_EQ(exporter->quorvServerURLString(), "https://review.example.org");
    EXPECT_EQ(exporter->oauthTokenExpires(), base::Date{1893456000});
}

}  // namespace

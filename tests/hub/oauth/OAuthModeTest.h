#pragma once
// Runs the built hub's "-oauth" (and, where it is built, the widget's terminal form) the
// way the exporters run it: the program in its bundle, with a private home whose
// keychain the test fills.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "apps/hub/HubOAuthMode.h"
#include "client/OWQuorvaneHubHandOver.h"
#include "platform/keychain/KeychainFile.h"
#include "tests/helpers/RunTool.h"
#include "tests/helpers/TempDir.h"

namespace hubtest {

inline constexpr const char* kBundle = QV_HUB_BUNDLE;
inline constexpr const char* kRecordService = "Quorvane - Quorvane Plugin Hub";
// What "-oauth" writes when there is no account.
inline constexpr const char* kNoAccount = "###0###(null)###(null)";
// A program that does not end within this is hanging; `timeout` ends it (status 124).
inline constexpr const char* kHangLimitSeconds = "30";

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

// A private home for the programs, with the hub and the widget run in it.
class HubHome {
  public:
    std::string keychainFolder() const { return dataHome + "/Oxbury Works/Keychain"; }
    std::string hubExecutable() const {
        return std::string(kBundle) + "/" + OWQuorvaneHubHandOver::kHubExecutable;
    }
    std::vector<std::string> environment() const {
        return {"HOME=" + dir.path(),
                "XDG_DATA_HOME=" + dataHome,
                "XDG_CONFIG_HOME=" + configHome,
                "XDG_STATE_HOME=" + stateHome,
                "XDG_CACHE_HOME=" + cacheHome,
                "QUORVANE_SITE_URL=" + siteURL};
    }
    void store(const std::string& access, const std::string& generic) {
        platform::keychain::KeychainFile file(keychainFolder());
        ASSERT_EQ(file.add({kRecordService, hub::kAppName, access, generic}),
                  platform::keychain::Status::Success);
    }
    // The program under `timeout`, so that a hang fails the test instead of stalling it.
    testsupport::ToolResult runHub(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {"timeout", kHangLimitSeconds, hubExecutable()});
        return testsupport::runTool(arguments, environment());
    }

    // The widget's terminal form (one update, rows on standard output; status 2 when no
    // account is linked) in the same home; none where the widget is not built.
    std::optional<testsupport::ToolResult> runWidget() const {
#ifdef QV_TODAY_EXECUTABLE
        return testsupport::runTool({"timeout", kHangLimitSeconds, QV_TODAY_EXECUTABLE, "--print"},
                                    environment());
#else
        return std::nullopt;
#endif
    }

    testsupport::TempDir dir;
    std::string dataHome = dir.makeFolder("data");
    std::string configHome = dir.makeFolder("config");
    std::string stateHome = dir.makeFolder("state");
    std::string cacheHome = dir.makeFolder("cache");
    // A refresh the load starts goes nowhere and is not waited for.
    std::string siteURL = "http://127.0.0.1:9";
};

class OAuthModeTest : public ::testing::Test, public HubHome {};

}  // namespace hubtest

#pragma once
// The events widget against the stand-in service: a token controller named after the hub
// with its keychain file and defaults in a temporary folder, linked through the stand-in's
// authorization page, the widget's own defaults beside them, a manual clock for "now",
// relative dates in Berlin in US English, a recording stand-in for the desktop's default
// handler (QUORVANE_URL_OPENER) and captured alerts.
#include <memory>
#include <string>
#include <vector>

#include "apps/today/TodayIconLoader.h"
#include "apps/today/TodayViewController.h"
#include "base/NotificationCenter.h"
#include "base/UserDefaults.h"
#include "client/KCKeychainBindings.h"
#include "client/KCKeychainBindingsController.h"
#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneCacheController.h"
#include "client/OWQuorvaneControllerAccount.h"
#include "platform/keychain/KeychainFile.h"
#include "platform/ui/ScriptedAlertPresenter.h"
#include "support/OWRelativeDates.h"
#include "tests/fakes/FakeService.h"
#include "tests/helpers/TempDir.h"
#include "tests/helpers/desktop/DesktopTest.h"

namespace todaytest {

inline constexpr const char* kClientID = "Hv3PzQ8wLmT5cXr2NbJa";
// The built program's own (its Info.plist's "OWQAppID"), with which it refreshes tokens.
inline constexpr const char* kProgramClientID = "Tw7KqN2xRb5VhLc9MpZd";
// "Now" for the widget: 14 November 2023, 23:28:20 in Berlin.
inline constexpr double kNow = 1'700'000'900;

class TodayTest : public testsupport::DesktopTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Links the account in the keychain folder `keychainFolder` (the fixture's own by
    // default) through the stand-in's authorization page and token endpoint.
    void link();
    std::shared_ptr<TodayViewController> makeWidget();
    // Runs one update to its answer; NoData when none came within 30 seconds.
    TodayViewController::UpdateResult update(TodayViewController& widget);
    // Replaces the stand-in's events: none built in, then `events` (a JSON array text)
    // under the project `project`.
    void clearEvents();
    void addEvents(const std::string& project, const std::string& eventsJson);
    // The "since" field of every events call so far ("" when the call had none).
    std::vector<std::string> sinceFields() const;
    size_t requestsTo(const std::string& path) const;
    static std::vector<std::string> descriptions(const TodayViewController& widget);

    fakes::FakeService service{
        {"--client", std::string(kClientID) + ":" + OWQuorvaneAuthController::kOAuthPKey,
         "--client", std::string(kProgramClientID) + ":" + OWQuorvaneAuthController::kOAuthPKey}};
    testsupport::TempDir dir;
    std::shared_ptr<base::ManualClock> clock = std::make_shared<base::ManualClock>(kNow);
    std::shared_ptr<const OWRelativeDates> dates;
    std::shared_ptr<platform::keychain::KeychainFile> keychainFile;
    std::unique_ptr<KCKeychainBindingsController> keychain;
    std::shared_ptr<base::UserDefaults> controllerDefaults;
    std::shared_ptr<base::UserDefaults> widgetDefaults;
    std::shared_ptr<base::NotificationCenter> sharedCenter =
        std::make_shared<base::NotificationCenter>();
    base::NotificationCenter& center = *sharedCenter;
    std::shared_ptr<OWQuorvaneCacheController> sharedCache =
        std::make_shared<OWQuorvaneCacheController>();
    OWQuorvaneCacheController& cache = *sharedCache;
    std::shared_ptr<OWQuorvaneAuthController> controller;
    std::shared_ptr<OWQuorvaneControllerAccount> account;
    std::shared_ptr<platform::ui::ScriptedAlertPresenter> alerts =
        std::make_shared<platform::ui::ScriptedAlertPresenter>();
    // The addresses the default handler was given (a recording stand-in for it).
    std::vector<std::string> opened() const;
    std::string keychainFolder;
};

#define QV_TODAY_PEER_SETUP() QV_REQUIRE_SERVICE(service)

}  // namespace todaytest

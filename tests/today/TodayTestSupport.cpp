#include "tests/today/TodayTestSupport.h"

#include <sys/stat.h>

#include <QTest>
#include <cstdlib>
#include <fstream>

#include "base/RunLoop.h"
#include "base/Workspace.h"
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneURLLoader.h"
#include "client/json/QMJSON.h"

namespace todaytest {

void TodayTest::SetUp() {
    DesktopTest::SetUp();
    dates = std::make_shared<OWRelativeDates>(
        OWRelativeDates::Options{clock, "en_US", "Europe/Berlin"});
    if (keychainFolder.empty()) {
        keychainFolder = dir.path() + "/Keychain";
    }
    keychainFile = std::make_shared<platform::keychain::KeychainFile>(keychainFolder);
    keychain = std::make_unique<KCKeychainBindingsController>(keychainFile);
    controllerDefaults =
        std::make_shared<base::UserDefaults>("com.oxburyworks.test", dir.makeFolder("prefs"));
    widgetDefaults = std::make_shared<base::UserDefaults>(
        "com.oxburyworks.QuorvPluginHub.TodayExtension", dir.path() + "/prefs");
    OWQuorvaneAuthController::Services services;
    services.keychain = keychain.get();
    services.defaults = controllerDefaults;
    services.center = &center;
    services.hostedSiteURL = service.url();
    controller = OWQuorvaneAuthController::create(TodayViewController::kHubName,
                                                  std::string(kClientID), services);
    account = std::make_shared<OWQuorvaneControllerAccount>(controller);
    platform::ui::AlertPresenter::setCurrent(alerts);
    const std::string opener =
        dir.write("opener", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$0.record\"\n");
    ::chmod(opener.c_str(), 0700);
    ::setenv(base::Workspace::kURLOpenerEnvironment, opener.c_str(), 1);
}

std::vector<std::string> TodayTest::opened() const {
    std::vector<std::string> lines;
    std::ifstream record(dir.file("opener.record"));
    for (std::string line; std::getline(record, line);) {
        lines.push_back(line);
    }
    return lines;
}

void TodayTest::TearDown() {
    ::unsetenv(base::Workspace::kURLOpenerEnvironment);
    platform::ui::AlertPresenter::setCurrent(nullptr);
    account.reset();
    controller.reset();
    DesktopTest::TearDown();
}

void TodayTest::link() {
    const auto page =
        service.request("GET", "/authorize?response_type=code&client_id=" + std::string(kClientID) +
                                   "&state=" + controller->oauthStateCode());
    ASSERT_EQ(page.status, 302);
    controller->handleURL(page.location());
    ASSERT_TRUE(waitFor([&] { return !controller->isRefreshingToken(); }, 30));
    ASSERT_TRUE(controller->oauthToken());
}

std::shared_ptr<TodayViewController> TodayTest::makeWidget() {
    TodayViewController::Services services;
    services.client = {account, OWQuorvaneURLLoader::shared(), sharedCache, sharedCenter, nullptr};
    services.defaults = widgetDefaults;
    services.clock = clock;
    services.dates = dates;
    services.icons = TodayIconLoader::create(clock);
    return TodayViewController::create(services);
}

TodayViewController::UpdateResult TodayTest::update(TodayViewController& widget) {
    std::optional<TodayViewController::UpdateResult> result;
    widget.widgetPerformUpdateWithCompletionHandler(
        [&result](TodayViewController::UpdateResult r) { result = r; });
    EXPECT_TRUE(waitFor([&] { return result.has_value(); }, 30)) << "the update got no answer";
    return result.value_or(TodayViewController::UpdateResult::NoData);
}

void TodayTest::clearEvents() {
    ASSERT_EQ(service.request("POST", "/_control/events", R"({"clear": true})").status, 200);
}

void TodayTest::addEvents(const std::string& project, const std::string& eventsJson) {
    const std::string body = R"({"project": ")" + project + R"(", "events": )" + eventsJson + "}";
    ASSERT_EQ(service.request("POST", "/_control/events", body).status, 200);
}

namespace {

base::Array parsed(const std::string& text) {
    QMJSON json;
    auto value = json.objectWithString(text);
    return value && value->array() ? *value->array() : base::Array();
}

}  // namespace

std::vector<std::string> TodayTest::sinceFields() const {
    std::vector<std::string> since;
    for (const base::Value& call : parsed(service.request("GET", "/_control/api_log").body)) {
        if (call["path"].stringValue() != "/api/0/projects/events") {
            continue;
        }
        std::string value;
        if (const base::Array* fields = call["fields"].array()) {
            for (const base::Value& pair : *fields) {
                if (pair[size_t{0}].stringValue() == "since") {
                    value = pair[size_t{1}].stringValue();
                }
            }
        }
        since.push_back(value);
    }
    return since;
}

size_t TodayTest::requestsTo(const std::string& path) const {
    size_t count = 0;
    for (const base::Value& entry : parsed(service.log())) {
        count += entry["path"].stringValue() == path ? 1 : 0;
    }
    return count;
}

std::vector<std::string> TodayTest::descriptions(const TodayViewController& widget) {
    std::vector<std::string> out;
    for (const base::Value& event : widget.events()) {
        out.push_back(event["description"].stringValue());
    }
    return out;
}

}  // namespace todaytest

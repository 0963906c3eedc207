#include "tests/client/AuthTestSupport.h"

#include "base/Format.h"
#include "base/RunLoop.h"

namespace authtest {

void ScriptedExchange::send(const Request& request, Completion done) {
    sent.push_back(request);
    pending_.push_back({request, std::move(done)});
}

void ScriptedExchange::reply(const std::string& body, int status) {
    ASSERT_FALSE(pending_.empty());
    Pending next = std::move(pending_.front());
    pending_.pop_front();
    Outcome outcome;
    outcome.statusCode = status;
    outcome.body.assign(body.begin(), body.end());
    next.done(outcome);
}

void ScriptedExchange::fail(int status, const std::string& body, const std::string& errorText) {
    ASSERT_FALSE(pending_.empty());
    Pending next = std::move(pending_.front());
    pending_.pop_front();
    Outcome outcome;
    outcome.failed = true;
    outcome.statusCode = status;
    outcome.body.assign(body.begin(), body.end());
    outcome.errorText = errorText;
    next.done(outcome);
}

void AuthControllerTest::SetUp() {
    MainThreadTest::SetUp();
    clock = useManualClock();
    keychainFile = std::make_shared<platform::keychain::KeychainFile>(dir.path() + "/Keychain");
    keychain = std::make_unique<KCKeychainBindingsController>(keychainFile);
    defaults =
        std::make_shared<base::UserDefaults>("com.oxburyworks.test", dir.makeFolder("prefs"));
    observation_ =
        base::Observation(center, center.addObserver("", [this](const base::Notification& n) {
            seen.push_back({n.name, controller && controller->isRefreshingToken()});
        }));
    controller = makeController();
}

void AuthControllerTest::TearDown() {
    controller.reset();
    observation_.reset();
    MainThreadTest::TearDown();
}

std::shared_ptr<OWQuorvaneAuthController> AuthControllerTest::makeController(
    std::optional<std::string> clientID, std::shared_ptr<const OWQuorvaneHubHandOver> hub) {
    OWQuorvaneAuthController::Services services;
    services.exchange = exchange;
    services.keychain = keychain.get();
    services.defaults = defaults;
    services.center = &center;
    services.alert = [this](const std::string& message) { alerts.push_back(message); };
    services.hostedSiteURL = kHosted;
    services.hub = std::move(hub);
    return OWQuorvaneAuthController::create(kAppName, std::move(clientID), services);
}

std::vector<std::string> AuthControllerTest::seenNames() const {
    std::vector<std::string> names;
    for (const Seen& s : seen) {
        names.push_back(s.name);
    }
    return names;
}

void AuthControllerTest::authorize(const std::string& code) {
    controller->handleURL(base::format("quorv%@://oauth/authorized?code=%@&state=%@",
                                       std::string("hv3pzq8wlmt5cxr2nbja"), code,
                                       controller->oauthStateCode()));
}

void AuthControllerTest::link(const std::string& access, const std::string& refresh,
                              int expiresIn) {
    authorize("c0de");
    exchange->reply(base::format(
        R"({"access_token":"%@","expires_in":%d,"refresh_token":"%@","user_name":"alice"})", access,
        expiresIn, refresh));
    mainLoop().run(base::kDefaultRunLoopMode, 0);  // queued alerts, if any
    seen.clear();
}

}  // namespace authtest

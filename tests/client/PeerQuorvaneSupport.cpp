#include "tests/client/PeerQuorvaneSupport.h"

#include "base/RunLoop.h"
#include "client/OWQuorvaneURLLoader.h"
#include "client/json/QMJSON.h"

namespace peerquorvane {

std::vector<Callback> RecordingDelegate::callbacks() const {
    std::lock_guard lock(mutex_);
    return callbacks_;
}

size_t RecordingDelegate::size() const {
    return outcomes().size();
}

std::vector<Callback> RecordingDelegate::outcomes() const {
    std::vector<Callback> out;
    for (Callback& c : callbacks()) {
        if (c.name != "quorvaneOAuthStatusChanged") {
            out.push_back(std::move(c));
        }
    }
    return out;
}

void RecordingDelegate::add(std::string name, base::Value result,
                            std::optional<base::Error> error) {
    std::lock_guard lock(mutex_);
    callbacks_.push_back(
        {std::move(name), std::move(result), std::move(error), base::RunLoop::isMainThread()});
}

void PeerQuorvaneTest::SetUp() {
    AuthControllerTest::SetUp();
    OWQuorvaneAuthController::Services services;
    services.keychain = keychain.get();
    services.defaults = defaults;
    services.center = &center;
    services.alert = [this](const std::string& message) { alerts.push_back(message); };
    services.hostedSiteURL = service.url();
    controller = OWQuorvaneAuthController::create(authtest::kAppName,
                                                  std::string(authtest::kClientID), services);
    account = std::make_shared<OWQuorvaneControllerAccount>(controller);
}

void PeerQuorvaneTest::TearDown() {
    account.reset();
    AuthControllerTest::TearDown();
}

std::shared_ptr<OWQuorvane> PeerQuorvaneTest::makeClient(
    const std::shared_ptr<OWQuorvaneDelegate>& delegate) {
    return OWQuorvane::create(
        delegate, {account, OWQuorvaneURLLoader::shared(), sharedCache, sharedCenter, nullptr});
}

void PeerQuorvaneTest::link() {
    const auto page = service.request(
        "GET", "/authorize?response_type=code&client_id=" + std::string(authtest::kClientID) +
                   "&state=" + controller->oauthStateCode());
    ASSERT_EQ(page.status, 302);
    controller->handleURL(page.location());
    ASSERT_TRUE(controller->isRefreshingToken());
    ASSERT_TRUE(waitForRefreshToEnd());
    ASSERT_TRUE(controller->oauthToken());
}

bool PeerQuorvaneTest::waitForRefreshToEnd() {
    const bool ended = pumpUntil([&] { return !controller->isRefreshingToken(); }, 30);
    mainLoop().run(base::kDefaultRunLoopMode, 0);
    return ended;
}

namespace {

base::Array parsedArray(const std::string& text) {
    QMJSON json;
    auto value = json.objectWithString(text);
    return value && value->array() ? *value->array() : base::Array();
}

}  // namespace

base::Array PeerQuorvaneTest::apiLog() const {
    return parsedArray(service.request("GET", "/_control/api_log").body);
}

base::Array PeerQuorvaneTest::rawLog(const std::string& path) const {
    base::Array entries;
    for (const base::Value& entry : parsedArray(service.log())) {
        if (entry["path"].stringValue() == path) {
            entries.push_back(entry);
        }
    }
    return entries;
}

Fields PeerQuorvaneTest::fieldsOf(const base::Value& entry) {
    Fields fields;
    if (const base::Array* pairs = entry["fields"].array()) {
        for (const base::Value& pair : *pairs) {
            fields.emplace_back(pair[size_t{0}].stringValue(), pair[size_t{1}].stringValue());
        }
    }
    return fields;
}

bool PeerQuorvaneTest::waitForOutcomes(const RecordingDelegate& delegate, size_t count,
                                       double seconds) {
    return pumpUntil([&] { return delegate.size() >= count; }, seconds);
}

}  // namespace peerquorvane

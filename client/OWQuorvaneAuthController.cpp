// Creation, properties, the service's addresses, the callback, unlinking and alerts.
#include "client/OWQuorvaneAuthController.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "base/Bundle.h"
#include "base/Format.h"
#include "base/Random.h"
#include "base/Url.h"
#include "client/KCKeychainBindingsController.h"
#include "client/OWQuorvaneHubHandOver.h"
#include "client/OWQuorvaneRedaction.h"
#include "support/OWLog.h"

namespace {

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

OWQuorvaneAuthController::Services& defaultServices() {
    static OWQuorvaneAuthController::Services services;
    return services;
}

std::string lowercased(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::optional<std::string> ownAppID() {
    auto bundle = base::Bundle::own();
    if (!bundle) {
        return std::nullopt;
    }
    const auto* id =
        bundle->objectForInfoDictionaryKey(OWQuorvaneAuthController::kAppIDInfoKey).string();
    return id ? std::optional<std::string>(*id) : std::nullopt;
}

std::string ownBundleName() {
    auto bundle = base::Bundle::own();
    return bundle ? std::filesystem::path(bundle->bundlePath()).stem().string() : std::string();
}

// The value of `name` in a query, percent-decoded; none when absent or undecodable.
std::optional<std::string> queryValue(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const size_t eq = pair.find('=');
        if (eq != std::string_view::npos && pair.substr(0, eq) == name) {
            return base::Url::percentDecode(pair.substr(eq + 1));
        }
    }
    return std::nullopt;
}

}  // namespace

// ---- creation ----

std::shared_ptr<OWQuorvaneAuthController> OWQuorvaneAuthController::sharedController(
    const std::optional<std::string>& appName, const std::optional<std::string>& publicKey,
    bool noLoad) {
    static std::shared_ptr<OWQuorvaneAuthController> shared;
    std::lock_guard lock(sharedMutex());
    if (shared) {
        return shared;
    }
    shared = create(appName ? *appName : ownBundleName(), publicKey ? publicKey : ownAppID(),
                    defaultServices());
    if (!noLoad) {
        std::weak_ptr<OWQuorvaneAuthController> weak = shared;
        base::MainQueue::postAfter(0.1, [weak] {
            if (auto self = weak.lock()) {
                self->loadSavedSettings();
            }
        });
    }
    return shared;
}

std::shared_ptr<OWQuorvaneAuthController> OWQuorvaneAuthController::sharedController() {
    return sharedController(std::nullopt, std::nullopt, false);
}

void OWQuorvaneAuthController::setDefaultServices(Services services) {
    std::lock_guard lock(sharedMutex());
    defaultServices() = std::move(services);
}

void OWQuorvaneAuthController::askHubWhenNoRecord() {
    std::lock_guard lock(sharedMutex());
    defaultServices().hub = std::make_shared<OWQuorvaneHubHandOver>();
}

std::shared_ptr<OWQuorvaneAuthController> OWQuorvaneAuthController::create(
    std::string appName, std::optional<std::string> publicKey, Services services) {
    return std::shared_ptr<OWQuorvaneAuthController>(new OWQuorvaneAuthController(
        std::move(appName), std::move(publicKey), std::move(services)));
}

OWQuorvaneAuthController::OWQuorvaneAuthController(std::string appName,
                                                   std::optional<std::string> publicKey,
                                                   Services services)
    : oauthStateCode_(randomString(kStateCodeLength)),
      services_(std::move(services)),
      opQueue_(base::OperationQueue::create("OWQuorvaneAuthController", 1)),
      appName_(std::move(appName)),
      publicKey_(std::move(publicKey)) {}

OWQuorvaneAuthController::~OWQuorvaneAuthController() {
    cancelRefreshTimer();
}

std::string OWQuorvaneAuthController::randomString(size_t count) {
    return base::randomString(count);
}

// ---- properties ----

std::string OWQuorvaneAuthController::appName() const {
    std::lock_guard lock(mutex_);
    return appName_;
}

void OWQuorvaneAuthController::setAppName(std::string name) {
    std::lock_guard lock(mutex_);
    appName_ = std::move(name);
}

std::optional<std::string> OWQuorvaneAuthController::publicKey() const {
    std::lock_guard lock(mutex_);
    return publicKey_;
}

std::optional<std::string> OWQuorvaneAuthController::privateKey() const {
    std::lock_guard lock(mutex_);
    return privateKey_;
}

std::optional<std::string> OWQuorvaneAuthController::username() const {
    std::lock_guard lock(mutex_);
    return username_;
}

void OWQuorvaneAuthController::setUsername(std::optional<std::string> name) {
    std::lock_guard lock(mutex_);
    username_ = std::move(name);
}

std::string OWQuorvaneAuthController::quorvServerURLString() const {
    std::lock_guard lock(mutex_);
    return serverURL_;
}

void OWQuorvaneAuthController::setQuorvServerURLString(std::string address) {
    std::lock_guard lock(mutex_);
    serverURL_ = std::move(address);
}

std::optional<std::string> OWQuorvaneAuthController::oauthToken() const {
    std::lock_guard lock(mutex_);
    return oauthToken_;
}

std::optional<base::Date> OWQuorvaneAuthController::oauthTokenExpires() const {
    std::lock_guard lock(mutex_);
    return oauthTokenExpires_;
}

std::optional<std::string> OWQuorvaneAuthController::oauthRefreshToken() const {
    std::lock_guard lock(mutex_);
    return oauthRefreshToken_;
}

bool OWQuorvaneAuthController::isRefreshingToken() const {
    std::lock_guard lock(mutex_);
    return refreshing_;
}

bool OWQuorvaneAuthController::dontAutoReloadOldSettings() const {
    std::lock_guard lock(mutex_);
    return dontAutoReloadOldSettings_;
}

std::optional<double> OWQuorvaneAuthController::refreshTimerFireTime() const {
    std::lock_guard lock(mutex_);
    return refreshTimer_ ? std::optional<double>(refreshTimerFireTime_) : std::nullopt;
}

// ---- helpers ----

std::string OWQuorvaneAuthController::recordService() const {
    return base::format(kRecordServiceFormat, appName());
}

base::NotificationCenter& OWQuorvaneAuthController::center() const {
    return services_.center ? *services_.center : base::NotificationCenter::defaultCenter();
}

KCKeychainBindingsController& OWQuorvaneAuthController::keychain() const {
    return services_.keychain ? *services_.keychain
                              : KCKeychainBindingsController::sharedKeychainBindingsController();
}

std::shared_ptr<base::UserDefaults> OWQuorvaneAuthController::defaults() const {
    return services_.defaults ? services_.defaults : base::UserDefaults::standard();
}

double OWQuorvaneAuthController::now() const {
    return base::RunLoop::main().clock()->now();
}

void OWQuorvaneAuthController::post(const char* name) const {
    center().post(name);
}

std::optional<std::string> OWQuorvaneAuthController::resolvedPublicKey() {
    std::lock_guard lock(mutex_);
    if (!publicKey_) {
        publicKey_ = ownAppID();
    }
    return publicKey_;
}

// ---- addresses ----

std::string OWQuorvaneAuthController::siteURLString() const {
    std::string site = quorvServerURLString();
    if (site.empty()) {
        if (services_.hostedSiteURL) {
            site = *services_.hostedSiteURL;
        } else if (const char* env = std::getenv(kSiteURLEnvironment); env && *env) {
            site = env;
        } else {
            site = kHostedSiteURL;
        }
    }
    if (!site.empty() && site.back() == '/') {
        site.pop_back();
    }
    return site;
}

bool OWQuorvaneAuthController::isQuorvServer() const {
    return !quorvServerURLString().empty();
}

std::string OWQuorvaneAuthController::oauthAuthorizationURL() const {
    return base::format("%@/authorize?response_type=code&client_id=%@&state=%@", siteURLString(),
                        publicKey().value_or(""), oauthStateCode_);
}

std::string OWQuorvaneAuthController::oauthRevokeURL() const {
    // The token goes into an address: escape it so no character of it can end the
    // parameter or add another.
    const auto token = oauthToken();
    const std::string revoke = token ? base::Url::percentEncode(*token) : std::string("1");
    return base::format("%@/authorize?revoke=%@&client_id=%@", siteURLString(), revoke,
                        publicKey().value_or(""));
}

// ---- callback ----

void OWQuorvaneAuthController::handleURL(std::string_view address) {
    OWLog::appendLog("OAuth URL received: %@", OWQuorvaneRedaction::text(address));
    const auto clientID = resolvedPublicKey();
    const auto url = base::Url::parse(address);
    if (!clientID || !url || lowercased(url->scheme()) != "quorv" + lowercased(*clientID)) {
        return;
    }
    const std::string lower = lowercased(address);
    if (lower.find("/authorized") != std::string::npos) {
        // The code and the state are read from the query wherever they stand in it.
        const std::string query = url->query().value_or("");
        const auto code = queryValue(query, "code");
        const auto state = queryValue(query, "state");
        if (!code || code->empty() || !state) {
            return;
        }
        if (*state == oauthStateCode_) {
            fetchOAuthToken(*code, false);
        } else {
            showAlert("Unable to authorize - state not valid.");
        }
    } else if (lower.find("/revoked") != std::string::npos) {
        revokeAuthorization();
    }
}

// ---- unlinking ----

void OWQuorvaneAuthController::removeRecords(const std::optional<std::string>& user,
                                             bool keepRecord) {
    KCKeychainBindingsController& keychain = this->keychain();
    const std::string service = recordService();
    const std::string app = appName();
    std::vector<std::string> accounts{"username", "password"};
    if (!keepRecord) {
        accounts.push_back(app);
    }
    if (user && !user->empty() && (!keepRecord || *user != app)) {
        accounts.insert(accounts.begin(), *user);
    }
    for (const std::string& account : accounts) {
        keychain.storeString(std::nullopt, account, "", service);
    }
    // The older records go too: the e-mail one holds the password in plain text and
    // would link the account again on the next load.
    keychain.storeString(std::nullopt, app, "", kLegacyService);
    if (auto items = keychain.keychainItemsForService(kLegacyService)) {
        for (const base::Value& item : KCKeychainBindingsController::filterEmailKeychains(*items)) {
            if (const auto* account = item[KCKeychainBindingsController::kAccountKey].string()) {
                keychain.storeString(std::nullopt, *account, "", kLegacyService);
            }
        }
    }
}

void OWQuorvaneAuthController::revokeAuthorization() {
    unlink(/*recordRemoved=*/false);
}

void OWQuorvaneAuthController::unlink(bool recordRemoved) {
    cancelRefreshTimer();
    removeRecords(username(), recordRemoved);
    {
        std::lock_guard lock(mutex_);
        username_.reset();
        oauthToken_.reset();
        oauthTokenExpires_.reset();
        oauthRefreshToken_.reset();
        privateKey_.reset();
        refreshing_ = false;
        source_ = {};
    }
    defaults()->removeObject(kUserNameDefaultsKey);
    post(kUpdateSettingsNotification);
    post(kOAuthChangedNotification);
}

// ---- alerts ----

void OWQuorvaneAuthController::showAlert(const std::string& message) {
    auto alert = services_.alert;
    base::MainQueue::post([alert, message] {
        if (alert) {
            alert(message);
        } else {
            presentAlertPanel(message);
        }
    });
}

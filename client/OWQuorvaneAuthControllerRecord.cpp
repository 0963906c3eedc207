// Loading the controller from the shared keychain record (or from the hub) and saving it.
#include <algorithm>
#include <cmath>

#include "base/Format.h"
#include "client/KCKeychainBindingsController.h"
#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneHubHandOver.h"
#include "client/OWQuorvaneTokenRecord.h"
#include "support/OWLog.h"

namespace {

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Text of an item's attribute, which a listing may give as data.
std::optional<std::string> textOf(const base::Value& value) {
    if (const auto* s = value.string()) {
        return *s;
    }
    if (const base::Data* d = value.data()) {
        return std::string(d->begin(), d->end());
    }
    return std::nullopt;
}

}  // namespace

struct OWQuorvaneAuthController::LoadResult {
    OWQuorvaneTokenRecord record;
    bool passwordGrant = false;
    TokenSource source;
};

bool OWQuorvaneAuthController::findRecord(LoadResult& result) {
    KCKeychainBindingsController& keychain = this->keychain();
    const std::string app = appName();
    std::optional<base::Array> items = keychain.keychainItemsForService(recordService());
    base::Array found =
        items ? KCKeychainBindingsController::filterKeychains(*items, app) : base::Array();
    const bool current = !found.empty();
    if (found.empty()) {
        items = keychain.keychainItemsForService(kLegacyService);
        if (items) {
            found = KCKeychainBindingsController::filterKeychains(*items, app);
            if (found.empty()) {
                found = KCKeychainBindingsController::filterEmailKeychains(*items);
            }
        }
    }
    if (found.empty()) {
        return false;
    }
    const base::Value& item = found.front();
    const std::string account =
        textOf(item[KCKeychainBindingsController::kAccountKey]).value_or("");
    const std::string password = textOf(item[KCKeychainBindingsController::kDataKey]).value_or("");
    const auto generic = textOf(item[KCKeychainBindingsController::kGenericKey]);
    const bool honourLegacy = !dontAutoReloadOldSettings();
    result.record = OWQuorvaneTokenRecord::fromItem(account, password, generic, honourLegacy);
    result.passwordGrant = result.record.kind == OWQuorvaneTokenRecord::Kind::PasswordGrant;
    if (current) {
        result.source.record = SeenRecord{password, generic};
    } else {
        result.source.olderRecord = result.record.kind == OWQuorvaneTokenRecord::Kind::Tokens;
    }
    return true;
}

void OWQuorvaneAuthController::askHub(LoadResult& result) {
    if (!services_.hub) {
        return;
    }
    // The hub's answer stays in memory; it is never written to the keychain.
    if (auto credentials = services_.hub->readCredentials()) {
        result.record.kind = OWQuorvaneTokenRecord::Kind::Tokens;
        result.record.serverURL = credentials->serverURL;
        result.record.expires = credentials->expires;
        result.record.refreshToken = credentials->refreshToken;
        result.record.accessToken = credentials->accessToken;
        result.source.hub = true;
    }
}

OWQuorvaneAuthController::LoadResult OWQuorvaneAuthController::loadRecord() {
    LoadResult result;
    if (!findRecord(result)) {
        askHub(result);
    }
    if (result.passwordGrant) {
        OWLog::appendLog("Requesting OAuth token from password data");
    }
    const auto defaults = this->defaults();
    const base::Value stored = defaults->object(kUserNameDefaultsKey);
    std::string server = result.record.serverURL;
    if (lowercased(server).rfind("http", 0) != 0 && server.size() < 8) {
        server.clear();
    }
    std::lock_guard lock(mutex_);
    oauthToken_ = result.record.accessToken;
    oauthTokenExpires_ = result.record.expires;
    oauthRefreshToken_ = result.record.refreshToken;
    username_ =
        stored.string()
            ? std::optional<std::string>(OWQuorvaneTokenRecord::fieldValue(*stored.string()))
            : std::nullopt;
    serverURL_ = server;
    source_ = result.source;
    return result;
}

void OWQuorvaneAuthController::loadSavedSettings() {
    LoadResult loaded;
    {
        std::lock_guard lock(loadMutex_);
        loaded = loadRecord();
    }
    // The legacy password grant starts once the record's server is in place, so the
    // password goes to the server it belongs to.
    if (loaded.passwordGrant) {
        fetchOAuthToken(std::nullopt, false, loaded.record.password, loaded.record.loginEmail);
    }
    const auto expires = oauthTokenExpires();
    const double expirySeconds = expires ? expires->secondsSince1970 - now() : 0.0;
    const double interval = std::trunc(expirySeconds - 60);
    OWLog::appendLog("Auth expires: %@", expires ? base::Value(*expires) : base::Value());
    OWLog::appendLog("Token reload interval: %i", static_cast<int64_t>(interval));
    if (interval >= 1) {
        armRefreshTimer(interval);
    } else {
        refreshOAuthToken();
    }
    std::lock_guard lock(mutex_);
    dontAutoReloadOldSettings_ = true;
}

void OWQuorvaneAuthController::saveSettings() {
    saveRecord(Save::Settings);
}

void OWQuorvaneAuthController::saveRecord(Save kind) {
    using platform::keychain::Status;
    KCKeychainBindingsController& keychain = this->keychain();
    const std::string app = appName();
    std::optional<std::string> token;
    std::optional<std::string> user;
    std::string generic;
    bool fits = false;
    TokenSource source;
    std::optional<std::string> expected;  // the refresh token the record should hold
    {
        std::lock_guard lock(mutex_);
        token = oauthToken_;
        user = username_;
        generic = OWQuorvaneTokenRecord::genericAttribute(username_, serverURL_, oauthTokenExpires_,
                                                          oauthRefreshToken_);
        fits = recordFits(username_, serverURL_, oauthTokenExpires_, oauthRefreshToken_, token);
        source = source_;
        if (kind == Save::Renewal) {
            expected = refreshSent_;
        } else if (const auto& seen = source.record) {
            expected = OWQuorvaneTokenRecord::fromItem(app, seen->password, seen->generic, false)
                           .refreshToken;
        }
    }
    bool stored = false;
    bool wrote = false;  // the record now holds this process's tokens
    if (token && fits) {
        if (kind == Save::Link || (!source.record && source.olderRecord)) {
            // A sign-in makes the record (or replaces another's). Tokens of the older
            // record move to it on their first save.
            stored = wrote = keychain.storeString(*token, app, generic, recordService());
        } else if (source.record) {
            std::optional<platform::keychain::Item> current;
            const Status status = keychain.replaceIf(
                *token, app, generic, recordService(),
                [&](const std::string& password, const std::optional<std::string>& tag) {
                    const auto record = OWQuorvaneTokenRecord::fromItem(app, password, tag, false);
                    return record.kind == OWQuorvaneTokenRecord::Kind::Tokens &&
                           record.refreshToken == expected;
                },
                &current);
            if (status == Status::ItemNotFound) {
                // The record was removed since this process read it: the account was
                // unlinked (in the hub, or by a program whose token was refused). It
                // stays unlinked here too.
                OWLog::appendLog("The account's record is gone: the account was unlinked");
                unlink(/*recordRemoved=*/true);
                return;
            }
            stored = wrote = status == Status::Success;
            if (status == Status::Kept && current) {
                // Another program renewed or linked meanwhile: its tokens are the ones
                // every program shares.
                OWLog::appendLog("The account's record changed meanwhile: its tokens taken");
                stored = adopt(*current);
            }
        } else if (source.hub) {
            // Tokens handed over by the hub are never written to the keychain.
            stored = true;
        } else {
            // The account was unlinked in this process while the answer was on its way.
            unlink(/*recordRemoved=*/true);
            return;
        }
    }
    if (token && !stored) {
        OWLog::appendLogAndPrint("Quorvane error: Unable to save login information in Keychain");
    }
    if (wrote) {
        std::lock_guard lock(mutex_);
        source_ = {SeenRecord{*token, generic}};
    }
    if (user && !user->empty()) {
        const auto defaults = this->defaults();
        // Escaped like a field: a name the property list cannot hold as text would
        // otherwise keep every later default of the program from being written.
        defaults->setObject(OWQuorvaneTokenRecord::fieldText(*user), kUserNameDefaultsKey);
        defaults->synchronize();
    }
    post(kUpdateSettingsNotification);
}

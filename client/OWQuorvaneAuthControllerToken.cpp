// Token requests, their replies, the refresh timer.
#include <algorithm>
#include <cmath>

#include "base/Format.h"
#include "base/TextEncoding.h"
#include "client/KCKeychainBindingsController.h"
#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneFormTokenExchange.h"
#include "client/OWQuorvaneHubCredentials.h"
#include "client/OWQuorvaneRedaction.h"
#include "client/OWQuorvaneTokenRecord.h"
#include "client/json/QMJSON.h"
#include "platform/keychain/KeychainFile.h"
#include "support/OWLog.h"

namespace {

constexpr const char* kInvalidRefreshToken = "Invalid refresh token";

std::string describeRedacted(const base::Value& value) {
    return OWQuorvaneRedaction::value(value).describe();
}

}  // namespace

std::shared_ptr<OWQuorvaneTokenExchange> OWQuorvaneAuthController::exchange() {
    if (services_.exchange) {
        return services_.exchange;
    }
    std::lock_guard lock(mutex_);
    if (!exchange_) {
        exchange_ = std::make_shared<OWQuorvaneFormTokenExchange>(opQueue_);
    }
    return exchange_;
}

bool OWQuorvaneAuthController::beginRequest(bool onlyIfIdle) {
    std::lock_guard lock(mutex_);
    if (onlyIfIdle && refreshing_) {
        return false;
    }
    refreshing_ = true;
    return true;
}

void OWQuorvaneAuthController::endRequest() {
    std::lock_guard lock(mutex_);
    refreshing_ = false;
}

void OWQuorvaneAuthController::fetchOAuthToken(const std::optional<std::string>& codeOrRefreshToken,
                                               bool isRefresh) {
    fetchOAuthToken(codeOrRefreshToken, isRefresh, std::nullopt, std::nullopt);
}

void OWQuorvaneAuthController::fetchOAuthToken(const std::optional<std::string>& codeOrRefreshToken,
                                               bool isRefresh,
                                               const std::optional<std::string>& password,
                                               const std::optional<std::string>& loginEmail) {
    fetch(codeOrRefreshToken, isRefresh, password, loginEmail, /*onlyIfIdle=*/false);
}

void OWQuorvaneAuthController::fetch(const std::optional<std::string>& codeOrRefreshToken,
                                     bool isRefresh, const std::optional<std::string>& password,
                                     const std::optional<std::string>& loginEmail,
                                     bool onlyIfIdle) {
    if (!codeOrRefreshToken && !password) {
        OWLog::appendLog("Unable to fetch OAuth token - both auth code and password are empty");
        return;
    }
    if (!beginRequest(onlyIfIdle)) {
        return;
    }
    post(kPauseQueueNotification);

    OWQuorvaneTokenExchange::Request request;
    request.url = base::format("%@/token", siteURLString());
    const auto clientID = resolvedPublicKey();
    if (!clientID) {
        OWLog::appendLog("Unable to get app public key - OAuth aborted.");
        endRequest();
        post(kOAuthChangedNotification);
        return;
    }
    const bool customServer = isQuorvServer();
    {
        // Chosen once; kept whatever later happens to the server address, until unlinking.
        std::lock_guard lock(mutex_);
        if (!privateKey_) {
            privateKey_ = customServer ? kServerOAuthPKey : kOAuthPKey;
        }
        request.clientSecret = *privateKey_;
    }
    request.clientID = *clientID;

    if (isRefresh) {
        request.fields = {{"grant_type", "refresh_token"}, {"refresh_token", *codeOrRefreshToken}};
        renewInTurn(std::move(request));
        return;
    }
    {
        std::lock_guard lock(mutex_);
        refreshSent_.reset();
    }
    if (password) {
        request.fields = {{"grant_type", "password"},
                          {"username", loginEmail.value_or("")},
                          {"password", *password}};
    } else {
        request.fields = {{"grant_type", "authorization_code"}, {"code", *codeOrRefreshToken}};
    }
    send(request, nullptr);
}

void OWQuorvaneAuthController::send(const OWQuorvaneTokenExchange::Request& request, Turn turn) {
    std::weak_ptr<OWQuorvaneAuthController> weak = weak_from_this();
    // Shared by every copy of the completion, so the turn ends when the answer has been
    // dealt with, however long copies of it live on.
    auto held = std::make_shared<Turn>(std::move(turn));
    exchange()->send(request, [weak, held](const OWQuorvaneTokenExchange::Outcome& outcome) {
        if (auto self = weak.lock()) {
            if (outcome.failed) {
                self->oauthTokenFailed(outcome);
            } else {
                self->oauthTokenReceived(outcome);
            }
        }
        held->reset();  // the answer is kept, or has failed: the next program's turn
    });
}

void OWQuorvaneAuthController::renewInTurn(OWQuorvaneTokenExchange::Request request) {
    const std::shared_ptr<platform::keychain::KeychainFile> file = keychain().file();
    if (Turn turn = file->takeTurn(kRenewalTurnName, 0)) {
        renewWithTurn(std::move(request), std::move(turn));
        return;
    }
    // Another program is renewing: wait for it on the controller's queue, never on the
    // main thread, then carry on there.
    OWLog::appendLog("Another program is renewing the sign-in; waiting for its turn");
    std::weak_ptr<OWQuorvaneAuthController> weak = weak_from_this();
    opQueue_->addOperation([weak, file, request = std::move(request)] {
        Turn turn = file->takeTurn(kRenewalTurnName, kRenewalTurnSeconds);
        base::MainQueue::post([weak, request, turn] {
            if (auto self = weak.lock()) {
                if (turn) {
                    self->renewWithTurn(request, turn);
                } else {
                    self->turnNotTaken();
                }
            }
        });
    });
}

void OWQuorvaneAuthController::turnNotTaken() {
    // Nothing was sent and nothing changed: a failed renewal, the tokens kept.
    OWLog::appendLogAndPrint("Unable to renew the sign-in: another program kept its turn");
    endRequest();
    showAlert("Unable to get authorization token.");
    post(kOAuthChangedNotification);
}

void OWQuorvaneAuthController::renewWithTurn(OWQuorvaneTokenExchange::Request request, Turn turn) {
    // Another program may have renewed (or the user unlinked or linked again) since this
    // one read the record: what it holds now decides.
    const std::string app = appName();
    const auto item = keychain().itemForKey(app, recordService());
    std::optional<SeenRecord> seen;
    {
        std::lock_guard lock(mutex_);
        seen = source_.record;
    }
    if (seen && !item) {
        OWLog::appendLog("The account's record is gone: the account was unlinked");
        unlink(/*recordRemoved=*/true);
        return;
    }
    const bool adopted =
        seen && item && !(SeenRecord{item->password, item->generic} == *seen) && adopt(*item);
    if (adopted && !dueForRenewal(oauthTokenExpires())) {
        OWLog::appendLog("Another program renewed the sign-in: its tokens taken");
        endRequest();
        post(kOAuthChangedNotification);
        return;
    }
    // The token asked for, unless the record gave newer ones that are due as well; none
    // when this process unlinked while it waited.
    const std::optional<std::string> refresh =
        !oauthRefreshToken() ? std::nullopt
        : adopted            ? oauthRefreshToken()
                             : std::optional<std::string>(request.fields.back().second);
    if (!refresh) {
        endRequest();
        post(kOAuthChangedNotification);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        refreshSent_ = refresh;
    }
    OWLog::appendLog("Reloading refresh token: %@", OWQuorvaneRedaction::token(refresh));
    request.fields.back().second = *refresh;
    send(request, std::move(turn));
}

bool OWQuorvaneAuthController::dueForRenewal(const std::optional<base::Date>& expires) const {
    const double seconds = expires ? expires->secondsSince1970 - now() : 0.0;
    return std::trunc(seconds - 60) < 1;
}

void OWQuorvaneAuthController::oauthTokenFailed(const OWQuorvaneTokenExchange::Outcome& outcome) {
    const std::string body(outcome.body.begin(), outcome.body.end());
    OWLog::appendLogAndPrint("Oauth response status code: %i", outcome.statusCode);
    OWLog::appendLogAndPrint("Oauth response error: %@",
                             OWQuorvaneRedaction::text(body.empty() ? outcome.errorText : body));
    endRequest();
    showAlert("Unable to get authorization token.");
    post(kOAuthChangedNotification);
}

void OWQuorvaneAuthController::oauthTokenReceived(const OWQuorvaneTokenExchange::Outcome& outcome) {
    const std::string text(outcome.body.begin(), outcome.body.end());
    if (text.empty() || !base::TextEncoding::isValidUtf8(text)) {
        OWLog::appendLogAndPrint("Error: no OAuth data returned");
        endRequest();
        post(kOAuthChangedNotification);
        return;
    }
    QMJSON json;
    base::Error error("", 0);
    const auto reply = json.objectWithString(text, &error);
    if (!reply || !reply->isDictionary()) {
        // An array is no reply this client understands either.
        failedReply(text);
        return;
    }
    const base::Dictionary& dict = *reply->dictionary();
    if (dict.contains("error")) {
        errorReply(dict);
        return;
    }
    OWLog::appendLog("JSON object: %@", describeRedacted(*reply));
    if (!dict.find("access_token") || !dict.find("access_token")->isString()) {
        // Without a token the reply cannot replace the one that works.
        failedReply(text);
        return;
    }
    acceptTokens(dict);
}

void OWQuorvaneAuthController::failedReply(const std::string& text) {
    OWLog::appendLog("Error with OAuth output: %@", OWQuorvaneRedaction::text(text));
    // Cleared before the notification: resumed clients must not see a request in flight.
    endRequest();
    post(kOAuthChangedNotification);
}

void OWQuorvaneAuthController::errorReply(const base::Dictionary& reply) {
    const base::Value& error = *reply.find("error");
    const base::Value* description = reply.find("error_description");
    OWLog::appendLogAndDebugPrint("OAuth error reply: %@ error: %@",
                                  describeRedacted(base::Value(reply)), error);
    if (description && description->isString() && *description->string() == kInvalidRefreshToken) {
        std::optional<std::string> refused;
        {
            std::lock_guard lock(mutex_);
            refused = refreshSent_;
        }
        // Every program of the suite refreshes the one record, and a service that
        // rotates refresh tokens refuses the second use of one: the refusal may only
        // mean another program refreshed first.
        if (!refused || !takeNewerTokens(refused)) {
            unlink(/*recordRemoved=*/refused.has_value());
            showAlert("Please reauthorize this app.");
        }
    } else {
        showAlert(base::format("Error authorizing app - %@\n\n%@", error,
                               description ? *description : base::Value("(null)")));
    }
    endRequest();
    post(kOAuthChangedNotification);
}

void OWQuorvaneAuthController::acceptTokens(const base::Dictionary& reply) {
    const base::Value* expiresIn = reply.find("expires_in");
    const int64_t lifetime = expiresIn ? expiresIn->integerValue() : 0;
    const double interval =
        lifetime >= 60 ? static_cast<double>(lifetime - 60) : static_cast<double>(lifetime);
    const std::string access = *reply.find("access_token")->string();
    const base::Date expires{now() + static_cast<double>(lifetime)};
    std::optional<std::string> refreshToken = oauthRefreshToken();
    if (const base::Value* refresh = reply.find("refresh_token"); refresh && refresh->isString()) {
        refreshToken = *refresh->string();
    }
    std::optional<std::string> user = username();
    if (const base::Value* name = reply.find("user_name"); name && name->isString()) {
        user = *name->string();
    }
    // Tokens that the other programs could not read back would link this process alone.
    if (!recordFits(user, quorvServerURLString(), expires, refreshToken, access)) {
        OWLog::appendLogAndPrint("Error: the OAuth reply holds values too long to keep");
        endRequest();
        showAlert("Unable to link the account: the service sent values too long to keep.");
        post(kOAuthChangedNotification);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        oauthToken_ = access;
        oauthTokenExpires_ = expires;
        oauthRefreshToken_ = refreshToken;
        username_ = user;
    }
    // A reply that leaves the token (almost) no life would otherwise refresh in a loop.
    armRefreshTimer(std::max(interval, kMinimumRefreshDelay));
    // Saving announces new settings while the request still counts as in flight, so
    // the client objects do not reload the record in answer.
    bool renewal = false;
    {
        std::lock_guard lock(mutex_);
        renewal = refreshSent_.has_value();
    }
    saveRecord(renewal ? Save::Renewal : Save::Link);
    endRequest();
    post(kOAuthChangedNotification);
    OWLog::appendLog("OAuth token updated");
}

void OWQuorvaneAuthController::refreshOAuthToken() {
    if (isRefreshingToken()) {
        return;
    }
    fetch(oauthRefreshToken(), true, std::nullopt, std::nullopt, /*onlyIfIdle=*/true);
}

void OWQuorvaneAuthController::armRefreshTimer(double delay) {
    cancelRefreshTimer();
    base::RunLoop& loop = base::RunLoop::main();
    std::weak_ptr<OWQuorvaneAuthController> weak = weak_from_this();
    std::lock_guard lock(mutex_);
    refreshTimerFireTime_ = now() + delay;
    refreshTimer_ = loop.makeTimer(delay, 0, [weak] {
        if (auto self = weak.lock()) {
            {
                std::lock_guard lock(self->mutex_);
                self->refreshTimer_ = {};  // fired; cancelling it on this thread is a no-op
            }
            self->refreshOAuthToken();
        }
    });
}

void OWQuorvaneAuthController::cancelRefreshTimer() {
    // Taken out under the lock and removed outside it: removal waits for a firing
    // callback, which takes the lock.
    base::RunLoop::Timer timer;
    {
        std::lock_guard lock(mutex_);
        timer = std::move(refreshTimer_);
    }
}

bool OWQuorvaneAuthController::takeNewerTokens(const std::optional<std::string>& refused) {
    const std::string app = appName();
    // Looked at and removed in one change of the store, so that tokens another program
    // saves meanwhile are never removed on the strength of the refused one.
    std::optional<platform::keychain::Item> newer;
    keychain().removeUnless(
        app, recordService(),
        [&](const std::string& password, const std::optional<std::string>& tag) {
            auto record = OWQuorvaneTokenRecord::fromItem(app, password, tag, false);
            if (record.kind == OWQuorvaneTokenRecord::Kind::Tokens && record.accessToken &&
                record.refreshToken && record.refreshToken != refused) {
                newer = platform::keychain::Item{recordService(), app, password, tag};
            }
            return newer.has_value();
        });
    if (!newer) {
        return false;
    }
    OWLog::appendLog("Refresh token refused; another program refreshed it: its tokens taken");
    return adopt(*newer);
}

bool OWQuorvaneAuthController::adopt(const platform::keychain::Item& item) {
    const auto record =
        OWQuorvaneTokenRecord::fromItem(item.account, item.password, item.generic, false);
    if (record.kind != OWQuorvaneTokenRecord::Kind::Tokens || !record.accessToken) {
        return false;
    }
    const double expiry = record.expires ? record.expires->secondsSince1970 - now() : 0.0;
    {
        std::lock_guard lock(mutex_);
        oauthToken_ = record.accessToken;
        oauthTokenExpires_ = record.expires;
        oauthRefreshToken_ = record.refreshToken;
        source_ = {SeenRecord{item.password, item.generic}};
    }
    armRefreshTimer(std::max(expiry - 60, kMinimumRefreshDelay));
    return true;
}

bool OWQuorvaneAuthController::recordFits(const std::optional<std::string>& user,
                                          const std::string& server,
                                          const std::optional<base::Date>& expires,
                                          const std::optional<std::string>& refresh,
                                          const std::optional<std::string>& access) const {
    // The readers' own limits: the record's attribute is taken apart, and the hub's
    // line read, only up to them.
    return OWQuorvaneTokenRecord::genericAttribute(user, server, expires, refresh).size() <=
               OWQuorvaneTokenRecord::kMaxTextLength &&
           OWQuorvaneHubCredentials::line(server, expires, refresh, access).size() <=
               OWQuorvaneHubCredentials::kMaxOutputLength;
}

#pragma once
// The process's one link to the user's service account: client id and secret, access
// token with its expiry, refresh token, user name and custom server address. Builds the
// authorization and revoke addresses the hub's web view opens, takes the callback the
// service redirects to, exchanges a code, refresh token or legacy password for tokens,
// refreshes a minute before expiry, unlinks, and tells every client object what
// happened through three notifications. The tokens live in one keychain record that
// every program of the suite shares.
//
// Token replies are handled on the main thread; the token fields are read by client
// queue threads and are guarded.
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/NotificationCenter.h"
#include "base/OperationQueue.h"
#include "base/RunLoop.h"
#include "base/UserDefaults.h"
#include "base/Value.h"
#include "client/OWQuorvaneTokenExchange.h"

class KCKeychainBindingsController;
class OWQuorvaneHubHandOver;
struct OWQuorvaneTokenRecord;
namespace platform::keychain {
struct Item;
}

class OWQuorvaneAuthController : public std::enable_shared_from_this<OWQuorvaneAuthController> {
  public:
    static constexpr const char* kPauseQueueNotification = "OWQuorvanePauseQueue";
    static constexpr const char* kOAuthChangedNotification = "OWQuorvaneOAuthChanged";
    static constexpr const char* kUpdateSettingsNotification = "OWQuorvaneUpdateSettings";
    // Client secrets of the hosted service and of self-hosted servers.
    static constexpr const char* kOAuthPKey = "Rk2mQ7vTz9LcW4pYh8NsB3xFd6JgUa1eZo5tKqV0";
    static constexpr const char* kServerOAuthPKey = "Ty8bHn3Lq5WzRc1Vm7Kx2PdGf9Js4Ae6Uo0Ni3Qw";
    // The hosted service, unless QUORVANE_SITE_URL names another address.
    static constexpr const char* kHostedSiteURL = "https://app.quorvane.com";
    static constexpr const char* kSiteURLEnvironment = "QUORVANE_SITE_URL";
    static constexpr const char* kUserNameDefaultsKey = "quorvUserName";
    static constexpr const char* kAppIDInfoKey = "OWQAppID";
    static constexpr const char* kRecordServiceFormat = "Quorvane - %@";
    static constexpr const char* kLegacyService = "com.oxburyworks.quorvane";
    static constexpr size_t kStateCodeLength = 8;
    // A reply that gives the token (almost) no lifetime must not refresh in a loop.
    static constexpr double kMinimumRefreshDelay = 30;
    // Renewals take turns across the programs of the suite: a lock beside the keychain,
    // held from sending the refresh token until its answer is kept or has failed. A
    // holder keeps it for its token request (time-out 10 s without data) and the save;
    // a renewal that waits longer for its turn fails.
    static constexpr const char* kRenewalTurnName = "renewal";
    static constexpr double kRenewalTurnSeconds = 15;

    // What the controller talks to. Empty members mean the process's own: form
    // requests on `opQueue()`, the shared keychain store, the standard user defaults,
    // the default notification center, the modal alert panel, QUORVANE_SITE_URL or
    // kHostedSiteURL, and no hub (the hub itself and the widget never ask it).
    struct Services {
        std::shared_ptr<OWQuorvaneTokenExchange> exchange;
        KCKeychainBindingsController* keychain = nullptr;
        std::shared_ptr<base::UserDefaults> defaults;
        base::NotificationCenter* center = nullptr;
        std::function<void(const std::string& message)> alert;
        std::optional<std::string> hostedSiteURL;
        // The exporters set this (askHubWhenNoRecord): with no keychain record they ask
        // the hub.
        std::shared_ptr<const OWQuorvaneHubHandOver> hub;
    };

    // The shared instance, made by the first call; later calls ignore their arguments.
    // A missing application name is the own bundle's name, a missing client id its
    // Info.plist value OWQAppID. Unless `noLoad`, the settings load 0.1 s later on the
    // main queue.
    static std::shared_ptr<OWQuorvaneAuthController> sharedController(
        const std::optional<std::string>& appName, const std::optional<std::string>& publicKey,
        bool noLoad = false);
    static std::shared_ptr<OWQuorvaneAuthController> sharedController();
    // What the shared instance is made with; call before its first use.
    static void setDefaultServices(Services services);
    // The two exporters call this at start-up, before the shared instance is made: when
    // the keychain holds no record, its loads ask the hub ("-oauth") for the account.
    static void askHubWhenNoRecord();
    // A controller of its own (tests); nothing is scheduled.
    static std::shared_ptr<OWQuorvaneAuthController> create(std::string appName,
                                                            std::optional<std::string> publicKey,
                                                            Services services);
    ~OWQuorvaneAuthController();
    OWQuorvaneAuthController(const OWQuorvaneAuthController&) = delete;
    OWQuorvaneAuthController& operator=(const OWQuorvaneAuthController&) = delete;

    // `count` characters of [a-z0-9] from the system's secure generator.
    static std::string randomString(size_t count);

    // ---- the record (loading and saving) ----
    void loadSavedSettings();
    void saveSettings();
    void loadSavedSettingsOld() {}

    // ---- linking ----
    // Forgets the account locally (the service-side revoke is the hub's revoke page).
    void revokeAuthorization();
    void fetchOAuthToken(const std::optional<std::string>& codeOrRefreshToken, bool isRefresh);
    void fetchOAuthToken(const std::optional<std::string>& codeOrRefreshToken, bool isRefresh,
                         const std::optional<std::string>& password,
                         const std::optional<std::string>& loginEmail);
    void oauthTokenFailed(const OWQuorvaneTokenExchange::Outcome& outcome);
    void oauthTokenReceived(const OWQuorvaneTokenExchange::Outcome& outcome);
    void refreshOAuthToken();
    std::string oauthAuthorizationURL() const;
    std::string oauthRevokeURL() const;
    void handleURL(std::string_view address);
    void showAlert(const std::string& message);
    std::string siteURLString() const;
    bool isQuorvServer() const;

    // ---- properties ----
    std::shared_ptr<base::OperationQueue> opQueue() const { return opQueue_; }
    std::string appName() const;
    void setAppName(std::string name);
    std::optional<std::string> publicKey() const;
    std::optional<std::string> privateKey() const;
    std::optional<std::string> username() const;
    void setUsername(std::optional<std::string> name);
    std::string quorvServerURLString() const;
    void setQuorvServerURLString(std::string address);
    std::optional<std::string> oauthToken() const;
    std::optional<base::Date> oauthTokenExpires() const;
    std::optional<std::string> oauthRefreshToken() const;
    std::string oauthStateCode() const { return oauthStateCode_; }
    bool isRefreshingToken() const;
    bool dontAutoReloadOldSettings() const;
    // Whether the refresh timer is armed, and when it fires (main run loop's clock).
    std::optional<double> refreshTimerFireTime() const;

  private:
    OWQuorvaneAuthController(std::string appName, std::optional<std::string> publicKey,
                             Services services);

    // The modal panel titled "Quorvane Error"; main thread.
    static void presentAlertPanel(const std::string& message);
    std::shared_ptr<OWQuorvaneTokenExchange> exchange();
    std::string recordService() const;
    base::NotificationCenter& center() const;
    // The store and defaults given in Services, else the shared ones.
    KCKeychainBindingsController& keychain() const;
    std::shared_ptr<base::UserDefaults> defaults() const;
    double now() const;
    void post(const char* name) const;
    // Sets the in-flight flag; false when `onlyIfIdle` and a request is in flight.
    bool beginRequest(bool onlyIfIdle);
    void endRequest();
    void fetch(const std::optional<std::string>& codeOrRefreshToken, bool isRefresh,
               const std::optional<std::string>& password,
               const std::optional<std::string>& loginEmail, bool onlyIfIdle);
    using Turn = std::shared_ptr<const void>;
    // A renewal waits for its turn (off the main thread when another program has it),
    // then looks at the record again before it sends anything.
    void renewInTurn(OWQuorvaneTokenExchange::Request request);
    void renewWithTurn(OWQuorvaneTokenExchange::Request request, Turn turn);
    void turnNotTaken();
    // Sends the request; `turn` is let go once its answer has been dealt with.
    void send(const OWQuorvaneTokenExchange::Request& request, Turn turn);
    // Whether the expiry is within a minute (or passed): what a load refreshes at once.
    bool dueForRenewal(const std::optional<base::Date>& expires) const;
    std::optional<std::string> resolvedPublicKey();
    void acceptTokens(const base::Dictionary& reply);
    // How a save may change the record: a sign-in makes it; a renewal, and any other
    // save, change it only while it holds the refresh token they started from.
    enum class Save { Link, Renewal, Settings };
    void saveRecord(Save kind);
    // Takes the tokens of a record another program saved (or a new sign-in made).
    bool adopt(const platform::keychain::Item& item);
    void failedReply(const std::string& text);
    void errorReply(const base::Dictionary& reply);
    void armRefreshTimer(double delay);
    void cancelRefreshTimer();
    // Load steps 1 to 8; answers whether a password grant is due (and its inputs).
    struct LoadResult;
    LoadResult loadRecord();
    bool findRecord(LoadResult& result);
    void askHub(LoadResult& result);
    // `keepRecord`: the record item was already dealt with (see takeNewerTokens).
    void removeRecords(const std::optional<std::string>& user, bool keepRecord);
    void unlink(bool recordRemoved);
    // The service refused the refresh token `refused`: another program may have used
    // it first. True when the record held newer tokens, which are now this process's.
    bool takeNewerTokens(const std::optional<std::string>& refused);
    // Whether the record and the hub's line for these values read back whole.
    bool recordFits(const std::optional<std::string>& user, const std::string& server,
                    const std::optional<base::Date>& expires,
                    const std::optional<std::string>& refresh,
                    const std::optional<std::string>& access) const;

    const std::string oauthStateCode_;
    const Services services_;
    const std::shared_ptr<base::OperationQueue> opQueue_;
    std::shared_ptr<OWQuorvaneTokenExchange> exchange_;  // made on first use

    std::mutex loadMutex_;  // one load at a time
    mutable std::mutex mutex_;
    std::string appName_;
    std::optional<std::string> publicKey_;
    std::optional<std::string> privateKey_;
    std::optional<std::string> username_;
    std::string serverURL_;
    std::optional<std::string> oauthToken_;
    std::optional<base::Date> oauthTokenExpires_;
    std::optional<std::string> oauthRefreshToken_;
    bool refreshing_ = false;
    std::optional<std::string> refreshSent_;  // the refresh token of the request in flight
    bool dontAutoReloadOldSettings_ = false;
    struct SeenRecord {
        std::string password;
        std::optional<std::string> generic;
        bool operator==(const SeenRecord&) const = default;
    };
    // Where this process's tokens came from, which decides what a save may do.
    struct TokenSource {
        // The record as this process last read or wrote it; none when its tokens came
        // from elsewhere or there are none.
        std::optional<SeenRecord> record;
        // The older record: a renewal's save moves them to the record.
        bool olderRecord = false;
        // The hub's answer: they are never written to the keychain.
        bool hub = false;
    };
    TokenSource source_;
    base::RunLoop::Timer refreshTimer_;
    double refreshTimerFireTime_ = 0;
};

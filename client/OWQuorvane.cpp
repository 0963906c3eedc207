#include "client/OWQuorvane.h"

#include "client/KCKeychainBindingsController.h"
#include "client/OWQuorvaneCacheController.h"
#include "client/OWQuorvaneCore.h"
#include "platform/crypto/Digest.h"
#include "support/OWLog.h"
#include "transfer/TXS3Configuration.h"
#include "transfer/TXS3Request.h"

std::shared_ptr<OWQuorvane> OWQuorvane::create(const std::shared_ptr<OWQuorvaneDelegate>& delegate,
                                               Services services) {
    // Queue workers and deliveries hold the client only through `inner`. The owners'
    // pointer is another one: when the last owner lets go, the client goes away at once
    // (nothing more is delivered), even while a worker still holds it for a moment.
    std::shared_ptr<OWQuorvane> inner(new OWQuorvane());
    inner->assignDelegate(delegate);
    inner->setup(std::move(services));
    OWQuorvane* client = inner.get();
    return std::shared_ptr<OWQuorvane>(client,
                                       [inner = std::move(inner)](OWQuorvane* gone) mutable {
                                           gone->goAway();
                                           inner.reset();
                                       });
}

void OWQuorvane::setup(Services services) {
    if (!services.account) {
        services.account = OWQuorvaneAccount::shared();
    }
    if (!services.cache) {
        services.cache = OWQuorvaneCacheController::shared();
    }
    if (!services.center) {
        // The process's center is never destroyed: it is shared without an owner.
        services.center = std::shared_ptr<base::NotificationCenter>(
            std::shared_ptr<void>(), &base::NotificationCenter::defaultCenter());
    }
    OWQuorvaneCore::Owner owner;
    owner.enqueue = [weak = weak_from_this()](std::shared_ptr<base::Operation> operation) {
        if (auto client = weak.lock()) {
            client->addOperationToQueue(std::move(operation));
        }
    };
    owner.deliver = [weak = weak_from_this()](const base::Value& result,
                                              const std::string& context) {
        if (auto client = weak.lock()) {
            client->postSuccessOnMainThread(result, context);
        }
    };
    owner.deliverError = [weak = weak_from_this()](const base::Error& error,
                                                   const std::string& context) {
        if (auto client = weak.lock()) {
            client->postErrorOnMainThread(error, context);
        }
    };
    core_ = std::make_shared<OWQuorvaneCore>(std::move(owner), std::move(services.account),
                                             std::move(services.loader), std::move(services.cache),
                                             std::move(services.center));

    opQueue_ = base::OperationQueue::create("OWQuorvane", 1, true);
    opQueue_->setCountObserver([weak = weak_from_this()](size_t count) {
        if (auto client = weak.lock()) {
            client->onQueueCount(count);
        }
    });

    const auto bundle = services.bundle ? services.bundle : base::Bundle::own();
    if (bundle) {
        if (const auto* id = bundle->objectForInfoDictionaryKey(kAppIDKey).string()) {
            std::lock_guard lock(mutex_);
            sourceAppID_ = *id;
        }
    }
    observeNotifications();
    loadSavedSettings();
    // The storage keys every upload signs with; each client sets the same pair again.
    const auto storage = TXS3Configuration::current();
    TXS3Request::setSharedSecretAccessKey(storage.secretAccessKey);
    TXS3Request::setSharedAccessKey(storage.accessKey);
    std::lock_guard lock(mutex_);
    uploadQueueSettings_.clear();
}

void OWQuorvane::observeNotifications() {
    auto& center = core_->center();
    auto on = [this, &center](const char* name, void (OWQuorvane::*action)()) {
        const auto id = center.addObserver(name, [weak = weak_from_this(), action](const auto&) {
            if (auto client = weak.lock(); client && !client->isUnloading()) {
                ((*client).*action)();
            }
        });
        observations_.emplace_back(center, id);
    };
    on(kUpdateSettingsNotification, &OWQuorvane::loadSavedSettings);
    on(kOAuthChangedNotification, &OWQuorvane::oauthChanged);
    on(kPauseQueueNotification, &OWQuorvane::pauseQueue);
}

OWQuorvane::~OWQuorvane() {
    goAway();
}

// Going away: nothing is delivered from the moment the flag is set, and calls in flight
// are cancelled so that the queue lets go at once.
void OWQuorvane::goAway() {
    if (core_) {
        core_->setUnloading();
        core_->setLastURL(std::nullopt);
    }
    observations_.clear();
    {
        std::lock_guard lock(mutex_);
        sourceAppID_.reset();
    }
    if (opQueue_) {
        opQueue_->setCountObserver(nullptr);
        cancelAllOperations();
        opQueue_.reset();
    }
    unassignDelegate();
}

// ---- delegate ----

void OWQuorvane::assignDelegate(const std::shared_ptr<OWQuorvaneDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = delegate;
}

void OWQuorvane::unassignDelegate() {
    std::lock_guard lock(mutex_);
    delegate_.reset();
}

std::shared_ptr<OWQuorvaneDelegate> OWQuorvane::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

// ---- account ----

std::shared_ptr<OWQuorvaneAccount> OWQuorvane::account() const {
    return core_ ? core_->account() : nullptr;
}

bool OWQuorvane::isLinked() const {
    const auto account = this->account();
    if (!account || !account->oauthToken()) {
        return false;
    }
    return !core_->tokenHasExpired() || account->isRefreshingToken();
}

bool OWQuorvane::isReady() const {
    const auto account = this->account();
    return account && account->oauthToken() && !core_->tokenHasExpired();
}

std::optional<std::string> OWQuorvane::username() const {
    const auto account = this->account();
    return account ? account->username() : std::nullopt;
}

void OWQuorvane::loadSavedSettings() {
    const auto account = this->account();
    if (account && account->isRefreshingToken()) {
        return;
    }
    if (account) {
        account->loadSavedSettings();
    }
    oauthChanged();
}

void OWQuorvane::saveSettings() {
    if (const auto account = this->account()) {
        account->saveSettings();
    }
}

void OWQuorvane::revokeAuthorization() {
    if (const auto account = this->account()) {
        account->revokeAuthorization();
    }
}

std::string OWQuorvane::siteURLString() const {
    const auto account = this->account();
    return account ? account->siteURLString() : std::string();
}

std::string OWQuorvane::apiURLString() const {
    std::string url = siteURLString();
    if (url.empty() || url.back() != '/') {
        url += '/';
    }
    return url + "api/0";
}

bool OWQuorvane::isQuorvServer() const {
    return core_ && core_->isQuorvServer();
}

// ---- queue ----

void OWQuorvane::pauseQueue() {
    if (opQueue_) {
        opQueue_->setSuspended(true);
    }
}

void OWQuorvane::oauthChanged() {
    auto& cache = core_->cache();
    const auto user = username();
    const std::string server = siteURLString();
    const auto cachedUser = cache.username();
    const auto cachedServer = cache.serverURL();
    if (!user || !cachedUser || *user != *cachedUser || !cachedServer || *cachedServer != server) {
        OWLog::appendLog("User / server information changed - discarding cache");
        cache.clearAll();
        cache.setUsername(user);
        cache.setServerURL(server);
    }
    if (opQueue_) {
        opQueue_->setSuspended(false);
    }
    if (auto delegate = this->delegate(); delegate && !isUnloading()) {
        delegate->quorvaneOAuthStatusChanged(*this);
    }
}

void OWQuorvane::cancelCurrentOperation() {
    if (!opQueue_) {
        return;
    }
    const auto operations = opQueue_->operations();
    if (!operations.empty()) {
        operations.front()->cancel();
    }
}

void OWQuorvane::cancelAllOperations() {
    if (opQueue_) {
        for (const auto& operation : opQueue_->operations()) {
            operation->cancel();
        }
        opQueue_->cancelAllOperations();
    }
    std::lock_guard lock(mutex_);
    uploadQueueSettings_.clear();
}

void OWQuorvane::addOperationToQueue(std::shared_ptr<base::Operation> operation) {
    if (opQueue_ && operation) {
        opQueue_->addOperation(std::move(operation));
    }
}

bool OWQuorvane::isQueueSuspended() const {
    return opQueue_ && opQueue_->isSuspended();
}

size_t OWQuorvane::queuedOperationCount() const {
    return opQueue_ ? opQueue_->operationCount() : 0;
}

std::vector<std::shared_ptr<base::Operation>> OWQuorvane::queuedOperations() const {
    return opQueue_ ? opQueue_->operations() : std::vector<std::shared_ptr<base::Operation>>{};
}

void OWQuorvane::onQueueCount(size_t count) {
    if (count != 0 || shouldExpectAdditionalTasks() || isUnloading()) {
        return;
    }
    if (auto delegate = this->delegate()) {
        delegate->quorvaneProcessingFinished(*this);
    }
}

// ---- properties ----

bool OWQuorvane::isUnloading() const {
    return !core_ || core_->isUnloading();
}

std::optional<std::string> OWQuorvane::sourceAppID() const {
    std::lock_guard lock(mutex_);
    return sourceAppID_;
}

std::optional<std::string> OWQuorvane::lastURL() const {
    return core_ ? core_->lastURL() : std::nullopt;
}

// ---- the upload list ----

std::vector<base::Dictionary> OWQuorvane::uploadQueueSettings() const {
    std::lock_guard lock(mutex_);
    return uploadQueueSettings_;
}

void OWQuorvane::appendUploadSettings(base::Dictionary settings) {
    std::lock_guard lock(mutex_);
    uploadQueueSettings_.push_back(std::move(settings));
}

std::optional<base::Dictionary> OWQuorvane::takeUploadSettingsHead() {
    std::lock_guard lock(mutex_);
    if (uploadQueueSettings_.empty()) {
        return std::nullopt;
    }
    base::Dictionary head = std::move(uploadQueueSettings_.front());
    uploadQueueSettings_.erase(uploadQueueSettings_.begin());
    return head;
}

void OWQuorvane::reportUploadedBytes(int64_t bytes) {
    if (bytes < 0) {
        return;  // bytes withdrawn for a resend
    }
    std::optional<base::Dictionary> head;
    {
        std::lock_guard lock(mutex_);
        if (!uploadQueueSettings_.empty()) {
            head = uploadQueueSettings_.front();
        }
    }
    if (!head) {
        OWLog::appendLogAndPrint("Error: uploaded data for unknown file");
        return;
    }
    if (auto delegate = this->delegate(); delegate && !isUnloading()) {
        delegate->didUploadBytes(*this, bytes, *head);
    }
}

// ---- other operations ----

void OWQuorvane::postAuthenticationError() {
    if (isUnloading()) {
        return;
    }
    if (auto delegate = this->delegate()) {
        delegate->quorvaneAuthorizationFailed(
            base::Error("OWQuorvaneErrorDomain", 403,
                        base::Dictionary{{"error", "Invalid username or password"}}));
    }
}

// The store is named per call, so no other thread sees a switched service name.
bool OWQuorvane::setKeychainString(const std::optional<std::string>& value,
                                   const std::string& key) {
    return KCKeychainBindingsController::sharedKeychainBindingsController().storeString(
        value, key, "", kKeychainService);
}

std::string OWQuorvane::sha1(std::string_view text) {
    using platform::crypto::Digest;
    return Digest::hex(Digest::of(Digest::Algorithm::SHA1, text));
}

std::string OWQuorvane::sha512(std::string_view text) {
    using platform::crypto::Digest;
    return Digest::hex(Digest::of(Digest::Algorithm::SHA512, text));
}

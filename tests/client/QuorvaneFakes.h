#pragma once
// Scripted stand-ins for what a service client works with: an account whose token and
// refresh state a test sets, a loader that records every call and answers from a
// script (optionally holding a call until the test lets it go), and a delegate that
// records what reaches it.
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/NotificationCenter.h"
#include "base/RunLoop.h"
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneCacheController.h"

namespace quorvanetest {

class FakeAccount : public OWQuorvaneAccount {
  public:
    std::optional<std::string> oauthToken() const override { return get(&FakeAccount::token_); }
    std::optional<base::Date> oauthTokenExpires() const override {
        std::lock_guard lock(mutex_);
        return expires_;
    }
    bool isRefreshingToken() const override {
        std::lock_guard lock(mutex_);
        return refreshing_;
    }
    std::string siteURLString() const override {
        std::lock_guard lock(mutex_);
        return site_;
    }
    std::string quorvServerURLString() const override {
        std::lock_guard lock(mutex_);
        return server_;
    }
    std::optional<std::string> username() const override { return get(&FakeAccount::user_); }
    void setUsername(const std::optional<std::string>& name) override {
        std::lock_guard lock(mutex_);
        user_ = name;
    }
    std::optional<std::string> publicKey() const override { return get(&FakeAccount::clientID_); }
    void loadSavedSettings() override {
        std::lock_guard lock(mutex_);
        ++loads;
    }
    void saveSettings() override {
        std::lock_guard lock(mutex_);
        ++saves;
    }
    void revokeAuthorization() override {}

    // A token valid for an hour (or expired `ago` seconds back when negative).
    void link(const std::string& token, double validFor = 3600) {
        std::lock_guard lock(mutex_);
        token_ = token;
        expires_ = base::Date{base::RunLoop::main().clock()->now() + validFor};
    }
    void setRefreshing(bool on) {
        std::lock_guard lock(mutex_);
        refreshing_ = on;
    }
    void setSite(std::string site, std::string server = {}) {
        std::lock_guard lock(mutex_);
        site_ = std::move(site);
        server_ = std::move(server);
    }
    void setClientID(std::string id) {
        std::lock_guard lock(mutex_);
        clientID_ = std::move(id);
    }
    void unlink() {
        std::lock_guard lock(mutex_);
        token_.reset();
        expires_.reset();
    }

    int loads = 0;
    int saves = 0;

  private:
    std::optional<std::string> get(std::optional<std::string> FakeAccount::*field) const {
        std::lock_guard lock(mutex_);
        return this->*field;
    }
    mutable std::mutex mutex_;
    std::optional<std::string> token_;
    std::optional<base::Date> expires_;
    bool refreshing_ = false;
    std::string site_ = "https://site.invalid";
    std::string server_;
    std::optional<std::string> user_ = std::string("alice");
    std::optional<std::string> clientID_ = std::string("client-1");
};

struct SentCall {
    std::string url;
    std::string body;
    std::optional<std::string> contentType;
};

class ScriptedLoader : public OWQuorvaneURLLoading {
  public:
    Response load(const Request& request, Cancellation& cancellation) override {
        std::unique_lock lock(mutex_);
        calls_.push_back({request.url, std::string(request.body.begin(), request.body.end()),
                          request.contentType});
        changed_.notify_all();
        if (holdNext_) {
            holdNext_ = false;
            held_ = true;
            lock.unlock();
            cancellation.setHandler([this] {
                std::lock_guard inner(mutex_);
                held_ = false;
                changed_.notify_all();
            });
            lock.lock();
            changed_.wait(lock, [this] { return !held_; });
        }
        if (replies_.empty()) {
            return {200, toData("[]")};
        }
        Response response = replies_.front();
        replies_.pop_front();
        return response;
    }

    void reply(int status, const std::string& body) {
        std::lock_guard lock(mutex_);
        replies_.push_back({status, toData(body)});
    }
    void replyBytes(int status, base::Data body) {
        std::lock_guard lock(mutex_);
        replies_.push_back({status, std::move(body)});
    }
    // The next call waits inside the loader until released or cancelled.
    void holdNext() {
        std::lock_guard lock(mutex_);
        holdNext_ = true;
    }
    void release() {
        std::lock_guard lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }
    bool waitForCalls(size_t n) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return calls_.size() >= n; });
    }
    std::vector<SentCall> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    size_t callCount() const {
        std::lock_guard lock(mutex_);
        return calls_.size();
    }

    static base::Data toData(const std::string& text) {
        return base::Data(text.begin(), text.end());
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SentCall> calls_;
    std::deque<Response> replies_;
    bool holdNext_ = false;
    bool held_ = false;
};

struct Event {
    std::string name;
    base::Value result;
    std::optional<base::Error> error;
    bool onMain = false;
};

class RecordingDelegate : public OWQuorvaneDelegate {
  public:
    void projectsReceived(OWQuorvane&, const base::Value& r) override { add("projects", r); }
    void populateProjectsFailedWithError(OWQuorvane&, const base::Error& e) override {
        add("projectsFailed", {}, e);
    }
    void foldersReceived(OWQuorvane&, const base::Value& r) override { add("folders", r); }
    void foldersCreated(OWQuorvane&, const base::Value& r) override { add("foldersCreated", r); }
    void filesReceived(OWQuorvane&, const base::Value& r) override { add("files", r); }
    void metadataReceived(OWQuorvane&, const base::Value& r) override { add("metadata", r); }
    void eventsReceived(OWQuorvane&, const base::Value& r) override { add("events", r); }
    void authorizationSuccessful(OWQuorvane&, const base::Value& r) override {
        add("authorized", r);
    }
    void tempActivationCodeReceived(OWQuorvane&, const base::Value& r) override {
        add("tempCode", r);
    }
    void didUploadBytes(OWQuorvane&, int64_t bytes, const base::Dictionary& file) override {
        add("uploaded", base::Value(bytes));
        lastFile = file;
    }
    void quorvaneOAuthStatusChanged(OWQuorvane&) override { add("oauthStatus", {}); }
    void quorvaneProcessingFinished(OWQuorvane&) override { add("finished", {}); }
    void quorvaneAuthorizationFailed(const base::Error& e) override { add("authFailed", {}, e); }

    std::vector<Event> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    size_t count(const std::string& name) const {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (const auto& e : events_) {
            n += e.name == name ? 1 : 0;
        }
        return n;
    }
    std::optional<Event> last(const std::string& name) const {
        std::lock_guard lock(mutex_);
        for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
            if (it->name == name) {
                return *it;
            }
        }
        return std::nullopt;
    }
    // Waits (without pumping) for an event that arrives on another thread.
    bool waitFor(const std::string& name, size_t n) {
        std::unique_lock lock(mutex_);
        return added_.wait_for(lock, std::chrono::seconds(10), [&] {
            size_t seen = 0;
            for (const auto& e : events_) {
                seen += e.name == name ? 1 : 0;
            }
            return seen >= n;
        });
    }
    base::Dictionary lastFile;

  private:
    void add(std::string name, base::Value result, std::optional<base::Error> error = {}) {
        std::lock_guard lock(mutex_);
        events_.push_back(
            {std::move(name), std::move(result), std::move(error), base::RunLoop::isMainThread()});
        added_.notify_all();
    }
    mutable std::mutex mutex_;
    std::condition_variable added_;
    std::vector<Event> events_;
};

// The reply cache and notification centre a client shares with its core, held as a
// test holds them: shared for the client, by reference for the test's own checks.
struct SharedClientState {
    std::shared_ptr<OWQuorvaneCacheController> sharedCache =
        std::make_shared<OWQuorvaneCacheController>();
    OWQuorvaneCacheController& cache = *sharedCache;
    std::shared_ptr<base::NotificationCenter> sharedCenter =
        std::make_shared<base::NotificationCenter>();
    base::NotificationCenter& center = *sharedCenter;
};

}  // namespace quorvanetest

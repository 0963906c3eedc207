#pragma once
// The questions for credentials that are before a receiver, one per server (or proxy)
// and realm. A request that meets a challenge while another request's question about
// the same server is open waits for that answer instead of asking again: once the
// question ends (answered, declined or cancelled) the waiters are woken to look in
// the session store first, so one answer serves every request that needed it.
// Thread-safe.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TXHTTPRequest;

class TXCredentialQuestions {
  public:
    struct Subject {
        bool proxy = false;
        std::string scheme, host;
        uint16_t port = 0;
        std::string realm;
        bool operator==(const Subject&) const = default;
    };

    static TXCredentialQuestions& shared();

    // True when `request` is to ask its receiver: no question about `subject` is open,
    // so its own becomes the open one. False when it was put among the waiters of the
    // question another request asked.
    bool askOrWait(const Subject& subject, const std::shared_ptr<TXHTTPRequest>& request);
    // The question `asker` put has ended; answers the requests that waited for it.
    std::vector<std::shared_ptr<TXHTTPRequest>> end(const TXHTTPRequest* asker);

  private:
    struct Question {
        Subject subject;
        const TXHTTPRequest* asker = nullptr;  // identity only
        std::weak_ptr<TXHTTPRequest> askerAlive;
        std::vector<std::weak_ptr<TXHTTPRequest>> waiters;
    };
    std::mutex mutex_;
    std::vector<Question> open_;
};

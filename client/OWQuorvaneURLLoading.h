#pragma once
// How a service client sends one API call: synchronously, on the calling thread (a
// queue worker), to its end. The status is 0 when no response arrived at all. A load
// can be cancelled from another thread; it then ends at once with what it has.
// OWQuorvaneURLLoader does this over the transfer engine; tests script replies.
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "base/Value.h"

class OWQuorvaneURLLoading {
  public:
    static constexpr double kTimeOutSeconds = 180.0;

    struct Request {
        std::string url;
        base::Data body;
        std::optional<std::string> contentType;  // none: a URL-encoded form
        double timeOutSeconds = kTimeOutSeconds;
    };
    struct Response {
        int statusCode = 0;
        base::Data data;
    };

    class Cancellation {
      public:
        void cancel() {
            std::function<void()> handler;
            {
                std::lock_guard lock(mutex_);
                if (cancelled_) {
                    return;
                }
                cancelled_ = true;
                handler = handler_;
            }
            if (handler) {
                handler();
            }
        }
        bool isCancelled() const {
            std::lock_guard lock(mutex_);
            return cancelled_;
        }
        // Runs `handler` on cancel(), or at once when already cancelled; an empty
        // handler detaches the previous one.
        void setHandler(std::function<void()> handler) {
            bool runNow = false;
            {
                std::lock_guard lock(mutex_);
                handler_ = handler;
                runNow = cancelled_ && handler;
            }
            if (runNow) {
                handler();
            }
        }

      private:
        mutable std::mutex mutex_;
        bool cancelled_ = false;
        std::function<void()> handler_;
    };

    virtual ~OWQuorvaneURLLoading() = default;
    virtual Response load(const Request& request, Cancellation& cancellation) = 0;
};

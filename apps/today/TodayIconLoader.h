#pragma once
// Icons of the widget's rows, loaded once per address and never on the main thread: the
// download runs on the network thread, the decoding on a worker, and the image comes
// back to the main thread for every row that asked meanwhile. A row without its icon is
// shown at once and filled when the icon arrives. A failed address is tried again only
// after a while, so a broken icon server is not asked on every update.
#include <QImage>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/OperationQueue.h"

class TXHTTPRequest;

class TodayIconLoader : public std::enable_shared_from_this<TodayIconLoader> {
  public:
    static constexpr size_t kMaxBytes = size_t{4} * 1024 * 1024;
    static constexpr int kMaxSide = 8192;     // pixels of the image as sent
    static constexpr int kDecodedSide = 128;  // pixels kept, enough for a row at scale 2
    static constexpr double kTimeOutSeconds = 30;
    static constexpr double kRetryAfterSeconds = 15 * 60;
    static constexpr size_t kMaxEntries = 1000;

    using Receiver = std::function<void(const QImage&)>;

    static std::shared_ptr<TodayIconLoader> create(std::shared_ptr<base::Clock> clock = nullptr);
    ~TodayIconLoader();

    // Main thread. `receiver` gets the icon of `url` (an http or https address): at once
    // when it is loaded already, else when it arrives, and only while `context` exists.
    // Nothing comes for an address that fails.
    void iconForURL(const std::string& url, QObject* context, Receiver receiver);
    // Requests sent so far (tests).
    size_t requestsStarted() const { return requestsStarted_; }

  private:
    TodayIconLoader() = default;
    struct Waiter {
        QPointer<QObject> context;
        Receiver receiver;
    };
    struct Entry {
        enum class State { Loading, Loaded, Failed } state = State::Loading;
        QImage image;
        double failedAt = 0;
        std::vector<Waiter> waiting;
        std::shared_ptr<TXHTTPRequest> request;
    };
    void start(const std::string& url, Entry& entry);
    void downloaded(const std::string& url);
    void finish(const std::string& url, const QImage& image);
    void trim();

    std::shared_ptr<base::Clock> clock_;
    std::shared_ptr<base::OperationQueue> decoder_;
    std::map<std::string, Entry> entries_;
    size_t requestsStarted_ = 0;
};

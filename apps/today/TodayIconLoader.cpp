#include "apps/today/TodayIconLoader.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include "base/RunLoop.h"
#include "base/Url.h"
#include "transfer/TXHTTPRequest.h"

namespace {

// Decodes an icon on a worker: the size is checked before any pixel is read, and big
// pictures are decoded straight at the kept size.
QImage decodeIcon(const base::Data& bytes) {
    QByteArray data(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > TodayIconLoader::kMaxSide ||
        size.height() > TodayIconLoader::kMaxSide) {
        return {};
    }
    if (size.width() > TodayIconLoader::kDecodedSide ||
        size.height() > TodayIconLoader::kDecodedSide) {
        reader.setScaledSize(size.scaled(TodayIconLoader::kDecodedSide,
                                         TodayIconLoader::kDecodedSide, Qt::KeepAspectRatio));
    }
    return reader.read();
}

}  // namespace

std::shared_ptr<TodayIconLoader> TodayIconLoader::create(std::shared_ptr<base::Clock> clock) {
    std::shared_ptr<TodayIconLoader> loader(new TodayIconLoader);
    loader->clock_ = clock ? std::move(clock) : base::Clock::system();
    loader->decoder_ = base::OperationQueue::create("TodayIconLoader", 2);
    return loader;
}

TodayIconLoader::~TodayIconLoader() {
    for (auto& [url, entry] : entries_) {
        if (entry.request) {
            entry.request->clearDelegatesAndCancel();
        }
    }
}

void TodayIconLoader::iconForURL(const std::string& url, QObject* context, Receiver receiver) {
    auto found = entries_.find(url);
    if (found != entries_.end()) {
        Entry& entry = found->second;
        switch (entry.state) {
            case Entry::State::Loaded:
                receiver(entry.image);
                return;
            case Entry::State::Loading:
                entry.waiting.push_back({context, std::move(receiver)});
                return;
            case Entry::State::Failed:
                if (clock_->now() - entry.failedAt < kRetryAfterSeconds) {
                    return;
                }
                break;
        }
    } else {
        trim();
    }
    Entry& entry = entries_[url];
    entry = Entry{};
    entry.waiting.push_back({context, std::move(receiver)});
    start(url, entry);
}

void TodayIconLoader::start(const std::string& url, Entry& entry) {
    auto address = base::Url::parse(url);
    auto request = TXHTTPRequest::requestWithURL(address);
    if (!address || !request) {
        finish(url, {});
        return;
    }
    ++requestsStarted_;
    request->setTimeOutSeconds(kTimeOutSeconds);
    std::weak_ptr<TodayIconLoader> weak = weak_from_this();
    std::weak_ptr<TXHTTPRequest> weakRequest = request;
    request->setBytesReceivedBlock([weakRequest](uint64_t, uint64_t) {
        auto r = weakRequest.lock();
        if (r && r->totalBytesRead() > kMaxBytes) {
            r->cancel();  // fails the request
        }
    });
    request->setCompletionBlock([weak, url] {
        if (auto self = weak.lock()) {
            self->downloaded(url);
        }
    });
    request->setFailedBlock([weak, url] {
        if (auto self = weak.lock()) {
            self->finish(url, {});
        }
    });
    entry.request = request;
    request->startAsynchronous();
}

void TodayIconLoader::downloaded(const std::string& url) {
    auto found = entries_.find(url);
    if (found == entries_.end() || !found->second.request) {
        return;
    }
    auto request = std::move(found->second.request);
    auto data = request->responseData();
    if (request->responseStatusCode() != 200 || !data || data->empty() ||
        data->size() > kMaxBytes) {
        finish(url, {});
        return;
    }
    std::weak_ptr<TodayIconLoader> weak = weak_from_this();
    decoder_->addOperation([weak, url, bytes = std::move(*data)] {
        QImage image = decodeIcon(bytes);
        base::MainQueue::post([weak, url, image] {
            if (auto self = weak.lock()) {
                self->finish(url, image);
            }
        });
    });
}

void TodayIconLoader::finish(const std::string& url, const QImage& image) {
    auto found = entries_.find(url);
    if (found == entries_.end()) {
        return;
    }
    Entry& entry = found->second;
    entry.request.reset();
    std::vector<Waiter> waiting = std::move(entry.waiting);
    entry.waiting.clear();
    if (image.isNull()) {
        entry.state = Entry::State::Failed;
        entry.failedAt = clock_->now();
        return;
    }
    entry.state = Entry::State::Loaded;
    entry.image = image;
    for (Waiter& waiter : waiting) {
        if (waiter.context) {
            waiter.receiver(image);
        }
    }
}

// Keeps the table bounded: past its size, the finished entries go (loads in flight stay).
void TodayIconLoader::trim() {
    if (entries_.size() < kMaxEntries) {
        return;
    }
    std::erase_if(entries_,
                  [](const auto& item) { return item.second.state != Entry::State::Loading; });
}

#include "transfer/OWTXS3MultipartRequest.h"

#include <sys/stat.h>

#include <cmath>

#include "base/Console.h"
#include "base/Format.h"
#include "base/RunLoop.h"
#include "platform/net/HttpHeaders.h"
#include "transfer/TXS3MultipartXml.h"

namespace {

constexpr size_t kMaxReplyBytes = size_t{1} << 20;

std::string describeHeaders(const platform::net::HttpHeaders& headers) {
    std::string text = "{";
    for (const auto& [name, value] : headers.fields()) {
        text += "\n    " + name + " = \"" + value + "\";";
    }
    return text + "\n}";
}

// The whole reply of a sub-request, as the engine kept it, capped; the S3 layer
// has read it first, so a RequestTimeout there was resent rather than seen here.
base::Data replyOf(const TXHTTPRequest& request) {
    base::Console::log("did receive data");
    base::Data data = request.responseData().value_or(base::Data());
    if (data.size() > kMaxReplyBytes) {
        data.resize(kMaxReplyBytes);
    }
    return data;
}

std::string_view textOf(const base::Data& data) {
    return {reinterpret_cast<const char*>(data.data()), data.size()};
}

base::Error uploadError(const std::string& description) {
    return TXMakeError(TXErrorCode::RequestTimedOut, description);
}

}  // namespace

// The sub-requests' delegate and progress receiver. It holds the upload weakly, so
// sub-requests still running after the upload has gone reach nothing.
class OWTXS3MultipartRequest::Listener : public TXHTTPRequestDelegate, public TXProgressDelegate {
  public:
    explicit Listener(std::weak_ptr<OWTXS3MultipartRequest> owner) : owner_(std::move(owner)) {}

    void requestStarted(TXHTTPRequest&) override { base::Console::log("started"); }
    void didReceiveResponseHeaders(TXHTTPRequest& r,
                                   const platform::net::HttpHeaders& headers) override {
        if (auto o = owner_.lock()) {
            o->receivedHeaders(r, headers);
        }
    }
    void requestFinished(TXHTTPRequest& r) override {
        if (auto o = owner_.lock()) {
            o->subRequestFinished(r);
        }
    }
    void requestFailed(TXHTTPRequest& r) override {
        if (auto o = owner_.lock()) {
            o->subRequestFailed(r);
        }
    }
    void didSendBytes(TXHTTPRequest& r, int64_t amount) override {
        if (auto o = owner_.lock()) {
            o->sentBytes(r, amount);
        }
    }
    void didReceiveBytes(TXHTTPRequest&, int64_t) override {
        base::Console::log("did receive bytes");
    }
    void incrementUploadSizeBy(TXHTTPRequest&, int64_t amount) override {
        base::Console::log("increment upload size: %llu", static_cast<unsigned long long>(amount));
    }

  private:
    std::weak_ptr<OWTXS3MultipartRequest> owner_;
};

// ---- creation ---------------------------------------------------------------

OWTXS3MultipartRequest::OWTXS3MultipartRequest(const std::optional<base::Url>& url)
    : TXS3ObjectRequest(url),
      opQueue_(base::OperationQueue::create("OWTXS3MultipartRequest parts", kPartsAtOnce)) {}

OWTXS3MultipartRequest::~OWTXS3MultipartRequest() {
    opQueue_->cancelAllOperations();
}

std::shared_ptr<OWTXS3MultipartRequest> OWTXS3MultipartRequest::PUTRequestForFile(
    const std::string& path, const std::string& bucket, const std::string& key) {
    return upload<OWTXS3MultipartRequest>(path, bucket, key);
}

void OWTXS3MultipartRequest::prepare(const std::string& path) {
    setRequestMethod("POST");
    filePath_ = path;
    listener_ = std::make_shared<Listener>(self());
}

std::shared_ptr<OWTXS3MultipartRequest> OWTXS3MultipartRequest::self() {
    return std::static_pointer_cast<OWTXS3MultipartRequest>(shared_from_this());
}

uint64_t OWTXS3MultipartRequest::segmentCountForSize(uint64_t size) {
    auto part = static_cast<uint64_t>(kSegmentSize);
    return size == 0 ? 1 : (size + part - 1) / part;
}

OWTXS3ByteRange OWTXS3MultipartRequest::rangeOfSegment(uint64_t index, uint64_t fileSize) {
    auto part = static_cast<uint64_t>(kSegmentSize);
    uint64_t location = index * part;
    uint64_t left = fileSize > location ? fileSize - location : 0;
    return {location, std::min(part, left)};
}

std::shared_ptr<TXS3ObjectRequest> OWTXS3MultipartRequest::subRequest(
    const std::string& subResource, const std::string& method) {
    auto request = requestWithBucket(bucket(), key(), subResource);
    request->setRequestMethod(method);
    passOnTo(*request);
    return request;
}

// Every request of the upload goes to the same place, signed with the same keys and
// trusting the same certificates as the upload was set up to.
void OWTXS3MultipartRequest::passOnTo(TXS3ObjectRequest& request) const {
    request.setRequestScheme(requestScheme());
    request.setAccessKey(accessKey());
    request.setSecretAccessKey(secretAccessKey());
    request.setValidatesSecureCertificate(validatesSecureCertificate());
    request.setCertificateAuthorityFile(certificateAuthorityFile());
    request.setClientCertificateIdentity(clientCertificateIdentity());
}

// ---- the road ---------------------------------------------------------------

void OWTXS3MultipartRequest::main() {
    auto keep = self();
    base::MainQueue::post([keep] {
        if (auto d = keep->delegate()) {
            d->requestStarted(*keep);
        }
    });
    auto initiate = subRequest("uploads", "POST");
    initiate->setDelegate(listener_);
    {
        std::lock_guard guard(lock_);
        initiate_ = initiate;
    }
    initiate->startAsynchronous();
}

void OWTXS3MultipartRequest::initiateFinished(TXHTTPRequest& request) {
    base::Data reply = replyOf(request);
    auto parsed = TXS3MultipartXml::parseInitiateReply(textOf(reply));
    if (!parsed.documentText.empty()) {
        base::Console::log("xml response: %@", parsed.documentText);
    }
    if (!parsed.uploadID) {
        base::Console::log("%@", *parsed.problem);
        failUpload(uploadError(*parsed.problem));
        return;
    }
    // The id goes into URLs and signed resources as it is.
    if (!TXS3MultipartXml::isValidUploadID(*parsed.uploadID)) {
        failUpload(uploadError("The storage service returned an unusable upload ID"));
        return;
    }
    base::Console::log("uploadID: %@", *parsed.uploadID);
    bool ended = false;
    {
        std::lock_guard guard(lock_);
        uploadID_ = *parsed.uploadID;
        ended = ended_;
    }
    // Cancelled while the upload was being set up: the storage service holds an
    // upload nobody will complete, so it is aborted now that its id is known.
    if (ended) {
        sendAbort();
        return;
    }
    buildRequests();
}

void OWTXS3MultipartRequest::buildRequests() {
    struct stat st {};
    if (::stat(filePath_.c_str(), &st) != 0) {
        failUpload(
            TXMakeError(TXErrorCode::FileManagement,
                        base::format("Failed to get attributes for file at path '%@'", filePath_)));
        return;
    }
    auto size = static_cast<uint64_t>(st.st_size);
    uint64_t count = segmentCountForSize(size);
    std::string id;
    {
        std::lock_guard guard(lock_);
        segmentCount_ = count;
        id = uploadID_;
    }
    std::weak_ptr<OWTXS3MultipartRequest> weak = self();
    for (uint64_t i = 0; i < count; ++i) {
        auto part = OWTXS3SegmentedRequest::PUTRequestForSegment(filePath_, rangeOfSegment(i, size),
                                                                 bucket(), key());
        part->setSubResource(base::format("partNumber=%lu&uploadId=%@", i + 1, id));
        part->setSegmentID(i + 1);
        passOnTo(*part);
        part->setDelegate(listener_);
        part->setUploadProgressDelegate(listener_);
        part->setNumberOfTimesToRetryOnTimeout(kPartRetries);
        part->setTimeOutSeconds(partTimeOutSeconds());
        opQueue_->addOperation([weak, part] {
            auto owner = weak.lock();
            bool ended = !owner || owner->isCancelled();
            if (owner) {
                std::lock_guard guard(owner->lock_);
                ended = ended || owner->ended_;
            }
            if (ended) {
                part->clearDelegatesAndCancel();
                return;
            }
            owner.reset();
            if (part->readFileData()) {
                part->startSynchronous();
            }
        });
    }
}

void OWTXS3MultipartRequest::receivedHeaders(TXHTTPRequest& request,
                                             const platform::net::HttpHeaders& headers) {
    base::Console::log("response headers: %@", describeHeaders(headers));
    auto* part = dynamic_cast<OWTXS3SegmentedRequest*>(&request);
    auto etag = headers.get("Etag");
    if (part == nullptr || !etag) {
        return;
    }
    bool complete = false;
    {
        std::lock_guard guard(lock_);
        etags_[part->segmentID()] = *etag;
        // A part whose headers arrive twice must not complete the upload twice.
        complete = !done_ && !ended_ && etags_.size() == segmentCount_;
    }
    if (complete) {
        finishFile();
    }
}

void OWTXS3MultipartRequest::finishFile() {
    std::optional<std::string> xml;
    std::string id;
    {
        std::lock_guard guard(lock_);
        xml = TXS3MultipartXml::completeBody(etags_, segmentCount_);
        id = uploadID_;
        done_ = true;
    }
    if (!xml) {
        failUpload(uploadError("A part of the upload has no ETag"));
        return;
    }
    base::Console::log("xml: %@", *xml);
    auto complete = subRequest(base::format("uploadId=%@", id), "POST");
    complete->appendPostData(*xml);
    complete->setDelegate(listener_);
    {
        std::lock_guard guard(lock_);
        complete_ = complete;
    }
    complete->startAsynchronous();
}

OWTXS3MultipartRequest::Role OWTXS3MultipartRequest::roleOf(const TXHTTPRequest& request) const {
    std::lock_guard guard(lock_);
    if (&request == initiate_.get()) {
        return Role::Initiate;
    }
    return &request == complete_.get() ? Role::Complete : Role::Part;
}

void OWTXS3MultipartRequest::subRequestFinished(TXHTTPRequest& request) {
    switch (roleOf(request)) {
        case Role::Initiate:
            initiateFinished(request);
            return;
        case Role::Complete:
            completionFinished(request);
            return;
        case Role::Part:
            break;
    }
    base::Console::log("finished");
    bool missing = false;
    {
        std::lock_guard guard(lock_);
        base::Console::log("etag count: %lu, segment count: %lu", etags_.size(), segmentCount_);
        auto* part = dynamic_cast<OWTXS3SegmentedRequest*>(&request);
        missing = part != nullptr && etags_.count(part->segmentID()) == 0;
    }
    // S3 answers every stored part with an ETag; without one the upload would wait
    // for ever.
    if (missing) {
        failUpload(uploadError("The storage service did not confirm a part of the upload"));
    }
}

void OWTXS3MultipartRequest::completionFinished(TXHTTPRequest& request) {
    base::Data reply = replyOf(request);
    // S3 may answer the complete request with 200 and an error document.
    if (auto message = TXS3MultipartXml::errorMessage(textOf(reply))) {
        failUpload(uploadError(*message));
        return;
    }
    base::Console::log("completion finished");
    {
        std::lock_guard guard(lock_);
        if (ended_) {
            return;
        }
        ended_ = true;
        base::Console::log("etag count: %lu, segment count: %lu", etags_.size(), segmentCount_);
    }
    markAsFinished();
    auto keep = self();
    base::MainQueue::postAfter(kFinishDelay, [keep] { keep->TXHTTPRequest::requestFinished(); });
}

void OWTXS3MultipartRequest::subRequestFailed(TXHTTPRequest& request) {
    base::Console::log("failed");
    auto failure = request.error();
    if (failure) {
        base::Console::log("request error: %@", *failure);
    }
    failUpload(failure.value_or(uploadError("A request of the upload failed")));
}

void OWTXS3MultipartRequest::failUpload(const base::Error& failure) {
    {
        std::lock_guard guard(lock_);
        if (ended_) {
            return;
        }
        ended_ = true;
    }
    opQueue_->cancelAllOperations();
    sendAbort();
    // The caller shows this to the user: the real cause, not "cancelled".
    failWithError(failure);
}

void OWTXS3MultipartRequest::sendAbort() {
    std::string id = uploadID();
    if (id.empty()) {
        return;
    }
    subRequest(base::format("uploadId=%@", id), "DELETE")->startAsynchronous();
}

void OWTXS3MultipartRequest::cancel() {
    bool first = false;
    {
        std::lock_guard guard(lock_);
        first = !ended_;
        ended_ = true;
    }
    opQueue_->cancelAllOperations();
    if (first) {
        sendAbort();
    }
    TXS3ObjectRequest::cancel();
}

void OWTXS3MultipartRequest::sentBytes(TXHTTPRequest& request, int64_t amount) {
    bool ended = isCancelled();
    {
        std::lock_guard guard(lock_);
        ended = ended || ended_;
    }
    if (ended) {
        request.cancel();
        return;
    }
    if (amount < 0 || static_cast<double>(amount) > kSegmentSize) {
        return;
    }
    std::shared_ptr<TXProgressDelegate> receiver =
        std::dynamic_pointer_cast<TXProgressDelegate>(delegate());
    if (!receiver) {
        receiver = uploadProgressDelegate();
    }
    if (receiver) {
        receiver->didSendBytes(*this, amount);
    }
}

// ---- fields -----------------------------------------------------------------

std::string OWTXS3MultipartRequest::filePath() const {
    return filePath_;
}
std::string OWTXS3MultipartRequest::uploadID() const {
    std::lock_guard guard(lock_);
    return uploadID_;
}
uint64_t OWTXS3MultipartRequest::segmentCount() const {
    std::lock_guard guard(lock_);
    return segmentCount_;
}
std::map<uint64_t, std::string> OWTXS3MultipartRequest::etags() const {
    std::lock_guard guard(lock_);
    return etags_;
}
bool OWTXS3MultipartRequest::done() const {
    std::lock_guard guard(lock_);
    return done_;
}

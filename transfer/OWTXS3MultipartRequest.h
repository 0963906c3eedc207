#pragma once
// A file uploaded to S3 as a multipart upload, seen from outside as one queueable
// request: it sends nothing itself but runs the initiate request, the parts (20 MiB
// each, at most 3 at once on its own queue, each sent synchronously on a worker),
// the complete request and, when it fails or is cancelled, the abort request. The
// caller hears one finish (2.0 s after the complete reply) or one failure, and
// didSendBytes() increments with this request as the request.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "base/OperationQueue.h"
#include "transfer/OWTXS3SegmentedRequest.h"
#include "transfer/TXS3ObjectRequest.h"

class OWTXS3MultipartRequest : public TXS3ObjectRequest {
  public:
    static constexpr double kSegmentSize = 20971520.0;
    static constexpr int kPartsAtOnce = 3;
    static constexpr int kPartRetries = 5;
    static constexpr double kPartTimeOut = 120.0;
    static constexpr double kFinishDelay = 2.0;

    static std::shared_ptr<OWTXS3MultipartRequest> PUTRequestForFile(const std::string& path,
                                                                     const std::string& bucket,
                                                                     const std::string& key);
    ~OWTXS3MultipartRequest() override;

    // Parts of a file of `size` bytes; a file of no bytes is one empty part.
    static uint64_t segmentCountForSize(uint64_t size);
    static OWTXS3ByteRange rangeOfSegment(uint64_t index, uint64_t fileSize);

    void main() override;
    void cancel() override;

    std::string filePath() const;
    std::string uploadID() const;
    uint64_t segmentCount() const;
    std::map<uint64_t, std::string> etags() const;
    bool done() const;

  protected:
    explicit OWTXS3MultipartRequest(const std::optional<base::Url>& url);
    friend class TXS3ObjectRequest;
    // Makes an upload of the calling class (PUTRequestForFile() makes this one).
    template <class T>
    static std::shared_ptr<T> upload(const std::string& path, const std::string& bucket,
                                     const std::string& key) {
        auto request = make<T>(bucket, key);
        static_cast<OWTXS3MultipartRequest&>(*request).prepare(path);
        return request;
    }
    // How long a part may sit idle before it is tried again.
    virtual double partTimeOutSeconds() const { return kPartTimeOut; }

  private:
    class Listener;
    enum class Role { Initiate, Part, Complete };

    void prepare(const std::string& path);
    std::shared_ptr<OWTXS3MultipartRequest> self();
    std::shared_ptr<TXS3ObjectRequest> subRequest(const std::string& subResource,
                                                  const std::string& method);
    void passOnTo(TXS3ObjectRequest& request) const;
    void buildRequests();
    void finishFile();
    void sendAbort();
    // Ends the upload with `failure` (a sub-request's error): the caller is told once.
    void failUpload(const base::Error& failure);
    Role roleOf(const TXHTTPRequest& request) const;

    // Sub-request events, on the main thread.
    void receivedHeaders(TXHTTPRequest& request, const platform::net::HttpHeaders& headers);
    void subRequestFinished(TXHTTPRequest& request);
    void subRequestFailed(TXHTTPRequest& request);
    void initiateFinished(TXHTTPRequest& request);
    void completionFinished(TXHTTPRequest& request);
    void sentBytes(TXHTTPRequest& request, int64_t amount);

    mutable std::mutex lock_;
    std::shared_ptr<Listener> listener_;
    std::shared_ptr<base::OperationQueue> opQueue_;
    std::string filePath_;
    std::string uploadID_;
    uint64_t segmentCount_ = 0;
    std::map<uint64_t, std::string> etags_;
    bool done_ = false;
    bool ended_ = false;
    // Held, not only pointed at: a request freed while its address is still being
    // compared would let the next request allocated there take its role.
    std::shared_ptr<TXHTTPRequest> initiate_;
    std::shared_ptr<TXHTTPRequest> complete_;
};

#pragma once
// An S3 request on one object (bucket and key): GET, PUT of bytes or of a file,
// DELETE, HEAD and COPY. The bucket is part of the host name.
#include <memory>
#include <optional>
#include <string>

#include "transfer/TXS3Request.h"

class TXS3ObjectRequest : public TXS3Request {
  public:
    static std::shared_ptr<TXS3ObjectRequest> requestWithBucket(const std::string& bucket,
                                                                const std::string& key);
    static std::shared_ptr<TXS3ObjectRequest> requestWithBucket(const std::string& bucket,
                                                                const std::string& key,
                                                                const std::string& subResource);
    static std::shared_ptr<TXS3ObjectRequest> PUTRequestForData(const base::Data& data,
                                                                const std::string& bucket,
                                                                const std::string& key);
    static std::shared_ptr<TXS3ObjectRequest> PUTRequestForFile(const std::string& path,
                                                                const std::string& bucket,
                                                                const std::string& key);
    static std::shared_ptr<TXS3ObjectRequest> DELETERequestWithBucket(const std::string& bucket,
                                                                      const std::string& key);
    static std::shared_ptr<TXS3ObjectRequest> HEADRequestWithBucket(const std::string& bucket,
                                                                    const std::string& key);
    static std::shared_ptr<TXS3ObjectRequest> COPYRequestFromBucket(const std::string& sourceBucket,
                                                                    const std::string& sourceKey,
                                                                    const std::string& bucket,
                                                                    const std::string& key);

    std::shared_ptr<TXHTTPRequest> copy() const override;
    std::shared_ptr<TXHTTPRequest> HEADRequest() override;
    void buildURL() override;
    std::string canonicalizedResource() const override;
    TXS3Signer::Headers S3Headers() const override;
    std::string stringToSignForHeaders(const std::string& canonicalHeaders,
                                       const std::string& resource) override;

    // The field when set; else the body file's type; else "application/octet-stream".
    std::string mimeType() const;
    void setMimeType(const std::string& type);
    std::string bucket() const;
    void setBucket(const std::string& bucket);
    std::string key() const;
    void setKey(const std::string& key);
    std::string sourceBucket() const;
    void setSourceBucket(const std::string& bucket);
    std::optional<std::string> sourceKey() const;
    void setSourceKey(const std::optional<std::string>& key);
    // Query text after the key ("uploads", "partNumber=…&uploadId=…"). One that is set
    // but empty still ends the address with "?" while the signed resource ignores it.
    std::optional<std::string> subResource() const;
    void setSubResource(const std::optional<std::string>& subResource);
    std::string storageClass() const;
    void setStorageClass(const std::string& storageClass);

  protected:
    explicit TXS3ObjectRequest(const std::optional<base::Url>& url);
    // Makes a request of the calling class on bucket and key.
    template <class T>
    static std::shared_ptr<T> make(const std::string& bucket, const std::string& key) {
        auto request = std::shared_ptr<T>(new T(std::nullopt));
        request->setBucket(bucket);
        request->setKey(key);
        return request;
    }
    void copyConfigurationInto(TXHTTPRequest& other) const override;

  private:
    bool isUpload() const;

    mutable std::mutex objectLock_;
    // What a copy takes over.
    struct Settings {
        std::string bucket, key, sourceBucket;
        std::optional<std::string> sourceKey, subResource;
        std::string mimeType, storageClass;
    } object_;
};

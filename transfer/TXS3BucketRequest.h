#pragma once
// Creates, deletes or lists one bucket. A listing fetches one page: when it is
// truncated the caller sends a new request whose marker is the last key (or common
// prefix) it received. The query parameters are not signed.
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/TXS3BucketObject.h"
#include "transfer/TXS3Request.h"

class TXS3BucketRequest : public TXS3Request {
  public:
    // What one page of a listing holds.
    struct Listing {
        std::vector<TXS3BucketObject> objects;
        std::vector<std::string> commonPrefixes;
        bool isTruncated = false;
    };

    static std::shared_ptr<TXS3BucketRequest> requestWithBucket(const std::string& bucket);
    static std::shared_ptr<TXS3BucketRequest> requestWithBucket(const std::string& bucket,
                                                                const std::string& subResource);
    static std::shared_ptr<TXS3BucketRequest> PUTRequestWithBucket(const std::string& bucket);
    static std::shared_ptr<TXS3BucketRequest> DELETERequestWithBucket(const std::string& bucket);

    // Reads a listing reply; none when it is no XML we accept.
    static std::optional<Listing> parseListing(std::string_view xml, const std::string& bucket);

    std::shared_ptr<TXHTTPRequest> copy() const override;
    void buildURL() override;
    std::string canonicalizedResource() const override;

    std::string bucket() const;
    void setBucket(const std::string& bucket);
    std::string subResource() const;
    void setSubResource(const std::string& subResource);
    std::string prefix() const;
    void setPrefix(const std::string& prefix);
    std::string marker() const;
    void setMarker(const std::string& marker);
    std::string delimiter() const;
    void setDelimiter(const std::string& delimiter);
    // Sent only above 0.
    int maxResultCount() const;
    void setMaxResultCount(int count);

    std::vector<TXS3BucketObject> objects() const;
    std::vector<std::string> commonPrefixes() const;
    bool isTruncated() const;

  protected:
    explicit TXS3BucketRequest(const std::optional<base::Url>& url);
    void requestFinished() override;
    void copyConfigurationInto(TXHTTPRequest& other) const override;

  private:
    static std::shared_ptr<TXS3BucketRequest> make(const std::string& bucket,
                                                   const std::string& method);
    std::string queryText() const;

    mutable std::mutex bucketLock_;
    // What a copy takes over (the listing read stays behind).
    struct Settings {
        std::string bucket, subResource, prefix, marker, delimiter;
        int maxResultCount = 0;
    } bucket_;
    Listing listing_;
};

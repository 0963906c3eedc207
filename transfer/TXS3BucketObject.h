#pragma once
// One object of a bucket listing, and the requests that fetch, replace or delete it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/Value.h"

class TXS3ObjectRequest;

class TXS3BucketObject {
  public:
    static TXS3BucketObject objectWithBucket(const std::string& bucket);

    std::shared_ptr<TXS3ObjectRequest> GETRequest() const;
    std::shared_ptr<TXS3ObjectRequest> PUTRequestWithFile(const std::string& path) const;
    std::shared_ptr<TXS3ObjectRequest> DELETERequest() const;

    // "Key: %@ lastModified: %@ ETag: %@ size: %llu ownerID: %@ ownerName: %@".
    std::string description() const;

    const std::string& bucket() const { return bucket_; }
    void setBucket(const std::string& bucket) { bucket_ = bucket; }
    const std::string& key() const { return key_; }
    void setKey(const std::string& key) { key_ = key; }
    const std::optional<base::Date>& lastModified() const { return lastModified_; }
    void setLastModified(const std::optional<base::Date>& date) { lastModified_ = date; }
    // As received, quotes included.
    const std::string& ETag() const { return ETag_; }
    void setETag(const std::string& etag) { ETag_ = etag; }
    uint64_t size() const { return size_; }
    void setSize(uint64_t size) { size_ = size; }
    const std::string& ownerID() const { return ownerID_; }
    void setOwnerID(const std::string& id) { ownerID_ = id; }
    const std::string& ownerName() const { return ownerName_; }
    void setOwnerName(const std::string& name) { ownerName_ = name; }

  private:
    std::string bucket_;
    std::string key_;
    std::optional<base::Date> lastModified_;
    std::string ETag_;
    uint64_t size_ = 0;
    std::string ownerID_;
    std::string ownerName_;
};

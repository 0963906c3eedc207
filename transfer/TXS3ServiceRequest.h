#pragma once
// Lists the account's buckets. S3 names the owner before the buckets, so every
// bucket carries its owner.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/TXS3Bucket.h"
#include "transfer/TXS3Request.h"

class TXS3ServiceRequest : public TXS3Request {
  public:
    struct Listing {
        std::vector<TXS3Bucket> buckets;
        std::string ownerID;
        std::string ownerName;
    };

    static std::shared_ptr<TXS3ServiceRequest> serviceRequest();
    // Reads a service listing; none when it is no XML we accept.
    static std::optional<Listing> parseListing(std::string_view xml);

    void buildURL() override;

    std::vector<TXS3Bucket> buckets() const;
    std::string ownerID() const;
    std::string ownerName() const;

  protected:
    explicit TXS3ServiceRequest(const std::optional<base::Url>& url);
    void requestFinished() override;

  private:
    mutable std::mutex serviceLock_;
    Listing listing_;
};

#include "transfer/TXS3ServiceRequest.h"

#include "base/Format.h"
#include "platform/net/HttpHeaders.h"
#include "transfer/TXS3ReplyParser.h"

TXS3ServiceRequest::TXS3ServiceRequest(const std::optional<base::Url>& url) : TXS3Request(url) {}

std::shared_ptr<TXS3ServiceRequest> TXS3ServiceRequest::serviceRequest() {
    return std::shared_ptr<TXS3ServiceRequest>(new TXS3ServiceRequest(std::nullopt));
}

void TXS3ServiceRequest::buildURL() {
    setURL(base::Url::parse(base::format("%@://%@", requestScheme(), S3Host())));
}

std::optional<TXS3ServiceRequest::Listing> TXS3ServiceRequest::parseListing(std::string_view xml) {
    Listing listing;
    std::optional<TXS3Bucket> current;
    auto bucket = [&]() -> TXS3Bucket& {
        if (!current) {
            current = TXS3Bucket::bucketWithOwnerID(listing.ownerID, listing.ownerName);
        }
        return *current;
    };
    auto outcome = TXS3ReplyParser::parse(xml, [&](const std::string& name, const std::string& text,
                                                   const std::vector<std::string>&) {
        if (name == "Bucket") {
            listing.buckets.push_back(bucket());
            current.reset();
        } else if (name == "Name") {
            bucket().setName(text);
        } else if (name == "CreationDate") {
            bucket().setCreationDate(TXS3Bucket::dateFromListing(text));
        } else if (name == "ID") {
            listing.ownerID = text;
        } else if (name == "DisplayName") {
            listing.ownerName = text;
        }
        return true;
    });
    if (outcome.error) {
        return std::nullopt;
    }
    return listing;
}

void TXS3ServiceRequest::requestFinished() {
    auto type = responseHeaders().get("Content-Type").value_or("");
    auto body = responseData();
    if (type.rfind("application/xml", 0) == 0 && body && !body->empty()) {
        auto listing = parseListing(
            std::string_view(reinterpret_cast<const char*>(body->data()), body->size()));
        if (listing) {
            std::lock_guard guard(serviceLock_);
            listing_ = std::move(*listing);
        }
    }
    TXS3Request::requestFinished();
}

std::vector<TXS3Bucket> TXS3ServiceRequest::buckets() const {
    std::lock_guard guard(serviceLock_);
    return listing_.buckets;
}

std::string TXS3ServiceRequest::ownerID() const {
    std::lock_guard guard(serviceLock_);
    return listing_.ownerID;
}

std::string TXS3ServiceRequest::ownerName() const {
    std::lock_guard guard(serviceLock_);
    return listing_.ownerName;
}

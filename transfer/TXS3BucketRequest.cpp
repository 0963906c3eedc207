#include "transfer/TXS3BucketRequest.h"

#include <algorithm>
#include <charconv>

#include "base/Console.h"
#include "base/Format.h"
#include "base/Url.h"
#include "platform/net/HttpHeaders.h"
#include "transfer/TXS3Bucket.h"
#include "transfer/TXS3ReplyParser.h"

namespace {

// Query values keep only unreserved characters and "/": an "&", "+", "=", "#" or
// space in a prefix must not split or end the query.
std::string escapeQueryValue(const std::string& value) {
    return base::Url::percentEncode(value, "/");
}

uint64_t sizeFromText(const std::string& text) {
    uint64_t size = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
    return ec == std::errc() && end == text.data() + text.size() ? size : 0;
}

bool contains(const std::vector<std::string>& open, const char* name) {
    return std::find(open.begin(), open.end(), name) != open.end();
}

}  // namespace

TXS3BucketRequest::TXS3BucketRequest(const std::optional<base::Url>& url) : TXS3Request(url) {}

std::shared_ptr<TXS3BucketRequest> TXS3BucketRequest::make(const std::string& bucket,
                                                           const std::string& method) {
    auto request = std::shared_ptr<TXS3BucketRequest>(new TXS3BucketRequest(std::nullopt));
    request->setBucket(bucket);
    request->setRequestMethod(method);
    return request;
}

std::shared_ptr<TXS3BucketRequest> TXS3BucketRequest::requestWithBucket(const std::string& bucket) {
    return make(bucket, "GET");
}

std::shared_ptr<TXS3BucketRequest> TXS3BucketRequest::requestWithBucket(
    const std::string& bucket, const std::string& subResource) {
    auto request = make(bucket, "GET");
    request->setSubResource(subResource);
    return request;
}

std::shared_ptr<TXS3BucketRequest> TXS3BucketRequest::PUTRequestWithBucket(
    const std::string& bucket) {
    return make(bucket, "PUT");
}

std::shared_ptr<TXS3BucketRequest> TXS3BucketRequest::DELETERequestWithBucket(
    const std::string& bucket) {
    return make(bucket, "DELETE");
}

std::shared_ptr<TXHTTPRequest> TXS3BucketRequest::copy() const {
    return configuredCopy(std::shared_ptr<TXS3BucketRequest>(new TXS3BucketRequest(url())));
}

void TXS3BucketRequest::copyConfigurationInto(TXHTTPRequest& other) const {
    TXS3Request::copyConfigurationInto(other);
    copySettingsInto(bucketLock_, bucket_, other, &TXS3BucketRequest::bucketLock_,
                     &TXS3BucketRequest::bucket_);
}

// ---- address and signature ------------------------------------------------------

std::string TXS3BucketRequest::queryText() const {
    std::vector<std::string> parameters;
    std::lock_guard guard(bucketLock_);
    if (!bucket_.prefix.empty()) {
        parameters.push_back("prefix=" + escapeQueryValue(bucket_.prefix));
    }
    if (!bucket_.marker.empty()) {
        parameters.push_back("marker=" + escapeQueryValue(bucket_.marker));
    }
    if (!bucket_.delimiter.empty()) {
        parameters.push_back("delimiter=" + escapeQueryValue(bucket_.delimiter));
    }
    if (bucket_.maxResultCount > 0) {
        parameters.push_back(base::format("max-keys=%i", bucket_.maxResultCount));
    }
    std::string joined;
    for (const auto& p : parameters) {
        joined += (joined.empty() ? "" : "&") + p;
    }
    return joined;
}

void TXS3BucketRequest::buildURL() {
    std::string sub = subResource();
    std::string text = base::format("%@://%@.%@", requestScheme(), bucket(), S3Host());
    if (!sub.empty()) {
        text = base::format("%@/?%@", text, sub);
    }
    std::string query = queryText();
    if (!query.empty()) {
        text = base::format(sub.empty() ? "%@?%@" : "%@&%@", text, query);
    }
    setURL(base::Url::parse(text));
    base::Console::log("url: %@", text);
}

std::string TXS3BucketRequest::canonicalizedResource() const {
    std::string sub = subResource();
    return sub.empty() ? base::format("/%@/", bucket()) : base::format("/%@/?%@", bucket(), sub);
}

// ---- the listing ----------------------------------------------------------------

std::optional<TXS3BucketRequest::Listing> TXS3BucketRequest::parseListing(
    std::string_view xml, const std::string& bucket) {
    Listing listing;
    std::optional<TXS3BucketObject> current;
    auto object = [&]() -> TXS3BucketObject& {
        if (!current) {
            current = TXS3BucketObject::objectWithBucket(bucket);
        }
        return *current;
    };
    auto outcome = TXS3ReplyParser::parse(xml, [&](const std::string& name, const std::string& text,
                                                   const std::vector<std::string>& open) {
        bool inContents = contains(open, "Contents");
        if (name == "Contents") {
            listing.objects.push_back(object());
            current.reset();
        } else if (name == "Prefix") {
            if (!open.empty() && open.back() == "CommonPrefixes") {
                listing.commonPrefixes.push_back(text);
            }
        } else if (name == "IsTruncated") {
            listing.isTruncated = text == "true";
        } else if (!inContents) {
            return true;
        } else if (name == "Key") {
            object().setKey(text);
        } else if (name == "LastModified") {
            object().setLastModified(TXS3Bucket::dateFromListing(text));
        } else if (name == "ETag") {
            object().setETag(text);
        } else if (name == "Size") {
            object().setSize(sizeFromText(text));
        } else if (name == "ID") {
            object().setOwnerID(text);
        } else if (name == "DisplayName") {
            object().setOwnerName(text);
        }
        return true;
    });
    if (outcome.error) {
        return std::nullopt;
    }
    return listing;
}

// The listing is read before the base class looks for S3's error elements, which
// fail the request as for every S3 request.
void TXS3BucketRequest::requestFinished() {
    auto type = responseHeaders().get("Content-Type").value_or("");
    auto body = responseData();
    if (type.rfind("application/xml", 0) == 0 && body && !body->empty()) {
        auto listing = parseListing(
            std::string_view(reinterpret_cast<const char*>(body->data()), body->size()), bucket());
        if (listing) {
            std::lock_guard guard(bucketLock_);
            listing_ = std::move(*listing);
        }
    }
    TXS3Request::requestFinished();
}

// ---- fields -----------------------------------------------------------------

#define TX_BUCKET_FIELD(Type, getter, setter, field)    \
    Type TXS3BucketRequest::getter() const {            \
        std::lock_guard guard(bucketLock_);             \
        return field;                                   \
    }                                                   \
    void TXS3BucketRequest::setter(const Type& value) { \
        std::lock_guard guard(bucketLock_);             \
        field = value;                                  \
    }

TX_BUCKET_FIELD(std::string, bucket, setBucket, bucket_.bucket)
TX_BUCKET_FIELD(std::string, subResource, setSubResource, bucket_.subResource)
TX_BUCKET_FIELD(std::string, prefix, setPrefix, bucket_.prefix)
TX_BUCKET_FIELD(std::string, marker, setMarker, bucket_.marker)
TX_BUCKET_FIELD(std::string, delimiter, setDelimiter, bucket_.delimiter)

int TXS3BucketRequest::maxResultCount() const {
    std::lock_guard guard(bucketLock_);
    return bucket_.maxResultCount;
}

void TXS3BucketRequest::setMaxResultCount(int count) {
    std::lock_guard guard(bucketLock_);
    bucket_.maxResultCount = count;
}

std::vector<TXS3BucketObject> TXS3BucketRequest::objects() const {
    std::lock_guard guard(bucketLock_);
    return listing_.objects;
}

std::vector<std::string> TXS3BucketRequest::commonPrefixes() const {
    std::lock_guard guard(bucketLock_);
    return listing_.commonPrefixes;
}

bool TXS3BucketRequest::isTruncated() const {
    std::lock_guard guard(bucketLock_);
    return listing_.isTruncated;
}

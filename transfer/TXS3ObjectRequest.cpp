#include "transfer/TXS3ObjectRequest.h"

TXS3ObjectRequest::TXS3ObjectRequest(const std::optional<base::Url>& url) : TXS3Request(url) {}

std::shared_ptr<TXS3ObjectRequest> TXS3ObjectRequest::requestWithBucket(const std::string& bucket,
                                                                        const std::string& key) {
    return make<TXS3ObjectRequest>(bucket, key);
}

std::shared_ptr<TXS3ObjectRequest> TXS3ObjectRequest::requestWithBucket(
    const std::string& bucket, const std::string& key, const std::string& subResource) {
    auto request = make<TXS3ObjectRequest>(bucket, key);
    request->setSubResource(subResource);
    return request;
}

std::shared_ptr<TXS3ObjectRequest> TXS3ObjectRequest::PUTRequestForData(const base::Data& data,
                                                                        const std::string& bucket,
                                                                        const std::string& key) {
    auto request = make<TXS3ObjectRequest>(bucket, key);
    request->appendPostData(data);
    request->setRequestMethod("PUT");
    return request;
}

std::shared_ptr<TXS3ObjectRequest> TXS3ObjectRequest::PUTRequestForFile(const std::string& path,
                                                                        const std::string& bucket,
                                                                        const std::string& key) {
    auto request = make<TXS3ObjectRequest>(bucket, key);
    request->setPostBodyFilePath(path);
    request->setShouldStreamPostDataFromDisk(true);
    request->setRequestMethod("PUT");
    request->setMimeType(mimeTypeForFileAtPath(path).value_or("application/octet-stream"));
    return request;
}

std::shared_ptr<TXS3ObjectRequest> TXS3ObjectRequest::DELETERequestWithBucket(
    const std::string& bucket, const std::string& key) {
    auto request = make<TXS3ObjectRequest>(bucket, key);
    request->setRequestMethod("DELETE");
    return request;
}

std::shared_ptr<TXS3ObjectRequest> TXS3ObjectRequest::HEADRequestWithBucket(
    const std::string& bucket, const std::string& key) {
    auto request = make<TXS3ObjectRequest>(bucket, key);
    request->setRequestMethod("HEAD");
    return request;
}

std::shared_ptr<TXS3ObjectRequest> TXS3ObjectRequest::COPYRequestFromBucket(
    const std::string& sourceBucket, const std::string& sourceKey, const std::string& bucket,
    const std::string& key) {
    auto request = make<TXS3ObjectRequest>(bucket, key);
    request->setRequestMethod("PUT");
    request->setSourceBucket(sourceBucket);
    request->setSourceKey(sourceKey);
    return request;
}

void TXS3ObjectRequest::copyConfigurationInto(TXHTTPRequest& other) const {
    TXS3Request::copyConfigurationInto(other);
    copySettingsInto(objectLock_, object_, other, &TXS3ObjectRequest::objectLock_,
                     &TXS3ObjectRequest::object_);
}

std::shared_ptr<TXHTTPRequest> TXS3ObjectRequest::copy() const {
    return configuredCopy(std::shared_ptr<TXS3ObjectRequest>(new TXS3ObjectRequest(url())));
}

std::shared_ptr<TXHTTPRequest> TXS3ObjectRequest::HEADRequest() {
    ensureURL();  // with its sub-resource, which the companion signs too
    auto head = std::shared_ptr<TXS3ObjectRequest>(new TXS3ObjectRequest(url()));
    copyHeadConfigurationInto(*head);
    head->setAccessKey(accessKey());
    head->setSecretAccessKey(secretAccessKey());
    head->setBucket(bucket());
    head->setKey(key());
    return head;
}

// ---- addressing and signing -------------------------------------------------

void TXS3ObjectRequest::buildURL() {
    std::string text =
        requestScheme() + "://" + bucket() + "." + S3Host() + stringByURLEncodingForS3Path(key());
    std::optional<std::string> sub = subResource();
    setURL(base::Url::parse(sub ? text + "?" + *sub : text));
}

std::string TXS3ObjectRequest::canonicalizedResource() const {
    std::string resource = "/" + bucket() + stringByURLEncodingForS3Path(key());
    std::string sub = subResource().value_or("");
    return sub.empty() ? resource : resource + "?" + sub;
}

TXS3Signer::Headers TXS3ObjectRequest::S3Headers() const {
    TXS3Signer::Headers headers = TXS3Request::S3Headers();
    if (auto source = sourceKey()) {
        headers.emplace_back("x-amz-copy-source",
                             sourceBucket() + stringByURLEncodingForS3Path(*source));
    }
    if (std::string storage = storageClass(); !storage.empty()) {
        headers.emplace_back("x-amz-storage-class", storage);
    }
    return headers;
}

bool TXS3ObjectRequest::isUpload() const {
    return requestMethod() == "PUT" && !sourceKey();
}

std::string TXS3ObjectRequest::stringToSignForHeaders(const std::string& canonicalHeaders,
                                                      const std::string& resource) {
    if (!isUpload()) {
        return TXS3Request::stringToSignForHeaders(canonicalHeaders, resource);
    }
    std::string type = mimeType();
    addRequestHeader("Content-Type", type);
    return TXS3Signer::stringToSign("PUT", type, dateString(), canonicalHeaders, resource);
}

std::string TXS3ObjectRequest::mimeType() const {
    {
        std::lock_guard guard(objectLock_);
        if (!object_.mimeType.empty()) {
            return object_.mimeType;
        }
    }
    std::string body = postBodyFilePath();
    if (!body.empty()) {
        if (auto type = mimeTypeForFileAtPath(body)) {
            return *type;
        }
    }
    return "application/octet-stream";
}

// ---- fields -----------------------------------------------------------------

void TXS3ObjectRequest::setMimeType(const std::string& type) {
    std::lock_guard guard(objectLock_);
    object_.mimeType = type;
}
std::string TXS3ObjectRequest::bucket() const {
    std::lock_guard guard(objectLock_);
    return object_.bucket;
}
void TXS3ObjectRequest::setBucket(const std::string& bucket) {
    std::lock_guard guard(objectLock_);
    object_.bucket = bucket;
}
std::string TXS3ObjectRequest::key() const {
    std::lock_guard guard(objectLock_);
    return object_.key;
}
void TXS3ObjectRequest::setKey(const std::string& key) {
    std::lock_guard guard(objectLock_);
    object_.key = key;
}
std::string TXS3ObjectRequest::sourceBucket() const {
    std::lock_guard guard(objectLock_);
    return object_.sourceBucket;
}
void TXS3ObjectRequest::setSourceBucket(const std::string& bucket) {
    std::lock_guard guard(objectLock_);
    object_.sourceBucket = bucket;
}
std::optional<std::string> TXS3ObjectRequest::sourceKey() const {
    std::lock_guard guard(objectLock_);
    return object_.sourceKey;
}
void TXS3ObjectRequest::setSourceKey(const std::optional<std::string>& key) {
    std::lock_guard guard(objectLock_);
    object_.sourceKey = key;
}
std::optional<std::string> TXS3ObjectRequest::subResource() const {
    std::lock_guard guard(objectLock_);
    return object_.subResource;
}
void TXS3ObjectRequest::setSubResource(const std::optional<std::string>& subResource) {
    std::lock_guard guard(objectLock_);
    object_.subResource = subResource;
}
std::string TXS3ObjectRequest::storageClass() const {
    std::lock_guard guard(objectLock_);
    return object_.storageClass;
}
void TXS3ObjectRequest::setStorageClass(const std::string& storageClass) {
    std::lock_guard guard(objectLock_);
    object_.storageClass = storageClass;
}

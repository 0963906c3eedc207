#include "transfer/TXS3BucketObject.h"

#include "base/Format.h"
#include "transfer/TXS3Bucket.h"
#include "transfer/TXS3ObjectRequest.h"

TXS3BucketObject TXS3BucketObject::objectWithBucket(const std::string& bucket) {
    TXS3BucketObject object;
    object.bucket_ = bucket;
    return object;
}

std::shared_ptr<TXS3ObjectRequest> TXS3BucketObject::GETRequest() const {
    return TXS3ObjectRequest::requestWithBucket(bucket_, key_);
}

std::shared_ptr<TXS3ObjectRequest> TXS3BucketObject::PUTRequestWithFile(
    const std::string& path) const {
    return TXS3ObjectRequest::PUTRequestForFile(path, bucket_, key_);
}

std::shared_ptr<TXS3ObjectRequest> TXS3BucketObject::DELETERequest() const {
    auto request = TXS3ObjectRequest::requestWithBucket(bucket_, key_);
    request->setRequestMethod("DELETE");
    return request;
}

std::string TXS3BucketObject::description() const {
    return base::format("Key: %@ lastModified: %@ ETag: %@ size: %llu ownerID: %@ ownerName: %@",
                        key_, TXS3Bucket::describeDate(lastModified_), ETag_,
                        static_cast<unsigned long long>(size_), ownerID_, ownerName_);
}

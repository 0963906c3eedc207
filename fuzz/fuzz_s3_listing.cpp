// Bucket and service listing replies: any bytes must parse or be refused without a
// crash, and every object read must belong to the bucket asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "transfer/TXS3BucketRequest.h"
#include "transfer/TXS3ServiceRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view xml(reinterpret_cast<const char*>(data), size);
    if (auto listing = TXS3BucketRequest::parseListing(xml, "fuzz")) {
        for (const auto& object : listing->objects) {
            if (object.bucket() != "fuzz") {
                abort();
            }
            (void)object.description();
        }
    }
    if (auto listing = TXS3ServiceRequest::parseListing(xml)) {
        for (const auto& bucket : listing->buckets) (void)bucket.description();
    }
    return 0;
}

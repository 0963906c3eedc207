#include "transfer/OWTXS3SegmentedRequest.h"

#include <sys/stat.h>
#include <unistd.h>

#include "base/Console.h"
#include "base/Format.h"

std::shared_ptr<OWTXS3SegmentedRequest> OWTXS3SegmentedRequest::PUTRequestForSegment(
    const std::string& path, OWTXS3ByteRange dataRange, const std::string& bucket,
    const std::string& key) {
    auto request = make<OWTXS3SegmentedRequest>(bucket, key);
    request->filePath_ = path;
    request->dataRange_ = dataRange;
    request->setShouldStreamPostDataFromDisk(true);
    request->setRequestMethod("PUT");
    request->setMimeType(mimeTypeForFileAtPath(path).value_or("application/octet-stream"));
    return request;
}

// The part is sent straight from its range of the file, read as it goes out: no copy
// of it is made, so a part costs neither a second write and read of its bytes nor
// their room in the temporary folder.
bool OWTXS3SegmentedRequest::readFileData() {
    base::Console::log("append post data from file");
    struct stat st {};
    if (::stat(filePath_.c_str(), &st) != 0 || ::access(filePath_.c_str(), R_OK) != 0 ||
        static_cast<uint64_t>(st.st_size) < dataRange_.location + dataRange_.length) {
        failWithError(
            TXMakeError(TXErrorCode::FileManagement,
                        base::format("Failed to read from file at path '%@'", filePath_)));
        return false;
    }
    setPostBodyFileRange(filePath_, dataRange_.location, dataRange_.length);
    return !error();
}

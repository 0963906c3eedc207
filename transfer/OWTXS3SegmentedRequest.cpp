#include "transfer/OWTXS3SegmentedRequest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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

bool OWTXS3SegmentedRequest::readFileData() {
    base::Console::log("append post data from file");
    setupPostBody();
    auto fail = [this] {
        failWithError(
            TXMakeError(TXErrorCode::FileManagement,
                        base::format("Failed to read from file at path '%@'", filePath_)));
        return false;
    };
    int fd = ::open(filePath_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return fail();
    }
    base::Data chunk(kReadChunk);
    uint64_t remaining = dataRange_.length;
    auto offset = static_cast<off_t>(dataRange_.location);
    while (remaining > 0) {
        size_t want = remaining < kReadChunk ? static_cast<size_t>(remaining) : kReadChunk;
        ssize_t n = ::pread(fd, chunk.data(), want, offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        appendPostData(base::Data(chunk.begin(), chunk.begin() + n));
        remaining -= static_cast<uint64_t>(n);
        offset += n;
    }
    ::close(fd);
    if (remaining > 0) {
        return fail();
    }
    return !error();
}

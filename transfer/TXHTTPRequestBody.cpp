// Request bodies: appending in memory or to a temporary file, compression, the
// length and method rules, the body stream of each transfer and temporary files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "base/Path.h"
#include "base/UniqueFd.h"
#include "platform/crypto/Base64.h"
#include "support/OWLocalPaths.h"
#include "transfer/TXDataCompressor.h"
#include "transfer/TXHTTPRequestState.h"
#include "transfer/TXInputStream.h"

namespace {

constexpr size_t kChunk = 262144;

// A new empty owner-only file in the private temporary folder; its descriptor
// and path, or -1.
int makeTemporaryFile(std::string& path) {
    std::string pattern = OWLocalPaths::tempDirectory() + "/txbody-XXXXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    int fd = ::mkstemp(buf.data());
    if (fd >= 0) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        path = buf.data();
    }
    return fd;
}

std::optional<uint64_t> fileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

base::Error fileAttributesError(const std::string& path) {
    return TXMakeError(TXErrorCode::FileManagement,
                       "Failed to get attributes for file at path '" + path + "'");
}

}  // namespace

void TXHTTPRequest::setupPostBody() {
    std::lock_guard guard(s_->lock);
    State& s = *s_;
    if (!s.streamFromDisk)
        return;
    if (s.postBodyFilePath.empty()) {
        s.postBodyWriteFd = makeTemporaryFile(s.postBodyFilePath);
        s.didCreateTemporaryPostDataFile = s.postBodyWriteFd >= 0;
        return;
    }
    if (s.postBodyWriteFd < 0) {
        s.postBodyWriteFd =
            ::open(s.postBodyFilePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }
}

void TXHTTPRequest::setPostBodyFileRange(const std::string& path, uint64_t offset,
                                         uint64_t length) {
    std::lock_guard guard(s_->lock);
    s_->streamFromDisk = true;
    s_->postBodyFilePath = path;
    s_->postBodyFileRange = State::FileRange{offset, length};
}

void TXHTTPRequest::appendPostData(const base::Data& data) {
    std::lock_guard guard(s_->lock);
    setupPostBody();
    if (data.empty())
        return;
    if (s_->streamFromDisk) {
        if (s_->postBodyWriteFd < 0 ||
            !base::writeFully(s_->postBodyWriteFd, data.data(), data.size())) {
            failWithError(
                TXMakeError(TXErrorCode::FileManagement,
                            "Failed to write to file at path '" + s_->postBodyFilePath + "'"));
        }
        return;
    }
    s_->postBody.insert(s_->postBody.end(), data.begin(), data.end());
}

void TXHTTPRequest::appendPostData(std::string_view data) {
    appendPostData(base::Data(data.begin(), data.end()));
}

// A file that cannot be read must not turn into a shorter body that is sent as if
// it were whole: the request fails instead.
bool TXHTTPRequest::appendPostDataFromFile(const std::string& path) {
    std::lock_guard guard(s_->lock);
    setupPostBody();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        failWithError(TXMakeError(TXErrorCode::FileManagement,
                                  "Failed to get attributes for file at path '" + path + "'"));
        return false;
    }
    base::Data chunk(kChunk);
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        appendPostData(base::Data(chunk.begin(), chunk.begin() + n));
    }
    ::close(fd);
    if (!ok) {
        failWithError(TXMakeError(TXErrorCode::FileManagement,
                                  "Failed to read from file at path '" + path + "'"));
    }
    return ok && !s_->error;
}

bool TXHTTPRequest::State::closePostBodyWriteStream() {
    if (postBodyWriteFd < 0)
        return true;
    bool ok = ::close(postBodyWriteFd) == 0;
    postBodyWriteFd = -1;
    return ok;
}

void TXHTTPRequest::buildPostBody() {
    std::lock_guard guard(s_->lock);
    State& s = *s_;
    if (s.haveBuiltPostBody)
        return;
    if (s.postBodyFileRange && !s.postBodyFilePath.empty()) {
        auto size = fileSize(s.postBodyFilePath);
        if (!size || *size < s.postBodyFileRange->offset + s.postBodyFileRange->length ||
            s.compressBody) {
            failWithError(
                TXMakeError(TXErrorCode::FileManagement,
                            "Failed to read from file at path '" + s.postBodyFilePath + "'"));
            return;
        }
        s.postLength = s.postBodyFileRange->length;
    } else if (!s.postBodyFilePath.empty()) {
        s.closePostBodyWriteStream();
        const std::string* measured = &s.postBodyFilePath;
        if (s.compressBody) {
            if (s.compressedPostBodyFilePath.empty() || !fileSize(s.compressedPostBodyFilePath)) {
                int fd = makeTemporaryFile(s.compressedPostBodyFilePath);
                if (fd >= 0)
                    ::close(fd);
                std::optional<base::Error> err;
                if (!TXDataCompressor::compressDataFromFile(s.postBodyFilePath,
                                                            s.compressedPostBodyFilePath, &err)) {
                    failWithError(err.value_or(TXDataCompressor::deflateErrorWithCode(-1)));
                    return;
                }
            }
            measured = &s.compressedPostBodyFilePath;
        }
        auto size = fileSize(*measured);
        if (!size) {
            failWithError(fileAttributesError(*measured));
            return;
        }
        s.postLength = *size;
    } else if (s.compressBody && !s.postBody.empty()) {
        std::optional<base::Error> err;
        auto compressed = TXDataCompressor::compressData(s.postBody, &err);
        if (!compressed) {
            failWithError(err.value_or(TXDataCompressor::deflateErrorWithCode(-1)));
            return;
        }
        s.compressedPostBody = std::move(*compressed);
        s.postLength = s.compressedPostBody.size();
    } else {
        s.postLength = s.postBody.size();
    }
    if (s.postLength > 0) {
        if (s.method == "GET" || s.method == "DELETE" || s.method == "HEAD")
            s.method = "POST";
        s.requestHeaders.set("Content-Length", std::to_string(s.postLength));
    } else if (s.method == "PUT" || s.method == "POST") {
        // An upload of nothing still states its length: servers refuse a PUT or POST
        // without one, and the transport will not send a body it cannot measure.
        s.requestHeaders.set("Content-Length", "0");
    }
    s.haveBuiltPostBody = true;
}

std::shared_ptr<platform::net::BodyStream> TXHTTPRequest::State::makeBodyStream() {
    std::weak_ptr<TXHTTPRequest> weak = self();
    auto hook = [weak] {
        if (auto me = weak.lock())
            me->s_->performThrottling();
    };
    base::RunLoop* l = loop;
    auto clock = [l] { return (l ? l : &base::RunLoop::current())->clock()->monotonic(); };
    if (streamFromDisk && postBodyFileRange) {
        if (postBodyFileRange->length == 0)
            return nullptr;
        auto body = TXInputStream::inputStreamWithFileRange(
            postBodyFilePath, postBodyFileRange->offset, postBodyFileRange->length, hook, clock);
        if (!body) {
            r.failWithError(
                TXMakeError(TXErrorCode::BuildingRequest, "Unable to create read stream"));
        }
        return body;
    }
    if (streamFromDisk && !postBodyFilePath.empty() && fileSize(postBodyFilePath)) {
        const std::string& path =
            !compressedPostBodyFilePath.empty() && fileSize(compressedPostBodyFilePath)
                ? compressedPostBodyFilePath
                : postBodyFilePath;
        auto body = TXInputStream::inputStreamWithFileAtPath(path, hook, clock);
        if (!body) {
            r.failWithError(
                TXMakeError(TXErrorCode::BuildingRequest, "Unable to create read stream"));
        }
        return body;
    }
    if (!postBody.empty()) {
        const base::Data& data =
            compressBody && !compressedPostBody.empty() ? compressedPostBody : postBody;
        return TXInputStream::inputStreamWithData(data, hook, clock);
    }
    return nullptr;
}

// A body file we could not delete is only litter: the transfer itself worked, so
// it is logged rather than turned into a failure.
void TXHTTPRequest::State::removeTemporaryBodyFiles() {
    if (!didCreateTemporaryPostDataFile)
        return;
    for (std::string* path : {&postBodyFilePath, &compressedPostBodyFilePath}) {
        if (path->empty())
            continue;
        if (auto failed = removeFileAtPath(*path)) {
            std::fprintf(stderr, "TXHTTPRequest: %s\n", failed->localizedDescription().c_str());
        }
        path->clear();
    }
    didCreateTemporaryPostDataFile = false;
}

bool TXHTTPRequest::removeTemporaryUploadFile() {
    std::lock_guard guard(s_->lock);
    if (auto failed = removeFileAtPath(s_->postBodyFilePath)) {
        failWithError(*failed);
        return false;
    }
    s_->postBodyFilePath.clear();
    return true;
}

bool TXHTTPRequest::removeTemporaryCompressedUploadFile() {
    std::lock_guard guard(s_->lock);
    if (auto failed = removeFileAtPath(s_->compressedPostBodyFilePath)) {
        failWithError(*failed);
        return false;
    }
    s_->compressedPostBodyFilePath.clear();
    return true;
}

std::optional<base::Error> TXHTTPRequest::removeFileAtPath(const std::string& path) {
    if (path.empty() || ::unlink(path.c_str()) == 0 || errno == ENOENT)
        return std::nullopt;
    base::Error underlying =
        base::Error::withDescription("NSPOSIXErrorDomain", errno, std::strerror(errno));
    return TXMakeError(TXErrorCode::FileManagement, "Failed to delete file at path '" + path + "'",
                       &underlying);
}

std::string TXHTTPRequest::base64forData(const base::Data& data) {
    return platform::crypto::Base64::encode(data);
}

// The built-in table comes first so that the type (which S3 signs) does not
// depend on what the machine has installed.
std::optional<std::string> TXHTTPRequest::mimeTypeForFileAtPath(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    static const std::map<std::string, std::string> builtIn = {
        {"mov", "video/quicktime"}, {"mp4", "video/mp4"},          {"m4v", "video/x-m4v"},
        {"zip", "application/zip"}, {"png", "image/png"},          {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},     {"gif", "image/gif"},          {"tif", "image/tiff"},
        {"tiff", "image/tiff"},     {"pdf", "application/pdf"},    {"txt", "text/plain"},
        {"xml", "application/xml"}, {"fcpxml", "application/xml"}, {"json", "application/json"},
        {"mp3", "audio/mpeg"},      {"wav", "audio/wav"},          {"aif", "audio/aiff"},
        {"aiff", "audio/aiff"},
    };
    std::string ext = base::pathExtension(path);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext.empty())
        return "application/octet-stream";
    if (auto it = builtIn.find(ext); it != builtIn.end())
        return it->second;
    std::ifstream types("/etc/mime.types");
    std::string line;
    while (std::getline(types, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream words(line);
        std::string type, word;
        words >> type;
        while (words >> word) {
            if (word == ext)
                return type;
        }
    }
    return "application/octet-stream";
}

#include "platform/xml/Document.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/UniqueFd.h"
#include "platform/xml/XmlErrorCapture.h"

namespace platform::xml {
namespace {

// Reads at most `cap` + 1 bytes, so an oversized file is noticed without reading it all.
std::optional<std::string> readCapped(const std::string& path, size_t cap, std::string& error) {
    base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "Not a regular file";
        return std::nullopt;
    }
    std::string bytes;
    char buffer[64 * 1024];
    while (bytes.size() <= cap) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = std::strerror(errno);
            return std::nullopt;
        }
        if (n == 0) {
            return bytes;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    error = "The document is too large";
    return std::nullopt;
}

}  // namespace

Document::ParseResult Document::parse(std::string_view bytes) {
    ParseResult result;
    if (bytes.size() > kMaxDocumentBytes) {
        result.error = "The document is too large";
        return result;
    }
    XmlErrorCapture::initialiseLibrary();
    XmlErrorCapture capture;
    xmlDoc* doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                                XML_PARSE_NONET);
    if (doc == nullptr) {
        result.error = capture.firstMessage().empty() ? "The document is not well-formed XML"
                                                      : capture.firstMessage();
        return result;
    }
    result.document = Document(std::shared_ptr<xmlDoc>(doc, xmlFreeDoc));
    return result;
}

Document::ParseResult Document::parseFile(const std::string& path) {
    ParseResult result;
    auto bytes = readCapped(path, kMaxDocumentBytes, result.error);
    if (!bytes) {
        return result;
    }
    return parse(*bytes);
}

Node Document::documentNode() const {
    return Node(doc_, reinterpret_cast<xmlNode*>(doc_.get()));
}

Node Document::rootElement() const {
    return documentNode().rootElement();
}

std::string Document::xmlString() const {
    return documentNode().xmlString();
}

}  // namespace platform::xml

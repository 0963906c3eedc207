#include "platform/net/HttpResponseParser.h"

#include <algorithm>
#include <cstring>

#include "base/Hex.h"
#include "platform/net/NetError.h"
#include "platform/net/NetText.h"

namespace platform::net {
namespace {

using base::hexValue;
using text::lower;
using text::trim;

// Content-Length may be repeated ("5, 5") but every copy must be the same
// plain decimal number; anything else is a framing attack or a broken server.
std::optional<uint64_t> parseContentLength(const std::string& value) {
    std::optional<uint64_t> result;
    size_t start = 0;
    while (start <= value.size()) {
        size_t comma = value.find(',', start);
        std::string item = trim(std::string_view(value).substr(start, comma - start));
        if (item.empty() || item.size() > 18 ||
            item.find_first_not_of("0123456789") != std::string::npos) {
            return std::nullopt;
        }
        uint64_t n = std::stoull(item);
        if (result && *result != n)
            return std::nullopt;
        result = n;
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return result;
}

}  // namespace

HttpResponseParser::HttpResponseParser(bool bodyless) : HttpResponseParser(bodyless, Limits{}) {}

HttpResponseParser::HttpResponseParser(bool bodyless, Limits limits)
    : limits_(limits), bodyless_(bodyless) {}

void HttpResponseParser::fail(int code, const std::string& why) {
    if (!error_)
        error_ = httpError(code, why);
    state_ = State::Failed;
}

bool HttpResponseParser::takeLine(const uint8_t* data, size_t n, size_t& used, std::string& line,
                                  size_t cap) {
    const uint8_t* start = data + used;
    const void* lf = std::memchr(start, '\n', n - used);
    size_t take = lf ? static_cast<const uint8_t*>(lf) - start + 1 : n - used;
    if (line_.size() + take > cap) {
        fail(kHttpHeaderTooLarge, "The response header block is too large");
        used = n;
        return false;
    }
    line_.append(reinterpret_cast<const char*>(start), take);
    used += take;
    if (state_ == State::StatusLine || state_ == State::Fields || state_ == State::Trailers) {
        headBytes_ += take;
        if (headBytes_ > limits_.maxHeaderBytes) {
            fail(kHttpHeaderTooLarge, "The response header block is too large");
            return false;
        }
    }
    if (!lf)
        return false;
    line_.pop_back();
    if (!line_.empty() && line_.back() == '\r')
        line_.pop_back();
    line = std::move(line_);
    line_.clear();
    return true;
}

size_t HttpResponseParser::consume(const uint8_t* data, size_t n, base::Data& body) {
    size_t used = 0;
    if (n > 0)
        sawAnyByte_ = true;
    std::string line;
    while (used < n && state_ != State::Done && state_ != State::Failed) {
        switch (state_) {
            case State::StatusLine:
                if (takeLine(data, n, used, line, limits_.maxHeaderBytes))
                    onStatusLine(line);
                break;
            case State::Fields:
                if (!takeLine(data, n, used, line, limits_.maxHeaderBytes))
                    break;
                if (line.empty()) {
                    onHeadEnd();
                } else {
                    onFieldLine(line, head_.headers);
                }
                break;
            case State::Body:
            case State::ChunkData: {
                size_t take = n - used;
                if (framing_ != Framing::UntilClose) {
                    take = static_cast<size_t>(std::min<uint64_t>(take, remaining_));
                }
                body.insert(body.end(), data + used, data + used + take);
                used += take;
                bodyBytes_ += take;
                if (framing_ != Framing::UntilClose)
                    remaining_ -= take;
                if (remaining_ == 0 && framing_ == Framing::Length)
                    completeMessage();
                if (remaining_ == 0 && state_ == State::ChunkData)
                    state_ = State::ChunkEnd;
                break;
            }
            case State::ChunkSize:
                if (takeLine(data, n, used, line, limits_.maxChunkLine))
                    onChunkSizeLine(line);
                break;
            case State::ChunkEnd:
                if (!takeLine(data, n, used, line, limits_.maxChunkLine))
                    break;
                if (!line.empty()) {
                    fail(kHttpBadResponse, "A chunk of the response did not end where it said");
                } else {
                    state_ = State::ChunkSize;
                }
                break;
            case State::Trailers:
                if (!takeLine(data, n, used, line, limits_.maxHeaderBytes))
                    break;
                if (line.empty()) {
                    completeMessage();
                } else {
                    onFieldLine(line, trailers_);
                }
                break;
            case State::Done:
            case State::Failed:
                break;
        }
    }
    return used;
}

void HttpResponseParser::onStatusLine(const std::string& line) {
    // "HTTP/1.1 200 OK"; the reason may be empty and its space may be missing.
    if (line.size() < 12 || line.compare(0, 5, "HTTP/") != 0 ||
        !std::isdigit((unsigned char)line[5]) || line[6] != '.' ||
        !std::isdigit((unsigned char)line[7]) || line[8] != ' ' ||
        !std::isdigit((unsigned char)line[9]) || !std::isdigit((unsigned char)line[10]) ||
        !std::isdigit((unsigned char)line[11]) || (line.size() > 12 && line[12] != ' ')) {
        fail(kHttpBadResponse, "The server's status line is not HTTP/1.x");
        return;
    }
    head_ = HttpResponseHead{};
    head_.versionMajor = line[5] - '0';
    head_.versionMinor = line[7] - '0';
    head_.statusCode = std::stoi(line.substr(9, 3));
    head_.statusLine = line;
    head_.reason = line.size() > 13 ? line.substr(13) : std::string();
    if (head_.versionMajor != 1 || head_.statusCode < 100) {
        fail(kHttpBadResponse, "The server's status line is not HTTP/1.x");
        return;
    }
    if (line.find('\0') != std::string::npos) {
        fail(kHttpBadResponse, "The server's status line holds a NUL byte");
        return;
    }
    state_ = State::Fields;
}

void HttpResponseParser::onFieldLine(const std::string& line, HttpHeaders& into) {
    if (line[0] == ' ' || line[0] == '\t') {
        fail(kHttpBadResponse, "The response folds a header line");
        return;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos ||
        !HttpHeaders::isToken(std::string_view(line).substr(0, colon))) {
        fail(kHttpBadResponse, "The response has a malformed header line");
        return;
    }
    if (line.find('\0') != std::string::npos) {
        fail(kHttpBadResponse, "The response has a NUL byte in a header");
        return;
    }
    if (head_.headers.size() + trailers_.size() >= limits_.maxHeaderFields) {
        fail(kHttpHeaderTooLarge, "The response has too many header fields");
        return;
    }
    into.add(line.substr(0, colon), trim(std::string_view(line).substr(colon + 1)));
}

void HttpResponseParser::onHeadEnd() {
    int status = head_.statusCode;
    if (status >= 100 && status < 200) {
        if (status == 101 || ++interim_ > limits_.maxInterimResponses) {
            fail(kHttpBadResponse, "The server sent an unexpected interim response");
            return;
        }
        head_ = HttpResponseHead{};
        state_ = State::StatusLine;
        return;
    }
    headDone_ = true;
    if (!decideFraming())
        return;
    switch (framing_) {
        case Framing::None:
            completeMessage();
            break;
        case Framing::Length:
            state_ = State::Body;
            if (remaining_ == 0)
                completeMessage();
            break;
        case Framing::Chunked:
            state_ = State::ChunkSize;
            break;
        case Framing::UntilClose:
        case Framing::Unknown:
            state_ = State::Body;
            break;
    }
}

bool HttpResponseParser::decideFraming() {
    int status = head_.statusCode;
    if (bodyless_ || status == 204 || status == 304) {
        framing_ = Framing::None;
        return true;
    }
    auto te = head_.headers.get("Transfer-Encoding");
    auto cl = head_.headers.get("Content-Length");
    if (te && cl) {
        fail(kHttpBadResponse, "The response has both Content-Length and Transfer-Encoding");
        return false;
    }
    if (te) {
        std::string codings = lower(*te);
        size_t lastComma = codings.rfind(',');
        std::string last =
            trim(lastComma == std::string::npos ? codings : codings.substr(lastComma + 1));
        framing_ = last == "chunked" ? Framing::Chunked : Framing::UntilClose;
        return true;
    }
    if (cl) {
        auto length = parseContentLength(*cl);
        if (!length) {
            fail(kHttpBadResponse, "The response has an invalid Content-Length");
            return false;
        }
        framing_ = Framing::Length;
        remaining_ = *length;
        return true;
    }
    framing_ = Framing::UntilClose;
    return true;
}

void HttpResponseParser::onChunkSizeLine(const std::string& line) {
    uint64_t size = 0;
    size_t i = 0;
    for (; i < line.size() && hexValue(line[i]) >= 0; ++i) {
        if (size > (UINT64_MAX >> 4) || i >= 16) {
            fail(kHttpBadResponse, "A chunk size of the response overflows");
            return;
        }
        size = (size << 4) | static_cast<uint64_t>(hexValue(line[i]));
    }
    // After the digits only white space or a chunk extension may follow.
    if (i == 0 || (i < line.size() && line[i] != ';' && line[i] != ' ' && line[i] != '\t')) {
        fail(kHttpBadResponse, "The response has a malformed chunk size");
        return;
    }
    if (size == 0) {
        state_ = State::Trailers;
        return;
    }
    remaining_ = size;
    state_ = State::ChunkData;
}

void HttpResponseParser::finish() {
    if (state_ == State::Done || state_ == State::Failed)
        return;
    if (state_ == State::Body && framing_ == Framing::UntilClose) {
        completeMessage();
        return;
    }
    fail(kHttpTruncated, headDone_ ? "The connection closed before the response body ended"
                                   : "The connection closed before a complete response head");
}

}  // namespace platform::net

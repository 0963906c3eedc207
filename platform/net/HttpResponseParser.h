#pragma once
// Incremental HTTP/1.x response parser: feed it the bytes as they arrive and it
// yields the head and the decoded body (chunked, Content-Length or up to the end
// of the connection). Interim 1xx responses are skipped. Everything it accepts is
// capped, and whatever breaks the message rules ends in an error, never a guess.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/Error.h"
#include "base/Value.h"
#include "platform/net/HttpResponseHead.h"

namespace platform::net {

class HttpResponseParser {
  public:
    struct Limits {
        size_t maxHeaderBytes = 64 * 1024;  // status line, fields and line ends together
        size_t maxHeaderFields = 200;
        size_t maxInterimResponses = 16;
        size_t maxChunkLine = 4096;
    };
    enum class Framing { Unknown, None, Length, Chunked, UntilClose };

    // `bodyless` is set for answers that never have a body whatever their head
    // says: a HEAD request, or the reply to a CONNECT that opened a tunnel.
    explicit HttpResponseParser(bool bodyless = false);
    HttpResponseParser(bool bodyless, Limits limits);

    // Consumes up to `n` bytes and appends decoded body bytes to `body`. Stops at
    // the end of the message; answers how many bytes it took. Bytes left over
    // after a complete message belong to nobody (the connection is then unusable).
    size_t consume(const uint8_t* data, size_t n, base::Data& body);
    // The peer closed the connection: ends a body delimited by the close, else
    // records a truncation error.
    void finish();

    bool headComplete() const { return headDone_; }
    const HttpResponseHead& head() const { return head_; }
    bool complete() const { return state_ == State::Done; }
    bool failed() const { return error_.has_value(); }
    const std::optional<base::Error>& error() const { return error_; }
    Framing framing() const { return framing_; }
    const HttpHeaders& trailers() const { return trailers_; }
    bool sawAnyByte() const { return sawAnyByte_; }
    uint64_t bodyBytes() const { return bodyBytes_; }

  private:
    enum class State {
        StatusLine,
        Fields,
        Body,
        ChunkSize,
        ChunkData,
        ChunkEnd,
        Trailers,
        Done,
        Failed
    };

    bool takeLine(const uint8_t* data, size_t n, size_t& used, std::string& line, size_t cap);
    void onStatusLine(const std::string& line);
    void onFieldLine(const std::string& line, HttpHeaders& into);
    void onHeadEnd();
    bool decideFraming();
    void onChunkSizeLine(const std::string& line);
    void fail(int code, const std::string& why);
    void completeMessage() { state_ = State::Done; }

    Limits limits_;
    bool bodyless_;
    State state_ = State::StatusLine;
    HttpResponseHead head_;
    HttpHeaders trailers_;
    std::string line_;
    size_t headBytes_ = 0;
    size_t interim_ = 0;
    bool headDone_ = false;
    bool sawAnyByte_ = false;
    Framing framing_ = Framing::Unknown;
    uint64_t remaining_ = 0;
    uint64_t bodyBytes_ = 0;
    std::optional<base::Error> error_;
};

}  // namespace platform::net

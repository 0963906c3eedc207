#pragma once
// One HTTP/1.1 exchange over a non-blocking connection, driven by the run loop it
// is scheduled on: name resolution (on a helper thread), connecting directly or
// through a SOCKS5 or HTTP proxy (CONNECT tunnel for https), TLS, writing the
// request and its body, reading the response. It reports three events, like a
// read stream: bytes available, error, end. The caller reads the decoded body
// with read(); taking the stream off its run loop (unschedule) pauses it, which
// is how the engine throttles. It moves bytes and parses messages; redirects,
// cookies, authentication and retries are the engine's.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Error.h"
#include "base/RunLoop.h"
#include "platform/net/BodyStream.h"
#include "platform/net/Connection.h"
#include "platform/net/ConnectionCache.h"
#include "platform/net/HttpRequestMessage.h"
#include "platform/net/HttpResponseParser.h"
#include "platform/net/ProxyEntry.h"
#include "platform/net/Resolver.h"
#include "platform/net/Socks5Handshake.h"
#include "platform/net/TlsSettings.h"

namespace platform::net {

class HttpReadStream : public std::enable_shared_from_this<HttpReadStream> {
  public:
    enum class Event { BytesAvailable = 2, ErrorOccurred = 8, EndEncountered = 16 };
    enum class Status { NotOpen, Opening, Open, AtEnd, Closed, Error };

    struct Options {
        ProxyEntry proxy;  // direct unless set
        TlsSettings tls;
        // Take an idle connection of the same record and target, and leave this
        // one idle for the next request when the server allows it.
        bool persistent = false;
        uint64_t connectionId = 0;
        size_t maxBufferedBody = 256 * 1024;  // reading pauses above this
    };

    static std::shared_ptr<HttpReadStream> create(HttpRequestMessage message,
                                                  std::shared_ptr<BodyStream> body,
                                                  Options options);
    static std::shared_ptr<HttpReadStream> create(HttpRequestMessage message,
                                                  std::shared_ptr<BodyStream> body = nullptr);
    ~HttpReadStream();
    HttpReadStream(const HttpReadStream&) = delete;
    HttpReadStream& operator=(const HttpReadStream&) = delete;

    // Called on the run loop's thread, in the scheduled modes only.
    void setClient(std::function<void(Event)> client) { client_ = std::move(client); }
    void schedule(base::RunLoop& loop, const base::RunLoopMode& mode);
    void unschedule(const base::RunLoopMode& mode);
    bool isScheduled() const { return loop_ && !modes_.empty(); }

    // Starts the exchange; false (with error()) when the request cannot be sent.
    bool open();
    // Ends the exchange; no events follow. An idle kept-alive connection that
    // this stream left in the cache is closed too, unless another stream took it.
    void close();

    // Decoded body bytes; 0 when none are buffered now.
    size_t read(uint8_t* buf, size_t n);
    bool hasBytesAvailable() const { return bodyOffset_ < body_.size(); }
    // The response head once it is complete, else null.
    const HttpResponseHead* responseHead() const;
    uint64_t requestBodyBytesWritten() const { return bodyWritten_; }
    // What the first write of the body left queued in the kernel, taken when that
    // write returned: the part of the body the socket swallowed at once, which says
    // nothing about progress. None before that write.
    std::optional<uint64_t> initialSendBufferFill() const { return initialSendBufferFill_; }
    // Bytes written to the socket that its peer has not acknowledged yet; 0 without
    // a connection.
    uint64_t unacknowledgedOutput() const { return conn_ ? conn_->queuedOutput() : 0; }
    const std::optional<base::Error>& error() const { return error_; }
    Status status() const;
    // The exchange ran on a connection an earlier request had used.
    bool reusedConnection() const { return reused_; }
    // The loop the stream was opened or scheduled on; none before. The stream is not
    // thread-safe: it is used, and closed, on that loop's thread.
    base::RunLoop* runLoop() const { return loop_; }
    const HttpRequestMessage& message() const { return message_; }

  private:
    enum class Phase {
        Idle,
        Resolving,
        Connecting,
        SocksGreeting,
        SocksRequest,
        ProxyConnect,
        TlsHandshake,
        SendingHead,
        SendingBody,
        Receiving,
        Done,
        Failed,
        Closed
    };
    enum class Step { Again, Block };

    HttpReadStream(HttpRequestMessage message, std::shared_ptr<BodyStream> body, Options options);

    bool viaHttpProxy() const { return options_.proxy.type == ProxyEntry::Type::Http; }
    bool tunnels() const { return viaHttpProxy() && message_.url().isSecure(); }
    ConnectionKey key() const;

    void startResolving();
    void onResolved(Resolver::Result result);
    Step stepConnect();
    Step connectNext();
    Step afterConnected();
    Step stepSocks();
    Step stepProxyConnect();
    Step stepTls();
    Step stepSendHead();
    Step stepSendBody();
    Step stepReceive();
    Step flushOutput();
    Step readSome(std::function<Step(const uint8_t*, size_t)> consume);
    bool handOverConnectReply();
    void finishExchange();
    void fail(base::Error error);
    void leaveLoop();
    bool isStale(const base::Error& error) const;

    void advance();
    void onReady(uint32_t events);
    void updateInterest();
    void deliver();
    void kick();

    HttpRequestMessage message_;
    std::shared_ptr<BodyStream> bodySource_;
    Options options_;
    std::function<void(Event)> client_;
    uint64_t token_;

    base::RunLoop* loop_ = nullptr;
    std::vector<base::RunLoopMode> modes_;
    // Declared after loop_: they leave the loop when the stream goes.
    base::RunLoop::Source source_;
    base::RunLoop::Timer kickTimer_;

    Phase phase_ = Phase::Idle;
    bool wantWrite_ = false;  // what the phase waits for
    std::vector<SocketAddress> addresses_;
    size_t nextAddress_ = 0;
    std::optional<base::Error> connectError_;
    std::unique_ptr<Connection> conn_;
    bool reused_ = false;

    std::string out_;
    size_t outOffset_ = 0;
    std::unique_ptr<Socks5Handshake> socks_;
    std::unique_ptr<HttpResponseParser> connectParser_;
    std::string connectReply_;

    uint64_t bodyLength_ = 0;
    uint64_t bodyWritten_ = 0;
    std::optional<uint64_t> initialSendBufferFill_;
    std::vector<uint8_t> chunk_;
    size_t chunkOffset_ = 0;
    bool requestSent_ = false;

    std::unique_ptr<HttpResponseParser> parser_;
    base::Data body_;
    size_t bodyOffset_ = 0;
    bool leftover_ = false;

    std::optional<base::Error> error_;
    bool errorReported_ = false;
    bool endReported_ = false;
    bool delivering_ = false;
};

}  // namespace platform::net

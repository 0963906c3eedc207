#include "platform/net/HttpReadStream.h"

#include <fcntl.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <mutex>

#include "platform/net/NetError.h"

namespace platform::net {
namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kBodyChunk = 64 * 1024;

std::atomic<uint64_t> nextToken{1};

// TLS writes go through write(2), which raises SIGPIPE on a closed socket; a
// network client must never die of that.
void ignoreSigpipeOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            signal(SIGPIPE, SIG_IGN);
        }
    });
}

bool isTwoHundred(int status) {
    return status >= 200 && status < 300;
}

std::optional<uint64_t> contentLength(const HttpRequestMessage& m) {
    auto v = m.header("Content-Length");
    if (!v)
        return std::nullopt;
    uint64_t n = 0;
    auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), n);
    if (ec != std::errc() || end != v->data() + v->size())
        return std::nullopt;
    return n;
}

}  // namespace

std::shared_ptr<HttpReadStream> HttpReadStream::create(HttpRequestMessage message,
                                                       std::shared_ptr<BodyStream> body,
                                                       Options options) {
    return std::shared_ptr<HttpReadStream>(
        new HttpReadStream(std::move(message), std::move(body), std::move(options)));
}

std::shared_ptr<HttpReadStream> HttpReadStream::create(HttpRequestMessage message,
                                                       std::shared_ptr<BodyStream> body) {
    return create(std::move(message), std::move(body), Options());
}

HttpReadStream::HttpReadStream(HttpRequestMessage message, std::shared_ptr<BodyStream> body,
                               Options options)
    : message_(std::move(message)),
      bodySource_(std::move(body)),
      options_(std::move(options)),
      token_(nextToken++) {}

HttpReadStream::~HttpReadStream() {
    client_ = nullptr;
    source_.reset();  // before the connection below closes its descriptor
    if (phase_ == Phase::Done)
        ConnectionCache::shared().closeOwnedBy(token_);
}

ConnectionKey HttpReadStream::key() const {
    const Url& u = message_.url();
    std::string proxy = "DIRECT";
    if (viaHttpProxy())
        proxy = "http " + options_.proxy.describe();
    if (options_.proxy.type == ProxyEntry::Type::Socks)
        proxy = "socks " + options_.proxy.describe();
    return {options_.connectionId, u.scheme(), u.host(), u.effectivePort(), proxy};
}

// ---- scheduling -------------------------------------------------------------

void HttpReadStream::schedule(base::RunLoop& loop, const base::RunLoopMode& mode) {
    if (loop_ && loop_ != &loop) {
        source_.reset();
        kickTimer_.reset();
        modes_.clear();
    }
    loop_ = &loop;
    if (std::find(modes_.begin(), modes_.end(), mode) == modes_.end())
        modes_.push_back(mode);
    source_.setModes(modes_);
    updateInterest();
    kick();  // whatever arrived while we were off the loop
}

void HttpReadStream::unschedule(const base::RunLoopMode& mode) {
    std::erase(modes_, mode);
    if (!loop_)
        return;
    if (modes_.empty()) {
        source_.reset();
        kickTimer_.reset();
    } else {
        source_.setModes(modes_);
    }
}

void HttpReadStream::updateInterest() {
    if (!loop_)
        return;
    bool active = conn_ && isScheduled() && phase_ != Phase::Done && phase_ != Phase::Failed &&
                  phase_ != Phase::Closed && phase_ != Phase::Resolving;
    if (!active) {
        source_.reset();
        return;
    }
    uint32_t events = wantWrite_ ? EPOLLOUT : EPOLLIN;
    if (phase_ == Phase::SendingHead || phase_ == Phase::SendingBody)
        events |= EPOLLIN;
    if (phase_ == Phase::Receiving && body_.size() - bodyOffset_ >= options_.maxBufferedBody) {
        events = 0;  // the reader is behind: let the socket buffers fill up
    }
    if (source_) {
        source_.setEvents(events);
        return;
    }
    std::weak_ptr<HttpReadStream> weak = weak_from_this();
    source_ = loop_->makeSource(
        conn_->fd(), events,
        [weak](uint32_t ready) {
            if (auto self = weak.lock())
                self->onReady(ready);
        },
        modes_);
}

void HttpReadStream::kick() {
    if (!isScheduled() || kickTimer_)
        return;
    std::weak_ptr<HttpReadStream> weak = weak_from_this();
    kickTimer_ = loop_->makeTimer(
        0, 0,
        [weak] {
            auto self = weak.lock();
            if (!self)
                return;
            self->kickTimer_.reset();  // fired: a later kick() may arm it again
            self->advance();
        },
        modes_);
}

void HttpReadStream::onReady(uint32_t) {
    advance();
}

// ---- opening and closing ----------------------------------------------------

bool HttpReadStream::open() {
    if (phase_ != Phase::Idle)
        return false;
    ignoreSigpipeOnce();
    if (!loop_)
        loop_ = &base::RunLoop::current();
    // A request refused here fails open() itself; no error event follows.
    auto refuse = [this](base::Error e) {
        fail(std::move(e));
        errorReported_ = true;
        return false;
    };
    if (auto bad = message_.validate())
        return refuse(*bad);
    const std::string& scheme = message_.url().scheme();
    if (scheme != "http" && scheme != "https") {
        return refuse(httpError(kHttpUnsupported, "Cannot speak " + scheme));
    }
    auto length = contentLength(message_);
    if (bodySource_ && !length) {
        return refuse(httpError(kHttpBodyMismatch, "A request body needs a Content-Length"));
    }
    bodyLength_ = bodySource_ ? *length : 0;
    // A proxy password goes to an HTTP proxy only, and to a tunnel's CONNECT only.
    if (!viaHttpProxy() || tunnels()) {
        auto proxyAuth = message_.header("Proxy-Authorization");
        message_.headers().remove("Proxy-Authorization");
        if (tunnels() && proxyAuth)
            connectReply_ = *proxyAuth;  // kept until the CONNECT is written
    }
    if (options_.persistent)
        conn_ = ConnectionCache::shared().take(key());
    if (conn_) {
        reused_ = true;
        phase_ = Phase::SendingHead;
        out_.clear();
        kick();
        updateInterest();
        return true;
    }
    startResolving();
    return true;
}

void HttpReadStream::close() {
    // Take the stream off its loop first: a stream may be closed from another thread
    // (a synchronous request replacing a pooled stream of the network thread), and
    // removal waits for a callback running there, so nothing reads the state below
    // while it changes.
    source_.reset();
    kickTimer_.reset();
    bool parked = phase_ == Phase::Done;
    phase_ = Phase::Closed;
    client_ = nullptr;
    conn_.reset();
    if (parked)
        ConnectionCache::shared().closeOwnedBy(token_);
}

HttpReadStream::Status HttpReadStream::status() const {
    switch (phase_) {
        case Phase::Idle:
            return Status::NotOpen;
        case Phase::Resolving:
        case Phase::Connecting:
        case Phase::SocksGreeting:
        case Phase::SocksRequest:
        case Phase::ProxyConnect:
        case Phase::TlsHandshake:
            return Status::Opening;
        case Phase::Done:
            return hasBytesAvailable() ? Status::Open : Status::AtEnd;
        case Phase::Failed:
            return Status::Error;
        case Phase::Closed:
            return Status::Closed;
        default:
            return Status::Open;
    }
}

const HttpResponseHead* HttpReadStream::responseHead() const {
    return parser_ && parser_->headComplete() ? &parser_->head() : nullptr;
}

size_t HttpReadStream::read(uint8_t* buf, size_t n) {
    size_t take = std::min(n, body_.size() - bodyOffset_);
    std::copy_n(body_.begin() + static_cast<ptrdiff_t>(bodyOffset_), take, buf);
    bodyOffset_ += take;
    if (bodyOffset_ == body_.size()) {
        body_.clear();
        bodyOffset_ = 0;
    } else if (bodyOffset_ > body_.size() / 2 && bodyOffset_ > kReadChunk) {
        body_.erase(body_.begin(), body_.begin() + static_cast<ptrdiff_t>(bodyOffset_));
        bodyOffset_ = 0;
    }
    if (phase_ == Phase::Receiving)
        updateInterest();
    if (!delivering_ && (phase_ == Phase::Receiving || (phase_ == Phase::Done && !endReported_))) {
        kick();
    }
    return take;
}

// ---- the exchange -----------------------------------------------------------

void HttpReadStream::startResolving() {
    phase_ = Phase::Resolving;
    const Url& u = message_.url();
    std::string host = options_.proxy.isDirect() ? u.host() : options_.proxy.host;
    uint16_t port = options_.proxy.isDirect() ? u.effectivePort() : options_.proxy.port;
    std::weak_ptr<HttpReadStream> weak = weak_from_this();
    Resolver::resolve(host, port, *loop_, [weak](Resolver::Result r) {
        if (auto self = weak.lock())
            self->onResolved(std::move(r));
    });
}

void HttpReadStream::onResolved(Resolver::Result result) {
    if (phase_ != Phase::Resolving)
        return;
    if (auto* e = std::get_if<base::Error>(&result)) {
        fail(*e);
    } else {
        addresses_ = std::get<std::vector<SocketAddress>>(std::move(result));
        phase_ = Phase::Connecting;
        connectNext();
    }
    updateInterest();
    if (isScheduled())
        advance();
}

HttpReadStream::Step HttpReadStream::connectNext() {
    leaveLoop();  // a new descriptor needs a new source
    conn_.reset();
    while (nextAddress_ < addresses_.size()) {
        const SocketAddress& a = addresses_[nextAddress_++];
        int fd = ::socket(a.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            connectError_ = posixError(errno, "socket");
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        conn_ = std::make_unique<Connection>(fd);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&a.storage), a.length) == 0 ||
            errno == EINPROGRESS) {
            wantWrite_ = true;
            return Step::Block;
        }
        connectError_ = posixError(errno, "connect");
        conn_.reset();
    }
    fail(connectError_.value_or(posixError(EHOSTUNREACH, "connect")));
    return Step::Block;
}

HttpReadStream::Step HttpReadStream::stepConnect() {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(conn_->fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    if (err == EINPROGRESS || err == EALREADY)
        return Step::Block;
    if (err == 0) {
        // A non-blocking connect reports writability with no error once done;
        // make sure it really is connected.
        sockaddr_storage peer{};
        socklen_t plen = sizeof peer;
        if (getpeername(conn_->fd(), reinterpret_cast<sockaddr*>(&peer), &plen) != 0) {
            if (errno == ENOTCONN)
                return Step::Block;
            err = errno;
        }
    }
    if (err != 0) {
        connectError_ = posixError(err, "connect");
        return connectNext();
    }
    return afterConnected();
}

HttpReadStream::Step HttpReadStream::afterConnected() {
    if (options_.proxy.type == ProxyEntry::Type::Socks) {
        socks_ = std::make_unique<Socks5Handshake>(message_.url().host(),
                                                   message_.url().effectivePort());
        out_ = socks_->greeting();
        outOffset_ = 0;
        phase_ = Phase::SocksGreeting;
    } else if (tunnels()) {
        const Url& u = message_.url();
        out_ = "CONNECT " + u.hostAndPort() + " HTTP/1.1\r\nHost: " + u.hostAndPort() + "\r\n";
        if (!connectReply_.empty())
            out_ += "Proxy-Authorization: " + connectReply_ + "\r\n";
        if (auto ua = message_.header("User-Agent"))
            out_ += "User-Agent: " + *ua + "\r\n";
        out_ += "\r\n";
        outOffset_ = 0;
        connectReply_.clear();
        connectParser_ = std::make_unique<HttpResponseParser>(true);
        phase_ = Phase::ProxyConnect;
    } else if (message_.url().isSecure()) {
        phase_ = Phase::TlsHandshake;
    } else {
        phase_ = Phase::SendingHead;
    }
    wantWrite_ = false;
    return Step::Again;
}

HttpReadStream::Step HttpReadStream::flushOutput() {
    while (outOffset_ < out_.size()) {
        size_t n = 0;
        std::optional<base::Error> err;
        IoResult r = conn_->write(out_.data() + outOffset_, out_.size() - outOffset_, n, err);
        if (r == IoResult::Done) {
            outOffset_ += n;
            continue;
        }
        if (r == IoResult::WantWrite || r == IoResult::WantRead) {
            wantWrite_ = r == IoResult::WantWrite;
            return Step::Block;
        }
        fail(err.value_or(posixError(EPIPE, "send")));
        return Step::Block;
    }
    out_.clear();
    outOffset_ = 0;
    wantWrite_ = false;
    return Step::Again;
}

HttpReadStream::Step HttpReadStream::readSome(std::function<Step(const uint8_t*, size_t)> consume) {
    uint8_t buf[4096];
    size_t n = 0;
    std::optional<base::Error> err;
    IoResult r = conn_->read(buf, sizeof buf, n, err);
    if (r == IoResult::Done)
        return consume(buf, n);
    if (r == IoResult::WantRead || r == IoResult::WantWrite) {
        wantWrite_ = r == IoResult::WantWrite;
        return Step::Block;
    }
    fail(err.value_or(httpError(kHttpBadProxyReply, "The proxy closed the connection")));
    return Step::Block;
}

HttpReadStream::Step HttpReadStream::stepSocks() {
    if (!out_.empty()) {
        if (flushOutput() == Step::Block)
            return Step::Block;
    }
    return readSome([this](const uint8_t* data, size_t n) {
        size_t used = 0;
        switch (socks_->consume(data, n, used)) {
            case Socks5Handshake::Step::NeedMore:
                return Step::Again;
            case Socks5Handshake::Step::SendRequest: {
                auto request = socks_->request();
                if (!request) {
                    fail(httpError(kHttpBadProxyReply, "The host name is too long for SOCKS"));
                    return Step::Block;
                }
                out_ = *request;
                outOffset_ = 0;
                phase_ = Phase::SocksRequest;
                return Step::Again;
            }
            case Socks5Handshake::Step::Done:
                if (used != n) {
                    fail(httpError(kHttpBadProxyReply,
                                   "The SOCKS proxy sent bytes before the server"));
                    return Step::Block;
                }
                phase_ = message_.url().isSecure() ? Phase::TlsHandshake : Phase::SendingHead;
                return Step::Again;
            case Socks5Handshake::Step::Failed:
                fail(*socks_->error());
                return Step::Block;
        }
        return Step::Block;
    });
}

HttpReadStream::Step HttpReadStream::stepProxyConnect() {
    if (!out_.empty()) {
        if (flushOutput() == Step::Block)
            return Step::Block;
    }
    return readSome([this](const uint8_t* data, size_t n) {
        connectReply_.append(reinterpret_cast<const char*>(data), n);
        base::Data ignored;
        size_t used = connectParser_->consume(data, n, ignored);
        if (connectParser_->failed()) {
            fail(*connectParser_->error());
            return Step::Block;
        }
        if (!connectParser_->headComplete())
            return Step::Again;
        if (isTwoHundred(connectParser_->head().statusCode)) {
            if (used != n) {
                fail(httpError(kHttpBadProxyReply, "The proxy sent bytes before the server"));
                return Step::Block;
            }
            connectReply_.clear();
            phase_ = Phase::TlsHandshake;
            return Step::Again;
        }
        return handOverConnectReply() ? Step::Again : Step::Block;
    });
}

// The proxy refused the tunnel (407 and the like): its answer becomes the
// response, read with its own framing, and the connection dies with it.
bool HttpReadStream::handOverConnectReply() {
    options_.persistent = false;
    requestSent_ = false;
    parser_ = std::make_unique<HttpResponseParser>(false);
    std::string raw;
    raw.swap(connectReply_);
    size_t used = parser_->consume(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), body_);
    if (used != raw.size())
        leftover_ = true;
    phase_ = Phase::Receiving;
    if (parser_->failed()) {
        fail(*parser_->error());
        return false;
    }
    if (parser_->complete())
        finishExchange();
    return true;
}

HttpReadStream::Step HttpReadStream::stepTls() {
    if (!conn_->tls()) {
        base::Error error = sslError(kSslProtocolError, "TLS");
        auto session = TlsSession::create(conn_->fd(), message_.url().host(), options_.tls, error);
        if (!session) {
            fail(error);
            return Step::Block;
        }
        conn_->startTls(std::move(session));
    }
    switch (conn_->tls()->handshake()) {
        case IoResult::Done:
            phase_ = Phase::SendingHead;
            wantWrite_ = false;
            return Step::Again;
        case IoResult::WantRead:
            wantWrite_ = false;
            return Step::Block;
        case IoResult::WantWrite:
            wantWrite_ = true;
            return Step::Block;
        default:
            fail(conn_->tls()->error().value_or(
                sslError(kSslProtocolError, "TLS handshake failed")));
            return Step::Block;
    }
}

HttpReadStream::Step HttpReadStream::stepSendHead() {
    if (out_.empty()) {
        out_ = message_.serializeHead(viaHttpProxy() && !tunnels()
                                          ? HttpRequestMessage::Target::Absolute
                                          : HttpRequestMessage::Target::Origin);
        outOffset_ = 0;
        parser_ = std::make_unique<HttpResponseParser>(message_.method() == "HEAD");
    }
    if (flushOutput() == Step::Block)
        return Step::Block;
    phase_ = bodyLength_ > 0 ? Phase::SendingBody : Phase::Receiving;
    if (phase_ == Phase::Receiving)
        requestSent_ = true;
    conn_->countRequest();
    return Step::Again;
}

HttpReadStream::Step HttpReadStream::stepSendBody() {
    while (bodyWritten_ < bodyLength_) {
        if (chunkOffset_ == chunk_.size()) {
            size_t want =
                static_cast<size_t>(std::min<uint64_t>(kBodyChunk, bodyLength_ - bodyWritten_));
            chunk_.resize(want);
            ssize_t got = bodySource_->read(chunk_.data(), want);
            if (got <= 0) {
                fail(httpError(kHttpBodyMismatch,
                               got < 0 ? "The request body could not be read"
                                       : "The request body ended before its Content-Length"));
                return Step::Block;
            }
            chunk_.resize(static_cast<size_t>(got));
            chunkOffset_ = 0;
        }
        size_t n = 0;
        std::optional<base::Error> err;
        IoResult r =
            conn_->write(chunk_.data() + chunkOffset_, chunk_.size() - chunkOffset_, n, err);
        if (r == IoResult::Done) {
            chunkOffset_ += n;
            bodyWritten_ += n;
            if (!initialSendBufferFill_)
                initialSendBufferFill_ = std::min<uint64_t>(n, conn_->queuedOutput());
            continue;
        }
        if (r == IoResult::WantWrite || r == IoResult::WantRead) {
            wantWrite_ = r == IoResult::WantWrite;
            return Step::Block;
        }
        // The server may have answered and closed early (a 401 or 413 before
        // the body): read what it said before calling this a failure.
        phase_ = Phase::Receiving;
        options_.persistent = false;
        connectError_ = err;
        wantWrite_ = false;
        return Step::Again;
    }
    requestSent_ = true;
    phase_ = Phase::Receiving;
    wantWrite_ = false;
    return Step::Again;
}

bool HttpReadStream::isStale(const base::Error& error) const {
    if (!reused_ || (parser_ && parser_->sawAnyByte()))
        return false;
    return error.domain() == kPosixErrorDomain &&
           (error.code() == ECONNRESET || error.code() == EPIPE);
}

HttpReadStream::Step HttpReadStream::stepReceive() {
    if (body_.size() - bodyOffset_ >= options_.maxBufferedBody)
        return Step::Block;
    uint8_t buf[kReadChunk];
    size_t n = 0;
    std::optional<base::Error> err;
    IoResult r = conn_->read(buf, sizeof buf, n, err);
    switch (r) {
        case IoResult::Done: {
            size_t used = parser_->consume(buf, n, body_);
            if (parser_->failed()) {
                fail(*parser_->error());
                return Step::Block;
            }
            if (used != n)
                leftover_ = true;
            if (parser_->complete()) {
                finishExchange();
                return Step::Block;
            }
            return Step::Again;
        }
        case IoResult::WantRead:
        case IoResult::WantWrite:
            wantWrite_ = r == IoResult::WantWrite;
            return Step::Block;
        case IoResult::Closed:
            if (reused_ && !parser_->sawAnyByte()) {
                fail(connectionLostError("The server closed the kept-alive connection"));
                return Step::Block;
            }
            if (!parser_->sawAnyByte() && connectError_) {
                fail(*connectError_);  // the write failure, now that no answer came
                return Step::Block;
            }
            parser_->finish();
            if (parser_->failed()) {
                fail(*parser_->error());
                return Step::Block;
            }
            options_.persistent = false;
            finishExchange();
            return Step::Block;
        default: {
            base::Error e = err.value_or(posixError(ECONNRESET, "recv"));
            fail(isStale(e) ? connectionLostError(e.localizedDescription()) : e);
            return Step::Block;
        }
    }
}

void HttpReadStream::finishExchange() {
    const HttpResponseHead& head = parser_->head();
    // A server may answer before it has read the whole body (a refusal, a redirect);
    // an answer of success to a body that did not go out whole would pass a short
    // upload off as stored.
    if (bodyWritten_ < bodyLength_ && isTwoHundred(head.statusCode)) {
        fail(httpError(kHttpBodyMismatch, "The server answered " + std::to_string(head.statusCode) +
                                              " after " + std::to_string(bodyWritten_) + " of " +
                                              std::to_string(bodyLength_) +
                                              " bytes of the request body"));
        return;
    }
    phase_ = Phase::Done;
    bool reusable =
        options_.persistent && requestSent_ && !leftover_ && head.allowsKeepAlive() &&
        parser_->framing() != HttpResponseParser::Framing::UntilClose &&
        message_.headers().get("Connection").value_or("").find("close") == std::string::npos;
    leaveLoop();
    if (reusable && conn_) {
        ConnectionCache::shared().put(key(), std::move(conn_), token_);
    }
    conn_.reset();
}

void HttpReadStream::fail(base::Error error) {
    if (phase_ == Phase::Closed)
        return;
    if (!error_)
        error_ = std::move(error);
    phase_ = Phase::Failed;
    leaveLoop();
    conn_.reset();
}

// The source goes before its descriptor is closed: once closed, the number may be
// handed to another socket at once, and the loop would be told about that one.
void HttpReadStream::leaveLoop() {
    source_.reset();
}

void HttpReadStream::advance() {
    auto self = shared_from_this();  // the client may let go of us in a callback
    if (!isScheduled())
        return;
    for (int rounds = 0; rounds < 64; ++rounds) {
        Step step = Step::Block;
        switch (phase_) {
            case Phase::Connecting:
                step = stepConnect();
                break;
            case Phase::SocksGreeting:
            case Phase::SocksRequest:
                step = stepSocks();
                break;
            case Phase::ProxyConnect:
                step = stepProxyConnect();
                break;
            case Phase::TlsHandshake:
                step = stepTls();
                break;
            case Phase::SendingHead:
                step = stepSendHead();
                break;
            case Phase::SendingBody:
                step = stepSendBody();
                if (step == Step::Block && phase_ == Phase::SendingBody) {
                    // An early answer ends the upload.
                    if (conn_->hasEarlyInput()) {
                        options_.persistent = false;
                        phase_ = Phase::Receiving;
                        step = Step::Again;
                    }
                }
                break;
            case Phase::Receiving:
                step = stepReceive();
                break;
            default:
                break;
        }
        if (step == Step::Block)
            break;
    }
    updateInterest();
    deliver();
    // Decrypted bytes waiting inside TLS raise no socket event.
    if (phase_ == Phase::Receiving && conn_ && conn_->hasBufferedInput() &&
        body_.size() - bodyOffset_ < options_.maxBufferedBody) {
        kick();
    }
}

void HttpReadStream::deliver() {
    if (delivering_ || !isScheduled() || !client_)
        return;
    delivering_ = true;
    auto client = client_;
    if (phase_ == Phase::Failed) {
        if (!errorReported_) {
            errorReported_ = true;
            client(Event::ErrorOccurred);
        }
    } else if (hasBytesAvailable() && phase_ != Phase::Closed) {
        client(Event::BytesAvailable);
        if (phase_ != Phase::Closed && (hasBytesAvailable() || phase_ == Phase::Done))
            kick();
    } else if (phase_ == Phase::Done && !endReported_) {
        endReported_ = true;
        client(Event::EndEncountered);
    }
    delivering_ = false;
}

}  // namespace platform::net

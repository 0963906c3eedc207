#include "platform/net/TlsSession.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/crypto/OpenSsl.h"
#include "platform/net/NetError.h"

namespace platform::net {

namespace {
// OpenSSL without its clean-up at exit, set up before this file first calls it.
[[maybe_unused]] const bool kOpenSslReady = (platform::crypto::initOpenSsl(), true);
}  // namespace
namespace {

std::string lastSslError(const char* fallback) {
    unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (e == 0)
        return fallback;
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

bool isIpLiteral(const std::string& host) {
    unsigned char buf[16];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// Contexts are costly to make (the system trust store is read each time), so
// the ones without a client identity are kept per trust source.
SSL_CTX* makeContext(const TlsSettings& settings, base::Error& error) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        error = sslError(kSslProtocolError, lastSslError("Cannot create a TLS context"));
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    bool trusted = settings.caFile.empty()
                       ? SSL_CTX_set_default_verify_paths(ctx) == 1
                       : SSL_CTX_load_verify_locations(ctx, settings.caFile.c_str(), nullptr) == 1;
    if (!trusted && settings.validatesCertificateChain) {
        error =
            sslError(kSslCertificateInvalid, lastSslError("Cannot load the trusted certificates"));
        SSL_CTX_free(ctx);
        return nullptr;
    }
    if (const auto& id = settings.identity) {
        bool ok = SSL_CTX_use_certificate(ctx, id->certificate()) == 1 &&
                  SSL_CTX_use_PrivateKey(ctx, id->key()) == 1;
        for (int i = 0; ok && id->chain() && i < sk_X509_num((STACK_OF(X509)*)id->chain()); ++i) {
            X509* c = sk_X509_value((STACK_OF(X509)*)id->chain(), i);
            ok = SSL_CTX_add1_chain_cert(ctx, c) == 1;
        }
        if (!ok) {
            error = sslError(kSslProtocolError, lastSslError("Cannot use the client certificate"));
            SSL_CTX_free(ctx);
            return nullptr;
        }
    }
    return ctx;
}

SSL_CTX* contextFor(const TlsSettings& settings, base::Error& error) {
    if (settings.identity)
        return makeContext(settings, error);  // owned by the SSL below
    // Kept for the life of the process and never destroyed, so no connection
    // still closing at exit finds its context gone.
    static std::mutex mutex;
    static auto* cache = new std::map<std::string, SSL_CTX*>;
    constexpr size_t kMaxCached = 16;
    std::lock_guard lock(mutex);
    std::string key = settings.caFile + (settings.validatesCertificateChain ? "|v" : "|n");
    auto it = cache->find(key);
    if (it == cache->end()) {
        SSL_CTX* ctx = makeContext(settings, error);
        if (!ctx || cache->size() >= kMaxCached)
            return ctx;  // not kept; the session owns it
        it = cache->emplace(key, ctx).first;
    }
    SSL_CTX_up_ref(it->second);
    return it->second;
}

}  // namespace

ClientIdentity::~ClientIdentity() {
    X509_free(cert_);
    EVP_PKEY_free(key_);
    if (chain_)
        sk_X509_pop_free((STACK_OF(X509)*)chain_, X509_free);
}

std::shared_ptr<ClientIdentity> ClientIdentity::fromPemFiles(const std::string& certificateFile,
                                                             const std::string& keyFile,
                                                             std::optional<base::Error>* error) {
    std::shared_ptr<ClientIdentity> id(new ClientIdentity);
    FILE* cf = fopen(certificateFile.c_str(), "r");
    FILE* kf = fopen(keyFile.c_str(), "r");
    if (cf) {
        id->cert_ = PEM_read_X509(cf, nullptr, nullptr, nullptr);
        STACK_OF(X509)* chain = sk_X509_new_null();
        while (X509* extra = PEM_read_X509(cf, nullptr, nullptr, nullptr))
            sk_X509_push(chain, extra);
        id->chain_ = (STACK_OF_X509*)chain;
        fclose(cf);
    }
    if (kf) {
        id->key_ = PEM_read_PrivateKey(kf, nullptr, nullptr, nullptr);
        fclose(kf);
    }
    ERR_clear_error();
    if (!id->cert_ || !id->key_) {
        if (error)
            *error = sslError(kSslProtocolError, "Cannot read the client identity");
        return nullptr;
    }
    return id;
}

TlsSession::~TlsSession() {
    SSL_free(ssl_);
}

std::unique_ptr<TlsSession> TlsSession::create(int fd, const std::string& host,
                                               const TlsSettings& settings, base::Error& error) {
    SSL_CTX* ctx = contextFor(settings, error);
    if (!ctx)
        return nullptr;
    std::unique_ptr<TlsSession> s(new TlsSession);
    s->ssl_ = SSL_new(ctx);
    SSL_CTX_free(ctx);  // the session holds its own reference
    if (!s->ssl_ || SSL_set_fd(s->ssl_, fd) != 1) {
        error = sslError(kSslProtocolError, lastSslError("Cannot create a TLS session"));
        return nullptr;
    }
    const std::string& name = settings.peerName.empty() ? host : settings.peerName;
    bool literal = isIpLiteral(name);
    if (!literal)
        SSL_set_tlsext_host_name(s->ssl_, name.c_str());
    if (settings.validatesCertificateChain) {
        SSL_set_verify(s->ssl_, SSL_VERIFY_PEER, nullptr);
        X509_VERIFY_PARAM* param = SSL_get0_param(s->ssl_);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        bool ok = literal ? X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) == 1
                          : X509_VERIFY_PARAM_set1_host(param, name.c_str(), 0) == 1;
        if (!ok) {
            error = sslError(kSslCertificateInvalid, "Cannot check the server name " + name);
            return nullptr;
        }
    } else {
        SSL_set_verify(s->ssl_, SSL_VERIFY_NONE, nullptr);
    }
    SSL_set_connect_state(s->ssl_);
    return s;
}

IoResult TlsSession::translate(int ret, bool handshaking) {
    int err = SSL_get_error(ssl_, ret);
    switch (err) {
        case SSL_ERROR_WANT_READ:
            return IoResult::WantRead;
        case SSL_ERROR_WANT_WRITE:
            return IoResult::WantWrite;
        case SSL_ERROR_ZERO_RETURN:
            return IoResult::Closed;
        case SSL_ERROR_SYSCALL:
            if (errno == 0 || ERR_peek_error() == 0) {
                if (errno != 0 && errno != EAGAIN) {
                    error_ = posixError(errno, "TLS transport");
                    return IoResult::Failed;
                }
                if (handshaking) {
                    error_ = sslError(kSslClosedAbort,
                                      "The server closed the connection during the TLS handshake");
                    return IoResult::Failed;
                }
                return IoResult::Closed;
            }
            [[fallthrough]];
        default: {
            long verify = SSL_get_verify_result(ssl_);
            if (handshaking && verify != X509_V_OK) {
                ERR_clear_error();
                error_ = sslError(kSslCertificateInvalid,
                                  std::string("The server certificate is not trusted: ") +
                                      X509_verify_cert_error_string(verify));
            } else {
                error_ = sslError(handshaking ? kSslPeerRejectedUs : kSslProtocolError,
                                  lastSslError("TLS failure"));
            }
            return IoResult::Failed;
        }
    }
}

IoResult TlsSession::handshake() {
    ERR_clear_error();
    errno = 0;
    int r = SSL_do_handshake(ssl_);
    return r == 1 ? IoResult::Done : translate(r, true);
}

IoResult TlsSession::read(void* buf, size_t len, size_t& n) {
    ERR_clear_error();
    errno = 0;
    int r = SSL_read_ex(ssl_, buf, len, &n);
    return r == 1 ? IoResult::Done : translate(r, false);
}

IoResult TlsSession::write(const void* buf, size_t len, size_t& n) {
    ERR_clear_error();
    errno = 0;
    int r = SSL_write_ex(ssl_, buf, len, &n);
    return r == 1 ? IoResult::Done : translate(r, false);
}

bool TlsSession::hasBufferedInput() const {
    return SSL_pending(ssl_) > 0;
}

bool TlsSession::hasApplicationData() {
    if (hasBufferedInput())
        return true;
    ERR_clear_error();
    errno = 0;
    unsigned char probe = 0;
    size_t n = 0;
    if (SSL_peek_ex(ssl_, &probe, 1, &n) == 1)
        return n > 0;
    // Nothing yet (WANT_READ), or an end or failure that the next write or read
    // meets and reports itself; the error it left is not this question's.
    ERR_clear_error();
    return false;
}

}  // namespace platform::net

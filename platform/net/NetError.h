#pragma once
// Error domains of the transport. Every failure of a read stream carries one of
// these; the engine above decides what a failure means for its request.
#include <string>

#include "base/Error.h"

namespace platform::net {

// errno values of failed socket calls.
inline constexpr const char* kPosixErrorDomain = "NSPOSIXErrorDomain";
// TLS failures; codes in the range -9818 to -9800 so callers can tell them apart.
inline constexpr const char* kSslErrorDomain = "platform.net.ssl";
// getaddrinfo() failures; the code is the EAI_* value.
inline constexpr const char* kDnsErrorDomain = "platform.net.dns";
// A peer that broke the HTTP message rules, or a request we refused to send.
inline constexpr const char* kHttpErrorDomain = "platform.net.http";
// A kept-alive connection that the server had already closed when we reused it.
inline constexpr const char* kLostErrorDomain = "platform.net.lost";

enum SslErrorCode {
    kSslProtocolError = -9800,       // handshake or record failure
    kSslClosedAbort = -9806,         // the peer closed during the handshake
    kSslCertificateInvalid = -9807,  // chain or host name not trusted
    kSslPeerRejectedUs = -9810,      // the peer refused our certificate or protocol
};

enum HttpErrorCode {
    kHttpBadResponse = 1,     // malformed status line, header or framing
    kHttpHeaderTooLarge = 2,  // header block over its caps
    kHttpTruncated = 3,       // the connection ended inside a message
    kHttpBadRequest = 4,      // a request we refuse to write (bad header bytes)
    kHttpBadProxyReply = 5,   // a SOCKS or CONNECT proxy broke its protocol
    kHttpBodyMismatch = 6,    // the request body stream failed or ran short
    kHttpUnsupported = 7,     // a scheme or proxy kind we cannot speak
};

inline constexpr int kConnectionLostCode = -1005;

base::Error posixError(int err, const std::string& what);
base::Error sslError(int code, const std::string& description);
base::Error dnsError(int eaiCode, const std::string& host);
base::Error httpError(int code, const std::string& description);
base::Error connectionLostError(const std::string& description);

// True for the failures that mean "the server closed a kept-alive connection":
// the engine retries those once on a new connection.
bool isStaleConnectionError(const base::Error& error);

}  // namespace platform::net

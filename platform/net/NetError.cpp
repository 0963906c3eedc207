#include "platform/net/NetError.h"

#include <netdb.h>

#include <cstring>

namespace platform::net {

base::Error posixError(int err, const std::string& what) {
    return base::Error::withDescription(kPosixErrorDomain, err, what + ": " + std::strerror(err));
}

base::Error sslError(int code, const std::string& description) {
    return base::Error::withDescription(kSslErrorDomain, code, description);
}

base::Error dnsError(int eaiCode, const std::string& host) {
    return base::Error::withDescription(kDnsErrorDomain, eaiCode,
                                        "Cannot resolve " + host + ": " + gai_strerror(eaiCode));
}

base::Error httpError(int code, const std::string& description) {
    return base::Error::withDescription(kHttpErrorDomain, code, description);
}

base::Error connectionLostError(const std::string& description) {
    return base::Error::withDescription(kLostErrorDomain, kConnectionLostCode, description);
}

bool isStaleConnectionError(const base::Error& error) {
    return error.domain() == kLostErrorDomain && error.code() == kConnectionLostCode;
}

}  // namespace platform::net

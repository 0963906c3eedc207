#pragma once
// The status line and header fields of a response, as they arrived.
#include <string>

#include "platform/net/HttpHeaders.h"

namespace platform::net {

struct HttpResponseHead {
    int versionMajor = 1;
    int versionMinor = 1;
    int statusCode = 0;
    std::string statusLine;  // the whole first line, without its line end
    std::string reason;
    HttpHeaders headers;

    bool isHttp10() const { return versionMajor == 1 && versionMinor == 0; }
    // Whether the server lets this connection carry another request.
    bool allowsKeepAlive() const;
};

}  // namespace platform::net

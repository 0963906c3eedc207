#pragma once
// An HTTP/1.x request head: method, address, version and header fields. The body
// is not part of it; the read stream pulls it from the caller's body stream.
#include <optional>
#include <string>

#include "base/Error.h"
#include "platform/net/HttpHeaders.h"
#include "platform/net/Url.h"

namespace platform::net {

class HttpRequestMessage {
  public:
    enum class Version { Http10, Http11 };
    // Origin form ("GET /path HTTP/1.1") goes to servers and through tunnels;
    // absolute form ("GET http://host/path HTTP/1.1") goes to a plain HTTP proxy.
    enum class Target { Origin, Absolute };

    HttpRequestMessage(std::string method, Url url, Version version = Version::Http11);

    const std::string& method() const { return method_; }
    const Url& url() const { return url_; }
    Version version() const { return version_; }
    HttpHeaders& headers() { return headers_; }
    const HttpHeaders& headers() const { return headers_; }
    void setHeader(std::string name, std::string value) {
        headers_.set(std::move(name), std::move(value));
    }
    std::optional<std::string> header(std::string_view name) const { return headers_.get(name); }

    // None when the head can be written; else why not (a method that is no token,
    // a field name that is no token, CR, LF or NUL in a value).
    std::optional<base::Error> validate() const;
    // The head up to and including the empty line. "Host" is added when absent.
    // Only call after validate() found nothing.
    std::string serializeHead(Target target) const;

  private:
    std::string method_;
    Url url_;
    Version version_;
    HttpHeaders headers_;
};

}  // namespace platform::net

#include "platform/net/HttpRequestMessage.h"

#include "platform/net/NetError.h"

namespace platform::net {
namespace {

bool safeValue(const std::string& v) {
    return v.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

}  // namespace

HttpRequestMessage::HttpRequestMessage(std::string method, Url url, Version version)
    : method_(std::move(method)), url_(std::move(url)), version_(version) {}

std::optional<base::Error> HttpRequestMessage::validate() const {
    if (!HttpHeaders::isToken(method_)) {
        return httpError(kHttpBadRequest,
                         "Refusing to send a request with method \"" + method_ + "\"");
    }
    for (const auto& [name, value] : headers_.fields()) {
        if (!HttpHeaders::isToken(name) || !safeValue(value)) {
            return httpError(kHttpBadRequest,
                             "Refusing to send a header field that would break the message");
        }
    }
    return std::nullopt;
}

std::string HttpRequestMessage::serializeHead(Target target) const {
    std::string out;
    out.reserve(256);
    out += method_;
    out += ' ';
    out += target == Target::Absolute ? url_.absoluteString() : url_.pathAndQuery();
    out += version_ == Version::Http10 ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n";
    if (!headers_.contains("Host"))
        out += "Host: " + url_.authority() + "\r\n";
    for (const auto& [name, value] : headers_.fields()) {
        out += name;
        out += ": ";
        out += value;
        out += "\r\n";
    }
    out += "\r\n";
    return out;
}

}  // namespace platform::net

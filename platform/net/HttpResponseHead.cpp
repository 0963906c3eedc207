#include "platform/net/HttpResponseHead.h"

#include <sstream>

namespace platform::net {
namespace {

bool listHasToken(const std::string& list, std::string_view token) {
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        size_t b = item.find_first_not_of(" \t");
        size_t e = item.find_last_not_of(" \t");
        if (b != std::string::npos &&
            HttpHeaders::equalsIgnoringCase(item.substr(b, e - b + 1), token)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool HttpResponseHead::allowsKeepAlive() const {
    std::string connection = headers.get("Connection").value_or("");
    if (listHasToken(connection, "close"))
        return false;
    if (isHttp10())
        return listHasToken(connection, "keep-alive");
    return versionMajor == 1;
}

}  // namespace platform::net

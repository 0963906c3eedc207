#include "platform/net/Resolver.h"

#include <netdb.h>

#include <cstring>
#include <thread>

#include "platform/net/NetError.h"

namespace platform::net {
namespace {

std::vector<SocketAddress> collect(addrinfo* list) {
    std::vector<SocketAddress> out;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        SocketAddress a;
        std::memcpy(&a.storage, ai->ai_addr, ai->ai_addrlen);
        a.length = ai->ai_addrlen;
        out.push_back(a);
    }
    return out;
}

Resolver::Result lookup(const std::string& host, uint16_t port, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    std::string service = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0)
        return dnsError(rc, host);
    auto out = collect(list);
    freeaddrinfo(list);
    if (out.empty())
        return dnsError(EAI_NONAME, host);
    return out;
}

}  // namespace

std::optional<std::vector<SocketAddress>> Resolver::numeric(const std::string& host,
                                                            uint16_t port) {
    auto r = lookup(host, port, AI_NUMERICHOST | AI_NUMERICSERV);
    if (auto* list = std::get_if<std::vector<SocketAddress>>(&r))
        return *list;
    return std::nullopt;
}

Resolver::Result Resolver::resolveNow(const std::string& host, uint16_t port) {
    return lookup(host, port, AI_ADDRCONFIG | AI_NUMERICSERV);
}

void Resolver::resolve(const std::string& host, uint16_t port, base::RunLoop& loop,
                       std::function<void(Result)> done) {
    if (auto list = numeric(host, port)) {
        loop.post(
            [done = std::move(done), list = std::move(*list)]() mutable { done(std::move(list)); });
        return;
    }
    std::thread([host, port, &loop, done = std::move(done)]() mutable {
        Result r = resolveNow(host, port);
        loop.post([done = std::move(done), r = std::move(r)]() mutable { done(std::move(r)); });
    }).detach();
}

}  // namespace platform::net

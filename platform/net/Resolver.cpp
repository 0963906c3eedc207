#include "platform/net/Resolver.h"

#include <netdb.h>

#include <cctype>
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

// "localhost" and every name below it are the loopback host (RFC 6761), whatever
// the system's resolver makes of them: virtual-host style storage addresses such as
// "bucket.localhost" must reach a server on this machine.
bool isLocalhostName(std::string host) {
    for (char& c : host)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!host.empty() && host.back() == '.')
        host.pop_back();
    return host == "localhost" || (host.size() > 10 && host.ends_with(".localhost"));
}

std::vector<SocketAddress> loopback(uint16_t port) {
    std::vector<SocketAddress> out;
    for (const char* address : {"127.0.0.1", "::1"}) {
        auto r = lookup(address, port, AI_NUMERICHOST | AI_NUMERICSERV);
        if (auto* list = std::get_if<std::vector<SocketAddress>>(&r))
            out.insert(out.end(), list->begin(), list->end());
    }
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
    if (isLocalhostName(host))
        return loopback(port);
    return lookup(host, port, AI_ADDRCONFIG | AI_NUMERICSERV);
}

void Resolver::resolve(const std::string& host, uint16_t port, base::RunLoop& loop,
                       std::function<void(Result)> done) {
    if (auto list = numeric(host, port)) {
        loop.post(
            [done = std::move(done), list = std::move(*list)]() mutable { done(std::move(list)); });
        return;
    }
    if (isLocalhostName(host)) {
        loop.post([done = std::move(done), list = loopback(port)]() mutable {
            done(std::move(list));
        });
        return;
    }
    std::thread([host, port, &loop, done = std::move(done)]() mutable {
        Result r = resolveNow(host, port);
        loop.post([done = std::move(done), r = std::move(r)]() mutable { done(std::move(r)); });
    }).detach();
}

}  // namespace platform::net

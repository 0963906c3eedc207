// Name resolution: loopback names never depend on the system's resolver.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "base/RunLoop.h"
#include "platform/net/Resolver.h"

namespace {

using platform::net::Resolver;
using platform::net::SocketAddress;

std::string firstAddress(const Resolver::Result& r) {
    const auto* list = std::get_if<std::vector<SocketAddress>>(&r);
    if (!list || list->empty())
        return "";
    const auto& a = list->front();
    char text[INET6_ADDRSTRLEN] = {};
    if (a.family() == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&a.storage);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        return std::string(text) + ":" + std::to_string(ntohs(in->sin_port));
    }
    return "v6";
}

TEST(NetResolver, NamesBelowLocalhostAreTheLoopbackHost) {
    for (const char* host :
         {"localhost", "bucket.localhost", "Quorvane.LOCALHOST", "a.b.localhost."}) {
        EXPECT_EQ(firstAddress(Resolver::resolveNow(host, 4567)), "127.0.0.1:4567") << host;
    }
}

TEST(NetResolver, LookalikeNamesAreNotTakenForLoopback) {
    for (const char* host : {"evil-localhost.invalid", "localhost.invalid", "xlocalhost"}) {
        EXPECT_NE(firstAddress(Resolver::resolveNow(host, 80)), "127.0.0.1:80") << host;
    }
}

TEST(NetResolver, AsynchronousLoopbackAnswersOnTheLoop) {
    base::RunLoop& loop = base::RunLoop::current();
    std::string got;
    Resolver::resolve("bucket.localhost", 9, loop,
                      [&](Resolver::Result r) { got = firstAddress(r); });
    EXPECT_TRUE(got.empty());  // never inline
    EXPECT_TRUE(loop.runUntil([&] { return !got.empty(); }, 5));
    EXPECT_EQ(got, "127.0.0.1:9");
}

}  // namespace

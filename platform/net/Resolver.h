#pragma once
// Host name resolution off the network thread: getaddrinfo() blocks, so it runs
// on a helper thread and the answer comes back as a task on the caller's loop.
#include <netinet/in.h>
#include <sys/socket.h>

#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "base/Error.h"
#include "base/RunLoop.h"

namespace platform::net {

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family() const { return storage.ss_family; }
};

class Resolver {
  public:
    using Result = std::variant<std::vector<SocketAddress>, base::Error>;

    // Numeric hosts answer at once, without a thread.
    static std::optional<std::vector<SocketAddress>> numeric(const std::string& host,
                                                             uint16_t port);
    // Blocks; for helper threads only.
    static Result resolveNow(const std::string& host, uint16_t port);
    // `done` runs on `loop`, in any mode, even for numeric hosts (never inline).
    static void resolve(const std::string& host, uint16_t port, base::RunLoop& loop,
                        std::function<void(Result)> done);
};

}  // namespace platform::net

#pragma once
// The proxy configuration of this process, from the environment as Unix programs
// read it: http_proxy, https_proxy, all_proxy (http:// or socks5://), no_proxy and
// auto_proxy (the address of an auto-configuration script), each also in upper
// case except HTTP_PROXY, which a CGI environment lets a request header set.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/ProxyEntry.h"
#include "platform/net/Url.h"

namespace platform::net {

class ProxySettings {
  public:
    using Getenv = std::function<const char*(const char*)>;

    static ProxySettings fromEnvironment(const Getenv& getenv);
    // The process environment, read once on first use.
    static const ProxySettings& system();

    // The ways to reach `url`, best first; [Direct] when no proxy applies. With
    // an auto-configuration address the only entry names it.
    std::vector<ProxyEntry> proxiesForUrl(const Url& url) const;
    bool bypasses(const Url& url) const;

  private:
    static std::optional<ProxyEntry> parseProxy(const std::string& text);

    std::optional<ProxyEntry> http_, https_, all_;
    std::vector<std::string> noProxy_;
    std::string autoProxy_;
};

}  // namespace platform::net

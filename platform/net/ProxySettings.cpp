#include "platform/net/ProxySettings.h"

#include <cstdlib>
#include <sstream>

#include "platform/net/NetText.h"

namespace platform::net {
namespace {

using text::lower;

std::string firstOf(const ProxySettings::Getenv& getenv, std::initializer_list<const char*> names) {
    for (const char* n : names) {
        const char* v = getenv(n);
        if (v && *v)
            return v;
    }
    return {};
}

}  // namespace

std::optional<ProxyEntry> ProxySettings::parseProxy(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    std::string withScheme = text.find("://") == std::string::npos ? "http://" + text : text;
    auto url = Url::parse(withScheme);
    if (!url)
        return std::nullopt;
    ProxyEntry e;
    if (url->scheme() == "http") {
        e.type = ProxyEntry::Type::Http;
    } else if (url->scheme() == "socks5" || url->scheme() == "socks5h" ||
               url->scheme() == "socks") {
        e.type = ProxyEntry::Type::Socks;
    } else {
        return std::nullopt;  // https:// proxies and SOCKS4 are not spoken here
    }
    e.host = url->host();
    e.port = url->effectivePort();
    e.user = url->user();
    e.password = url->password();
    return e;
}

ProxySettings ProxySettings::fromEnvironment(const Getenv& getenv) {
    ProxySettings s;
    s.http_ = parseProxy(firstOf(getenv, {"http_proxy"}));
    s.https_ = parseProxy(firstOf(getenv, {"https_proxy", "HTTPS_PROXY"}));
    s.all_ = parseProxy(firstOf(getenv, {"all_proxy", "ALL_PROXY"}));
    s.autoProxy_ = firstOf(getenv, {"auto_proxy", "AUTO_PROXY"});
    std::stringstream list(firstOf(getenv, {"no_proxy", "NO_PROXY"}));
    std::string item;
    while (std::getline(list, item, ',')) {
        std::stringstream words(item);
        std::string w;
        while (words >> w) s.noProxy_.push_back(lower(w));
    }
    return s;
}

const ProxySettings& ProxySettings::system() {
    static const ProxySettings settings = fromEnvironment(&::getenv);
    return settings;
}

bool ProxySettings::bypasses(const Url& url) const {
    const std::string& host = url.host();
    for (std::string entry : noProxy_) {
        if (entry == "*")
            return true;
        if (entry.starts_with("*."))
            entry.erase(0, 1);
        if (size_t colon = entry.rfind(':');
            colon != std::string::npos && entry.find(':') == colon && entry[0] != '[') {
            if (entry.substr(colon + 1) != std::to_string(url.effectivePort()))
                continue;
            entry.erase(colon);
        }
        if (entry.size() > 2 && entry.front() == '[' && entry.back() == ']') {
            entry = entry.substr(1, entry.size() - 2);
        }
        if (!entry.empty() && entry[0] == '.')
            entry.erase(0, 1);
        if (entry.empty())
            continue;
        if (host == entry)
            return true;
        if (host.size() > entry.size() && host.ends_with(entry) &&
            host[host.size() - entry.size() - 1] == '.') {
            return true;
        }
    }
    return false;
}

std::vector<ProxyEntry> ProxySettings::proxiesForUrl(const Url& url) const {
    if (!autoProxy_.empty()) {
        ProxyEntry e;
        e.type = ProxyEntry::Type::AutoConfigurationUrl;
        e.pacUrl = autoProxy_;
        return {e};
    }
    if (bypasses(url))
        return {ProxyEntry{}};
    const std::optional<ProxyEntry>& specific = url.isSecure() ? https_ : http_;
    if (specific)
        return {*specific};
    if (all_)
        return {*all_};
    return {ProxyEntry{}};
}

}  // namespace platform::net

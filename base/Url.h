#pragma once
// A URI reference (RFC 3986): absolute ("https://user@host:8443/a?q#f") or relative
// ("../b?q"). Parsing is strict: text that breaks the grammar is no URL at all.
// Components are kept as written (percent-encoded), so the text of a parsed URL
// comes back unchanged.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace base {

class Url {
  public:
    // Longer texts are refused: no URL the system handles comes near this.
    static constexpr size_t kMaxLength = size_t{64} * 1024;

    static std::optional<Url> parse(std::string_view text);

    // Empty for a relative reference.
    const std::string& scheme() const { return scheme_; }
    bool isAbsolute() const { return !scheme_.empty(); }
    bool hasAuthority() const { return authority_.has_value(); }
    // The user and password of the user information, percent-decoded; none when absent.
    std::optional<std::string> user() const;
    std::optional<std::string> password() const;
    // The host as written; an IP literal without its brackets. Empty when absent.
    std::string host() const;
    // None when absent or empty ("http://h:/").
    std::optional<uint16_t> port() const;
    // The path as written (percent-encoded).
    const std::string& path() const { return path_; }
    const std::optional<std::string>& query() const { return query_; }
    const std::optional<std::string>& fragment() const { return fragment_; }

    // The whole reference as text.
    std::string absoluteString() const;

    // The target of `reference` taken relative to this URL (RFC 3986 section 5.2).
    Url resolving(const Url& reference) const;
    std::optional<Url> resolving(std::string_view reference) const;

    // True for "localhost" and its subdomains, 127.0.0.0/8 and ::1 (also as an
    // IPv4-mapped address): addresses that never leave this machine.
    bool isLoopback() const;

    // Escapes every byte except the unreserved characters (letters, digits, "-._~")
    // and those in `keep`, as "%XX" in upper-case hexadecimal.
    static std::string percentEncode(std::string_view text, std::string_view keep = {});
    // None when a "%" is not followed by two hexadecimal digits.
    static std::optional<std::string> percentDecode(std::string_view text);

    friend bool operator==(const Url&, const Url&) = default;

  private:
    struct Authority {
        std::optional<std::string> userInfo;
        std::string host;  // IP literals without brackets
        bool ipLiteral = false;
        std::optional<std::string> port;
        friend bool operator==(const Authority&, const Authority&) = default;
    };

    void keepPathUnambiguous();

    std::string scheme_;
    std::optional<Authority> authority_;
    std::string path_;
    std::optional<std::string> query_;
    std::optional<std::string> fragment_;

    friend class UrlParser;
};

}  // namespace base

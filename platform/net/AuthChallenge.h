#pragma once
// Challenges of "WWW-Authenticate" and "Proxy-Authenticate" (RFC 9110 §11): a
// scheme followed by a token68 or by name=value parameters. One field may carry
// several challenges, and a response may carry several fields.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform::net {

struct AuthChallenge {
    std::string scheme;   // as sent
    std::string token68;  // e.g. the NTLM message; empty when parameters follow
    std::vector<std::pair<std::string, std::string>> params;  // names lower-cased

    bool isScheme(std::string_view name) const;
    std::optional<std::string> param(std::string_view name) const;

    static constexpr size_t kMaxChallenges = 32;
    static constexpr size_t kMaxParams = 64;
    static std::vector<AuthChallenge> parse(const std::vector<std::string>& fieldValues);
};

}  // namespace platform::net

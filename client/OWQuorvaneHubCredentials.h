#pragma once
// The credentials the hub hands to the exporters on its standard output in "-oauth"
// mode: "<server>###<expiry seconds since 1970>###<refresh token>###<access token>",
// a missing value written as "(null)" (0 for the expiry).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/Value.h"

struct OWQuorvaneHubCredentials {
    // Output longer than this is not credentials.
    static constexpr size_t kMaxOutputLength = 64 * 1024;

    std::string serverURL;  // empty: the hosted service
    base::Date expires;
    std::optional<std::string> refreshToken;
    std::optional<std::string> accessToken;

    // None unless the output has exactly four fields.
    static std::optional<OWQuorvaneHubCredentials> parse(std::string_view output);
    // The line as the hub writes it.
    std::string line() const;
};

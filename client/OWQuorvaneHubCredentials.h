#pragma once
// The credentials the hub hands to the exporters on its standard output in "-oauth"
// mode: "<server>###<expiry seconds since 1970>###<refresh token>###<access token>",
// a missing value written as "(null)" (0 for the expiry), a value that could move
// another field escaped as in the token record (OWQuorvaneTokenRecord::fieldText).
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
    // The line as the hub writes it: an empty server for the hosted service.
    static std::string line(const std::string& serverURL, const std::optional<base::Date>& expires,
                            const std::optional<std::string>& refreshToken,
                            const std::optional<std::string>& accessToken);
    std::string line() const;
};

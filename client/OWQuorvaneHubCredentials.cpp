#include "client/OWQuorvaneHubCredentials.h"

#include "base/Format.h"
#include "client/OWQuorvaneTokenRecord.h"

std::optional<OWQuorvaneHubCredentials> OWQuorvaneHubCredentials::parse(std::string_view output) {
    if (output.size() > kMaxOutputLength) {
        return std::nullopt;
    }
    // The hub writes no line end: every byte belongs to a field (the server field is
    // trimmed as an address, the tokens are taken as they stand).
    const auto fields = OWQuorvaneTokenRecord::splitFields(output);
    if (!fields || fields->size() != 4) {
        return std::nullopt;
    }
    OWQuorvaneHubCredentials credentials;
    credentials.serverURL = OWQuorvaneTokenRecord::serverField((*fields)[0]);
    credentials.expires =
        base::Date{static_cast<double>(OWQuorvaneTokenRecord::integerValue((*fields)[1]))};
    credentials.refreshToken = OWQuorvaneTokenRecord::tokenField((*fields)[2]);
    credentials.accessToken = OWQuorvaneTokenRecord::tokenField((*fields)[3]);
    return credentials;
}

std::string OWQuorvaneHubCredentials::line(const std::string& serverURL,
                                           const std::optional<base::Date>& expires,
                                           const std::optional<std::string>& refreshToken,
                                           const std::optional<std::string>& accessToken) {
    const auto token = [](const std::optional<std::string>& value) {
        return value ? OWQuorvaneTokenRecord::fieldText(*value)
                     : std::string(OWQuorvaneTokenRecord::kNullText);
    };
    return base::format("%@###%0.0f###%@###%@", OWQuorvaneTokenRecord::fieldText(serverURL),
                        expires ? expires->secondsSince1970 : 0.0, token(refreshToken),
                        token(accessToken));
}

std::string OWQuorvaneHubCredentials::line() const {
    return line(serverURL, expires, refreshToken, accessToken);
}

#include "client/OWQuorvaneHubCredentials.h"

#include "base/Format.h"
#include "client/OWQuorvaneTokenRecord.h"

std::optional<OWQuorvaneHubCredentials> OWQuorvaneHubCredentials::parse(std::string_view output) {
    if (output.size() > kMaxOutputLength) {
        return std::nullopt;
    }
    // The hub ends its line with a line break; it belongs to no field.
    const std::string line = OWQuorvaneTokenRecord::trimmed(output);
    const auto fields = OWQuorvaneTokenRecord::splitFields(line);
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
    const std::string null = OWQuorvaneTokenRecord::kNullText;
    return base::format("%@###%0.0f###%@###%@", OWQuorvaneTokenRecord::fieldText(serverURL),
                        expires ? expires->secondsSince1970 : 0.0,
                        OWQuorvaneTokenRecord::fieldText(refreshToken.value_or(null)),
                        OWQuorvaneTokenRecord::fieldText(accessToken.value_or(null)));
}

std::string OWQuorvaneHubCredentials::line() const {
    return line(serverURL, expires, refreshToken, accessToken);
}

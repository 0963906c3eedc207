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

std::string OWQuorvaneHubCredentials::line() const {
    const std::string null = OWQuorvaneTokenRecord::kNullText;
    return base::format("%@###%0.0f###%@###%@", serverURL.empty() ? null : serverURL,
                        expires.secondsSince1970, refreshToken.value_or(null),
                        accessToken.value_or(null));
}

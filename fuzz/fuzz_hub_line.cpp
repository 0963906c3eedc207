// Reads arbitrary output of the hub's "-oauth" mode as a credential line. Whatever reads
// as credentials must be written and read back to the same credentials.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "client/OWQuorvaneHubCredentials.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view output(reinterpret_cast<const char*>(data), size);
    const auto credentials = OWQuorvaneHubCredentials::parse(output);
    if (!credentials) {
        return 0;
    }
    // A value that begins or ends with "#" runs into the separator and cannot come
    // back whole; the format has no escape for it.
    const auto plain = [](const std::optional<std::string>& v) {
        return !v || v->find('#') == std::string::npos;
    };
    if (!plain(credentials->serverURL) || !plain(credentials->refreshToken) ||
        !plain(credentials->accessToken)) {
        return 0;
    }
    const auto again = OWQuorvaneHubCredentials::parse(credentials->line());
    if (!again || again->serverURL != credentials->serverURL ||
        again->expires != credentials->expires ||
        again->refreshToken != credentials->refreshToken ||
        again->accessToken != credentials->accessToken) {
        std::abort();
    }
    return 0;
}

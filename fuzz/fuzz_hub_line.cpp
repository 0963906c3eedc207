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
    // Every value comes back whole, whatever it holds, unless its escapes grew the
    // line past the cap.
    const std::string line = credentials->line();
    if (line.size() > OWQuorvaneHubCredentials::kMaxOutputLength) {
        return 0;
    }
    const auto again = OWQuorvaneHubCredentials::parse(line);
    if (!again || again->serverURL != credentials->serverURL ||
        again->expires != credentials->expires ||
        again->refreshToken != credentials->refreshToken ||
        again->accessToken != credentials->accessToken) {
        std::abort();
    }
    return 0;
}

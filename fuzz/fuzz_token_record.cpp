// Reads arbitrary keychain items as token records: account, password and generic
// attribute separated by NUL bytes, the first byte choosing whether a legacy record is
// honoured. A record that carries tokens must survive being written and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "client/OWQuorvaneTokenRecord.h"

namespace {

std::string_view nextPart(std::string_view& rest) {
    const size_t nul = rest.find('\0');
    std::string_view part = rest.substr(0, nul);
    rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
    return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool honourLegacy = data[0] & 1;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string account(nextPart(rest));
    const std::string password(nextPart(rest));
    const std::optional<std::string> generic =
        rest.empty() ? std::nullopt : std::optional<std::string>(rest);

    const auto record = OWQuorvaneTokenRecord::fromItem(account, password, generic, honourLegacy);
    if (record.kind != OWQuorvaneTokenRecord::Kind::Tokens) {
        return 0;
    }
    // A bare "(null)" is no value; a value reading "(null)" is written escaped.
    if (record.serverURL == "(null)" || record.refreshToken == "" || record.accessToken == "") {
        std::abort();
    }
    const std::string written = OWQuorvaneTokenRecord::genericAttribute(
        record.username, record.serverURL, record.expires, record.refreshToken);
    const auto again = OWQuorvaneTokenRecord::fromItem(account, password, written, false);
    // Every value comes back whole, whatever it holds; only a text grown past the cap
    // by its escapes is not taken apart again.
    const bool separable = written.size() <= OWQuorvaneTokenRecord::kMaxTextLength;
    if (separable && (again.kind != record.kind || again.username != record.username ||
                      again.serverURL != record.serverURL || again.expires != record.expires ||
                      again.refreshToken != record.refreshToken)) {
        std::abort();
    }
    return 0;
}

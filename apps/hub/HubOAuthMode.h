#pragma once
// The hub's windowless mode: started with "-oauth", it loads the stored account and
// writes it to standard output for the exporter that started it, as
// "<server>###<expiry>###<refresh token>###<access token>" with no line end.
//
// This half of the hub links no toolkit, so an exporter's start pays only for reading
// the keychain.
#include <optional>
#include <string>

#include "base/Value.h"

class OWQuorvaneAuthController;

namespace hub {

inline constexpr const char* kAppName = "Quorvane Plugin Hub";
inline constexpr const char* kOAuthArgument = "-oauth";

// Whether "-oauth" stands anywhere among the arguments after the program's name.
bool hasOAuthArgument(int argc, const char* const* argv);

// The hand-over text (OWQuorvaneHubCredentials::line): an empty server for the hosted
// service, the expiry rounded to whole seconds (0 when there is none), "(null)" for a
// missing token, a value that could move another field escaped.
std::string handOverText(const OWQuorvaneAuthController& controller);

// The whole mode: logging off, the account loaded, the text written. Never returns: the
// process ends with status 0 at once, without waiting for a token refresh the load may
// have started.
[[noreturn]] void runOAuthMode();

}  // namespace hub

#pragma once
// Keeps secrets out of log lines: tokens, codes and passwords are replaced by
// "<redacted>" wherever they appear as "name=value" (addresses, form bodies) or
// "name": "value" (JSON replies).
#include <optional>
#include <string>
#include <string_view>

#include "base/Value.h"

namespace OWQuorvaneRedaction {

inline constexpr const char* kMask = "<redacted>";

// "(null)" for no token, else the mask.
std::string token(const std::optional<std::string>& token);
// The text with the value of every secret field masked.
std::string text(std::string_view text);
// A copy of the value whose secret dictionary entries, at any depth, are masked.
base::Value value(const base::Value& value);
// True for the names whose values are secret.
bool isSecretName(std::string_view name);

}  // namespace OWQuorvaneRedaction

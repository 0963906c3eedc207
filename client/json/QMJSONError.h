#pragma once
// Builders of the JSON errors: a code and a message, optionally wrapping the error that
// caused it.
#include <cstdint>
#include <string>

#include "base/Error.h"

namespace qmjson {

enum ErrorCode : int64_t {
    kUnsupportedValue = 1,
    kBadNumber = 2,
    kUnexpectedText = 3,
    kNotContainer = 4,
    kControlCharacter = 5,
    kBadUnicode = 6,
    kTooDeep = 7,
    kBadEscape = 8,
    kTrailingComma = 9,
    kGarbage = 10,
    kUnexpectedEnd = 11,
    kNoInput = 12,
};

base::Error err(int64_t code, std::string message);
base::Error errWithUnderlier(int64_t code, base::Error underlier, std::string message);

}  // namespace qmjson

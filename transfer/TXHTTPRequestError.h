#pragma once
// The transfer engine's error domain and the helpers that build its errors.
#include <string>

#include "base/Error.h"

inline constexpr const char* TXHTTPRequestErrorDomain = "TXHTTPRequestErrorDomain";

enum class TXErrorCode : int {
    ConnectionFailure = 1,
    RequestTimedOut = 2,
    Authentication = 3,
    RequestCancelled = 4,
    UnableToCreateRequest = 5,
    BuildingRequest = 6,
    ApplyingCredentials = 7,
    FileManagement = 8,
    TooMuchRedirection = 9,
    UnhandledException = 10,
    Compression = 11,
    ResponseTooLarge = 12,
};

// An error of the engine's domain with `message` as its localized description.
base::Error TXMakeError(TXErrorCode code, std::string message,
                        const base::Error* underlying = nullptr);

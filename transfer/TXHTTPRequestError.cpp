#include "transfer/TXHTTPRequestError.h"

base::Error TXMakeError(TXErrorCode code, std::string message, const base::Error* underlying) {
    base::Error error = base::Error::withDescription(TXHTTPRequestErrorDomain,
                                                     static_cast<int>(code), std::move(message));
    if (underlying) {
        error.setUnderlying(*underlying);
    }
    return error;
}

#include "client/json/QMJSONError.h"

#include <utility>

#include "client/json/QMJSON.h"

const char* const QMJSONErrorDomain = "org.tremlin.JSON.ErrorDomain";

namespace qmjson {

base::Error err(int64_t code, std::string message) {
    return base::Error::withDescription(QMJSONErrorDomain, code, std::move(message));
}

base::Error errWithUnderlier(int64_t code, base::Error underlier, std::string message) {
    base::Error error = err(code, std::move(message));
    error.setUnderlying(std::move(underlier));
    return error;
}

}  // namespace qmjson

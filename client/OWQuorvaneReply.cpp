#include "client/OWQuorvaneReply.h"

#include <string_view>

#include "base/TextEncoding.h"
#include "client/json/QMJSON.h"
#include "support/OWLog.h"

const char* const OWQuorvaneErrorDomain = "OWQuorvaneErrorDomain";

namespace {

OWQuorvaneReply failure(base::Error error) {
    OWQuorvaneReply reply;
    reply.kind = OWQuorvaneReply::Kind::Failure;
    reply.error = std::move(error);
    return reply;
}

// Text that is no JSON at all (an HTML error page) or that ends too soon (an empty or
// cut-off body). The reader wraps an early end inside the error of the value it was
// reading, so the whole chain is looked at. A body cut off inside a string reads as the
// text's terminating NUL met where a character should be.
bool isServerErrorPage(const base::Error& error) {
    constexpr int64_t kUnexpectedEnd = 11;
    for (const base::Error* e = &error; e != nullptr; e = e->underlying()) {
        const std::string message = e->localizedDescription();
        if (message == "Unrecognised leading character" || message == "Unexpected end of string" ||
            message == "Unescaped control character '0x0'" ||
            (e->domain() == QMJSONErrorDomain && e->code() == kUnexpectedEnd)) {
            return true;
        }
    }
    return false;
}

OWQuorvaneReply serviceError(const base::Dictionary& reply) {
    OWQuorvaneReply result = failure(base::Error(OWQuorvaneErrorDomain, 0, reply));
    const base::Value* type = reply.find("error_type");
    if (type && type->string() && *type->string() == "oauth") {
        result.kind = OWQuorvaneReply::Kind::OAuthError;
    }
    return result;
}

std::optional<OWQuorvaneReply> statusError(int statusCode) {
    switch (statusCode) {
        case 500:
            OWLog::appendLog("500 error");
            return failure(OWQuorvaneReply::errorWithMessage(OWQuorvaneReply::kStatus500Error));
        case 404:
            OWLog::appendLog("Quorvane server not found.");
            return failure(OWQuorvaneReply::errorWithMessage(OWQuorvaneReply::kStatus404Error));
        case 403:
            OWLog::appendLog("URL forbidden");
            return failure(OWQuorvaneReply::errorWithMessage(OWQuorvaneReply::kStatus403Error));
        default:
            return std::nullopt;
    }
}

}  // namespace

base::Error OWQuorvaneReply::errorWithMessage(const std::string& message) {
    return base::Error(OWQuorvaneErrorDomain, 0, base::Dictionary{{"error", message}});
}

base::Error OWQuorvaneReply::unreadableReplyError(bool isQuorvServer) {
    return errorWithMessage(isQuorvServer ? kSelfHostedServerError : kHostedServerError);
}

OWQuorvaneReply OWQuorvaneReply::read(const base::Data& data, int statusCode, bool isQuorvServer) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    // A body in another encoding (UTF-16 among them) is as unreadable as an HTML page:
    // taken as a success it would stand for an empty answer.
    if (!base::TextEncoding::isValidUtf8(text)) {
        OWLog::appendLog("Quorvane error: no data returned");
        return failure(unreadableReplyError(isQuorvServer));
    }
    base::Error parseError(QMJSONErrorDomain, 0);
    QMJSON json;
    std::optional<base::Value> parsed = json.objectWithString(text, &parseError);
    if (!parsed) {
        if (isServerErrorPage(parseError)) {
            parseError = unreadableReplyError(isQuorvServer);
        }
        OWLog::appendLogAndDebugPrint("Error with Quorvane output: %@", std::string(text));
        OWLog::appendLogAndDebugPrint("Return code: %li", static_cast<long>(statusCode));
        return failure(std::move(parseError));
    }
    if (const auto* dictionary = parsed->dictionary();
        dictionary && dictionary->contains("error")) {
        return serviceError(*dictionary);
    }
    if (auto error = statusError(statusCode)) {
        return std::move(*error);
    }
    OWQuorvaneReply reply;
    reply.result = std::move(*parsed);
    return reply;
}

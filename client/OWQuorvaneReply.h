#pragma once
// Reads one API reply: its bytes and HTTP status become a result or an error of the
// domain "OWQuorvaneErrorDomain". Unreadable replies (an HTML page, an empty or cut-off
// body, bytes that are no UTF-8 text) get a server-error message that depends on whether
// a self-hosted server is in use; replies that carry no "error" key but a status of 500,
// 404 or 403 get fixed texts.
#include <optional>
#include <string>

#include "base/Error.h"
#include "base/Value.h"

extern const char* const OWQuorvaneErrorDomain;

class OWQuorvaneReply {
  public:
    static constexpr const char* kHostedServerError =
        "Server error. Please try again in a few minutes or report the problem to Oxbury "
        "Works if it persists.";
    static constexpr const char* kSelfHostedServerError =
        "Server error. Please check your Apache log file to see the cause.";
    static constexpr const char* kStatus500Error =
        "Server error. Please check your Quorvane Server Apache log file to see the cause.";
    static constexpr const char* kStatus404Error =
        "Server not found. This could be a temporary error or you may be using an outdated "
        "version of the Quorvane API.";
    static constexpr const char* kStatus403Error =
        "Forbidden. Please check permissions on the API directory in your Quorvane Server "
        "installation directory.";

    enum class Kind {
        Success,     // `result`
        Failure,     // `error`
        OAuthError,  // a service error of type "oauth"; `error` holds it as a failure
    };

    Kind kind = Kind::Success;
    base::Value result;
    std::optional<base::Error> error;

    static OWQuorvaneReply read(const base::Data& data, int statusCode, bool isQuorvServer);

    // An "OWQuorvaneErrorDomain" error of code 0 with `message` under "error".
    static base::Error errorWithMessage(const std::string& message);
    // The error of a reply that cannot be read, its text naming the server in use.
    static base::Error unreadableReplyError(bool isQuorvServer);
};

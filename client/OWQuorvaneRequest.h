#pragma once
// One API call as the client queues it: where it goes, its context, its fields and
// files. The body is made only when the call is sent, with the access token of that
// moment, so a call that waited for a token refresh goes out with the new token.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Value.h"

class OWQuorvaneRequest {
  public:
    static constexpr const char* kBoundary = "axhTsLbOxNzArUD";
    static constexpr const char* kDefaultMIMEType = "application/octet-stream";
    static constexpr const char* kAccessTokenField = "access_token";

    struct File {
        std::string field;
        base::Data bytes;
        std::string filename;
    };
    // Cached replies that a successful call of this request makes stale: every entry
    // of `context`, or, with a field, those whose body carries that field's value.
    struct Invalidation {
        std::string context;
        std::optional<std::string> field;
        std::optional<std::string> value;
    };
    struct Body {
        base::Data bytes;
        std::optional<std::string> contentType;  // none: a URL-encoded form
        std::string loggedParams;                // multipart fields, token redacted
    };

    std::string url;
    std::string context;
    base::Dictionary params;
    // None: a form body. Given (even empty): a multipart body.
    std::optional<std::vector<File>> files;
    std::string mimeType = kDefaultMIMEType;
    bool overrideAuth = false;
    std::vector<Invalidation> invalidations;
    // Sent once more after a token refresh already.
    bool retried = false;

    // Files in the order of `data`; a field without a name gets an empty one.
    static std::vector<File> filesFrom(const base::Dictionary& data, const base::Dictionary& names);

    // The fields with "access_token" set (in its place when present, else last) when a
    // token is given.
    base::Dictionary paramsWithToken(const std::optional<std::string>& token) const;
    Body body(const std::optional<std::string>& token) const;

    // A form value's text: numbers as decimal text, booleans as 1 or 0.
    static std::string valueText(const base::Value& value);
    // Escapes what may not stand in a URL, then the characters a form gives meaning to.
    static std::string sanitizeURLParameter(std::string_view value);
    // "&name=value" for each field, in order.
    static std::string formBody(const base::Dictionary& params);
    // The multipart body; `loggedParams` receives the text of the field parts with the
    // access token's value redacted.
    static base::Data multipartBody(const base::Dictionary& params, const std::vector<File>& files,
                                    const std::string& mimeType, std::string* loggedParams);
    // The escaped value of `field` in a form body made by formBody(); none when absent.
    static std::optional<std::string> formField(std::string_view body, std::string_view field);
};

#include "transfer/TXS3Request.h"

#include <algorithm>
#include <cctype>

#include "base/Format.h"
#include "platform/net/HttpHeaders.h"
#include "transfer/TXS3Configuration.h"
#include "transfer/TXS3ReplyParser.h"

namespace {

// S3 failures use the engine's domain: code 1 for a reply that does not parse,
// code 2 for one that reports an error.
constexpr TXErrorCode kS3ParseError = TXErrorCode::ConnectionFailure;
constexpr TXErrorCode kS3ReplyError = TXErrorCode::RequestTimedOut;

struct SharedKeys {
    std::mutex lock;
    std::string accessKey;
    std::string secretAccessKey;
    std::string cloudfrontURL;
};

SharedKeys& sharedKeys() {
    static SharedKeys keys;
    return keys;
}

// The media type before any parameters, lower-cased.
std::string mediaType(const std::string& contentType) {
    std::string type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) {
        type.pop_back();
    }
    size_t start = type.find_first_not_of(" \t");
    type = start == std::string::npos ? "" : type.substr(start);
    for (char& c : type) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return type;
}

bool isAmzHeader(const std::string& name) {
    return name.size() > 6 && platform::net::HttpHeaders::equalsIgnoringCase(
                                  std::string_view(name).substr(0, 6), "x-amz-");
}

}  // namespace

TXS3Request::TXS3Request(const std::optional<base::Url>& url) : TXHTTPRequest(url) {
    s3_.requestScheme = TXS3Configuration::current().scheme;
    setPersistentConnectionTimeoutSeconds(20.0);
}

std::shared_ptr<TXS3Request> TXS3Request::requestWithURL(const std::optional<base::Url>& url) {
    return std::shared_ptr<TXS3Request>(new TXS3Request(url));
}

void TXS3Request::copyConfigurationInto(TXHTTPRequest& other) const {
    TXHTTPRequest::copyConfigurationInto(other);
    copySettingsInto(s3Lock_, s3_, other, &TXS3Request::s3Lock_, &TXS3Request::s3_);
}

std::shared_ptr<TXHTTPRequest> TXS3Request::copy() const {
    return configuredCopy(requestWithURL(url()));
}

std::shared_ptr<TXHTTPRequest> TXS3Request::HEADRequest() {
    // A request addressed by its fields has no URL until it starts; its companion
    // runs first and needs one.
    ensureURL();
    auto head = requestWithURL(url());
    copyHeadConfigurationInto(*head);
    head->setAccessKey(accessKey());
    head->setSecretAccessKey(secretAccessKey());
    return head;
}

void TXS3Request::ensureURL() {
    if (!url()) {
        buildURL();
    }
}

void TXS3Request::main() {
    ensureURL();
    TXHTTPRequest::main();
}

void TXS3Request::setDate(std::chrono::system_clock::time_point date) {
    setDateString(TXS3Signer::requestDateString(date));
}

TXS3Signer::Headers TXS3Request::S3Headers() const {
    TXS3Signer::Headers headers;
    if (std::string policy = accessPolicy(); !policy.empty()) {
        headers.emplace_back("x-amz-acl", policy);
    }
    return headers;
}

std::string TXS3Request::canonicalizedResource() const {
    return "/";
}

std::string TXS3Request::stringToSignForHeaders(const std::string& canonicalHeaders,
                                                const std::string& resource) {
    return TXS3Signer::stringToSign(requestMethod(), "", dateString(), canonicalHeaders, resource);
}

// ---- signing ----------------------------------------------------------------

void TXS3Request::buildRequestHeaders() {
    if (haveBuiltRequestHeaders()) {
        return;
    }
    ensureURL();
    TXHTTPRequest::buildRequestHeaders();
    if (accessKey().empty()) {
        setAccessKey(sharedAccessKey());
    }
    if (secretAccessKey().empty()) {
        setSecretAccessKey(sharedSecretAccessKey());
    }
    // A resent request keeps the date it was first signed with.
    if (dateString().empty()) {
        setDate(std::chrono::system_clock::now());
    }
    addRequestHeader("Date", dateString());
    // A HEAD companion asks about its main request's resource.
    auto main = std::dynamic_pointer_cast<TXS3Request>(mainRequest());
    std::string resource = main ? main->canonicalizedResource() : canonicalizedResource();
    TXS3Signer::Headers amz = S3Headers();
    for (const auto& [name, value] : amz) {
        addRequestHeader(name, value);
    }
    // The storage service signs every x-amz header it receives: also those the caller
    // added and those a companion took over from its main request.
    for (const auto& field : requestHeaders().fields()) {
        const std::string& name = field.first;
        bool listed = std::any_of(amz.begin(), amz.end(), [&](const auto& header) {
            return platform::net::HttpHeaders::equalsIgnoringCase(header.first, name);
        });
        if (isAmzHeader(name) && !listed) {
            amz.emplace_back(name, field.second);
        }
    }
    // A signature is made for the storage service the request was sent to; a redirect
    // to another origin gets none.
    std::optional<base::Url> first = originalURL();
    if (redirectCount() > 0 && first && url() && !isSameOrigin(*first, *url())) {
        return;
    }
    std::string text = stringToSignForHeaders(TXS3Signer::canonicalHeaders(amz), resource);
    addRequestHeader(
        "Authorization",
        TXS3Signer::authorization(accessKey(), TXS3Signer::signature(secretAccessKey(), text)));
}

// ---- replies ----------------------------------------------------------------

void TXS3Request::requestFinished() {
    if (!parseResponseXML()) {
        return;
    }
    // The status alone must fail the request too: a 403 or 5xx without an XML body
    // would otherwise count as stored.
    int status = responseStatusCode();
    if (!error() && (status < 200 || status > 299)) {
        failWithError(TXMakeError(kS3ReplyError, base::format("The storage service answered %d %@",
                                                              status, responseStatusMessage())));
        return;
    }
    if (!error()) {
        TXHTTPRequest::requestFinished();
    }
}

bool TXS3Request::parseResponseXML() {
    auto type = responseHeaders().get("Content-Type");
    std::string media = type ? mediaType(*type) : "";
    if (media != "application/xml" && media != "text/xml") {
        return true;
    }
    auto body = responseData();
    if (!body || body->empty()) {
        return true;
    }
    auto outcome = TXS3ReplyParser::parse(
        std::string_view(reinterpret_cast<const char*>(body->data()), body->size()),
        [this](const std::string& name, const std::string& text, const std::vector<std::string>&) {
            return replyElementEnded(name, text);
        });
    if (outcome.error) {
        base::Error underlying =
            base::Error::withDescription("TXS3ReplyParserErrorDomain", 1, *outcome.error);
        failWithError(TXMakeError(kS3ParseError, "Parsing the resposnse failed", &underlying));
        return false;
    }
    // A reply that asked for a resend has put the request back to running.
    return complete() && !error();
}

bool TXS3Request::replyElementEnded(const std::string& name, const std::string& text) {
    if (name == "Message") {
        failWithError(TXMakeError(kS3ReplyError, text));
    } else if (name == "Code" && text == "RequestTimeout" && retryUsingNewConnection()) {
        return false;
    }
    return true;
}

// ---- fields -----------------------------------------------------------------

std::string TXS3Request::accessKey() const {
    std::lock_guard guard(s3Lock_);
    return s3_.accessKey;
}
void TXS3Request::setAccessKey(const std::string& key) {
    std::lock_guard guard(s3Lock_);
    s3_.accessKey = key;
}
std::string TXS3Request::secretAccessKey() const {
    std::lock_guard guard(s3Lock_);
    return s3_.secretAccessKey;
}
void TXS3Request::setSecretAccessKey(const std::string& key) {
    std::lock_guard guard(s3Lock_);
    s3_.secretAccessKey = key;
}
std::string TXS3Request::requestScheme() const {
    std::lock_guard guard(s3Lock_);
    return s3_.requestScheme;
}
void TXS3Request::setRequestScheme(const std::string& scheme) {
    std::lock_guard guard(s3Lock_);
    s3_.requestScheme = scheme;
}
std::string TXS3Request::dateString() const {
    std::lock_guard guard(s3Lock_);
    return dateString_;
}
void TXS3Request::setDateString(const std::string& date) {
    std::lock_guard guard(s3Lock_);
    dateString_ = date;
}
std::string TXS3Request::accessPolicy() const {
    std::lock_guard guard(s3Lock_);
    return s3_.accessPolicy;
}
void TXS3Request::setAccessPolicy(const std::string& policy) {
    std::lock_guard guard(s3Lock_);
    s3_.accessPolicy = policy;
}

// ---- class-wide values ------------------------------------------------------

std::string TXS3Request::sharedAccessKey() {
    std::lock_guard guard(sharedKeys().lock);
    return sharedKeys().accessKey;
}
void TXS3Request::setSharedAccessKey(const std::string& key) {
    std::lock_guard guard(sharedKeys().lock);
    sharedKeys().accessKey = key;
}
std::string TXS3Request::sharedSecretAccessKey() {
    std::lock_guard guard(sharedKeys().lock);
    return sharedKeys().secretAccessKey;
}
void TXS3Request::setSharedSecretAccessKey(const std::string& key) {
    std::lock_guard guard(sharedKeys().lock);
    sharedKeys().secretAccessKey = key;
}
std::string TXS3Request::cloudfrontURL() {
    std::lock_guard guard(sharedKeys().lock);
    return sharedKeys().cloudfrontURL;
}
void TXS3Request::setCloudfrontURL(const std::string& host) {
    std::lock_guard guard(sharedKeys().lock);
    sharedKeys().cloudfrontURL = host;
}
std::string TXS3Request::S3Host() {
    std::string host = cloudfrontURL();
    return host.empty() ? TXS3Configuration::current().host : host;
}

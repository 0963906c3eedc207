#include "platform/net/HttpAuthentication.h"

#include <chrono>

#include "base/Random.h"
#include "platform/crypto/Base64.h"
#include "platform/crypto/Digest.h"
#include "platform/crypto/Hmac.h"
#include "platform/net/NetError.h"

namespace platform::net {
namespace {

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool isDigestAlgorithm(const std::string& a) {
    std::string u = upper(a);
    return u == "MD5" || u == "MD5-SESS" || u == "SHA-256" || u == "SHA-256-SESS";
}

std::string hashHex(const std::string& algorithm, const std::string& text) {
    return upper(algorithm).rfind("SHA-256", 0) == 0
               ? crypto::Digest::hex(crypto::Digest::of(crypto::Digest::Algorithm::SHA256, text))
               : crypto::Digest::hex(crypto::Digest::of(crypto::Digest::Algorithm::MD5, text));
}

// We only answer qop=auth, or the old form without qop when none is offered.
std::optional<std::string> chooseQop(const AuthChallenge& c) {
    auto qop = c.param("qop");
    if (!qop)
        return std::string();
    size_t start = 0;
    while (start <= qop->size()) {
        size_t comma = qop->find(',', start);
        std::string item = qop->substr(start, comma - start);
        item.erase(0, item.find_first_not_of(" \t"));
        item.erase(item.find_last_not_of(" \t") + 1);
        if (HttpHeaders::equalsIgnoringCase(item, "auth"))
            return std::string("auth");
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return std::nullopt;
}

bool usableDigest(const AuthChallenge& c) {
    return c.param("nonce") && isDigestAlgorithm(c.param("algorithm").value_or("MD5")) &&
           chooseQop(c);
}

std::string quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

bool safeText(const std::string& s) {
    return s.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::string asText(const ntlm::Bytes& b) {
    return std::string(b.begin(), b.end());
}

uint64_t fileTimeNow() {
    using namespace std::chrono;
    auto since1970 = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    return (static_cast<uint64_t>(since1970) + 11644473600ULL * 1000000ULL) * 10ULL;
}

}  // namespace

std::string digestResponse(const std::string& algorithm, const std::string& user,
                           const std::string& realm, const std::string& password,
                           const std::string& method, const std::string& uri,
                           const std::string& nonce, const std::string& nc,
                           const std::string& cnonce, const std::string& qop) {
    std::string ha1 = hashHex(algorithm, user + ":" + realm + ":" + password);
    if (upper(algorithm).ends_with("-SESS"))
        ha1 = hashHex(algorithm, ha1 + ":" + nonce + ":" + cnonce);
    std::string ha2 = hashHex(algorithm, method + ":" + uri);
    if (qop.empty())
        return hashHex(algorithm, ha1 + ":" + nonce + ":" + ha2);
    return hashHex(algorithm, ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2);
}

HttpAuthentication::HttpAuthentication(Scheme scheme, Target target, AuthChallenge challenge)
    : scheme_(scheme), target_(target), challenge_(std::move(challenge)) {}

std::optional<AuthChallenge> HttpAuthentication::pick(const std::vector<AuthChallenge>& all,
                                                      std::optional<Scheme> only) {
    auto find = [&](Scheme s) -> std::optional<AuthChallenge> {
        if (only && *only != s)
            return std::nullopt;
        for (const auto& c : all) {
            if (s == Scheme::Ntlm && c.isScheme("NTLM"))
                return c;
            if (s == Scheme::Digest && c.isScheme("Digest") && usableDigest(c))
                return c;
            if (s == Scheme::Basic && c.isScheme("Basic"))
                return c;
        }
        return std::nullopt;
    };
    for (Scheme s : {Scheme::Ntlm, Scheme::Digest, Scheme::Basic}) {
        if (auto c = find(s))
            return c;
    }
    return std::nullopt;
}

std::shared_ptr<HttpAuthentication> HttpAuthentication::create(const HttpResponseHead& response) {
    Target target;
    if (response.statusCode == 401) {
        target = Target::Server;
    } else if (response.statusCode == 407) {
        target = Target::Proxy;
    } else {
        return nullptr;
    }
    auto all = AuthChallenge::parse(response.headers.values(
        target == Target::Server ? "WWW-Authenticate" : "Proxy-Authenticate"));
    auto chosen = pick(all, std::nullopt);
    if (!chosen)
        return nullptr;
    Scheme scheme = chosen->isScheme("NTLM")     ? Scheme::Ntlm
                    : chosen->isScheme("Digest") ? Scheme::Digest
                                                 : Scheme::Basic;
    std::shared_ptr<HttpAuthentication> auth(new HttpAuthentication(scheme, target, *chosen));
    if (scheme == Scheme::Ntlm && !chosen->token68.empty()) {
        if (auto raw = crypto::Base64::decode(chosen->token68)) {
            auth->ntlmChallenge_ = ntlm::parseChallenge(*raw);
        }
    }
    return auth;
}

std::string HttpAuthentication::method() const {
    switch (scheme_) {
        case Scheme::Basic:
            return "Basic";
        case Scheme::Digest:
            return "Digest";
        case Scheme::Ntlm:
            return "NTLM";
    }
    return {};
}

std::string HttpAuthentication::realm() const {
    std::lock_guard lock(mutex_);
    return challenge_.param("realm").value_or("");
}

bool HttpAuthentication::isValid() const {
    std::lock_guard lock(mutex_);
    return !error_;
}

std::optional<base::Error> HttpAuthentication::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void HttpAuthentication::invalidate(int code, const std::string& why) {
    if (!error_)
        error_ = httpError(code, why);
}

void HttpAuthentication::update(const HttpResponseHead& response) {
    std::lock_guard lock(mutex_);
    int expected = target_ == Target::Server ? 401 : 407;
    if (response.statusCode != expected || error_)
        return;
    auto all = AuthChallenge::parse(response.headers.values(
        target_ == Target::Server ? "WWW-Authenticate" : "Proxy-Authenticate"));
    auto again = pick(all, scheme_);
    if (!again) {
        invalidate(kHttpChallengeUnusable, "The server no longer offers " + method());
        return;
    }
    switch (scheme_) {
        case Scheme::Basic:
            if (applied_)
                invalidate(kHttpCredentialsRejected, "The user name or password was refused");
            break;
        case Scheme::Digest: {
            bool stale =
                HttpHeaders::equalsIgnoringCase(again->param("stale").value_or(""), "true");
            if (applied_ && !stale) {
                invalidate(kHttpCredentialsRejected, "The user name or password was refused");
                break;
            }
            challenge_ = *again;
            nonceCount_ = 0;
            break;
        }
        case Scheme::Ntlm: {
            ntlmChallenge_.reset();
            if (auto raw = crypto::Base64::decode(again->token68); raw && !again->token68.empty()) {
                ntlmChallenge_ = ntlm::parseChallenge(*raw);
            }
            break;
        }
    }
}

std::string HttpAuthentication::fieldName() const {
    return target_ == Target::Server ? "Authorization" : "Proxy-Authorization";
}

bool HttpAuthentication::apply(HttpRequestMessage& message, const HttpCredentials& credentials) {
    std::lock_guard lock(mutex_);
    if (error_ || credentials.user.empty() || !safeText(credentials.user) ||
        !safeText(credentials.password) || !safeText(credentials.domain)) {
        return false;
    }
    std::optional<std::string> value;
    switch (scheme_) {
        case Scheme::Basic:
            value = basicValue(credentials);
            break;
        case Scheme::Digest:
            value = digestValue(message, credentials);
            break;
        case Scheme::Ntlm:
            value = ntlmValue(credentials);
            break;
    }
    if (!value)
        return false;
    message.setHeader(fieldName(), *value);
    applied_ = true;
    return true;
}

std::optional<std::string> HttpAuthentication::basicValue(const HttpCredentials& c) const {
    if (c.user.find(':') != std::string::npos)
        return std::nullopt;  // cannot be told apart
    return "Basic " + crypto::Base64::encode(c.user + ":" + c.password);
}

std::optional<std::string> HttpAuthentication::digestValue(const HttpRequestMessage& m,
                                                           const HttpCredentials& c) {
    std::string algorithm = challenge_.param("algorithm").value_or("MD5");
    std::string realm = challenge_.param("realm").value_or("");
    std::string nonce = challenge_.param("nonce").value_or("");
    std::string qop = chooseQop(challenge_).value_or("");
    // A proxy that tunnels https sees "CONNECT host:port"; one that forwards http
    // sees the absolute address.
    bool tunnel = target_ == Target::Proxy && m.url().isSecure();
    std::string method = tunnel ? "CONNECT" : m.method();
    std::string uri = target_ == Target::Server ? m.url().pathAndQuery()
                      : tunnel                  ? m.url().hostAndPort()
                                                : m.url().absoluteString();
    char nc[9];
    std::snprintf(nc, sizeof nc, "%08x", ++nonceCount_);
    std::string cnonce =
        fixedCnonce_.empty() ? crypto::Digest::hex(base::randomBytes(16)) : fixedCnonce_;
    std::string response =
        digestResponse(algorithm, c.user, realm, c.password, method, uri, nonce, nc, cnonce, qop);

    std::string v = "Digest username=" + quote(c.user) + ", realm=" + quote(realm) +
                    ", nonce=" + quote(nonce) + ", uri=" + quote(uri) + ", algorithm=" + algorithm +
                    ", response=" + quote(response);
    if (auto opaque = challenge_.param("opaque"))
        v += ", opaque=" + quote(*opaque);
    if (!qop.empty())
        v += ", qop=" + qop + ", nc=" + nc + ", cnonce=" + quote(cnonce);
    return v;
}

std::optional<std::string> HttpAuthentication::ntlmValue(const HttpCredentials& c) {
    if (!ntlmChallenge_)
        return "NTLM " + crypto::Base64::encode(asText(ntlm::negotiateMessage()));
    std::array<uint8_t, 8> clientChallenge{};
    uint64_t timestamp = fileTimeNow();
    if (fixedNtlm_) {
        clientChallenge = fixedNtlm_->first;
        timestamp = fixedNtlm_->second;
    } else {
        auto random = base::randomBytes(8);
        std::copy(random.begin(), random.end(), clientChallenge.begin());
    }
    auto msg = ntlm::authenticateMessage(*ntlmChallenge_, c, "", clientChallenge, timestamp);
    ntlmChallenge_.reset();  // a challenge answers once; a new 401 brings the next one
    return "NTLM " + crypto::Base64::encode(asText(msg));
}

void HttpAuthentication::setClientNonceForTesting(std::string cnonce) {
    std::lock_guard lock(mutex_);
    fixedCnonce_ = std::move(cnonce);
}

void HttpAuthentication::setNtlmClientChallengeForTesting(std::array<uint8_t, 8> challenge,
                                                          uint64_t timestamp) {
    std::lock_guard lock(mutex_);
    fixedNtlm_ = std::make_pair(challenge, timestamp);
}

}  // namespace platform::net

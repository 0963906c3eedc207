#pragma once
// An answer to one server (401) or proxy (407) challenge: Basic, Digest (MD5,
// MD5-sess, SHA-256, SHA-256-sess with qop=auth) or NTLM (NTLMv2). Made from the
// challenging response, it writes "Authorization" or "Proxy-Authorization" into
// the next request and learns from later responses whether it can still work.
// Shared between requests through the engine's session store, so it locks itself.
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/Error.h"
#include "platform/net/AuthChallenge.h"
#include "platform/net/HttpCredentials.h"
#include "platform/net/HttpRequestMessage.h"
#include "platform/net/HttpResponseHead.h"
#include "platform/net/Ntlm.h"

namespace platform::net {

// The credentials were refused: the engine forgets them and asks again.
inline constexpr int kHttpCredentialsRejected = 20;
// The server's challenge cannot be answered any more (another scheme, no challenge).
inline constexpr int kHttpChallengeUnusable = 21;

class HttpAuthentication {
  public:
    enum class Scheme { Basic, Digest, Ntlm };
    enum class Target { Server, Proxy };

    // From a 401 ("WWW-Authenticate") or 407 ("Proxy-Authenticate") response; none
    // without a challenge in a scheme we speak. NTLM is preferred to Digest, Digest
    // to Basic.
    static std::shared_ptr<HttpAuthentication> create(const HttpResponseHead& response);

    Scheme scheme() const { return scheme_; }
    Target target() const { return target_; }
    std::string method() const;  // "Basic", "Digest", "NTLM"
    std::string realm() const;
    bool requiresAccountDomain() const { return scheme_ == Scheme::Ntlm; }
    bool requiresUserNameAndPassword() const { return true; }

    bool isValid() const;
    std::optional<base::Error> error() const;

    // Reads a later response on the same road. Basic turns invalid when challenged
    // again after it was applied; Digest stays valid when the server only calls its
    // nonce stale; NTLM takes the server's challenge and stays valid (the engine's
    // retry count ends a refused handshake).
    void update(const HttpResponseHead& response);
    // Writes the authorization field into the message; false when it cannot (no
    // user name, invalid object, a name or password that would break the header).
    bool apply(HttpRequestMessage& message, const HttpCredentials& credentials);

    // Test hooks: fixed client nonces and times instead of random and current ones.
    void setClientNonceForTesting(std::string cnonce);
    void setNtlmClientChallengeForTesting(std::array<uint8_t, 8> challenge, uint64_t timestamp);

  private:
    HttpAuthentication(Scheme scheme, Target target, AuthChallenge challenge);
    static std::optional<AuthChallenge> pick(const std::vector<AuthChallenge>& all,
                                             std::optional<Scheme> only);
    std::string fieldName() const;
    std::optional<std::string> basicValue(const HttpCredentials& c) const;
    std::optional<std::string> digestValue(const HttpRequestMessage& m, const HttpCredentials& c);
    std::optional<std::string> ntlmValue(const HttpCredentials& c);
    void invalidate(int code, const std::string& why);

    mutable std::mutex mutex_;
    Scheme scheme_;
    Target target_;
    AuthChallenge challenge_;
    bool applied_ = false;
    std::optional<base::Error> error_;
    uint32_t nonceCount_ = 0;
    std::string fixedCnonce_;
    std::optional<ntlm::Challenge> ntlmChallenge_;
    std::optional<std::pair<std::array<uint8_t, 8>, uint64_t>> fixedNtlm_;
};

// The Digest response value (RFC 7616 §3.4.1); exposed for the published vectors.
std::string digestResponse(const std::string& algorithm, const std::string& user,
                           const std::string& realm, const std::string& password,
                           const std::string& method, const std::string& uri,
                           const std::string& nonce, const std::string& nc,
                           const std::string& cnonce, const std::string& qop);

}  // namespace platform::net

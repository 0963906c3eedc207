#pragma once
// NTLM messages (NTLMv2 and LMv2 responses) for the three-leg HTTP handshake:
// negotiate, the server's challenge, authenticate. No signing or sealing: HTTP
// uses NTLM only to authenticate the connection.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/HttpCredentials.h"

namespace platform::net::ntlm {

using Bytes = std::vector<uint8_t>;

struct Challenge {
    uint32_t flags = 0;
    std::array<uint8_t, 8> serverChallenge{};
    Bytes targetInfo;
};

struct V2Responses {
    Bytes ntResponse;  // NTProofStr followed by the client blob
    Bytes lmResponse;  // HMAC followed by the client challenge
    Bytes sessionBaseKey;
};

Bytes negotiateMessage();
// None for anything that is not a well-formed challenge message.
std::optional<Challenge> parseChallenge(const Bytes& message);
// NTOWFv2: HMAC-MD5 of the upper-cased user and the domain under the NT hash.
Bytes ntowfV2(const std::string& password, const std::string& user, const std::string& domain);
V2Responses computeV2(const Bytes& responseKey, const std::array<uint8_t, 8>& serverChallenge,
                      const std::array<uint8_t, 8>& clientChallenge, uint64_t timestamp,
                      const Bytes& targetInfo);
// `timestamp` is in 100 ns units since 1601; the server's own one from the
// target information wins when it sent one.
Bytes authenticateMessage(const Challenge& challenge, const HttpCredentials& credentials,
                          const std::string& workstation,
                          const std::array<uint8_t, 8>& clientChallenge, uint64_t timestamp);
// UTF-8 to UTF-16 little-endian, as NTLM carries its texts.
Bytes utf16le(const std::string& utf8);

}  // namespace platform::net::ntlm

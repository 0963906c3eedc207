#pragma once
// What a user answers to a challenge. The account domain is used by NTLM only.
#include <string>

namespace platform::net {

struct HttpCredentials {
    std::string user;
    std::string password;
    std::string domain;
};

}  // namespace platform::net

// Challenge headers of any shape must parse into bounded lists and never crash
// the authentication objects built from them.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/net/AuthChallenge.h"
#include "platform/net/HttpAuthentication.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    auto all = platform::net::AuthChallenge::parse({text});
    if (all.size() > platform::net::AuthChallenge::kMaxChallenges)
        abort();
    platform::net::HttpResponseHead head;
    head.statusCode = 401;
    head.headers.add("WWW-Authenticate", text);
    if (auto auth = platform::net::HttpAuthentication::create(head)) {
        platform::net::HttpRequestMessage m("GET", *platform::net::Url::parse("http://h/p"));
        auth->apply(m, {"user", "pw", "dom"});
        auth->update(head);
        auth->apply(m, {"user", "pw", "dom"});
    }
    return 0;
}

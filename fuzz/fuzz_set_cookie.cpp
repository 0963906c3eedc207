// Set-Cookie fields of any shape: the parser must keep its caps and the store
// must only ever hold cookies that the origin was allowed to set.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/net/Cookie.h"
#include "platform/net/CookieStore.h"
#include "platform/net/HttpDate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    static const auto origin = *platform::net::Url::parse("https://www.example.com/a/b");
    auto cookie = platform::net::Cookie::parse(text, origin, 1'700'000'000);
    if (cookie) {
        if (cookie->name.size() + cookie->value.size() > platform::net::Cookie::kMaxNameValueBytes)
            abort();
        if (cookie->domain != "www.example.com" && cookie->domain != "example.com")
            abort();
        platform::net::CookieStore store;
        store.setCookies({*cookie});
        store.cookiesForUrl(origin);
    }
    platform::net::HttpDate::parse(text);
    return 0;
}

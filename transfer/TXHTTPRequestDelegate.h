#pragma once
// What a request tells the object that made it. Every call arrives on the main
// thread; a receiver that has gone away receives nothing. Methods have empty
// bodies, so a receiver overrides only what it wants. Where the request behaves
// differently depending on whether anyone listens (a redirect waits for
// confirmation, received data is handed over instead of kept, a challenge waits
// for credentials), the receiver says so through the matching answers...() query.
#include "base/Url.h"
#include "base/Value.h"

class TXHTTPRequest;

namespace platform::net {
class HttpHeaders;
}

class TXHTTPRequestDelegate {
  public:
    virtual ~TXHTTPRequestDelegate() = default;

    virtual void requestStarted(TXHTTPRequest&) {}
    virtual void didReceiveResponseHeaders(TXHTTPRequest&, const platform::net::HttpHeaders&) {}
    virtual void requestFinished(TXHTTPRequest&) {}
    virtual void requestFailed(TXHTTPRequest&) {}
    virtual void requestRedirected(TXHTTPRequest&) {}

    // A receiver that answers gets the new address and must call redirectToURL().
    virtual bool answersWillRedirect() const { return false; }
    virtual void willRedirectToURL(TXHTTPRequest&, const base::Url&) {}

    // A receiver that answers gets every chunk of the body; the request keeps none.
    virtual bool answersDidReceiveData() const { return false; }
    virtual void didReceiveData(TXHTTPRequest&, const base::Data&) {}

    // A receiver that answers sets credentials and calls retryUsingSuppliedCredentials(),
    // or calls cancelAuthentication().
    virtual bool answersAuthenticationNeeded() const { return false; }
    virtual void authenticationNeededForRequest(TXHTTPRequest&) {}
    virtual bool answersProxyAuthenticationNeeded() const { return false; }
    virtual void proxyAuthenticationNeededForRequest(TXHTTPRequest&) {}
};

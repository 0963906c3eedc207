#pragma once
// What a request tells the object that made it. Every call arrives on the main
// thread (inline when the request is already there, else posted); a receiver that
// has gone away receives nothing. Methods have empty bodies, so a receiver overrides
// only what it wants. Where the request behaves differently depending on whether
// anyone listens (a redirect waits for confirmation, received data is handed over
// instead of kept, a challenge waits for credentials), the receiver says so through
// the matching answers...() query.
//
// One request's calls, in order (the request runs on the network thread, or on the
// caller's thread in its private mode when synchronous; phases: TXRequestLifecycle):
//   1. requestStarted: the message is about to go out (again after each retry,
//      redirect or authentication round).
//   2. didReceiveResponseHeaders: the status line and header fields are in.
//   3. requestRedirected, then willRedirectToURL when answered: a 301/302/303/307
//      with a Location; the request starts again at 1 (at most 5 times).
//   4. didReceiveData when answered (else the body is kept), with progress to the
//      progress delegates and blocks as bytes go out and come in.
//   5. authenticationNeededForRequest / proxyAuthenticationNeededForRequest when
//      answered and no stored credentials fit; the request waits (AwaitingCredentials)
//      for retryUsingSuppliedCredentials() or cancelAuthentication(), then goes on at 1.
//   6. exactly one of requestFinished or requestFailed (also after a cancel).
// At each step the delegate's selector runs first, then the request's block, then the
// owning queue's method. A HEAD companion sends none of these (it reports into its main
// request); a PAC file request reports only to the request that waits for it, on that
// request's own thread.
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

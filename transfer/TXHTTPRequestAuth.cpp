// Credentials before and after a challenge, the session stores, asking the
// receivers, and finding the proxy (settings and auto-configuration scripts).
#include <fstream>
#include <sstream>

#include "platform/crypto/Base64.h"
#include "platform/net/PacEvaluator.h"
#include "platform/net/ProxySettings.h"
#include "transfer/TXCredentialQuestions.h"
#include "transfer/TXCredentialStorage.h"
#include "transfer/TXHTTPRequestState.h"
#include "transfer/TXSessionCredentialStore.h"

namespace {

// More rounds than any real handshake needs: a server that keeps answering 401
// (a Digest nonce that is "stale" for ever) must not keep us busy for ever.
constexpr int kMaxAuthenticationRounds = 5;
constexpr size_t kMaxPacBytes = 1 << 20;

std::recursive_mutex delegateAuthenticationLock;

base::Error authenticationError() {
    return TXMakeError(TXErrorCode::Authentication, "Authentication needed");
}

uint16_t effectivePort(const base::Url& url) {
    if (auto p = url.port())
        return *p;
    return url.scheme() == "https" ? 443 : 80;
}

TXSessionCredentialStore& storeFor(bool proxy) {
    return proxy ? TXSessionCredentialStore::proxies() : TXSessionCredentialStore::servers();
}

}  // namespace

void TXHTTPRequest::addBasicAuthenticationHeaderWithUsername(const std::string& user,
                                                             const std::string& pass) {
    std::lock_guard guard(s_->lock);
    addRequestHeader("Authorization",
                     "Basic " + platform::crypto::Base64::encode(user + ":" + pass));
    s_->authScheme = "Basic";
    s_->engineAddedAuthorization = true;
}

// The request's own credentials belong to the address it was made for: after a
// redirect they go only to the same scheme, host and port, and never from https
// down to http.
bool TXHTTPRequest::State::sameOriginAsOriginal() const {
    const std::optional<base::Url>& first = originalURL ? originalURL : url;
    return first && url && isSameOrigin(*first, *url);
}

bool TXHTTPRequest::isSameOrigin(const base::Url& a, const base::Url& b) {
    using platform::net::HttpHeaders;
    return HttpHeaders::equalsIgnoringCase(a.scheme(), b.scheme()) &&
           HttpHeaders::equalsIgnoringCase(a.host(), b.host()) &&
           effectivePort(a) == effectivePort(b);
}

void TXHTTPRequest::State::applyAuthorizationHeader() {
    if (!credentialsBeforeChallenge || !url || !message)
        return;
    if (!requestHeaders.contains("Authorization")) {
        if (!username.empty() && !password.empty() && authScheme == "Basic" &&
            sameOriginAsOriginal()) {
            // Into the request's own headers only: they are copied into the message
            // next, and a second "Authorization" line is refused by real servers.
            r.addBasicAuthenticationHeaderWithUsername(username, password);
        } else if (sessionPersistence) {
            std::optional<platform::net::HttpCredentials> own;
            if (!username.empty() && !password.empty())
                own = platform::net::HttpCredentials{username, password, domain};
            auto entry = TXSessionCredentialStore::servers().find(
                url->absoluteString(), url->scheme(), url->host(), effectivePort(*url), authRealm,
                own);
            if (entry && entry->authentication) {
                if (entry->authentication->apply(*message, entry->credentials)) {
                    authentication = entry->authentication;
                    authScheme = entry->authenticationScheme;
                    // What went out, so that a refusal takes exactly these out of the store.
                    requestCredentials = entry->credentials;
                } else {
                    TXSessionCredentialStore::servers().remove(
                        entry->credentials, entry->scheme, entry->host, entry->port, entry->realm);
                }
            } else if (entry) {
                std::string value =
                    "Basic " + platform::crypto::Base64::encode(entry->credentials.user + ":" +
                                                                entry->credentials.password);
                message->setHeader("Authorization", value);
                authScheme = "Basic";
                requestCredentials = entry->credentials;
            }
        }
    }
    if (sessionPersistence && !proxyHost.empty()) {
        auto entry = TXSessionCredentialStore::proxies().findProxy(
            proxyHost, static_cast<uint16_t>(proxyPort));
        if (entry && entry->authentication) {
            if (entry->authentication->apply(*message, entry->credentials)) {
                proxyAuthentication = entry->authentication;
                proxyAuthScheme = entry->authenticationScheme;
            } else {
                TXSessionCredentialStore::proxies().removeProxy(entry->credentials, entry->host,
                                                                entry->port);
            }
        }
    }
}

void TXHTTPRequest::State::storeBasicSessionCredentials() {
    if (authentication || authScheme != "Basic" || username.empty() || password.empty() ||
        !sessionPersistence || !url || !sameOriginAsOriginal())
        return;
    TXSessionCredentialStore::Entry entry;
    entry.credentials = {username, password, domain};
    entry.url = url->absoluteString();
    entry.scheme = url->scheme();
    entry.host = url->host();
    entry.port = effectivePort(*url);
    entry.authenticationScheme = "Basic";
    TXSessionCredentialStore::servers().store(entry);
}

std::optional<platform::net::HttpCredentials> TXHTTPRequest::State::findCredentials(
    bool proxy) const {
    platform::net::HttpCredentials c;
    auto main = isHeadOfMain() ? mainRequest.lock() : nullptr;
    if (proxy) {
        if (main && !main->proxyUsername().empty()) {
            c.user = main->proxyUsername();
            c.password = main->proxyPassword();
        } else if (!proxyUsername.empty()) {
            c.user = proxyUsername;
            c.password = proxyPassword;
        } else if (proxyAuthentication && proxyAuthentication->scheme() ==
                                              platform::net::HttpAuthentication::Scheme::Ntlm) {
            c.user = username;
            c.password = password;
        }
        c.domain = proxyDomain.empty() ? domain : proxyDomain;
    } else {
        auto own = url ? url->user() : std::nullopt;
        if (own && !own->empty()) {
            c.user = *own;
            c.password = url->password().value_or("");
        } else if (main && !main->username().empty()) {
            c.user = main->username();
            c.password = main->password();
        } else if (!username.empty() && sameOriginAsOriginal()) {
            c.user = username;
            c.password = password;
        }
        c.domain = domain;
    }
    if (c.user.empty() && keychainPersistence) {
        std::optional<platform::net::HttpCredentials> saved;
        if (proxy && !proxyHost.empty())
            saved = TXCredentialStorage::findProxy(proxyHost, static_cast<uint16_t>(proxyPort),
                                                   proxyAuthRealm);
        else if (!proxy && url)
            saved = TXCredentialStorage::find(url->host(), effectivePort(*url), url->scheme(),
                                              authRealm);
        if (saved) {
            std::string fallbackDomain = c.domain;
            c = *saved;
            if (c.domain.empty())
                c.domain = fallbackDomain;
        }
    }
    const auto& object = proxy ? proxyAuthentication : authentication;
    if (object && object->requiresAccountDomain() && c.domain.empty()) {
        auto slash = c.user.find('\\');
        if (slash != std::string::npos && c.user.find('\\', slash + 1) == std::string::npos) {
            c.domain = c.user.substr(0, slash);
            c.user = c.user.substr(slash + 1);
        }
    }
    if (c.user.empty() || c.password.empty())
        return std::nullopt;
    return c;
}

bool TXHTTPRequest::State::applyCredentials(bool proxy,
                                            const platform::net::HttpCredentials& credentials) {
    int& rounds = proxy ? proxyAuthenticationRetryCount : authenticationRetryCount;
    ++rounds;
    auto& object = proxy ? proxyAuthentication : authentication;
    if (!object || !message)
        return false;
    if (!object->apply(*message, credentials)) {
        forgetSessionCredentials(proxy, credentials);
        return false;
    }
    if (keychainPersistence) {
        if (proxy)
            r.saveProxyCredentialsToKeychain(credentials);
        else
            r.saveCredentialsToKeychain(credentials);
    }
    if (sessionPersistence) {
        TXSessionCredentialStore::Entry entry;
        entry.authentication = object;
        entry.credentials = credentials;
        entry.authenticationScheme = object->method();
        entry.realm = object->realm();
        if (proxy) {
            entry.host = proxyHost;
            entry.port = static_cast<uint16_t>(proxyPort);
        } else {
            entry.url = url->absoluteString();
            entry.scheme = url->scheme();
            entry.host = url->host();
            entry.port = effectivePort(*url);
        }
        storeFor(proxy).store(entry);
    }
    (proxy ? proxyCredentials : requestCredentials) = credentials;
    return true;
}

void TXHTTPRequest::State::failAuthentication() {
    lifecycle.enter(Phase::Ended);
    endQuestion();
    r.failWithError(authenticationError());
    if (inProgress)
        r.markAsFinished();
}

// Asks whoever can answer; false when nobody can, in which case the caller fails.
// A synchronous request never waits for an answer: its thread is the one that
// would have to deliver it.
bool TXHTTPRequest::State::askDelegateForCredentials(bool proxy) {
    if (synchronous)
        return false;
    auto d = delegate.lock();
    auto q = queue.lock();
    bool delegateAnswers =
        d && (proxy ? d->answersProxyAuthenticationNeeded() : d->answersAuthenticationNeeded());
    bool queueAnswers =
        !delegateAnswers && q &&
        (proxy ? q->answersProxyAuthenticationNeeded() : q->answersAuthenticationNeeded());
    const BasicBlock& block = proxy ? proxyAuthBlock : authBlock;
    if (!delegateAnswers && !queueAnswers && !block)
        return false;
    lifecycle.enter(Phase::AwaitingCredentials);
    lastActivityTime.reset();
    stopStatusTimer();
    auto keep = self();
    if (!TXCredentialQuestions::shared().askOrWait(questionSubject(proxy), keep))
        return true;  // another request's question is before the receiver
    onMain([keep, proxy, delegateAnswers, queueAnswers] {
        State& s = *keep->s_;
        auto del = delegateAnswers ? s.delegate.lock() : nullptr;
        auto qu = queueAnswers ? s.queue.lock() : nullptr;
        auto* receiver = del ? del.get() : qu.get();
        if (receiver) {
            if (proxy)
                receiver->proxyAuthenticationNeededForRequest(*keep);
            else
                receiver->authenticationNeededForRequest(*keep);
        }
        BasicBlock block = proxy ? s.proxyAuthBlock : s.authBlock;
        if (block)
            block();
    });
    return true;
}

void TXHTTPRequest::State::attemptToApplyCredentialsAndResume(bool proxy) {
    if (error || isCancelled())
        return;
    auto& object = proxy ? proxyAuthentication : authentication;
    int rounds = proxy ? proxyAuthenticationRetryCount : authenticationRetryCount;
    const platform::net::HttpResponseHead* head = stream ? stream->responseHead() : nullptr;
    if (rounds > kMaxAuthenticationRounds) {
        cancelLoad();
        failAuthentication();
        return;
    }
    // The protection space comes from this challenge, not from the object that carried
    // what we sent: credentials taken from the session before we knew our realm may be
    // another realm's.
    std::shared_ptr<platform::net::HttpAuthentication> fresh =
        head ? platform::net::HttpAuthentication::create(*head) : nullptr;
    auto& previous = proxy ? proxyCredentials : requestCredentials;
    if (object && fresh && object->realm() != fresh->realm()) {
        // Not refused for their own realm: they stay in the session, and the object that
        // carried them, shared with it, is left as it is for the requests of that realm.
        object = fresh;
        previous.reset();
    } else if (!object) {
        object = fresh;
        if (!object) {
            cancelLoad();
            r.failWithError(TXMakeError(TXErrorCode::ApplyingCredentials,
                                        "Failed to get authentication object from response "
                                        "headers"));
            return;
        }
    } else if (head) {
        object->update(*head);
    }
    const auto& space = fresh ? fresh : object;
    (proxy ? proxyAuthScheme : authScheme) = object->method();
    (proxy ? proxyAuthRealm : authRealm) = space->requiresAccountDomain() ? "" : space->realm();

    if (object->isValid()) {
        cancelLoad();
        if (previous) {
            bool ntlm = object->scheme() == platform::net::HttpAuthentication::Scheme::Ntlm;
            if (!(ntlm && rounds > 1) && applyCredentials(proxy, *previous)) {
                startRequest();
            } else if (ntlm && rounds == 2) {
                failAuthentication();
            } else {
                r.failWithError(TXMakeError(TXErrorCode::ApplyingCredentials,
                                            proxy ? "Failed to apply proxy credentials to request"
                                                  : "Failed to apply credentials to request"));
            }
            return;
        }
        std::lock_guard one(delegateAuthenticationLock);
        if (error || isCancelled())
            return;
        std::optional<platform::net::HttpCredentials> found = sessionCredentials(proxy);
        if (!found)
            found = findCredentials(proxy);
        if (found) {
            if (applyCredentials(proxy, *found)) {
                startRequest();
            } else {
                r.failWithError(TXMakeError(TXErrorCode::ApplyingCredentials,
                                            proxy ? "Failed to apply proxy credentials to request"
                                                  : "Failed to apply credentials to request"));
            }
            return;
        }
        if (!askDelegateForCredentials(proxy))
            failAuthentication();
        return;
    }

    // The object can no longer work: the server refused what we sent. The next
    // credentials, from the session or a receiver, go out with a new object made from
    // this challenge (the stream that carries it goes with the load).
    std::optional<base::Error> why = object->error();
    object = fresh;
    cancelLoad();
    if (why && why->code() == platform::net::kHttpCredentialsRejected) {
        std::lock_guard one(delegateAuthenticationLock);
        if (previous)
            forgetSessionCredentials(proxy, *previous);
        previous.reset();
        if (error || isCancelled())
            return;
        restartFromSessionOrAsk(proxy);
        return;
    }
    object.reset();
    failAuthentication();
}

std::optional<platform::net::HttpCredentials> TXHTTPRequest::State::sessionCredentials(
    bool proxy) const {
    if (!sessionPersistence)
        return std::nullopt;
    std::optional<TXSessionCredentialStore::Entry> entry;
    if (proxy) {
        entry = TXSessionCredentialStore::proxies().findProxy(proxyHost,
                                                              static_cast<uint16_t>(proxyPort));
    } else if (url) {
        entry = TXSessionCredentialStore::servers().find(url->absoluteString(), url->scheme(),
                                                         url->host(), effectivePort(*url),
                                                         authRealm, std::nullopt);
    }
    if (!entry)
        return std::nullopt;
    return entry->credentials;
}

void TXHTTPRequest::State::forgetSessionCredentials(bool proxy,
                                                    const platform::net::HttpCredentials& refused) {
    if (proxy)
        TXSessionCredentialStore::proxies().removeProxy(refused, proxyHost,
                                                        static_cast<uint16_t>(proxyPort));
    else if (url)
        TXSessionCredentialStore::servers().remove(refused, url->scheme(), url->host(),
                                                   effectivePort(*url), authRealm);
}

TXCredentialQuestions::Subject TXHTTPRequest::State::questionSubject(bool proxy) const {
    if (proxy)
        return {true, "", proxyHost, static_cast<uint16_t>(proxyPort), proxyAuthRealm};
    return {false, url ? url->scheme() : "", url ? url->host() : "",
            url ? effectivePort(*url) : uint16_t{0}, authRealm};
}

void TXHTTPRequest::State::endQuestion() {
    for (auto& waiter : TXCredentialQuestions::shared().end(&r)) {
        waiter->s_->postToLoop([](State& s) { s.resumeAfterQuestion(); });
    }
}

void TXHTTPRequest::State::resumeAfterQuestion() {
    if (!lifecycle.awaitsCredentials())
        return;
    lifecycle.enter(Phase::Ended);
    std::lock_guard one(delegateAuthenticationLock);
    restartFromSessionOrAsk(authenticationNeeded == AuthenticationState::Proxy);
}

// Another request may have been given working credentials meanwhile: they restart this
// one. Else the receiver is asked (or the question already put is waited for), and with
// nobody to ask the request fails.
void TXHTTPRequest::State::restartFromSessionOrAsk(bool proxy) {
    if (auto found = sessionCredentials(proxy); found && applyCredentials(proxy, *found)) {
        startRequest();
        return;
    }
    if (!askDelegateForCredentials(proxy))
        failAuthentication();
}

void TXHTTPRequest::retryUsingSuppliedCredentials() {
    std::lock_guard guard(s_->lock);
    s_->postToLoop([](State& s) {
        if (!s.lifecycle.awaitsCredentials())
            return;
        s.lifecycle.enter(State::Phase::Ended);
        if (s.message) {
            s.requestCredentials.reset();
            s.proxyCredentials.reset();
            bool proxy = s.authenticationNeeded == AuthenticationState::Proxy;
            auto found = s.findCredentials(proxy);
            if (found && s.applyCredentials(proxy, *found)) {
                // Into the session store by now, for those who waited.
                s.endQuestion();
                s.startRequest();
            } else {
                s.failAuthentication();
            }
        } else {
            s.endQuestion();
            s.r.main();
        }
    });
}

void TXHTTPRequest::cancelAuthentication() {
    std::lock_guard guard(s_->lock);
    s_->postToLoop([](State& s) {
        if (s.lifecycle.awaitsCredentials())
            s.failAuthentication();
    });
}

// ---- credentials kept for good ------------------------------------------------

bool TXHTTPRequest::saveCredentials(const platform::net::HttpCredentials& credentials,
                                    const std::string& host, int port, const std::string& protocol,
                                    const std::string& realm) {
    return TXCredentialStorage::save(credentials, host, static_cast<uint16_t>(port), protocol,
                                     realm);
}

bool TXHTTPRequest::saveCredentials(const platform::net::HttpCredentials& credentials,
                                    const std::string& proxy, int port, const std::string& realm) {
    return TXCredentialStorage::saveProxy(credentials, proxy, static_cast<uint16_t>(port), realm);
}

std::optional<platform::net::HttpCredentials> TXHTTPRequest::savedCredentialsForHost(
    const std::string& host, int port, const std::string& protocol, const std::string& realm) {
    return TXCredentialStorage::find(host, static_cast<uint16_t>(port), protocol, realm);
}

// Proxies are always of the HTTP proxy type here, so the protocol does not
// separate their spaces.
std::optional<platform::net::HttpCredentials> TXHTTPRequest::savedCredentialsForProxy(
    const std::string& proxy, int port, const std::string&, const std::string& realm) {
    return TXCredentialStorage::findProxy(proxy, static_cast<uint16_t>(port), realm);
}

bool TXHTTPRequest::removeCredentialsForHost(const std::string& host, int port,
                                             const std::string& protocol,
                                             const std::string& realm) {
    return TXCredentialStorage::remove(host, static_cast<uint16_t>(port), protocol, realm);
}

bool TXHTTPRequest::removeCredentialsForProxy(const std::string& proxy, int port,
                                              const std::string& realm) {
    return TXCredentialStorage::removeProxy(proxy, static_cast<uint16_t>(port), realm);
}

void TXHTTPRequest::saveCredentialsToKeychain(const platform::net::HttpCredentials& credentials) {
    std::lock_guard guard(s_->lock);
    if (!s_->url)
        return;
    TXCredentialStorage::save(credentials, s_->url->host(), effectivePort(*s_->url),
                              s_->url->scheme(), s_->authRealm);
}

void TXHTTPRequest::saveProxyCredentialsToKeychain(
    const platform::net::HttpCredentials& credentials) {
    std::lock_guard guard(s_->lock);
    if (s_->proxyHost.empty())
        return;
    TXCredentialStorage::saveProxy(credentials, s_->proxyHost, static_cast<uint16_t>(s_->proxyPort),
                                   s_->proxyAuthRealm);
}

void TXHTTPRequest::clearSession() {
    TXSessionCredentialStore::servers().clear();
    setSessionCookies({});
    if (auto cache = defaultCache())
        cache->clearCachedResponsesForStoragePolicy(0);
}

// ---- proxies ----------------------------------------------------------------

bool TXHTTPRequest::State::configureProxies() {
    if (isPACFileRequest() || !proxyHost.empty() || proxyPort != 0)
        return true;
    if (pacUrl) {
        fetchPACFile();
        return false;
    }
    auto entries = platform::net::ProxySettings::system().proxiesForUrl(message->url());
    if (entries.empty())
        return true;
    const auto& first = entries.front();
    using Type = platform::net::ProxyEntry::Type;
    if (first.type == Type::AutoConfigurationUrl) {
        pacUrl = base::Url::parse(first.pacUrl);
        if (!pacUrl)
            return true;
        fetchPACFile();
        return false;
    }
    if (first.type == Type::Direct)
        return true;
    proxyHost = first.host;
    proxyPort = first.port;
    proxyType = first.type == Type::Socks ? ProxyType::Socks : ProxyType::Http;
    if (proxyUsername.empty() && !first.user.empty()) {
        proxyUsername = first.user;
        proxyPassword = first.password;
    }
    return true;
}

void TXHTTPRequest::State::usePacScript(const std::string& script) {
    auto keep = self();
    platform::net::PacEvaluator::evaluateAsync(
        script, message->url(), *loop,
        [keep](std::vector<platform::net::ProxyEntry> entries) {
            State& s = *keep->s_;
            s.guarded("a proxy script answer", [&] {
                if (s.error || s.isCancelled())
                    return;
                if (!entries.empty() && !entries.front().isDirect()) {
                    const auto& first = entries.front();
                    s.proxyHost = first.host;
                    s.proxyPort = first.port;
                    s.proxyType = first.type == platform::net::ProxyEntry::Type::Socks
                                      ? ProxyType::Socks
                                      : ProxyType::Http;
                }
                s.startRequest();
            });
        },
        std::min(timeOutSeconds > 0 ? timeOutSeconds : 10.0,
                 platform::net::PacEvaluator::kDefaultTimeLimit));
}

void TXHTTPRequest::State::fetchPACFile() {
    std::string scheme = pacUrl->scheme();
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme == "file") {
        auto path = base::Url::percentDecode(pacUrl->path());
        std::ifstream in(path.value_or(""), std::ios::binary);
        std::string script;
        if (in) {
            std::ostringstream text;
            text << in.rdbuf();
            script = text.str();
        }
        if (script.empty() || script.size() > kMaxPacBytes) {
            startRequest();
            return;
        }
        usePacScript(script);
        return;
    }
    if (scheme != "http" && scheme != "https") {
        startRequest();
        return;
    }
    auto pac = TXHTTPRequest::requestWithURL(pacUrl);
    pac->s_->role = State::Role::PacFile;
    pac->s_->timeOutSeconds = timeOutSeconds;
    pac->s_->validatesCertificate = validatesCertificate;
    pac->s_->caFile = caFile;
    std::weak_ptr<TXHTTPRequest> weak = self();
    base::RunLoop* home = loop;
    pac->s_->pacDone = [weak, home](TXHTTPRequest& done) {
        bool ok = !done.error() && done.responseStatusCode() < 400;
        std::string script;
        if (ok) {
            auto data = done.responseData();
            if (data && data->size() <= kMaxPacBytes)
                script.assign(data->begin(), data->end());
        }
        home->post([weak, script] {
            auto me = weak.lock();
            if (!me)
                return;
            State& s = *me->s_;
            s.guarded("a proxy script", [&] {
                s.pacRequest.reset();
                if (s.error || s.isCancelled())
                    return;
                if (script.empty())
                    s.startRequest();
                else
                    s.usePacScript(script);
            });
        });
    };
    pacRequest = pac;
    if (synchronous) {
        pac->startSynchronous();
        return;
    }
    // The script's request must not wait behind the requests that wait for it.
    auto queue = TXHTTPRequest::sharedQueue();
    queue->setMaxConcurrentOperationCount(queue->maxConcurrentOperationCount() + 1);
    pac->setCompletion([queue] {
        queue->setMaxConcurrentOperationCount(queue->maxConcurrentOperationCount() - 1);
    });
    pac->setPriority(base::Operation::Priority::High);
    queue->addOperation(pac);
}

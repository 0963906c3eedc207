#pragma once
// The hub's callback protocol: addresses of the scheme "quorv<client id>" are claimed
// and handed to the token controller; nothing is ever loaded for them.
//
// The scheme is made known to the web engine before the application object exists
// (registerScheme); a handler on the profile answers any load that still reaches it,
// and the page claims navigations before they start (OWQuorvaneAuthWebPage).
#include <QWebEngineUrlSchemeHandler>
#include <set>
#include <string>
#include <string_view>

class OWQuorvaneAuthProtocol : public QWebEngineUrlSchemeHandler {
  public:
    explicit OWQuorvaneAuthProtocol(QObject* parent = nullptr);

    // "quorv" and the client id, in lower case: schemes are case-insensitive.
    static std::string schemeName(const std::string& clientID);
    // Makes the scheme known to the web engine; call before the QApplication exists.
    static void registerScheme(const std::string& clientID);

    // Whether `address` begins with "quorv<client id>://" in any letter case. A
    // claimed address goes to the token controller's handleURL, once until the status
    // page is built again, however often the engine asks about it.
    static bool canInitWithRequest(std::string_view address);
    // Forgets the addresses handed over (each page build starts a new link or revoke).
    static void forgetHandedOver();

    void requestStarted(QWebEngineUrlRequestJob* job) override;

  private:
    static std::set<std::string>& handedOver();
};

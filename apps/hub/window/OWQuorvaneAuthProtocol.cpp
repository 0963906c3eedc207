#include "apps/hub/window/OWQuorvaneAuthProtocol.h"

#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneRedaction.h"
#include "support/OWLog.h"

OWQuorvaneAuthProtocol::OWQuorvaneAuthProtocol(QObject* parent)
    : QWebEngineUrlSchemeHandler(parent) {}

std::string OWQuorvaneAuthProtocol::schemeName(const std::string& clientID) {
    return "quorv" + clientID;
}

void OWQuorvaneAuthProtocol::registerScheme(const std::string& clientID) {
    // Not a local scheme: the service's page must be allowed to redirect to it. The
    // engine keeps scheme names in lower case.
    QWebEngineUrlScheme scheme(QByteArray::fromStdString(schemeName(clientID)).toLower());
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

std::set<std::string>& OWQuorvaneAuthProtocol::handedOver() {
    // Main thread only: the engine asks on it.
    static std::set<std::string> addresses;
    return addresses;
}

void OWQuorvaneAuthProtocol::forgetHandedOver() {
    handedOver().clear();
}

bool OWQuorvaneAuthProtocol::canInitWithRequest(std::string_view address) {
    auto controller = OWQuorvaneAuthController::sharedController();
    const std::string prefix = schemeName(controller->publicKey().value_or("")) + "://";
    if (!address.starts_with(prefix)) {
        return false;
    }
    OWLog::appendLogAndDebugPrint("Request URL: %@", OWQuorvaneRedaction::text(address));
    if (handedOver().insert(std::string(address)).second) {
        controller->handleURL(address);
    }
    return true;
}

void OWQuorvaneAuthProtocol::requestStarted(QWebEngineUrlRequestJob* job) {
    canInitWithRequest(job->requestUrl().toEncoded().toStdString());
    job->fail(QWebEngineUrlRequestJob::RequestAborted);
}

#include "apps/hub/window/OWQuorvaneAuthProtocol.h"

#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <algorithm>
#include <cctype>

#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneRedaction.h"
#include "support/OWLog.h"

OWQuorvaneAuthProtocol::OWQuorvaneAuthProtocol(QObject* parent)
    : QWebEngineUrlSchemeHandler(parent) {}

std::string OWQuorvaneAuthProtocol::schemeName(const std::string& clientID) {
    // Schemes are case-insensitive, and the engine and QUrl keep them in lower case.
    std::string name = "quorv" + clientID;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

void OWQuorvaneAuthProtocol::registerScheme(const std::string& clientID) {
    // Not a local scheme: the service's page must be allowed to redirect to it.
    QWebEngineUrlScheme scheme(QByteArray::fromStdString(schemeName(clientID)));
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
    if (address.size() < prefix.size() ||
        !std::equal(prefix.begin(), prefix.end(), address.begin(), [](char a, char b) {
            return a == std::tolower(static_cast<unsigned char>(b));
        })) {
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

#include "apps/hub/window/HubApplication.h"

#include <QCoreApplication>

#include "apps/hub/window/OWQuorvaneAuthDelegate.h"
#include "apps/hub/window/OWQuorvaneAuthProtocol.h"
#include "base/Bundle.h"
#include "client/OWQuorvaneAuthController.h"

namespace hub {

void prepareWebEngine() {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    std::string clientID;
    if (auto bundle = base::Bundle::own()) {
        const base::Value& id =
            bundle->objectForInfoDictionaryKey(OWQuorvaneAuthController::kAppIDInfoKey);
        clientID = id.string() ? *id.string() : "";
    }
    OWQuorvaneAuthProtocol::registerScheme(clientID);
}

void tearDownWebEngine() {
    OWQuorvaneAuthDelegate::sharedController()->tearDown();
}

}  // namespace hub

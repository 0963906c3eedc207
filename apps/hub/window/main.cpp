// The linking window's program, started by "Quorvane Plugin Hub" for every start but
// "-oauth" (which it answers too, should it be started directly).
#include <QWebEngineView>
#include <cstdlib>

#include "apps/hub/HubOAuthMode.h"
#include "apps/hub/window/AppDelegate.h"
#include "apps/hub/window/HubApplication.h"
#include "apps/hub/window/OWQuorvaneAuthDelegate.h"
#include "platform/ui/qt/DesktopApplication.h"
#include "support/OWLog.h"

namespace {

// For the start-up benchmark: the program ends once its status page has loaded and
// been through the renderer once.
constexpr const char* kExitWhenShownEnvironment = "QUORVANE_HUB_EXIT_WHEN_SHOWN";

void exitWhenShown(QWebEngineView* view) {
    QObject::connect(view, &QWebEngineView::loadFinished, view, [view](bool) {
        view->page()->runJavaScript("document.readyState",
                                    [](const QVariant&) { QCoreApplication::quit(); });
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (hub::hasOAuthArgument(argc, argv)) {
        hub::runOAuthMode();
    }
    if (auto log = OWLog::sharedController()) {
        log->setAppName(std::string(hub::kAppName));
    }
    OWLog::createNewLog();
    hub::prepareWebEngine();
    int status = 0;
    {
        platform::ui::qt::DesktopApplication app(argc, argv);
        {
            AppDelegate delegate;
            delegate.applicationDidFinishLaunching();
            if (std::getenv(kExitWhenShownEnvironment)) {
                exitWhenShown(OWQuorvaneAuthDelegate::sharedController()->webView());
            }
            status = app.exec();
        }
        hub::tearDownWebEngine();
    }
    return status;
}

// Quorvane FCPX Exporter: the share destination the editor hands its movies to.
#include <cstdio>

#include "apps/share_destination/SAMApplicationDelegate.h"
#include "apps/share_destination/SAMDocumentController.h"
#include "apps/share_destination/SAMHandOver.h"
#include "client/OWQuorvaneAuthController.h"
#include "platform/ui/qt/DesktopApplication.h"

int main(int argc, char** argv) {
    platform::ui::qt::DesktopApplication app(argc, argv);
    QApplication::setApplicationName("Quorvane FCPX Exporter");
    // A windowless stretch (after the settings window, before the progress window) must
    // not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    OWQuorvaneAuthController::askHubWhenNoRecord();
    // A session that ends kills the program mid-upload: the link it reads through goes.
    sam::removeUploadLinkOnTermination();
    int status = 0;
    {
        auto delegate = SAMApplicationDelegate::create({});
        if (!delegate->applicationDidFinishLaunching()) {
            return 1;
        }
        status = app.exec();
        SAMDocumentController::sharedDocumentController().closeAll();
    }
    return status;
}

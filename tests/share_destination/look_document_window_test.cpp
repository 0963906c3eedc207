// A picture of the document window with a few assets, one of them with a 200-character
// name, the second selected; at the default scale and at scale 2 (set by the caller).
#include <QTest>
#include <QTreeView>

#include "apps/share_destination/SAMDocumentController.h"
#include "apps/share_destination/SAMWindowController.h"
#include "tests/helpers/TempDir.h"
#include "tests/helpers/desktop/DesktopTest.h"

namespace sharetest {
namespace {

class DocumentWindowLook : public testsupport::DesktopTest {};

TEST_F(DocumentWindowLook, AssetsWithALongNameAndASelection) {
    testsupport::TempDir dir;
    ::setenv("XDG_STATE_HOME", dir.makeFolder("state").c_str(), 1);
    auto document =
        SAMDocumentController::sharedDocumentController().openUntitledDocumentAndDisplay(true);
    SAMWindowController* window = document->primaryWindowController();
    const std::string longName(200, 'L');
    for (const std::string& name :
         {std::string("Launch Film - Cut One.mov"), std::string("Trailer.fcpxml"),
          longName + ".mp4", std::string("Voice.wav")}) {
        document->addURL(platform::scripting::FileURL::fromPath("/Users/editor/Movies/" + name),
                         false, {}, {});
    }
    auto* tree = window->window()->findChild<QTreeView*>("outlineView");
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      tree->visualRect(tree->model()->index(2, 0)).center());
    ASSERT_TRUE(waitFor([&] { return window->window()->isVisible(); }));
    EXPECT_FALSE(saveScreenshot(*window->window(), "document_window").empty());
    SAMDocumentController::sharedDocumentController().closeAll();
}

}  // namespace
}  // namespace sharetest

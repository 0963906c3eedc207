// Pictures of the linking window for a person to look at: both pages (the linked one
// with a long account name) and the server sheet with a long address.
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "tests/hub/window/HubWindowTest.h"

namespace hubtest {
namespace {

class HubLookTest : public HubWindowTest {
  protected:
    static void settle() {
        waitFor([] { return false; }, 1);  // layout and paint
    }
};

TEST_F(HubLookTest, BothPagesAndTheServerSheet) {
    settle();
    EXPECT_FALSE(saveScreenshot(*app->window(), "hub_unlinked").empty());
    linkDirectly("alice.longname-with-a-very-long-address@studio-example-productions.co.uk");
    settle();
    EXPECT_FALSE(saveScreenshot(*app->window(), "hub_linked").empty());

    QTest::mouseClick(app->window()->findChild<QPushButton*>("changeServerButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([this] { return linking().serverURLWindow()->isVisible(); }));
    QTest::keyClicks(linking().serverURLText(),
                     "https://review.studio-example-productions.co.uk/quorvane/self-hosted");
    settle();
    EXPECT_FALSE(saveScreenshot(*linking().serverURLWindow(), "hub_server_sheet").empty());
    QTest::keyClick(linking().serverURLText(), Qt::Key_Escape);
}

}  // namespace
}  // namespace hubtest

// Pictures of the linking window's two pages for a person to look at.
#include <QWebEngineView>

#include "tests/hub/window/HubWindowTest.h"

namespace hubtest {
namespace {

using HubLookTest = HubWindowTest;

TEST_F(HubLookTest, BothPages) {
    waitFor([] { return false; }, 1);  // the banner's web font and layout settle
    EXPECT_FALSE(saveScreenshot(*app->window(), "hub_unlinked").empty());
    linkDirectly("alice.longname-with-a-very-long-address@studio-example-productions.co.uk");
    waitFor([] { return false; }, 1);
    EXPECT_FALSE(saveScreenshot(*app->window(), "hub_linked").empty());
}

}  // namespace
}  // namespace hubtest

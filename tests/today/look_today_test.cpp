// Pictures of the widget in its host's panel, filled from the stand-in service, for a
// person to look at: a few rows with icons, a long file name, and the editing state.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QWidget>

#include "apps/today/TodayHost.h"
#include "apps/today/TodayIconLoader.h"
#include "tests/today/TodayTestSupport.h"

namespace todaytest {
namespace {

class TodayLookTest : public TodayTest {};

TEST_F(TodayLookTest, PanelWithRows) {
    QV_TODAY_PEER_SETUP();
    link();
    clearEvents();
    const std::string icon = service.url() + "/icon?size=64&color=";
    addEvents("Launch Film",
              R"([{"description": "Anna uploaded cut1.mov", "date": 1699990000, "icon": ")" + icon +
                  R"(2b6cd4", "url": "https://site.invalid/f/31"},
                  {"description": "Marc commented on Final_grade_v12_with_the_new_titles_and_the_music_from_the_second_session_approved_by_the_client.mov: \"Can we trim the last shot by two seconds?\"",
                   "date": 1700000850, "icon": ")" +
                  icon + R"(d4802b", "url": "https://site.invalid/f/32"}])");
    addEvents("Trailer", R"([{"description": "Lee approved trailer_v3.mov", "date": 1699900000,
                  "icon": ")" +
                             icon + R"(2bd46c", "url": "https://site.invalid/f/40"},
                  {"description": "New revision of poster.png", "date": 1690000000}])");
    auto widget = makeWidget();
    TodayHost host(widget);
    QWidget* panel = host.panel();
    panel->show();
    ASSERT_EQ(update(*widget), TodayViewController::UpdateResult::NewData);
    ASSERT_TRUE(waitFor([&] {
        auto& list = widget->listViewController();
        return list.count() == 4 && !list.rowController(2)->icon().isNull() &&
               !list.rowController(1)->icon().isNull() && !list.rowController(3)->icon().isNull();
    }));
    EXPECT_FALSE(saveScreenshot(*panel, "today-panel").empty());
    // The rows fit without a scroll bar; a shorter panel scrolls instead of squeezing.
    auto* scrollBar = panel->findChild<QScrollArea*>("listView")->verticalScrollBar();
    EXPECT_EQ(scrollBar->maximum(), 0);
    panel->resize(panel->width(), panel->height() / 2);
    QCoreApplication::processEvents();
    EXPECT_GT(scrollBar->maximum(), 0);
    panel->resize(panel->width(), panel->height() * 2);

    panel->findChild<QToolButton*>("editButton")->click();
    QCoreApplication::processEvents();  // the rows make room for their remove buttons
    EXPECT_FALSE(saveScreenshot(*panel, "today-panel-editing").empty());
}

}  // namespace
}  // namespace todaytest

// The widget's program in its terminal form: one update, the rows as text.
#include <gtest/gtest.h>

#include "tests/helpers/RunTool.h"
#include "tests/today/TodayTestSupport.h"

namespace todaytest {
namespace {

class TodayPrintTest : public TodayTest {
  protected:
    void SetUp() override {
        // The program finds the hub's record where every program of the suite does.
        keychainFolder = dir.makeFolder("data/Oxbury Works/Keychain");
        TodayTest::SetUp();
    }
    testsupport::ToolResult print(const std::string& dataHome) {
        return testsupport::runTool(
            {QV_TODAY_EXECUTABLE, "--print"},
            {"XDG_DATA_HOME=" + dataHome, "XDG_CONFIG_HOME=" + dir.makeFolder("config"),
             "XDG_STATE_HOME=" + dir.makeFolder("state"),
             "XDG_CACHE_HOME=" + dir.makeFolder("cache"), "QUORVANE_SITE_URL=" + service.url(),
             "TZ=Europe/Berlin", "LANG=en_US.UTF-8", "LC_ALL=en_US.UTF-8"});
    }
};

TEST_F(TodayPrintTest, PrintsTheRowsOfOneUpdateAsText) {
    QV_TODAY_PEER_SETUP();
    link();
    clearEvents();
    addEvents("Launch Film",
              R"([{"description": "cut1.mov uploaded", "date": 1700000000,
                   "url": "https://site.invalid/f/31"},
                  {"description": "Comment\u001b[2J\r\nwith\u009b controls", "date": 0}])");
    addEvents("Trailer", R"([{"description": "Approved", "date": 1600000000}])");

    auto result = print(dir.path() + "/data");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "Sep 13, 2020, 2:26:40\u202fPM | Trailer | Approved\n"
              "Jan 1, 1970, 1:00:00\u202fAM | Launch Film | Comment\uFFFD[2J  with  controls\n"
              "Nov 14, 2023, 11:13:20\u202fPM | Launch Film | cut1.mov uploaded | "
              "https://site.invalid/f/31\n");

    // The list is kept (the control characters made storable): a second run with
    // nothing new prints the same rows.
    auto again = print(dir.path() + "/data");
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, result.out);

    // Without the hub's record nothing is asked; the kept list is still shown.
    auto unlinked = print(dir.makeFolder("empty"));
    EXPECT_EQ(unlinked.status, 2);
    EXPECT_EQ(unlinked.out, result.out);
    EXPECT_EQ(sinceFields().size(), 2u);
}

}  // namespace
}  // namespace todaytest

// The widget's program in its terminal form: one update, the rows as text.
#include <gtest/gtest.h>

#include "base/Format.h"
#include "platform/crypto/Base64.h"
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
    // Dates are asked for in German but LC_ALL, which overrides LC_TIME, says US English.
    testsupport::ToolResult print(const std::string& dataHome,
                                  const std::vector<std::string>& env = {}) {
        std::vector<std::string> all = {"XDG_DATA_HOME=" + dataHome,
                                        "XDG_CONFIG_HOME=" + dir.makeFolder("config"),
                                        "XDG_STATE_HOME=" + dir.makeFolder("state"),
                                        "XDG_CACHE_HOME=" + dir.makeFolder("cache"),
                                        "QUORVANE_SITE_URL=" + service.url(),
                                        "TZ=Europe/Berlin",
                                        "LANG=en_US.UTF-8",
                                        "LC_TIME=de_DE.UTF-8",
                                        "LC_ALL=en_US.UTF-8"};
        for (const std::string& entry : env) {
            const std::string name = entry.substr(0, entry.find('=') + 1);
            std::erase_if(all, [&](const std::string& e) { return e.starts_with(name); });
            all.push_back(entry);
        }
        return testsupport::runTool({QV_TODAY_EXECUTABLE, "--print"}, all);
    }
    // The program's own defaults, read afresh from its file.
    std::shared_ptr<base::UserDefaults> programDefaults() {
        return std::make_shared<base::UserDefaults>("com.oxburyworks.QuorvPluginHub.TodayExtension",
                                                    dir.path() + "/config");
    }
    base::Value storedCheckTime() {
        return programDefaults()->object(TodayEventList::kLastCheckTimeKey);
    }
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        out.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
}

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

    // Without LC_ALL the dates follow LC_TIME rather than LANG.
    auto german = print(dir.path() + "/data", {"LC_ALL="});
    EXPECT_EQ(german.status, 0);
    EXPECT_EQ(german.out,
              "13.09.2020, 14:26:40 | Trailer | Approved\n"
              "01.01.1970, 01:00:00 | Launch Film | Comment\uFFFD[2J  with  controls\n"
              "14.11.2023, 23:13:20 | Launch Film | cut1.mov uploaded | "
              "https://site.invalid/f/31\n");

    // Without the hub's record nothing is asked; the kept list is still shown.
    auto unlinked = print(dir.makeFolder("empty"));
    EXPECT_EQ(unlinked.status, 2);
    EXPECT_EQ(unlinked.out, result.out);
    EXPECT_EQ(sinceFields().size(), 3u);
}

TEST_F(TodayPrintTest, RepliesThatCannotBeReadFailAndLoseNoEvents) {
    QV_TODAY_PEER_SETUP();
    link();
    clearEvents();
    addEvents("Launch Film", R"([{"description": "cut1.mov uploaded", "date": 1700000000}])");
    const std::string data = dir.path() + "/data";
    const auto first = print(data);
    ASSERT_EQ(first.status, 0);
    ASSERT_EQ(lines(first.out).size(), 1u);
    // A check time of our own: whatever the program stores instead shows.
    programDefaults()->setObject(base::Date{kNow}, TodayEventList::kLastCheckTimeKey);

    const std::string events = R"([{"description": "Approved", "date": 1700001000}])";
    const std::string list = R"([{"title": "Trailer", "events": )" + events + "}]";
    std::string latin1 = list;  // "Approved" with an e acute in ISO 8859-1
    latin1.replace(latin1.find("Approved"), 8, "Approv\xe9");
    std::string utf16 = "\xff\xfe";  // the list as UTF-16, byte order mark first
    for (char c : list) {
        utf16 += {c, '\0'};
    }
    const std::vector<std::string> replies = {
        R"({"base64": ")" + platform::crypto::Base64::encode(latin1) + R"("})",
        R"({"base64": ")" + platform::crypto::Base64::encode(utf16) + R"("})",
        R"({"json": {"projects": )" + list + "}}",  // an object without "error"
        R"({"json": "Approved"})",
    };
    for (const std::string& reply : replies) {
        SCOPED_TRACE(reply);
        service.script("/api/0/projects/events", reply);
        const auto failed = print(data);
        EXPECT_EQ(failed.status, 1);
        EXPECT_EQ(failed.out, first.out);
        EXPECT_EQ(storedCheckTime(), base::Value(base::Date{kNow}));
    }

    // Read, the same events are listed: the next call still asks from the kept time.
    addEvents("Trailer", events);
    const auto read = print(data);
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(lines(read.out).size(), 2u);
    EXPECT_EQ(sinceFields().back(), base::format("%.0f", kNow + 1));
    EXPECT_NE(storedCheckTime(), base::Value(base::Date{kNow}));
}

TEST_F(TodayPrintTest, ALongListSentTwiceKeepsItsNewest500Events) {
    QV_TODAY_PEER_SETUP();
    link();
    clearEvents();
    std::string events;
    for (int i = 0; i < 10000; ++i) {
        events += base::format(R"(%@{"description": "e%li", "date": %.0f})", i ? ", " : "",
                               static_cast<long>(i), kNow - 20000 + i);
    }
    service.script("/api/0/projects/events",
                   R"({"json": [{"title": "P", "events": [)" + events + "]}]}", 2);
    const std::string data = dir.path() + "/data";
    const auto first = print(data);
    ASSERT_EQ(first.status, 0);
    const auto rows = lines(first.out);
    ASSERT_EQ(rows.size(), TodayEventList::kMaxEvents);
    EXPECT_TRUE(rows.front().ends_with("| P | e9999")) << rows.front();
    EXPECT_TRUE(rows.back().ends_with("| P | e9500")) << rows.back();

    // The same events again: those the first cut dropped are older than every kept one.
    const auto again = print(data);
    EXPECT_EQ(again.status, 0);
    const auto rowsAgain = lines(again.out);
    EXPECT_TRUE(rowsAgain == rows)
        << rowsAgain.size() << " rows, from " << rowsAgain.front() << " to " << rowsAgain.back();
}

}  // namespace
}  // namespace todaytest

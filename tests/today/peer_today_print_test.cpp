// The widget's program in its terminal form: one update, the rows as text.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "base/Format.h"
#include "client/OWQuorvaneURLLoader.h"
#include "platform/crypto/Base64.h"
#include "platform/keychain/KeychainFile.h"
#include "tests/helpers/BinaryPlist.h"
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
                                  const std::vector<std::string>& env = {},
                                  size_t addressSpaceMiB = 0) {
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
        std::vector<std::string> argv = {QV_TODAY_EXECUTABLE, "--print"};
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        // (The sanitizers reserve terabytes of address space for themselves.)
        if (addressSpaceMiB != 0) {
            argv.insert(argv.begin(),
                        {"prlimit", "--as=" + std::to_string(addressSpaceMiB << 20), "--"});
        }
#endif
        if (addressSpaceMiB != 0) {
            // One heap for every thread, so the address space is the memory the run takes
            // rather than the reservations of one heap per thread.
            all.push_back("MALLOC_ARENA_MAX=1");
        }
        return testsupport::runTool(argv, all);
    }
    // The program's address space when it reads little: what a run may add to it is
    // what a limit above this allows.
    static constexpr size_t kBaseAddressSpaceMiB = 160;
    // The program's own defaults, read afresh from its file.
    std::shared_ptr<base::UserDefaults> programDefaults() {
        return std::make_shared<base::UserDefaults>("com.oxburyworks.QuorvPluginHub.TodayExtension",
                                                    dir.path() + "/config");
    }
    // Links the account with one event on the service; the program's data folder.
    std::string linkWithOneEvent() {
        link();
        clearEvents();
        addEvents("Launch Film", R"([{"description": "cut1.mov uploaded", "date": 1700000000}])");
        return dir.path() + "/data";
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
    const std::string data = linkWithOneEvent();
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

// A failed renewal of the sign-in is a failed update: the record is still there and the
// next run, its token renewed, succeeds. Only a missing record reads as no account.
TEST_F(TodayPrintTest, AFailedRenewalIsAFailedUpdateNotAMissingAccount) {
    QV_TODAY_PEER_SETUP();
    service.configure(R"({"expires_in": -60})");  // the program finds the token expired
    const std::string data = linkWithOneEvent();
    const std::string record = keychainFolder + "/" + platform::keychain::KeychainFile::kFileName;
    const std::string linked = testsupport::readFile(record);
    ASSERT_FALSE(linked.empty());

    const std::vector<std::pair<std::string, std::string>> failures = {
        {"busy", R"({"status": 503, "text": "Service Unavailable"})"},
        {"dropped", R"({"drop": true})"},
        {"unreadable", R"({"status": 200, "text": "<html>maintenance</html>"})"},
        {"no access token", R"({"json": {"token_type": "bearer"}})"},
    };
    for (const auto& [name, reply] : failures) {
        SCOPED_TRACE(name);
        // Every renewal of the run fails alike, however many the program starts.
        service.request("POST", "/_control/reset");
        service.script("/token", reply, 4);
        const auto failed = print(data);
        EXPECT_EQ(failed.status, 1);
        EXPECT_EQ(testsupport::readFile(record), linked);
    }

    // Answered, the same record renews and the update goes through.
    service.request("POST", "/_control/reset");
    service.configure(R"({"expires_in": 3600})");
    const auto renewed = print(data);
    EXPECT_EQ(renewed.status, 0);
    EXPECT_EQ(lines(renewed.out).size(), 1u);
    EXPECT_NE(testsupport::readFile(record), linked);  // the new tokens kept
}

// An events reply of `count` events under the project "P", made by the stand-in as its
// text below: some 50 bytes an event.
constexpr double kFirstEventDate = kNow - 2'000'000;
std::string generatedEvents(size_t count, bool gzip = false) {
    return base::format(R"({"events": {"count": %li, "first_date": %.0f}, "gzip": %@})",
                        static_cast<long>(count), kFirstEventDate, gzip ? "true" : "false");
}
std::string eventsText(size_t count) {
    std::string text = R"([{"title": "P", "events": [)";
    for (size_t i = 0; i < count; ++i) {
        text += base::format(R"(%@{"description": "event number %li", "date": %.0f})",
                             i ? ", " : "", static_cast<long>(i), kFirstEventDate + i);
    }
    return text + "]}]";
}

// An events reply is read up to the client's cap, in memory near its size: a reply just
// below the cap is listed within an address space little larger than the program's own,
// and longer ones, plain or inflated from gzip, fail the update in the same space, the
// list and its check time kept.
TEST_F(TodayPrintTest, AnEventsReplyIsCappedAndReadInMemoryNearItsSize) {
    QV_TODAY_PEER_SETUP();
    const std::string data = linkWithOneEvent();
    const auto first = print(data);
    ASSERT_EQ(first.status, 0);
    programDefaults()->setObject(base::Date{kNow}, TodayEventList::kLastCheckTimeKey);
    constexpr size_t kCapMiB = OWQuorvaneURLLoader::kMaxReplyBytes >> 20;
    const size_t limit = kBaseAddressSpaceMiB + 6 * kCapMiB;

    // Just past the cap, a reply the program could well hold is refused all the same;
    // far past it, plain or inflating, it is refused within the small space.
    struct TooLong {
        const char* name;
        std::string reply;
        size_t limit;
    };
    const TooLong tooLong[] = {
        {"plain, just past the cap", generatedEvents(OWQuorvaneURLLoader::kMaxReplyBytes / 50), 0},
        {"plain, 50 MB", generatedEvents(1'000'000), limit},
        {"gzip, 240 MB inflated", generatedEvents(4'500'000, true), limit},
    };
    for (const TooLong& reply : tooLong) {
        SCOPED_TRACE(reply.name);
        service.script("/api/0/projects/events", reply.reply);
        const auto failed = print(data, {}, reply.limit);
        EXPECT_EQ(failed.status, 1);
        EXPECT_EQ(failed.out, first.out);
        EXPECT_EQ(storedCheckTime(), base::Value(base::Date{kNow}));
    }

    // Just below the cap: read whole, its newest events listed.
    const size_t count = OWQuorvaneURLLoader::kMaxReplyBytes / 60;
    const size_t size = eventsText(count).size();
    ASSERT_LT(size, OWQuorvaneURLLoader::kMaxReplyBytes);
    ASSERT_GT(size, OWQuorvaneURLLoader::kMaxReplyBytes * 9 / 10);
    service.script("/api/0/projects/events", generatedEvents(count));
    const auto read = print(data, {}, limit);
    EXPECT_EQ(read.status, 0);
    const auto rows = lines(read.out);
    ASSERT_EQ(rows.size(), TodayEventList::kMaxEvents);
    EXPECT_TRUE(rows.front().ends_with(
        base::format("| P | event number %li", static_cast<long>(count - 1))))
        << rows.front();
}

// A binary property list whose objects each refer twice to the next expands, in the
// parser, to 2^26 nodes from a few hundred bytes. As the keychain file it is moved aside
// and reads as no account; as the widget's preferences it is not read. Either way the
// program stays within a small address space.
TEST_F(TodayPrintTest, PropertyListsThatExpandInTheParserAreRefusedInLittleMemory) {
    QV_TODAY_PEER_SETUP();
    const std::string data = linkWithOneEvent();
    const std::string bomb = testsupport::doublingArraysPlist(26);
    ASSERT_LT(bomb.size(), 300u);
    const size_t limit = kBaseAddressSpaceMiB + 64;

    // As the preferences: the update goes on with none.
    dir.makeFolder("config");
    dir.write("config/com.oxburyworks.QuorvPluginHub.TodayExtension.plist", bomb);
    const auto withPreferences = print(data, {}, limit);
    EXPECT_EQ(withPreferences.status, 0);
    EXPECT_EQ(lines(withPreferences.out).size(), 1u);

    // As the keychain file: moved aside, no account.
    const std::string record = keychainFolder + "/" + platform::keychain::KeychainFile::kFileName;
    dir.write(record.substr(dir.path().size() + 1), bomb);
    ::chmod(record.c_str(), 0600);
    const auto withRecord = print(data, {}, limit);
    EXPECT_EQ(withRecord.status, 2);
    EXPECT_EQ(withRecord.out, withPreferences.out);
    EXPECT_FALSE(std::filesystem::exists(record));
    size_t movedAside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(keychainFolder)) {
        movedAside += entry.path().filename().string().starts_with(
                          std::string(platform::keychain::KeychainFile::kFileName) + ".corrupt-")
                          ? 1
                          : 0;
    }
    EXPECT_EQ(movedAside, 1u);
}

}  // namespace
}  // namespace todaytest

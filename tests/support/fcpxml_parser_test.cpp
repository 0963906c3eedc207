#include "support/OWFCPXMLParser.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

TEST(OWFCPXMLTimes, SecondsFromTimeStrings) {
    struct Case {
        std::optional<std::string_view> in;
        double seconds;
    } cases[] = {
        {"3600s", 3600},  {"1/2s", 0.5},   {"1/2/3s", 0},
        {"1/2", 0.5},     {"3600", 3600},  {"107999892/30000s", 3599.9964},
        {" 12.5s", 12.5}, {"-3/2s", -1.5}, {"abc", 0},
        {"", 0},          {"s", 0},        {std::nullopt, 0},
        {"1e3s", 1},      {"infs", 0},     {"nan", 0},
        {"0x10s", 0},     {"5/0s", 0},     {"0/0s", 0},
        {"10/4xs", 2.5},  {"1ss", 1},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(OWFCPXMLParser::secondsFromTimeString(c.in), c.seconds)
            << c.in.value_or("(none)");
    }
}

TEST(OWFCPXMLTimes, HugeNumbersGiveNoInfinity) {
    const std::string huge(400, '9');
    EXPECT_DOUBLE_EQ(OWFCPXMLParser::secondsFromTimeString(huge + "s"), 0);
    EXPECT_DOUBLE_EQ(OWFCPXMLParser::secondsFromTimeString(huge + "/1s"), 0);
    EXPECT_DOUBLE_EQ(OWFCPXMLParser::secondsFromTimeString("1/" + huge + "s"), 0);
    EXPECT_DOUBLE_EQ(OWFCPXMLParser::fpsFromFrameDuration("1/" + huge + "s"), 0);
    EXPECT_DOUBLE_EQ(OWFCPXMLParser::secondsFromTimeString("0." + std::string(400, '0') + "1s"), 0);
    EXPECT_DOUBLE_EQ(OWFCPXMLParser::secondsFromTimeString("1e308s"), 1);
}

TEST(OWFCPXMLTimes, FrameDurations) {
    EXPECT_DOUBLE_EQ(OWFCPXMLParser::fpsFromFrameDuration("100/2500s"), 25);
    EXPECT_DOUBLE_EQ(OWFCPXMLParser::fpsFromFrameDuration("100/2400s"), 24);
    EXPECT_DOUBLE_EQ(OWFCPXMLParser::fpsFromFrameDuration("1001/30000s"), 30000.0 / 1001.0);
    EXPECT_DOUBLE_EQ(OWFCPXMLParser::fpsFromFrameDuration("2s"), 0.5);
    EXPECT_DOUBLE_EQ(OWFCPXMLParser::fpsFromFrameDuration("1/2/3s"), 0);
    EXPECT_DOUBLE_EQ(OWFCPXMLParser::fpsFromFrameDuration(std::nullopt), 0);
    // A zero duration has no rate, rather than an infinite one.
    EXPECT_DOUBLE_EQ(OWFCPXMLParser::fpsFromFrameDuration("0/2500s"), 0);
    EXPECT_DOUBLE_EQ(OWFCPXMLParser::fpsFromFrameDuration("0s"), 0);

    EXPECT_EQ(OWFCPXMLParser::multiplierFromFrameDuration("1001/30000s"), 1001u);
    EXPECT_EQ(OWFCPXMLParser::multiplierFromFrameDuration("100s"), 100u);
    EXPECT_EQ(OWFCPXMLParser::multiplierFromFrameDuration("x/2s"), 0u);
    EXPECT_EQ(OWFCPXMLParser::multiplierFromFrameDuration("-5/2s"), 0u);
    EXPECT_EQ(OWFCPXMLParser::multiplierFromFrameDuration(std::nullopt), 0u);
}

TEST(OWFCPXMLTimes, FramesFromTimeStrings) {
    EXPECT_EQ(OWFCPXMLParser::framesFromTimeString("3003/30000s", 1001), 3u);
    EXPECT_EQ(OWFCPXMLParser::framesFromTimeString("3004/30000s", 1001), 3u);  // truncated
    EXPECT_EQ(OWFCPXMLParser::framesFromTimeString("500s", 100), 5u);
    EXPECT_EQ(OWFCPXMLParser::framesFromTimeString("3003/30000s", 0), 0u);
    EXPECT_EQ(OWFCPXMLParser::framesFromTimeString("-3003/30000s", 1001), 0u);
    EXPECT_EQ(OWFCPXMLParser::framesFromTimeString(std::nullopt, 1001), 0u);
    EXPECT_EQ(OWFCPXMLParser::framesFromTimeString("1" + std::string(30, '0') + "s", 1),
              std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(OWFCPXMLParser::framesFromTimeString(std::string(400, '9'), 1), 0u);
}

class TempFile {
  public:
    explicit TempFile(const std::string& text) {
        std::string pattern = (std::filesystem::temp_directory_path() / "fcpxml-XXXXXX").string();
        const int fd = mkstemp(pattern.data());
        close(fd);
        path_ = pattern;
        std::ofstream(path_) << text;
    }
    ~TempFile() { std::filesystem::remove(path_); }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

std::string document(const std::string& resources, const std::string& sequence,
                     const std::string& spine, bool indented) {
    const char* nl = indented ? "\n    " : "";
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>") + nl + "<!DOCTYPE fcpxml>" +
           nl + "<fcpxml version=\"1.8\">" + nl + "<resources>" + resources + "</resources>" + nl +
           "<library>" + nl + "<event name=\"E\">" + nl + "<project name=\"P\">" + nl +
           "<sequence " + sequence + ">" + nl + "<spine>" + nl + spine + nl + "</spine>" + nl +
           "</sequence></project></event></library></fcpxml>\n";
}

// Markers on the main storyline and inside clips, at 29.97 drop-frame, with the
// first format of the resources at another rate.
constexpr const char* kResources =
    "<format id=\"r0\" frameDuration=\"100/2400s\" name=\"FFVideoFormat1080p24\"/>"
    "<format id=\"r1\" frameDuration=\"1001/30000s\" name=\"FFVideoFormat1080p2997\"/>";

std::string spine(bool indented) {
    const std::string nl = indented ? "\n        " : "";
    return "<clip name=\"A\" offset=\"0s\" start=\"3600s\" duration=\"10s\">" + nl +
           "<marker start=\"3601s\" duration=\"1001/30000s\" value=\"one\"/>" + nl +
           "<marker start=\"3599s\" duration=\"1001/30000s\" value=\"before clip\"/>" + nl +
           "<marker start=\"3611s\" duration=\"1001/30000s\" value=\"after clip\"/>" + nl +
           "<marker start=\"3610s\" duration=\"1001/30000s\" value=\"at end\"/>" + nl +
           "<title name=\"T\" offset=\"3602s\" start=\"0s\" duration=\"2s\">" +
           "<marker start=\"1s\" duration=\"1001/30000s\" value=\"nested\"/></title>" + nl +
           "</clip>" + nl + "<gap name=\"G\" offset=\"10s\" start=\"0s\" duration=\"5s\">" + nl +
           "<marker start=\"15015/30000s\" duration=\"1001/30000s\" value=\"gap\"/>" + nl +
           "<marker start=\"1s\" duration=\"1001/30000s\" value=\"same as next\"/>" + nl +
           "<marker start=\"2s\" duration=\"1001/30000s\"/>" + nl + "</gap>" + nl +
           "<ref-clip name=\"R\" offset=\"11s\" start=\"0s\" duration=\"5s\">" +
           "<marker start=\"0s\" duration=\"1001/30000s\" value=\"duplicate\"/></ref-clip>";
}

std::vector<std::string> names(const std::vector<base::Dictionary>& markers) {
    std::vector<std::string> out;
    for (const auto& m : markers) {
        const base::Value* name = m.find("name");
        out.push_back(name != nullptr ? name->stringValue() : "(none)");
    }
    return out;
}

std::vector<std::string> field(const std::vector<base::Dictionary>& markers, const char* key) {
    std::vector<std::string> out;
    for (const auto& m : markers) {
        const base::Value* v = m.find(key);
        out.push_back(v != nullptr ? v->stringValue() : "-");
    }
    return out;
}

TEST(OWFCPXMLMarkers, SecondsOnTheTimeline) {
    for (bool indented : {false, true}) {
        SCOPED_TRACE(indented ? "indented" : "compact");
        TempFile file(document(kResources, "format=\"r1\" tcStart=\"0s\" tcFormat=\"DF\"",
                               spine(indented), indented));
        auto markers = OWFCPXMLParser::markersFromXMLFile(file.path(), false);
        EXPECT_EQ(names(markers), (std::vector<std::string>{"one", "at end", "gap", "same as next",
                                                            "(none)", "duplicate"}));
        EXPECT_EQ(field(markers, "seconds"),
                  (std::vector<std::string>{"1", "10", "10.5005", "11", "-", "11"}));
        for (const auto& m : markers) {
            EXPECT_FALSE(m.contains("startTimecode"));
        }
        EXPECT_TRUE(markers[4].empty());  // a marker without a value

        auto unique = OWFCPXMLParser::markersFromXMLFile(file.path(), false, true, true);
        EXPECT_EQ(names(unique),
                  (std::vector<std::string>{"one", "at end", "gap", "same as next", "(none)"}));
        auto deep = OWFCPXMLParser::markersFromXMLFile(file.path(), false, false, false);
        EXPECT_EQ(names(deep), (std::vector<std::string>{"one", "at end", "nested", "gap",
                                                         "same as next", "(none)", "duplicate"}));
        // A nested clip's offset counts in its parent's time, as it stands.
        EXPECT_EQ(field(deep, "seconds")[2], "3603");
    }
}

TEST(OWFCPXMLMarkers, TimecodeAtTheSequenceRate) {
    // tcStart 01:00:00;00 in 29.97 drop-frame, written as FCP X writes it.
    TempFile file(document(kResources, "format=\"r1\" tcStart=\"107999892/30000s\" tcFormat=\"DF\"",
                           spine(true), true));
    auto markers = OWFCPXMLParser::markersFromXMLFile(file.path(), true);
    EXPECT_EQ(field(markers, "startTimecode"),
              (std::vector<std::string>{"01:00:00;29", "01:00:09;29", "01:00:10;14", "01:00:10;29",
                                        "-", "01:00:10;29"}));
    for (const auto& m : markers) {
        EXPECT_FALSE(m.contains("seconds"));
    }

    auto relative = OWFCPXMLParser::markersFromXMLFile(file.path(), true, false, true, 1);
    EXPECT_EQ(field(relative, "startTimecode")[0], "00:00:00:29");
    auto earlier = OWFCPXMLParser::markersFromXMLFile(file.path(), true, false, true, 2);
    EXPECT_EQ(field(earlier, "startTimecode")[0], "23:00:00:29");
    auto later = OWFCPXMLParser::markersFromXMLFile(file.path(), true, false, true, 0);
    EXPECT_EQ(field(later, "startTimecode")[0], "01:00:00:29");
    auto far = OWFCPXMLParser::markersFromXMLFile(file.path(), true, false, true, 25);
    EXPECT_EQ(field(far, "startTimecode")[0], "00:00:00:29");
}

TEST(OWFCPXMLMarkers, NonDropFrameAndSingleFormat) {
    TempFile file(document("<format id=\"r1\" frameDuration=\"100/2500s\"/>",
                           "format=\"r1\" tcStart=\"3600s\" tcFormat=\"NDF\"", spine(false),
                           false));
    auto markers = OWFCPXMLParser::markersFromXMLFile(file.path(), true);
    EXPECT_EQ(field(markers, "startTimecode"),
              (std::vector<std::string>{"01:00:01:00", "01:00:10:00", "01:00:10:12", "01:00:11:00",
                                        "-", "01:00:11:00"}));
    // A sequence without a format of its own counts at the first format's rate.
    TempFile noFormat(document(kResources, "tcStart=\"0s\"", spine(false), false));
    EXPECT_EQ(field(OWFCPXMLParser::markersFromXMLFile(noFormat.path(), true), "startTimecode")[0],
              "00:00:01:00");
}

TEST(OWFCPXMLMarkers, FrameExactTimesKeepTheirFrame) {
    // k frames of 1001/30000s times 30000/1001 frames per second land just below k
    // in floating point for these k; they must still count as frame k.
    std::string markers;
    for (int k : {15, 25, 30, 60, 61}) {
        markers += "<marker start=\"" + std::to_string(k * 1001) + "/30000s\" value=\"" +
                   std::to_string(k) + "\"/>";
    }
    TempFile file(document("<format id=\"r1\" frameDuration=\"1001/30000s\"/>",
                           "format=\"r1\" tcStart=\"0s\" tcFormat=\"NDF\"",
                           "<gap offset=\"0s\" start=\"0s\" duration=\"10s\">" + markers + "</gap>",
                           false));
    EXPECT_EQ(field(OWFCPXMLParser::markersFromXMLFile(file.path(), true), "startTimecode"),
              (std::vector<std::string>{"00:00:00:15", "00:00:00:25", "00:00:01:00", "00:00:02:00",
                                        "00:00:02:01"}));
}

TEST(OWFCPXMLMarkers, UnreadableFilesGiveNoMarkers) {
    EXPECT_TRUE(OWFCPXMLParser::markersFromXMLFile("/nonexistent/file.fcpxml", true).empty());
    TempFile broken("<fcpxml><library>");
    EXPECT_TRUE(OWFCPXMLParser::markersFromXMLFile(broken.path(), false).empty());
    TempFile empty(document(kResources, "", "", false));
    EXPECT_TRUE(OWFCPXMLParser::markersFromXMLFile(empty.path(), true).empty());
}

}  // namespace

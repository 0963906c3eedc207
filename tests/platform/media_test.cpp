#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/media/MovieAsset.h"
#include "tests/helpers/MovieTest.h"
#include "tests/helpers/RunTool.h"

namespace {

using platform::media::MovieAsset;
using platform::media::MovieTrack;
using testsupport::runTool;

// One map per stream from ffprobe's compact output ("index=0|codec_type=video|...").
std::vector<std::map<std::string, std::string>> probeStreams(const std::string& file) {
    auto [rc, text] = runTool({"ffprobe", "-v", "error", "-show_entries",
                               "stream=index,codec_type,codec_tag_string,avg_frame_rate,r_frame_"
                               "rate,width,height,duration_ts,time_base",
                               "-of", "compact=p=0", "--", file});
    std::vector<std::map<std::string, std::string>> streams;
    std::istringstream lines(text);
    std::string line;
    while (rc == 0 && std::getline(lines, line)) {
        std::map<std::string, std::string> fields;
        std::istringstream parts(line);
        std::string part;
        while (std::getline(parts, part, '|')) {
            const auto eq = part.find('=');
            if (eq != std::string::npos) {
                fields[part.substr(0, eq)] = part.substr(eq + 1);
            }
        }
        streams.push_back(fields);
    }
    return streams;
}

double rational(const std::string& text) {
    const auto slash = text.find('/');
    if (slash == std::string::npos) {
        return std::stod(text);
    }
    const double den = std::stod(text.substr(slash + 1));
    return den == 0 ? 0 : std::stod(text.substr(0, slash)) / den;
}

// The first bytes of the first packet of a stream, as ffprobe dumps them.
uint32_t probeFirstSample(const std::string& file, int stream) {
    auto [rc, text] = runTool({"ffprobe", "-v", "error", "-select_streams", std::to_string(stream),
                               "-show_packets", "-show_data", "--", file});
    const auto at = text.find("00000000: ");
    if (rc != 0 || at == std::string::npos) {
        return 0;
    }
    std::string hex;
    for (size_t i = at + 10; i < text.size() && hex.size() < 8; ++i) {
        if (std::isxdigit(static_cast<unsigned char>(text[i]))) {
            hex += text[i];
        }
    }
    return static_cast<uint32_t>(std::stoul(hex, nullptr, 16));
}

class MovieAssetTest : public testsupport::MovieTest {
  protected:
    static void SetUpTestSuite() {
        if (!makeFolder()) {
            return;
        }
        const std::string video = "testsrc=size=64x48:rate=";
        make({"-f", "lavfi", "-i", video + "30000/1001", "-t", "2", "-timecode", "01:00:00;00"},
             "df 29.97.mov");
        make({"-f", "lavfi", "-i", video + "30000/1001", "-t", "2", "-timecode", "01:00:00;00"},
             "df2997.mp4");
        make({"-f", "lavfi", "-i", video + "25", "-t", "2", "-timecode", "01:00:00:00"}, "pal.mov");
        make({"-f", "lavfi", "-i", video + "24", "-t", "1"}, "plain.mov");
        make({"-f", "lavfi", "-i", "sine=d=1", "-c:a", "aac"}, "audio.m4a");
        make({"-f", "lavfi", "-i", "color=c=red:size=32x24:rate=25:d=1", "-f", "lavfi", "-i",
              "color=c=blue:size=32x24:rate=25:d=1", "-filter_complex",
              "[0:v][1:v]concat=n=2:v=1[v]", "-map", "[v]", "-g", "5"},
             "red-blue.mov");
    }
};

TEST_F(MovieAssetTest, TracksRatesAndDurationsAgreeWithFfprobe) {
    for (const char* name : {"df 29.97.mov", "df2997.mp4", "pal.mov", "plain.mov", "audio.m4a"}) {
        SCOPED_TRACE(name);
        MovieAsset asset = MovieAsset::fromPath(file(name));
        ASSERT_TRUE(asset.isReadable()) << asset.error();
        auto probed = probeStreams(file(name));
        ASSERT_EQ(asset.tracks().size(), probed.size());
        double longest = 0;
        for (size_t i = 0; i < probed.size(); ++i) {
            const MovieTrack& t = asset.tracks()[i];
            auto& p = probed[i];
            EXPECT_EQ(t.streamIndex, static_cast<int>(i));
            const double seconds = std::stod(p["duration_ts"]) * rational(p["time_base"]);
            EXPECT_NEAR(t.duration.seconds(), seconds, 1e-9);
            longest = std::max(longest, seconds);
            if (p["codec_type"] == "video") {
                EXPECT_EQ(t.type, MovieTrack::Type::Video);
                EXPECT_DOUBLE_EQ(t.nominalFrameRate, rational(p["avg_frame_rate"]));
                EXPECT_EQ(t.width, std::stoi(p["width"]));
                EXPECT_EQ(t.height, std::stoi(p["height"]));
            } else if (p["codec_tag_string"] == "tmcd") {
                EXPECT_EQ(t.type, MovieTrack::Type::Timecode);
            } else if (p["codec_type"] == "audio") {
                EXPECT_EQ(t.type, MovieTrack::Type::Audio);
            }
        }
        EXPECT_NEAR(asset.duration().seconds(), longest, 1e-9);
    }
    MovieAsset df = MovieAsset::fromPath(file("df 29.97.mov"));
    EXPECT_EQ(df.duration().value, 60060);
    EXPECT_EQ(df.duration().timescale, 30000);
}

TEST_F(MovieAssetTest, TimecodeTracksGiveTheirDescriptionAndFirstSample) {
    struct Case {
        const char* name;
        uint32_t sample;
        uint32_t quanta;
        bool drop;
    } cases[] = {
        {"df 29.97.mov", 107892, 30, true},
        {"df2997.mp4", 107892, 30, true},
        {"pal.mov", 90000, 25, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MovieAsset asset = MovieAsset::fromPath(file(c.name));
        auto timecodes = asset.tracksOfType(MovieTrack::Type::Timecode);
        ASSERT_EQ(timecodes.size(), 1u);
        ASSERT_TRUE(timecodes[0].timecode);
        EXPECT_EQ(timecodes[0].timecode->frameQuanta, c.quanta);
        EXPECT_EQ(timecodes[0].timecode->isDropFrame(), c.drop);
        const auto sample = asset.firstSampleNumber(timecodes[0]);
        ASSERT_TRUE(sample);
        EXPECT_EQ(*sample, c.sample);
        EXPECT_EQ(*sample, probeFirstSample(file(c.name), timecodes[0].streamIndex));
    }
    EXPECT_TRUE(
        MovieAsset::fromPath(file("plain.mov")).tracksOfType(MovieTrack::Type::Timecode).empty());
    EXPECT_TRUE(
        MovieAsset::fromPath(file("audio.m4a")).tracksOfType(MovieTrack::Type::Video).empty());
}

TEST_F(MovieAssetTest, OpensFileURLsOnly) {
    const std::string path = file("df 29.97.mov");
    MovieAsset byURL = MovieAsset::fromURL("file://" + folder() + "/df%2029.97.mov");
    EXPECT_TRUE(byURL.isReadable()) << byURL.error();
    EXPECT_EQ(byURL.path(), path);
    EXPECT_EQ(byURL.pathExtension(), "mov");
    EXPECT_TRUE(MovieAsset::fromURL("FILE://localhost" + folder() + "/pal.mov").isReadable());

    for (const std::string& url : std::vector<std::string>{
             "http://127.0.0.1:1/a.mov", "https://example.invalid/a.mov", "ftp://h/a.mov",
             "file://otherhost" + path, "file://" + folder() + "/bad%2", "rtmp://h/x",
             "no-scheme.mov", "file://" + folder() + "/nul%00.mov"}) {
        MovieAsset asset = MovieAsset::fromURL(url);
        EXPECT_FALSE(asset.isReadable()) << url;
        EXPECT_FALSE(asset.duration().valid) << url;
    }
    MovieAsset web = MovieAsset::fromURL("HTTPS://h/Movie.M3U8?x=1");
    EXPECT_EQ(web.scheme(), "https");
    EXPECT_EQ(web.pathExtension(), "m3u8");
}

TEST_F(MovieAssetTest, RefusesPlaylistsAndScriptsThatNameOtherFiles) {
    const std::string hls =
        "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\n" + file("pal.mov") + "\n#EXT-X-ENDLIST\n";
    const std::string concat = "ffconcat version 1.0\nfile '" + file("pal.mov") + "'\n";
    for (const auto& [name, text] :
         std::vector<std::pair<std::string, std::string>>{{"list.m3u8", hls},
                                                          {"list.m3u", hls},
                                                          {"disguised.mov", hls},
                                                          {"concat.mov", concat},
                                                          {"empty.mov", ""},
                                                          {"garbage.mov", "not a movie at all"}}) {
        std::ofstream(file(name)) << text;
        MovieAsset asset = MovieAsset::fromPath(file(name));
        EXPECT_FALSE(asset.isReadable()) << name;
        EXPECT_TRUE(asset.tracks().empty()) << name;
    }
    EXPECT_FALSE(MovieAsset::fromPath(file("missing.mov")).isReadable());
    EXPECT_FALSE(MovieAsset::fromPath("").isReadable());
}

TEST_F(MovieAssetTest, PathsWithColonsAreFilesNotProtocols) {
    std::filesystem::copy_file(file("pal.mov"), file("tcp:pal.mov"));
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(folder());
    MovieAsset relative = MovieAsset::fromPath("tcp:pal.mov");
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(relative.isReadable()) << relative.error();
    EXPECT_EQ(relative.path(), file("tcp:pal.mov"));
}

TEST_F(MovieAssetTest, DecodesTheFrameShownAtATime) {
    MovieAsset asset = MovieAsset::fromPath(file("red-blue.mov"));
    ASSERT_TRUE(asset.isReadable());
    auto pixel = [&](double t) {
        auto image = asset.frameAtTime(t);
        EXPECT_TRUE(image);
        if (!image) {
            return std::array<int, 4>{};
        }
        EXPECT_EQ(image->width(), 32);
        EXPECT_EQ(image->height(), 24);
        EXPECT_EQ(image->pixels().size(), 32u * 24u * 4u);
        const size_t at = (12 * 32 + 16) * 4;
        return std::array<int, 4>{image->pixels()[at], image->pixels()[at + 1],
                                  image->pixels()[at + 2], image->pixels()[at + 3]};
    };
    for (double t : {0.0, 0.5, 0.96}) {
        auto p = pixel(t);
        EXPECT_GT(p[0], 200) << t;
        EXPECT_LT(p[2], 60) << t;
        EXPECT_EQ(p[3], 255);
    }
    for (double t : {1.0, 1.5, 30.0}) {  // past the end gives the last frame
        auto p = pixel(t);
        EXPECT_LT(p[0], 60) << t;
        EXPECT_GT(p[2], 200) << t;
    }
    EXPECT_FALSE(asset.frameAtTime(std::nan("")));
    EXPECT_FALSE(MovieAsset::fromPath(file("audio.m4a")).frameAtTime(0.5));
}

}  // namespace

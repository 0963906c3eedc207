#include "support/OWAVFoundation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "tests/helpers/MovieTest.h"
#include "tests/helpers/RunTool.h"

namespace {

using platform::media::MediaTime;
using platform::media::MovieAsset;
using testsupport::runTool;

// One value of ffprobe's report on a file ("stream_tags=timecode", "stream=nb_frames").
std::string probe(const std::string& file, const std::string& entry, const std::string& streams) {
    auto [rc, text] = runTool({"ffprobe", "-v", "error", "-select_streams", streams,
                               "-show_entries", entry, "-of", "default=nw=1:nk=1", "--", file});
    const auto nl = text.find('\n');
    return rc == 0 ? text.substr(0, nl) : "";
}

class OWAVFoundationTest : public testsupport::MovieTest {
  protected:
    static void SetUpTestSuite() {
        if (!makeFolder()) {
            return;
        }
        const std::string video = "testsrc=size=64x48:rate=";
        make({"-f", "lavfi", "-i", video + "30000/1001", "-t", "2", "-timecode", "01:00:00;00"},
             "df.mov");
        make({"-f", "lavfi", "-i", video + "30000/1001", "-t", "2", "-timecode", "01:00:00;00"},
             "df.mp4");
        make({"-f", "lavfi", "-i", video + "30000/1001", "-t", "1", "-timecode", "00:59:59:10"},
             "ndf2997.mov");
        make({"-f", "lavfi", "-i", video + "25", "-t", "2", "-timecode", "01:00:00:00"}, "pal.mov");
        make({"-f", "lavfi", "-i", video + "24", "-t", "1"}, "plain.mov");
        make({"-f", "lavfi", "-i", "sine=d=1", "-c:a", "aac"}, "audio.m4a");
        std::filesystem::copy_file(file("pal.mov"), file("pal.m3u8"));
    }
};

TEST_F(OWAVFoundationTest, TimingOfMoviesWithTimecode) {
    struct Case {
        const char* name;
        double fps;
        const char* start;
        bool drop;
    } cases[] = {
        {"df.mov", 30000.0 / 1001.0, "01:00:00;00", true},
        {"df.mp4", 30000.0 / 1001.0, "01:00:00;00", true},
        {"ndf2997.mov", 30000.0 / 1001.0, "00:59:59:10", false},
        {"pal.mov", 25, "01:00:00:00", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MovieAsset asset = MovieAsset::fromPath(file(c.name));
        EXPECT_TRUE(OWAVFoundation::isReadable(asset));
        EXPECT_DOUBLE_EQ(OWAVFoundation::fpsForAsset(asset), c.fps);
        EXPECT_EQ(OWAVFoundation::isDropFrame(asset), c.drop);
        const auto start = OWAVFoundation::timecodeStartForAsset(asset, "00:00:00:00");
        EXPECT_EQ(start, c.start);
        // FFmpeg's own timecode reading of the same track agrees.
        EXPECT_EQ(start, probe(file(c.name), "stream_tags=timecode", "d:0"));
        const uint64_t frames = OWAVFoundation::framesAtTime(asset.duration(), c.fps);
        EXPECT_EQ(frames, std::stoull(probe(file(c.name), "stream=nb_frames", "v:0")));
    }
}

TEST_F(OWAVFoundationTest, MoviesWithoutTimecodeOrPicture) {
    MovieAsset plain = MovieAsset::fromPath(file("plain.mov"));
    EXPECT_DOUBLE_EQ(OWAVFoundation::fpsForAsset(plain), 24);
    EXPECT_EQ(OWAVFoundation::timecodeStartForAsset(plain, "00:00:00:00"), "00:00:00:00");
    EXPECT_EQ(OWAVFoundation::timecodeStartForAsset(plain, std::nullopt), std::nullopt);
    EXPECT_FALSE(OWAVFoundation::isDropFrame(plain));

    MovieAsset audio = MovieAsset::fromPath(file("audio.m4a"));
    EXPECT_TRUE(OWAVFoundation::isReadable(audio));
    EXPECT_DOUBLE_EQ(OWAVFoundation::fpsForAsset(audio), 29.97);
    EXPECT_EQ(OWAVFoundation::timecodeStartForAsset(audio, "10:00:00:00"), "10:00:00:00");
    EXPECT_FALSE(OWAVFoundation::isDropFrame(audio));
    EXPECT_EQ(OWAVFoundation::framesAtTime(audio.duration(), 29.97), 30u);
}

TEST_F(OWAVFoundationTest, NetworkURLsAndPlaylistsAreNotRead) {
    for (const MovieAsset& asset :
         {MovieAsset::fromURL("http://127.0.0.1:9/df.mov"),
          MovieAsset::fromURL("https://127.0.0.1:9/df.mov"),
          MovieAsset::fromURL("ftp://127.0.0.1:9/df.mov"), MovieAsset::fromPath(file("pal.m3u8")),
          MovieAsset::fromPath(file("missing.mov"))}) {
        SCOPED_TRACE(asset.url());
        EXPECT_FALSE(OWAVFoundation::isReadable(asset));
        EXPECT_EQ(OWAVFoundation::timecodeStartForAsset(asset, "00:00:00:00"), "00:00:00:00");
        EXPECT_FALSE(OWAVFoundation::isDropFrame(asset));
        EXPECT_DOUBLE_EQ(OWAVFoundation::fpsForAsset(asset), 29.97);
    }
    // A readable movie with an unreadable timecode track gives the default.
    MovieAsset pal = MovieAsset::fromPath(file("pal.mov"));
    platform::media::MovieTrack bogus;
    bogus.streamIndex = 42;
    EXPECT_EQ(OWAVFoundation::timecodeStartForAsset(pal, bogus, "00:00:00:00"), "00:00:00:00");
}

TEST(OWAVFoundationFrames, FramesAtTimes) {
    EXPECT_EQ(OWAVFoundation::framesAtTime(MediaTime::make(60060, 30000), 30000.0 / 1001.0), 60u);
    EXPECT_EQ(OWAVFoundation::framesAtTime(MediaTime::make(3, 2), 25), 38u);  // 37.5 rounds up
    EXPECT_EQ(OWAVFoundation::framesAtTime(MediaTime::make(0, 600), 25), 0u);
    EXPECT_EQ(OWAVFoundation::framesAtTime(MediaTime::invalid(), 25), 0u);
    EXPECT_EQ(OWAVFoundation::framesAtTime(MediaTime::make(1, 0), 25), 0u);
    // Values an unsigned count cannot hold give 0 instead of an undefined conversion.
    EXPECT_EQ(OWAVFoundation::framesAtTime(MediaTime::make(-600, 600), 25), 0u);
    EXPECT_EQ(OWAVFoundation::framesAtTime(MediaTime::make(600, 600),
                                           std::numeric_limits<double>::infinity()),
              0u);
    EXPECT_EQ(OWAVFoundation::framesAtTime(MediaTime::make(600, 600), std::nan("")), 0u);
    EXPECT_EQ(OWAVFoundation::framesAtTime(MediaTime::make(INT64_MAX, 1), 1e10),
              std::numeric_limits<uint64_t>::max());
}

}  // namespace

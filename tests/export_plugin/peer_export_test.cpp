// One export end to end: the host stand-in loads the built plug-in, the scripted user
// answers the settings window, the host renders a real movie with ffmpeg, and the
// plug-in uploads it to the storage stand-in (every request checked with botocore's
// signer), registers it with the stand-in service and sends its thumbnail. Then each
// way an export can end early, and uploads that are still running when the next export
// or the shut-down comes.
#include <QImage>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "platform/crypto/Base64.h"
#include "tests/export_plugin/HostRunSupport.h"
#include "tests/helpers/RunTool.h"
#include "tests/helpers/desktop/NotificationService.h"

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kMyFilm{"--project", "/work/projects/My Film.prproj"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class ExportTest : public exporttest::ExportPluginTest {
  protected:
    // A copy of the plug-in's bundle without its render preset.
    std::string bundleWithoutPreset() const {
        const fs::path copy = fs::path(dir.path()) / "NoPreset" / "Quorv Premiere Exporter.bundle";
        fs::create_directories(copy.parent_path());
        fs::copy(exporttest::pluginBundle(), copy, fs::copy_options::recursive);
        fs::remove(copy / "Contents/Resources/Quorvane.epr");
        return copy.string();
    }
    static bool hasMovie(const std::string& folder) {
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            if (entry.path().extension() == ".mp4") {
                return true;
            }
        }
        return false;
    }
};

TEST_F(ExportTest, DropFrameExportUploadsTheRenderedMovieWithAnUprightThumbnail) {
    QV_PROGRESS_PEERS();
    QV_REQUIRE_NOTIFICATION_SERVICE();
    testsupport::NotificationService notifications;
    ASSERT_TRUE(notifications.start());

    const auto run =
        runHost(with(kMyFilm, {"--sequence", "29.97df", "--zero-timecode", "01:00:00;00", "--size",
                               "320x180", "--frames", "30", "--render-status", "5"}));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.report("settings-window"), "settings-window title=\"My Film\"");
    EXPECT_TRUE(run.console("File title: My Film"));
    EXPECT_TRUE(run.console("fps: 29.970030"));
    // The window waited in the plug-in's loop without keeping the processor busy.
    const double busy = std::stod(run.value("settings-wait", "busy"));
    EXPECT_LT(busy, 0.5) << run.report("settings-wait");
    std::cout << "[ measured ] " << run.report("settings-wait") << "\n";

    EXPECT_EQ(run.value("query-timeline", "host-value-ok"), "1");
    const std::string movie = run.value("render", "output");
    EXPECT_EQ(fs::path(movie).extension(), ".mp4");
    EXPECT_EQ(movie.rfind(tempFolder, 0), 0u) << movie;
    EXPECT_EQ(run.value("render", "preset"),
              exporttest::pluginBundle() + "/Contents/Resources/Quorvane.epr");
    EXPECT_EQ(run.report("render-frame"), "render-frame timeline=7 position=0 options=1110");
    EXPECT_EQ(run.report("export"), "export status=5");  // the render's status
    EXPECT_EQ(run.report("idle"), "idle ok");
    EXPECT_EQ(run.report("end"), "end frame-buffers=0 host-strings=0 suites-held=0");

    const auto uploads = apiCallsTo("/files/upload");
    ASSERT_EQ(uploads.size(), 1u);
    auto upload = uploads[0];
    EXPECT_EQ(upload["title"], "My Film");
    EXPECT_EQ(upload["frameRate"], "29.97");
    EXPECT_EQ(upload["timecodeStart"], "01:00:00;00");
    EXPECT_EQ(upload["mime-type"], "video/mp4");
    // What reached the storage is the movie the host rendered: 30 frames of 320x180.
    const std::string stored = storage.objectBytes(upload["source"]);
    ASSERT_FALSE(stored.empty());
    const std::string copy = dir.write("stored.mp4", stored);
    const auto probe = testsupport::runTool(
        {"ffprobe", "-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
         "stream=width,height,r_frame_rate,nb_read_frames", "-of", "csv=p=0", copy});
    EXPECT_EQ(probe.out, "320,180,30000/1001,30\n");
    EXPECT_FALSE(fs::exists(movie));  // deleted once uploaded

    const auto thumbs = apiFilesOf("/files/thumb");
    ASSERT_EQ(thumbs.size(), 1u);
    const auto jpeg = platform::crypto::Base64::decode(thumbs[0]["base64"].stringValue());
    ASSERT_TRUE(jpeg);
    QImage thumb;
    ASSERT_TRUE(thumb.loadFromData(reinterpret_cast<const uchar*>(jpeg->data()),
                                   qsizetype(jpeg->size()), "JPG"));
    const int w = thumb.width();
    const int h = thumb.height();
    auto near = [&](int x, int y, QColor want) {
        const QColor got = thumb.pixelColor(x, y);
        return std::abs(got.red() - want.red()) < 40 && std::abs(got.green() - want.green()) < 40 &&
               std::abs(got.blue() - want.blue()) < 40;
    };
    EXPECT_TRUE(near(w / 4, h / 4, Qt::red));
    EXPECT_TRUE(near(3 * w / 4, h / 4, Qt::green));
    EXPECT_TRUE(near(w / 4, 3 * h / 4, Qt::blue));
    EXPECT_TRUE(near(3 * w / 4, 3 * h / 4, Qt::white));

    ASSERT_TRUE(waitFor([&] { return !notifications.notifyCalls().empty(); }));
    EXPECT_NE(notifications.notifyCalls()[0].find("\"Quorvane Upload Complete\" \"My Film\""),
              std::string::npos);
}

TEST_F(ExportTest, CancelUnsavedProjectAndNoProjectsEndBeforeRendering) {
    QV_PROGRESS_PEERS();
    const auto cancelled = runHost({"--answer", "cancel", "startup", "export", "shutdown"});
    EXPECT_EQ(cancelled.report("settings-window"), "settings-window title=\"Untitled\"");
    EXPECT_EQ(cancelled.report("export"), "export status=1");
    EXPECT_EQ(cancelled.report("query-timeline"), "");
    EXPECT_EQ(cancelled.report("render"), "");
    EXPECT_FALSE(hasMovie(tempFolder));

    // The project path call fails: the export goes on, untitled, and the string the
    // call never made is neither read nor disposed of.
    const auto invalid =
        runHost({"--project-invalid-call", "--answer", "cancel", "startup", "export", "shutdown"});
    EXPECT_TRUE(invalid.console("invalid call"));
    EXPECT_EQ(invalid.report("settings-window"), "settings-window title=\"Untitled\"");
    EXPECT_EQ(invalid.report("unknown-string"), "");
    EXPECT_EQ(invalid.report("end"), "end frame-buffers=0 host-strings=0 suites-held=0");

    // An account without projects: the window says so and holds Upload back, so the
    // user can only cancel; no upload is left waiting for ever.
    ASSERT_EQ(service->request("POST", "/_control/api_catalogue", "[]").status, 200);
    const auto none = runHost(with(kMyFilm, {"--timeout", "60", "startup", "export", "shutdown"}));
    ASSERT_EQ(none.status, 0) << none.output;
    EXPECT_EQ(none.value("settings-held-back", "warning"),
              QuorvSettingsController::kNoProjectsText);
    EXPECT_EQ(none.report("export"), "export status=1");
    EXPECT_EQ(none.report("render"), "");
    EXPECT_TRUE(apiCallsTo("/files/upload").empty());
    EXPECT_FALSE(hasMovie(tempFolder));
}

// The service answers the registration without naming a file: no thumbnail goes to a
// file that does not exist, no completion is announced, the user sees the error, and
// the plug-in's temporary movie goes with the failed upload.
TEST_F(ExportTest, ARegistrationThatNamesNoFileFailsWithAnAlertAndLeavesNothing) {
    QV_PROGRESS_PEERS();
    service->script("/api/0/files/upload", R"({"status": 200, "json": {"uploaded": true}})", 4);
    const auto run = runHost(kMyFilm);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.report("export"), "export status=0");
    EXPECT_EQ(run.report("alert"), std::string("alert text=\"Quorvane Error\" informative=\"") +
                                       UploadProgressController::kNotRegisteredText + "\"");
    EXPECT_EQ(run.report("idle"), "idle ok");
    EXPECT_GE(storage.stat("puts"), 1);
    EXPECT_TRUE(apiCallsTo("/files/thumb").empty());
    EXPECT_FALSE(hasMovie(tempFolder));
    EXPECT_EQ(run.report("end"), "end frame-buffers=0 host-strings=0 suites-held=0");
}

// A host that offers no usable frame: a frame render that answers an error (the buffer
// holds whatever its memory held), no frame render at all, or a frame buffer it could
// not free again (no pixel suite). The movie goes up without a thumbnail each time.
TEST_F(ExportTest, ThumbnailsComeOnlyFromFramesTheHostRenderedIntoBuffersItCanFree) {
    QV_PROGRESS_PEERS();
    for (const std::vector<std::string>& misbehaviour :
         {std::vector<std::string>{"--fail-frame-render"},
          {"--no-frame-render"},
          {"--withhold", "Premiere PPix Suite"}}) {
        SCOPED_TRACE(misbehaviour[0]);
        forgetApiCalls();
        const auto run = runHost(with(kMyFilm, misbehaviour));
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(run.report("export"), "export status=0");
        EXPECT_EQ(run.report("idle"), "idle ok");
        EXPECT_EQ(apiCallsTo("/files/upload").size(), 1u);
        EXPECT_TRUE(apiCallsTo("/files/thumb").empty());
        EXPECT_FALSE(hasMovie(tempFolder));
        EXPECT_EQ(run.report("end"), "end frame-buffers=0 host-strings=0 suites-held=0");
    }
}

TEST_F(ExportTest, MissingPresetLongTempPathAndFailedRenderAreReportedAndUploadNothing) {
    QV_PROGRESS_PEERS();
    const auto noPreset = runHostWith(bundleWithoutPreset(), {"startup", "export", "shutdown"});
    EXPECT_EQ(noPreset.report("export"), "export status=-1");
    EXPECT_EQ(noPreset.report("error-event"),
              "error-event type=3 title=\"Quorvane Exporter error\" "
              "text=\"No preset found.  Export cancelled.\"");
    EXPECT_EQ(noPreset.report("render"), "");

    // Temporary folders whose paths do not fit the host's 256-unit buffers, or are not
    // valid UTF-8: refused, never cut or handed over as another path.
    std::string deep = tempFolder;
    while (deep.size() < 300) {
        deep += "/" + std::string(60, 'd');
    }
    const std::string saved = tempFolder;
    for (const std::string& unusable : {deep, saved + "/caf\xe9"}) {
        fs::create_directories(unusable);
        tempFolder = unusable;
        const auto refused = runHost({"startup", "export", "shutdown"});
        tempFolder = saved;
        EXPECT_EQ(refused.report("export"), "export status=1");
        EXPECT_EQ(refused.report("alert"),
                  "alert text=\"Quorvane Error\" informative=\"Unable to create temp file.\"");
        EXPECT_EQ(refused.report("render"), "");
    }

    // The render breaks off midway: its status comes back and its part of a movie goes.
    const auto failed =
        runHost({"--render-status", "-7", "--render-partial", "startup", "export", "shutdown"});
    EXPECT_EQ(failed.report("export"), "export status=-7");
    EXPECT_EQ(failed.report("render-frame"), "");
    EXPECT_FALSE(hasMovie(tempFolder)) << failed.value("render", "output");
    EXPECT_TRUE(apiCallsTo("/files/upload").empty());
}

TEST_F(ExportTest, NoThumbnailPreferenceUploadsWithoutRenderingAFrame) {
    QV_PROGRESS_PEERS();
    writePreferences({{"OWQuorvNoThumbUpload", true}});
    // From a second thread, as some hosts call: the window is driven by the main thread.
    const auto run = runHost(with(kMyFilm, {"--export-on-thread"}));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.report("export"), "export status=0");
    EXPECT_EQ(run.report("create-frame-buffer"), "");
    EXPECT_EQ(run.report("render-frame"), "");
    EXPECT_EQ(run.report("idle"), "idle ok");
    EXPECT_EQ(apiCallsTo("/files/upload").size(), 1u);
    EXPECT_TRUE(apiCallsTo("/files/thumb").empty());
    EXPECT_FALSE(fs::exists(run.value("render", "output")));
}

TEST_F(ExportTest, UploadsInFlightSurviveTheNextExportAndShutdownStopsThemCleanly) {
    QV_PROGRESS_PEERS();
    // Every storage reply waits: the first upload is still running when the second
    // export starts.
    ASSERT_TRUE(storage.script(R"({"slow_seconds": 2})"));
    const auto both = runHost(with(kMyFilm, {"startup", "export", "export", "idle", "shutdown"}));
    ASSERT_EQ(both.status, 0) << both.output;
    const auto exports = both.reports("export ");
    ASSERT_EQ(exports.size(), 2u);
    EXPECT_EQ(apiCallsTo("/files/upload").size(), 2u);
    EXPECT_EQ(apiCallsTo("/files/thumb").size(), 2u);
    EXPECT_FALSE(hasMovie(tempFolder));

    forgetApiCalls();
    ASSERT_TRUE(storage.script(R"({"slow_seconds": 8})"));
    const auto stopped = runHost(with(kMyFilm, {"startup", "export", "shutdown"}));
    ASSERT_EQ(stopped.status, 0) << stopped.output;
    EXPECT_EQ(stopped.report("shutdown"), "shutdown status=0 suites-held=0");
    EXPECT_EQ(stopped.report("alert"), "");
    // The movie was the plug-in's own temporary render: nobody else could use it.
    EXPECT_FALSE(fs::exists(stopped.value("render", "output")));
    EXPECT_TRUE(apiCallsTo("/files/upload").empty());
}

// The host shuts the plug-in down while an export is in flight: from inside the render,
// from inside the thumbnail's frame render, frame bounds, position or frame-buffer
// creation, from inside the timing read's ticks-per-second question, and from its main
// thread while the export runs on another thread, with the settings window up, inside
// the render or inside the thumbnail's frame bounds; and from an event of its own that the
// plug-in's loop dispatches while the window waits. Each time the host lives on and, once
// the shut-down has returned, hears nothing more from the plug-in but the freeing of a
// frame buffer it made and the release of its suites: the export ends with a cancel,
// nothing is uploaded, the movie goes and every suite acquired is released once.
TEST_F(ExportTest, ShutdownDuringAnExportEndsItAndTheHostLivesOn) {
    QV_PROGRESS_PEERS();
    struct Moment {
        std::vector<std::string> options;
        size_t renders;
        size_t frameRenders;
    };
    // The timing read asks for the frame bounds first, the thumbnail second.
    const Moment moments[] = {
        {{"--shutdown-in", "render"}, 1, 0},
        {{"--shutdown-in", "frame-render"}, 1, 1},
        {{"--shutdown-in", "frame-bounds:2"}, 1, 0},
        {{"--shutdown-in", "current-position"}, 1, 0},
        {{"--shutdown-in", "frame-buffer"}, 1, 0},
        {{"--shutdown-in", "ticks-per-second"}, 0, 0},
        {{"--shutdown-from-main", "settings", "--answer", "none", "--export-on-thread"}, 0, 0},
        {{"--shutdown-from-main", "settings", "--answer", "none"}, 0, 0},
        {{"--shutdown-from-main", "render"}, 1, 0},
        {{"--shutdown-from-main", "frame-bounds:2"}, 1, 0},
    };
    for (const Moment& moment : moments) {
        SCOPED_TRACE(moment.options[0] + " " + moment.options[1] + " " + moment.options.back());
        forgetApiCalls();
        const auto run =
            runHost(with(with(kMyFilm, moment.options), {"startup", "export", "idle"}));
        EXPECT_EQ(run.status, 0) << run.output;  // the host lived on
        EXPECT_EQ(run.value("shutdown", "status"), "0");
        EXPECT_EQ(run.reports("late-call"), std::vector<std::string>{}) << run.output;
        EXPECT_EQ(run.report("export"), "export status=1");
        EXPECT_EQ(run.reports("render ").size(), moment.renders);
        EXPECT_EQ(run.reports("render-frame").size(), moment.frameRenders);
        EXPECT_EQ(run.report("idle"), "idle ok");
        EXPECT_TRUE(apiCallsTo("/files/upload").empty());
        EXPECT_FALSE(hasMovie(tempFolder));
        const auto releases = run.reports("release ");
        EXPECT_EQ(releases.size(), 9u);
        for (const std::string& release : releases) {
            EXPECT_EQ(release.substr(release.size() - 3), " ok") << release;
        }
        EXPECT_EQ(run.report("end"), "end frame-buffers=0 host-strings=0 suites-held=0");
    }

    // Started again after such a shut-down, the plug-in runs its next export afresh.
    forgetApiCalls();
    const auto again = runHost(with(
        kMyFilm, {"--shutdown-in", "render", "startup", "export", "startup", "export", "idle"}));
    EXPECT_EQ(again.status, 0) << again.output;
    EXPECT_EQ(again.reports("export "),
              (std::vector<std::string>{"export status=1", "export status=1"}));
    EXPECT_EQ(again.reports("settings-window").size(), 2u);
    EXPECT_EQ(again.reports("render ").size(), 2u);
    EXPECT_TRUE(apiCallsTo("/files/upload").empty());
    EXPECT_FALSE(hasMovie(tempFolder));
    EXPECT_EQ(again.report("end"), "end frame-buffers=0 host-strings=0 suites-held=0");
}

// Timing calls that fail after writing into their out-parameters: the registration
// carries nothing they left behind (no frame rate, zero point 0, no drop frame, no
// thumbnail without the frame's bounds, the frame at the start without a position),
// while what the calls that did answer say still counts.
TEST_F(ExportTest, FailedTimingCallsAreNeverReadAsAnswers) {
    QV_PROGRESS_PEERS();
    const auto junk =
        runHost(with(kMyFilm, {"--fail-call", "frame-rate", "--fail-call", "zero-point",
                               "--fail-call", "drop-frame", "--fail-call", "frame-bounds"}));
    ASSERT_EQ(junk.status, 0) << junk.output;
    EXPECT_EQ(junk.reports("failed-call").size(), 5u);  // the bounds twice: timing, thumbnail
    EXPECT_EQ(junk.report("export"), "export status=0");
    EXPECT_TRUE(junk.console("fps: 0.000000"));
    EXPECT_EQ(junk.report("create-frame-buffer"), "");
    EXPECT_EQ(junk.report("idle"), "idle ok");
    auto uploads = apiCallsTo("/files/upload");
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].count("frameRate"), 0u) << uploads[0]["frameRate"];
    EXPECT_EQ(uploads[0]["timecodeStart"], "00:00:00:00");
    EXPECT_TRUE(apiCallsTo("/files/thumb").empty());

    // The ticks per second and the position fail; the frame length still finds the
    // NTSC rate through the rate codes, and the thumbnail is the first frame.
    forgetApiCalls();
    const auto rate =
        runHost(with(kMyFilm, {"--sequence", "29.97", "--position-frame", "12", "--fail-call",
                               "ticks-per-second", "--fail-call", "current-position"}));
    ASSERT_EQ(rate.status, 0) << rate.output;
    EXPECT_EQ(rate.report("export"), "export status=0");
    EXPECT_EQ(rate.report("render-frame"), "render-frame timeline=7 position=0 options=1110");
    EXPECT_EQ(rate.report("idle"), "idle ok");
    uploads = apiCallsTo("/files/upload");
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0]["frameRate"], "29.97");
    EXPECT_EQ(apiCallsTo("/files/thumb").size(), 1u);
}

}  // namespace

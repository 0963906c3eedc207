// The share road end to end: the editor stand-in, in a process of its own, drives the
// program over the test's session bus; the test answers the program's windows as a
// user would; the movie goes to the botocore-checked storage stand-in and is registered
// with the stand-in service.
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "apps/share_destination/SAMDocumentController.h"
#include "platform/media/MovieAsset.h"
#include "support/OWAVFoundation.h"
#include "tests/share_destination/ShareTestSupport.h"
#include "tests/support/desktop/NotificationService.h"
#include "upload_dialog/QuorvSettingsController.h"

namespace sharetest {
namespace {

namespace fs = std::filesystem;

class ShareRoad : public ShareTest {
  protected:
    QDialog* settingsWindow() const { return app->settingsController()->window(); }
    // Waits for the settings window the make command shows, then clicks Upload.
    void confirmSettings() {
        ASSERT_TRUE(waitFor([&] { return settingsWindow()->isVisible(); }));
        ASSERT_TRUE(waitForLists(*app->settingsController()));
        click(*widget<QPushButton>(*app->settingsController(), "uploadBtn"));
    }
    settingstest::Fields lastCall(const std::string& path) const {
        settingstest::Fields found;
        for (const auto& [p, fields] : apiCalls()) {
            if (p == path) {
                found = fields;
            }
        }
        return found;
    }
};

TEST_F(ShareRoad, WholeShareFromTheEditorReachesStorageWithItsTiming) {
    QV_REQUIRE_FFMPEG();
    QV_PROGRESS_PEERS();
    QV_REQUIRE_NOTIFICATION_SERVICE();
    testsupport::NotificationService notifications;
    ASSERT_TRUE(notifications.start());
    const std::string rendered = makeMovie("render.mov");
    const auto original = platform::media::MovieAsset::fromPath(rendered);
    launch();

    auto editor = startEditor({"--interaction", "0x20", "--name", "Cut One", "--movie",
                               QString::fromStdString(rendered), "--rate", "30000/1001",
                               "--seconds", "10", "--tc-start", "3600", "--drop-frame"});
    confirmSettings();
    int status = -1;
    const QStringList out = finish(*editor, &status);
    ASSERT_EQ(status, 0) << out.join("\n").toStdString();

    // The answer named an asset "Untitled" in the private temporary folder, with a movie
    // and a description, and the editor wrote both there.
    const fs::path temp = tempFolder();
    EXPECT_EQ(temp.parent_path(), fs::path(dir.file("tmp")));
    EXPECT_NE(line(out, "asset ").find("'seld': 'utf8'(\"SSO-"), std::string::npos);
    EXPECT_EQ(line(out, "location folder="), "file://" + temp.string() + "/ basename=Untitled");
    EXPECT_EQ(line(out, "movie "), (temp / "Untitled.mp4").string());
    EXPECT_EQ(line(out, "xml "), (temp / "Untitled.fcpxml").string());
    EXPECT_TRUE(out.contains("opened"));

    // Timing from the FCPXML (1001/30000 s frames, drop frame, tcStart 3600 s), the
    // duration from the movie.
    const QuorvSettingsController& settings = *app->settingsController();
    EXPECT_EQ(settings.fps(), static_cast<float>(30000.0 / 1001.0));
    EXPECT_TRUE(settings.dropFrame());
    EXPECT_EQ(settings.timecodeZeroPoint(), 107892);
    EXPECT_EQ(settings.duration(), 299u);
    EXPECT_EQ(settings.duration(),
              OWAVFoundation::framesAtTime(original.duration(), 30000.0 / 1001));

    // The thumbnail is the frame at t = ceil(0.1 x 9.98 s) = 1 s.
    ASSERT_TRUE(waitFor([&] { return !quits.empty(); }, 60));
    EXPECT_EQ(quits, std::vector<int>{0});
    ASSERT_TRUE(settings.thumbnail());
    const auto atOne = original.frameAtTime(1.0, true);
    const auto atTwo = original.frameAtTime(2.0, true);
    ASSERT_TRUE(atOne && atTwo);
    EXPECT_EQ(settings.thumbnail()->pixels(), atOne->pixels);
    EXPECT_NE(settings.thumbnail()->pixels(), atTwo->pixels);

    // Registered with the rate, the start timecode and the duration; the thumbnail follows.
    const auto upload = lastCall("/files/upload");
    EXPECT_EQ(upload.at("title"), "Cut One");
    EXPECT_EQ(upload.at("frameRate"), "29.97");
    EXPECT_EQ(upload.at("timecodeStart"), "01:00:00;00");
    EXPECT_EQ(upload.at("duration"), "299");
    EXPECT_FALSE(lastCall("/files/thumb").empty());
    EXPECT_GE(storage.stat("puts"), 1);
    ASSERT_TRUE(waitFor([&] { return !notifications.notifyCalls().empty(); }));
    EXPECT_NE(notifications.notifyCalls()[0].find("Quorvane Upload Complete"), std::string::npos);
    EXPECT_FALSE(fs::exists(temp / "Untitled.mp4"));
}

}  // namespace
}  // namespace sharetest

// The share road end to end: the editor stand-in, in a process of its own, drives the
// program over the test's session bus; the test answers the program's windows as a
// user would; the movie goes to the botocore-checked storage stand-in and is registered
// with the stand-in service.
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <filesystem>

#include "apps/share_destination/SAMDocumentController.h"
#include "platform/media/MovieAsset.h"
#include "support/OWAVFoundation.h"
#include "tests/helpers/desktop/NotificationService.h"
#include "tests/share_destination/ShareTestSupport.h"
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
    EXPECT_EQ(settings.thumbnail()->pixels(), atOne->pixels());
    EXPECT_NE(settings.thumbnail()->pixels(), atTwo->pixels());

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
    // What the editor wrote into the location handed out goes, the description with it.
    EXPECT_FALSE(fs::exists(temp / "Untitled.mp4"));
    EXPECT_FALSE(fs::exists(temp / "Untitled.fcpxml"));
}

TEST_F(ShareRoad, CancelAnswersMinus128ThenQuitsAndAddsNothing) {
    QV_PROGRESS_PEERS();
    launch();
    auto editor = startEditor({"--interaction", "0x30", "--name", "Never"});
    ASSERT_TRUE(waitFor([&] { return settingsWindow()->isVisible(); }));
    EXPECT_TRUE(quits.empty());
    click(*widget<QPushButton>(*app->settingsController(), "cancelBtn"));
    int status = -1;
    const QStringList out = finish(*editor, &status);
    EXPECT_EQ(status, 3);
    EXPECT_TRUE(out.contains("script error -128")) << out.join("\n").toStdString();
    ASSERT_TRUE(waitFor([&] { return !quits.empty(); }));
    EXPECT_EQ(quits, std::vector<int>{0});
    const auto document = SAMDocumentController::sharedDocumentController().documents().front();
    EXPECT_EQ(document->count(), 0u);
    EXPECT_FALSE(document->defaultAssetLocation());
}

// Levels without interaction (0x10, and 0x50, which is no level that allows it) are
// answered at once, with no window, and resolve to the one default asset; a make
// command without a class is refused with -1715 and makes nothing.
TEST_F(ShareRoad, NoInteractionAnswersAtOnceAndMissingClassIsMinus1715) {
    QV_PROGRESS_PEERS();
    launch();
    std::vector<std::string> assets;
    for (const char* level : {"0x10", "0x50", "none"}) {
        auto editor = startEditor({"--interaction", level, "--make-only", "--name", level});
        int status = -1;
        const QStringList out = finish(*editor, &status, 20);
        EXPECT_EQ(status, 0) << level;
        assets.push_back(line(out, "asset "));
        EXPECT_FALSE(settingsWindow()->isVisible()) << level;
    }
    EXPECT_NE(assets[0].find("SSO-"), std::string::npos);
    EXPECT_EQ(assets[1], assets[0]);
    EXPECT_EQ(assets[2], assets[0]);
    const auto document = SAMDocumentController::sharedDocumentController().documents().front();
    ASSERT_EQ(document->count(), 1u);
    const auto asset = document->assetAtIndex(0);
    EXPECT_EQ(asset->name(), "Untitled");
    EXPECT_EQ(asset->mediaFile()->path(), tempFolder() + "/Untitled.mp4");
    EXPECT_EQ(asset->descFile()->path(), tempFolder() + "/Untitled.fcpxml");
    // The editor's metadata arrived through the user-defined record, merged each time.
    EXPECT_EQ(asset->shareID(), "share-1");
    EXPECT_EQ(base::Value(asset->metadata())[kSAMMetadataKeyManagedAsset], base::Value("1"));

    auto editor = startEditor({"--no-class", "--make-only"});
    int status = -1;
    QStringList out = finish(*editor, &status, 20);
    EXPECT_EQ(status, 3);
    EXPECT_TRUE(out.contains("script error -1715")) << out.join("\n").toStdString();
    EXPECT_EQ(document->count(), 1u);

    // A document is named by its unique ID only: another form, or none, names nothing.
    for (const char* form : {"indx", "none"}) {
        editor = startEditor({"--interaction", "0x10", "--doc-form", form});
        out = finish(*editor, &status, 20);
        EXPECT_EQ(status, 3) << form;
        EXPECT_TRUE(out.contains("script error -1728")) << out.join("\n").toStdString();
    }
    // A method the interface does not have gets the bus's own answer for that.
    editor = startEditor({"--call", "Frobnicate"});
    out = finish(*editor, &status, 20);
    EXPECT_EQ(status, 4);
    EXPECT_TRUE(out.contains("bus error org.freedesktop.DBus.Error.UnknownMethod"))
        << out.join("\n").toStdString();
    // The editors that were handed the asset have all left: the time-out runs again.
    EXPECT_TRUE(waitFor([&] { return app->timeoutArmed(); }));
    EXPECT_TRUE(quits.empty());
}

// While one editor's make waits for the settings window, another editor's make (with or
// without interaction) and its open-documents are told busy and change nothing.
TEST_F(ShareRoad, SecondMakeOrOpenWhileTheFirstWaitsIsBusyAndTheFirstStaysIntact) {
    QV_REQUIRE_FFMPEG();
    QV_PROGRESS_PEERS();
    const std::string movie = makeMovie("Other.mov", 1);
    launch();
    auto first = startEditor({"--interaction", "0x20", "--make-only", "--name", "First"});
    ASSERT_TRUE(waitFor([&] { return settingsWindow()->isVisible(); }));
    int status = -1;
    QStringList out;
    for (const char* level : {"0x20", "0x10"}) {
        auto second = startEditor({"--interaction", level, "--make-only", "--name", "Second"});
        out = finish(*second, &status, 20);
        EXPECT_EQ(status, 3) << level;
        EXPECT_TRUE(out.contains("script error -1708")) << out.join("\n").toStdString();
    }
    auto opener = startEditor({"--open", QString::fromStdString(movie)});
    out = finish(*opener, &status, 20);
    EXPECT_EQ(status, 3);
    EXPECT_TRUE(out.contains("script error -1708")) << out.join("\n").toStdString();
    EXPECT_TRUE(settingsWindow()->isVisible());
    EXPECT_TRUE(quits.empty());
    EXPECT_TRUE(fs::exists(movie));
    EXPECT_EQ(app->settingsController()->title(), "First");

    ASSERT_TRUE(waitForLists(*app->settingsController()));
    click(*widget<QPushButton>(*app->settingsController(), "uploadBtn"));
    out = finish(*first, &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(line(out, "asset ").find("SSO-"), std::string::npos);
    // Once answered, the next make command is served again (here without interaction).
    auto third = startEditor({"--interaction", "0x10", "--make-only"});
    out = finish(*third, &status, 20);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(quits.empty());
}

TEST_F(ShareRoad, FailedUploadQuitsOnceItsAlertIsAnswered) {
    QV_REQUIRE_FFMPEG();
    QV_PROGRESS_PEERS();
    service->script("/api/0/files/upload",
                    R"({"status": 200, "json": {"error": "Storage quota exceeded"}})", 4);
    launch();
    auto editor = startEditor({"--interaction", "0x20", "--seconds", "2"});
    confirmSettings();
    auto alert = answerNextModal(Qt::Key_Return);
    int status = -1;
    finish(*editor, &status);
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(waitFor([&] { return !quits.empty(); }, 60));
    EXPECT_TRUE(alert->contains("Storage quota exceeded")) << alert->toStdString();
    EXPECT_EQ(quits, std::vector<int>{0});
    // The movie stays for the user.
    EXPECT_TRUE(fs::exists(fs::path(tempFolder()) / "Untitled.mp4"));
}

// Only a movie (upper-case MOV counts, m4v is ignored): the timing comes from the
// movie's own rate and timecode track. The movie lies in the editor's own folder, not in
// the location handed out, so it is still there after the upload.
TEST_F(ShareRoad, OnlyAMovieOpenedTakesItsTimingFromTheMovie) {
    QV_REQUIRE_FFMPEG();
    QV_PROGRESS_PEERS();
    const std::string movie = makeMovie("Cut.MOV", 3);
    const std::string ignored = dir.write("Other.m4v", "not read");
    launch();
    QuorvSettingsController& settings = *app->settingsController();
    settings.setProjectID(1);  // as a confirmed dialog left it
    settings.setFolder("/");
    settings.setTitle("Movie only");
    auto editor = startEditor(
        {"--open", QString::fromStdString(movie), "--open", QString::fromStdString(ignored)});
    int status = -1;
    finish(*editor, &status);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(app->timeoutArmed());
    ASSERT_TRUE(waitFor([&] { return !quits.empty(); }, 60));
    EXPECT_EQ(quits, std::vector<int>{0});
    EXPECT_EQ(settings.fps(), static_cast<float>(30000.0 / 1001.0));
    EXPECT_TRUE(settings.dropFrame());
    EXPECT_EQ(settings.timecodeZeroPoint(), 107892);
    EXPECT_EQ(settings.duration(), 89u);
    EXPECT_EQ(lastCall("/files/upload").at("timecodeStart"), "01:00:00;00");
    EXPECT_TRUE(fs::exists(movie));
    EXPECT_TRUE(fs::exists(ignored));
}

// Started without the editor: the alert after five seconds, then the program quits; a
// make command at four seconds stops the time-out for good.
TEST_F(ShareRoad, StartedAloneShowsTheAlertAfterFiveSecondsAndQuits) {
    QV_PROGRESS_PEERS();
    QElapsedTimer clock;
    clock.start();
    qint64 shownAt = 0;
    auto alert = std::make_shared<QString>();
    answerModal(
        [&](QWidget& box) {
            shownAt = clock.elapsed();
            *alert = box.windowTitle() + "|" + messageBoxText(box);
            QTest::keyClick(&box, Qt::Key_Return);
        },
        15);
    launch();
    ASSERT_TRUE(waitFor([&] { return !quits.empty(); }, 15));
    EXPECT_GE(shownAt, 4900);
    EXPECT_TRUE(alert->contains("This application cannot be launched directly"))
        << alert->toStdString();
    EXPECT_TRUE(alert->contains("Instead please use the Share menu in FCPX to activate it."));
    EXPECT_EQ(quits, std::vector<int>{0});
}

TEST_F(ShareRoad, MakeCommandAtFourSecondsStopsTheTimeout) {
    QV_PROGRESS_PEERS();
    QElapsedTimer clock;
    clock.start();
    // Should the command come too late after all, the alert is answered and the test
    // fails on it instead of waiting in the alert for ever.
    bool alertShown = false;
    answerModal(
        [&](QWidget& box) {
            alertShown = true;
            QTest::keyClick(&box, Qt::Key_Return);
        },
        20);
    const double launchedAt =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    launch();
    // The first command goes out four seconds after the launch, however long the
    // stand-in itself takes to start on a busy machine; the editor stays on the bus, as
    // while it renders.
    auto editor = startEditor({"--wait-until", QString::number(launchedAt + 4.0, 'f', 3),
                               "--interaction", "0x10", "--make-only", "--stay", "6"});
    ASSERT_TRUE(waitFor([&] { return !app->assetOwner().empty(); }, 20));
    EXPECT_FALSE(app->timeoutArmed());
    EXPECT_GE(clock.elapsed(), 4000);
    QTest::qWait(2500);
    EXPECT_FALSE(alertShown);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(quits.empty());
    int status = -1;
    finish(*editor, &status, 20);
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace sharetest

// The progress window end to end: a real movie goes to the storage stand-in (every
// request checked with botocore's signer), is registered with the stand-in service, its
// thumbnail follows, a notification goes to a notification service on the test's own
// session bus, the movie is deleted and the host is told. Then cancel and the failures.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "client/OWQuorvane.h"
#include "tests/helpers/desktop/NotificationService.h"
#include "tests/upload_dialog/ProgressWindowSupport.h"

namespace {

using progresstest::BarRecord;
using State = UploadProgressController::State;

std::shared_ptr<const platform::image::RGBAImage> picture() {
    auto image = platform::image::RGBAImage::blank(240, 135);
    return std::make_shared<const platform::image::RGBAImage>(std::move(*image));
}

class ProgressWindowPeerTest : public progresstest::ProgressWindowTest {};

TEST_F(ProgressWindowPeerTest, UploadRegistersFillsTheBarSendsTheThumbnailAndNotifies) {
    QV_PROGRESS_PEERS();
    QV_REQUIRE_NOTIFICATION_SERVICE();
    testsupport::NotificationService notifications;
    ASSERT_TRUE(notifications.start());
    const size_t size = 3 * 1024 * 1024 + 17;
    const std::string movie = writeMovie("Cut One.mov", size);
    auto record = settingsRecord("Cut One");

    auto window = openWindow(movie);
    window->setThumbnail(picture());
    BarRecord bar;
    bar.watch(*part<QProgressBar>(*window, "progress"));
    EXPECT_TRUE(window->window()->isVisible());
    EXPECT_EQ(part<QLabel>(*window, "statusLabel")->text(), "Uploading to Quorvane...");
    window->uploadWithSettings(*record);
    record->setTitle("Renamed later");  // the notification keeps the title sent

    ASSERT_TRUE(waitFor([&] { return !host->calls.empty(); }, 60));
    EXPECT_EQ(host->calls, std::vector<std::string>{"uploadComplete"});
    EXPECT_EQ(window->state(), State::Complete);
    EXPECT_FALSE(window->window()->isVisible());
    EXPECT_FALSE(std::filesystem::exists(movie));
    // The bar went all the way before the window closed.
    EXPECT_EQ(window->bytesSent(), size);
    EXPECT_EQ(bar.largest, bar.maximumAtLargest);
    EXPECT_EQ(bar.maximumAtLargest, int(size));

    const auto calls = apiCalls();
    std::vector<std::string> paths;
    settingstest::Fields upload;
    settingstest::Fields thumb;
    for (const auto& [path, fields] : calls) {
        if (path == "/files/upload")
            upload = fields;
        if (path == "/files/thumb")
            thumb = fields;
        if (path == "/files/upload" || path == "/files/thumb")
            paths.push_back(path);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"/files/upload", "/files/thumb"}));
    EXPECT_EQ(upload["title"], "Cut One");
    EXPECT_EQ(upload["project_id"], "1");
    EXPECT_EQ(upload["status"], "2");
    EXPECT_EQ(upload["workflow_id"], "21");
    EXPECT_EQ(upload["linkPassword"], "k3y9zq1m");
    EXPECT_EQ(upload["linkRequirePassword"], "1");
    EXPECT_EQ(upload["linkExpires"], "7");
    EXPECT_FALSE(thumb["file_id"].empty());
    EXPECT_GE(storage.stat("puts"), 1);

    ASSERT_TRUE(waitFor([&] { return !notifications.notifyCalls().empty(); }));
    const auto shown = notifications.notifyCalls();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("\"Quorvane Upload Complete\" \"Cut One\""), std::string::npos)
        << shown[0];
}

TEST_F(ProgressWindowPeerTest, CancelStopsTheUploadKeepsTheMovieAndShowsNoError) {
    QV_PROGRESS_PEERS();
    // The storage holds the body until the test is over: the upload cannot finish first.
    ASSERT_TRUE(storage.script(R"({"slow_seconds": 30})"));
    const std::string movie = writeMovie("Long.mov", 2 * 1024 * 1024);
    auto record = settingsRecord("Long");
    auto window = openWindow(movie);
    window->uploadWithSettings(*record);
    QTest::qWait(300);
    // A Return meant for another window that lands here, on the window or on the focused
    // button, leaves the upload running.
    auto* button = part<QPushButton>(*window, "cancelButton");
    button->setFocus();
    for (QWidget* target :
         {static_cast<QWidget*>(window->window()), static_cast<QWidget*>(button)}) {
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    QTest::qWait(100);
    EXPECT_TRUE(host->calls.empty());
    EXPECT_EQ(window->state(), State::Uploading);
    EXPECT_TRUE(window->window()->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);

    EXPECT_EQ(host->calls, std::vector<std::string>{"uploadCancelled"});
    EXPECT_EQ(window->state(), State::Cancelled);
    EXPECT_FALSE(window->window()->isVisible());
    // The transfer's own report of the cancellation is not put in front of the user.
    QTest::qWait(500);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(std::filesystem::exists(movie));
    for (const auto& [path, fields] : apiCalls()) {
        EXPECT_NE(path, "/files/upload");
    }
}

// An upload that ends without a file the service confirmed is a failure: a refused
// registration, a reply that names no file (the thumbnail would go to file 0) or an id
// that is no whole number that fits (its leading digits would name another file), and
// an upload the client never started (no project chosen), which no reply would ever end.
TEST_F(ProgressWindowPeerTest, EveryUploadWithoutAConfirmedFileFailsKeepsTheMovieAndTellsTheHost) {
    QV_PROGRESS_PEERS();
    struct Case {
        const char* name;
        const char* reply;  // scripted registration reply, or none
        int64_t project;
        const char* shown;
    };
    const Case cases[] = {
        {"Over", R"({"status": 200, "json": {"error": "Storage quota exceeded"}})", 1,
         "Storage quota exceeded"},
        {"Nameless", R"({"status": 200, "json": {"uploaded": true}})", 1,
         UploadProgressController::kNotRegisteredText},
        {"Fraction", R"({"status": 200, "json": {"id": 1.5}})", 1,
         UploadProgressController::kNotRegisteredText},
        {"Letters", R"({"status": 200, "json": {"id": "12abc"}})", 1,
         UploadProgressController::kNotRegisteredText},
        {"Huge", R"({"status": 200, "json": {"id": 99999999999999999999999}})", 1,
         UploadProgressController::kNotRegisteredText},
        {"HugeText", R"({"status": 200, "json": {"id": "99999999999999999999999"}})", 1,
         UploadProgressController::kNotRegisteredText},
        {"Exponent", R"({"status": 200, "json": {"id": 1e300}})", 1,
         UploadProgressController::kNotRegisteredText},
        {"Nowhere", nullptr, QuorvSettingsController::kNoProject, "No project was chosen"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host->calls.clear();
        forgetApiCalls();
        service->request("POST", "/_control/reset");  // replies left unused
        if (c.reply) {
            service->script("/api/0/files/upload", c.reply, 4);
        }
        const std::string movie = writeMovie(std::string(c.name) + ".mov", 64 * 1024);
        auto record = settingsRecord(c.name);
        record->setProjectID(c.project);
        auto window = openWindow(movie);
        window->setThumbnail(picture());
        auto alert = answerNextModal(Qt::Key_Return);
        window->uploadWithSettings(*record);

        ASSERT_TRUE(waitFor([&] { return !host->calls.empty(); }, 60));
        EXPECT_EQ(host->calls, std::vector<std::string>{"uploadFailed"});
        EXPECT_TRUE(alert->startsWith("Quorvane Error\n")) << alert->toStdString();
        EXPECT_TRUE(alert->contains(c.shown)) << alert->toStdString();
        EXPECT_EQ(window->state(), State::Failed);
        EXPECT_FALSE(window->window()->isVisible());
        EXPECT_TRUE(std::filesystem::exists(movie));
        for (const auto& [path, fields] : apiCalls()) {
            EXPECT_NE(path, "/files/thumb");
        }
    }
}

TEST_F(ProgressWindowPeerTest, FailedThumbnailShowsTheErrorAndStaysFinishingUntilCancelled) {
    QV_PROGRESS_PEERS();
    service->script("/api/0/files/thumb", R"({"status": 200, "json": {"error": "Bad image"}})", 4);
    const std::string movie = writeMovie("Thumb.mov", 64 * 1024);
    auto record = settingsRecord("Thumb");
    auto window = openWindow(movie);
    window->setThumbnail(picture());
    auto alert = answerNextModal(Qt::Key_Return);
    window->uploadWithSettings(*record);

    ASSERT_TRUE(waitFor([&] { return alert->contains("Bad image"); }, 60));
    EXPECT_TRUE(alert->startsWith("Quorvane Error\n"));
    EXPECT_EQ(window->state(), State::Finishing);
    EXPECT_TRUE(window->window()->isVisible());
    EXPECT_EQ(part<QLabel>(*window, "statusLabel")->text(), "Finishing...");
    EXPECT_EQ(part<QProgressBar>(*window, "progress")->maximum(), 0);  // busy
    EXPECT_TRUE(part<QLabel>(*window, "progressLabel")->text().isEmpty());
    EXPECT_TRUE(host->calls.empty());
    EXPECT_TRUE(std::filesystem::exists(movie));

    // Only Cancel leads on; by the keyboard, as a user would.
    QTest::keyClick(window->window(), Qt::Key_Escape);
    EXPECT_EQ(host->calls, std::vector<std::string>{"uploadCancelled"});
    EXPECT_TRUE(std::filesystem::exists(movie));
}

// A file over 2 GiB still fills the bar exactly: the bar holds an int, so the counts are
// scaled. Project 0 makes the client send nothing (the window's failure for it comes
// from the main queue, after the cancel below); the progress reports are fed in as the
// client delivers them, in pieces the size of a socket buffer.
TEST_F(ProgressWindowPeerTest, FileOverTwoGibibytesFillsTheBarExactly) {
    QV_PROGRESS_PEERS();
    const std::string movie = dir.file("Feature.mov");
    const uint64_t size = (5ull << 30) + 12345;  // sparse: takes no disk space
    {
        std::ofstream(movie).put('x');
        std::filesystem::resize_file(movie, size);
    }
    auto record = settingsRecord("Feature");
    record->setProjectID(0);
    auto window = openWindow(movie);
    auto* bar = part<QProgressBar>(*window, "progress");
    EXPECT_GT(bar->maximum(), 1 << 30);
    window->uploadWithSettings(*record);
    OWQuorvane& client = *window->quorv();
    uint64_t sent = 0;
    while (sent < size) {
        const uint64_t piece = std::min<uint64_t>(size - sent, 4u << 20);
        window->didUploadBytes(client, int64_t(piece), {});
        sent += piece;
        ASSERT_LE(bar->value(), bar->maximum());
    }
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(window->bytesSent(), size);
    window->didUploadBytes(client, -5, {});  // never negative, never past the end
    window->didUploadBytes(client, 1, {});
    EXPECT_EQ(bar->value(), bar->maximum());
    window->cancel();
}

// The start timecode: the frame rate's ceiling is the timebase, NTSC when they differ.
TEST_F(ProgressWindowPeerTest, StartTimecodeAndSettingsSentWithTheUpload) {
    QV_PROGRESS_PEERS();
    auto record = settingsRecord("Timing");
    record->setDropFrame(false);
    record->setTimecodeZeroPoint(90000);
    record->setFps(25);
    EXPECT_EQ(UploadProgressController::startTimecode(*record), "01:00:00:00");
    record->setFps(29.97f);
    record->setDropFrame(true);
    record->setTimecodeZeroPoint(107892);
    EXPECT_EQ(UploadProgressController::startTimecode(*record), "01:00:00;00");
    record->setFps(0);  // unknown: the conversion's own default timebase
    record->setDropFrame(false);
    record->setTimecodeZeroPoint(0);
    EXPECT_EQ(UploadProgressController::startTimecode(*record), "00:00:00:00");

    record->setWorkflowID(-1);
    const base::Value sent(UploadProgressController::uploadSettings(*record));
    EXPECT_EQ(sent["mime-type"].stringValue(), "video/mp4");
    EXPECT_EQ(sent["workflow_id"].stringValue(), "-1");
    EXPECT_EQ(sent["linkHideDownload"].stringValue(), "0");
    EXPECT_EQ(sent["linkAccessRevisions"].stringValue(), "0");
    EXPECT_EQ(sent.size(), 8u);
}

}  // namespace

// How a share ends, whatever a second editor does around it: the editor stand-in, in a
// process of its own, drives the program over the test's session bus while storage
// answers slowly. A share once accepted ends with the editor's own movie stored or a
// failure shown: never cut off by the launch time-out, never another file's bytes, never
// another editor's title, never a success that uploads nothing.
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <optional>

#include "apps/share_destination/SAMDocumentController.h"
#include "tests/share_destination/ShareTestSupport.h"
#include "upload_dialog/QuorvSettingsController.h"

namespace sharetest {
namespace {

namespace fs = std::filesystem;

void put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class ShareOutcome : public ShareTest {
  protected:
    // A program of its own for the next share (the last one has quit), with `preferences`
    // when given.
    void relaunch(const std::optional<base::Dictionary>& preferences = std::nullopt) {
        app.reset();
        SAMDocumentController::sharedDocumentController().closeAll();
        if (preferences) {
            writePreferences(*preferences);
        }
        quits.clear();
        forgetApiCalls();
        launch();
    }
    void storeProject() const {
        writePreferences({{QuorvSettingsController::kSelectedProjectKey, base::Value(1)},
                          {QuorvSettingsController::kSelectedFolderKey, base::Value("/")}});
    }
    std::vector<settingstest::Fields> uploads() const {
        std::vector<settingstest::Fields> found;
        for (const auto& [path, fields] : apiCalls()) {
            if (path == "/files/upload") {
                found.push_back(fields);
            }
        }
        return found;
    }
    std::pair<int, QStringList> run(const QStringList& args, double seconds = 60) {
        auto editor = startEditor(args);
        int status = -1;
        QStringList out = finish(*editor, &status, seconds);
        return {status, out};
    }
    bool quit() {
        return waitFor([&] { return !quits.empty(); }, 60);
    }
};

// The launch time-out, armed again by an open-documents that names no movie, fires while
// the editor's next open-documents is taken: the alert is answered mid-upload and the
// share still completes with the movie's bytes, quitting once.
TEST_F(ShareOutcome, TimeoutAlertAnsweredDuringAnAcceptedShareLetsItComplete) {
    QV_REQUIRE_FFMPEG();
    QV_PROGRESS_PEERS();
    storeProject();
    const std::string rendered = makeMovie("render.mov", 2);
    ASSERT_TRUE(storage.script(R"({"slow_seconds": 5})"));
    launch();

    // The make is answered, and its editor leaves the bus.
    auto [made, out] = run({"--interaction", "0x10", "--make-only"});
    ASSERT_EQ(made, 0) << out.join("\n").toStdString();
    const std::string movie = tempFolder() + "/Untitled.mp4";
    const std::string xml = tempFolder() + "/Untitled.fcpxml";
    put(xml, "<fcpxml/>");
    auto [opened, openOut] = run({"--open", QString::fromStdString(xml)});
    ASSERT_EQ(opened, 0) << openOut.join("\n").toStdString();

    // Once the alert is up, the editor hands its movie over; the user answers the alert
    // only when the upload runs.
    bool answered = false;
    int handedOver = -1;
    answerModal(
        [&](QWidget& box) {
            fs::copy_file(rendered, movie, fs::copy_options::overwrite_existing);
            handedOver = run({"--open", QString::fromStdString(movie)}).first;
            waitFor(
                [&] {
                    return app->progressController() &&
                           app->progressController()->state() ==
                               UploadProgressController::State::Uploading;
                },
                30);
            QTest::keyClick(&box, Qt::Key_Return);
            answered = true;
        },
        20);
    ASSERT_TRUE(waitFor([&] { return answered; }, 30));
    EXPECT_EQ(handedOver, 0);
    ASSERT_TRUE(app->progressController());
    EXPECT_TRUE(quits.empty()) << "the alert ended the share under way";
    ASSERT_TRUE(quit());
    EXPECT_EQ(quits, std::vector<int>{0});
    ASSERT_EQ(uploads().size(), 1u);
    EXPECT_EQ(storage.objectBytes(uploads()[0].at("source")), testsupport::readFile(rendered));
    EXPECT_FALSE(fs::exists(movie));
}

// Right after open-documents is answered the editor puts something else at the movie's
// path: a folder holding a secret, a link to a private folder, another movie. What goes
// up is the movie that was checked, whole; what the editor put there is left alone.
TEST_F(ShareOutcome, MoviePathSwappedAfterTheAnswerUploadsTheCheckedMovie) {
    QV_REQUIRE_FFMPEG();
    QV_PROGRESS_PEERS();
    storeProject();
    const std::string rendered = makeMovie("render.mov", 2);
    const std::string other = makeMovie("other.mov", 1);
    const std::string folder = dir.makeFolder("Swap");
    put(folder + "/secret.txt", "secret");
    const std::string secrets = dir.makeFolder("private");
    put(secrets + "/secret.txt", "secret");
    const std::string link = dir.file("link");
    fs::create_symlink(secrets, link);
    const std::string renamed = dir.file("renamed.mov");
    fs::copy_file(other, renamed);

    for (const std::string& swap : {folder, link, renamed}) {
        SCOPED_TRACE(swap);
        relaunch();
        auto alert = answerNextModal();
        auto [status, out] = run({"--interaction", "0x10", "--name", "Swapped", "--movie",
                                  QString::fromStdString(rendered), "--no-fcpxml",
                                  "--swap-after-open", QString::fromStdString(swap)});
        ASSERT_EQ(status, 0) << out.join("\n").toStdString();
        ASSERT_TRUE(out.contains("swapped"));
        ASSERT_TRUE(quit());
        const auto sent = uploads();
        if (sent.empty()) {
            EXPECT_FALSE(alert->isEmpty()) << "no upload and no failure shown";
        }
        for (const auto& fields : sent) {
            EXPECT_TRUE(storage.objectBytes(fields.at("source")) == testsupport::readFile(rendered))
                << "other bytes were stored";
            EXPECT_EQ(fields.at("mime-type"), "video/mp4");
        }
        // What the editor put at the path is its own, and the link's folder is left
        // alone.
        const std::string path = tempFolder() + "/Untitled.mp4";
        EXPECT_TRUE(fs::exists(fs::symlink_status(path)));
        EXPECT_TRUE(swap != folder || fs::exists(path + "/secret.txt"));
        EXPECT_TRUE(fs::exists(secrets + "/secret.txt"));
        fs::remove_all(path);
        // The way the upload read the movie is gone with the program.
        for (const auto& entry : fs::directory_iterator(tempFolder())) {
            EXPECT_EQ(entry.path().filename().string().rfind("upload-", 0), std::string::npos)
                << entry.path();
        }
    }
}

// Editor A is handed an asset and leaves the bus, without interaction or after its
// settings window (confirmed once A had gone); editor B's share carries B's own title.
TEST_F(ShareOutcome, EditorsOneAfterAnotherEachShareUnderTheirOwnTitle) {
    QV_REQUIRE_FFMPEG();
    QV_PROGRESS_PEERS();
    storeProject();
    launch();
    auto [a, outA] = run({"--interaction", "0x10", "--name", "Leaving", "--make-only"});
    ASSERT_EQ(a, 0) << outA.join("\n").toStdString();
    auto [b, outB] =
        run({"--interaction", "0x10", "--name", "B after A left", "--seconds", "1", "--no-fcpxml"});
    ASSERT_EQ(b, 0) << outB.join("\n").toStdString();
    ASSERT_TRUE(quit());
    ASSERT_EQ(uploads().size(), 1u);
    EXPECT_EQ(uploads()[0].at("title"), "B after A left");

    relaunch();
    // A gives up waiting for the settings window and leaves; the user confirms after.
    auto leaving = startEditor(
        {"--interaction", "0x20", "--name", "Leaving", "--make-only", "--timeout", "1"});
    ASSERT_TRUE(waitFor([&] { return app->settingsController()->window()->isVisible(); }));
    int status = -1;
    finish(*leaving, &status);
    EXPECT_EQ(status, 4);
    ASSERT_TRUE(waitForLists(*app->settingsController()));
    click(*widget<QPushButton>(*app->settingsController(), "uploadBtn"));
    ASSERT_TRUE(waitFor([&] { return !app->settingsController()->window()->isVisible(); }));
    std::tie(b, outB) =
        run({"--interaction", "0x10", "--name", "B after A left", "--seconds", "1", "--no-fcpxml"});
    ASSERT_EQ(b, 0) << outB.join("\n").toStdString();
    ASSERT_TRUE(quit());
    ASSERT_EQ(uploads().size(), 1u);
    EXPECT_EQ(uploads()[0].at("title"), "B after A left");
}

// Open-documents with no make before it, for an account whose project list has not
// come (here: has none): shared with the choices stored last time, or, with none stored,
// refused with a script error that says why; never answered success and then left
// without an upload.
TEST_F(ShareOutcome, OpenDocumentsWithoutAMakeSharesWithStoredChoicesOrIsRefused) {
    QV_REQUIRE_FFMPEG();
    QV_PROGRESS_PEERS();
    ASSERT_EQ(service->request("POST", "/_control/api_catalogue", "[]").status, 200);
    storeProject();
    const std::string movie = makeMovie("Cut.mov", 1);
    launch();
    auto alert = answerNextModal();
    auto [status, out] = run({"--open", QString::fromStdString(movie)});
    EXPECT_EQ(status, 0) << out.join("\n").toStdString();
    ASSERT_TRUE(quit());
    EXPECT_TRUE(alert->isEmpty()) << alert->toStdString();
    ASSERT_EQ(uploads().size(), 1u);
    EXPECT_EQ(uploads()[0].at("project_id"), "1");
    EXPECT_EQ(uploads()[0].at("title"), "Cut");
    EXPECT_EQ(storage.objectBytes(uploads()[0].at("source")), testsupport::readFile(movie));
    EXPECT_TRUE(fs::exists(movie));

    relaunch(base::Dictionary{});
    alert = answerNextModal();
    std::tie(status, out) = run({"--open", QString::fromStdString(movie)});
    EXPECT_EQ(status, 3);
    EXPECT_TRUE(out.contains("script error -10000")) << out.join("\n").toStdString();
    QTest::qWait(1000);
    EXPECT_TRUE(uploads().empty());
    EXPECT_TRUE(alert->isEmpty()) << alert->toStdString();
    EXPECT_TRUE(quits.empty());
}

// A name or metadata value of megabytes is refused in the make's answer; the program goes on
// serving the next make.
TEST_F(ShareOutcome, OverLongNameOrMetadataValueIsRefusedByTheMake) {
    QV_PROGRESS_PEERS();
    launch();
    for (const char* option : {"--name-bytes", "--metadata-bytes"}) {
        auto [status, out] = run({"--interaction", "0x10", "--make-only", option, "4194304"});
        EXPECT_EQ(status, 3) << option;
        EXPECT_TRUE(out.contains("script error -1700")) << option << out.join("\n").toStdString();
    }
    auto [status, out] = run({"--interaction", "0x10", "--make-only", "--name-bytes", "1024"});
    EXPECT_EQ(status, 0) << out.join("\n").toStdString();
    EXPECT_TRUE(app->settingsController()->title() == std::string(1024, 'n'));
}

}  // namespace
}  // namespace sharetest

// How a share ends, whatever a second editor does around it: the editor stand-in, in a
// process of its own, drives the program over the test's session bus while storage
// answers slowly. A share once accepted ends with the editor's own movie stored or a
// failure shown: never cut off by the launch time-out, never another file's bytes, never
// another editor's title, never a success that uploads nothing.
#include <stdlib.h>

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <optional>

#include "apps/share_destination/SAMDocumentController.h"
#include "apps/share_destination/SAMHandOver.h"
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

// The title belongs to the share: a make without interaction takes its own name, a make
// whose settings window ran takes what the window chose, files handed over without a make
// take the movie's file name. Nothing carries over from an earlier make of the same
// editor or of another one that left (without interaction or after its window).
TEST_F(ShareOutcome, EachShareCarriesItsOwnTitle) {
    QV_REQUIRE_FFMPEG();
    QV_PROGRESS_PEERS();
    storeProject();
    const std::string own = makeMovie("B Own Cut.mov", 1);
    const auto title = [&] {
        EXPECT_TRUE(quit());
        const auto sent = uploads();
        EXPECT_EQ(sent.size(), 1u);
        return sent.empty() ? std::string() : sent[0].at("title");
    };
    const QStringList share = {"--seconds", "1", "--no-fcpxml"};
    launch();
    auto [a, outA] = run({"--interaction", "0x10", "--name", "Leaving", "--make-only"});
    ASSERT_EQ(a, 0) << outA.join("\n").toStdString();
    auto [b, outB] = run(QStringList{"--interaction", "0x10", "--name", "B after A left"} + share);
    ASSERT_EQ(b, 0) << outB.join("\n").toStdString();
    EXPECT_EQ(title(), "B after A left");

    relaunch();
    std::tie(a, outA) = run({"--interaction", "0x10", "--name", "Leaving", "--make-only"});
    ASSERT_EQ(a, 0) << outA.join("\n").toStdString();
    std::tie(b, outB) = run({"--open", QString::fromStdString(own)});
    ASSERT_EQ(b, 0) << outB.join("\n").toStdString();
    EXPECT_EQ(title(), "B Own Cut");

    // One editor cancels its render and shares again under a new name.
    relaunch();
    std::tie(b, outB) = run(QStringList{"--make-before", "First Try", "0x10", "--interaction",
                                        "0x10", "--name", "Second Try"} +
                            share);
    ASSERT_EQ(b, 0) << outB.join("\n").toStdString();
    EXPECT_EQ(title(), "Second Try");

    // Through the settings window first, then without it.
    relaunch();
    auto editor = startEditor(QStringList{"--make-before", "Window", "0x20", "--interaction",
                                          "0x10", "--name", "Without"} +
                              share);
    ASSERT_TRUE(waitFor([&] { return app->settingsController()->window()->isVisible(); }));
    ASSERT_TRUE(waitForLists(*app->settingsController()));
    click(*widget<QPushButton>(*app->settingsController(), "uploadBtn"));
    int status = -1;
    outB = finish(*editor, &status);
    ASSERT_EQ(status, 0) << outB.join("\n").toStdString();
    EXPECT_EQ(title(), "Without");

    relaunch();
    // A gives up waiting for the settings window and leaves; the user confirms after.
    auto leaving = startEditor(
        {"--interaction", "0x20", "--name", "Leaving", "--make-only", "--timeout", "1"});
    ASSERT_TRUE(waitFor([&] { return app->settingsController()->window()->isVisible(); }));
    finish(*leaving, &status);
    EXPECT_EQ(status, 4);
    ASSERT_TRUE(waitForLists(*app->settingsController()));
    click(*widget<QPushButton>(*app->settingsController(), "uploadBtn"));
    ASSERT_TRUE(waitFor([&] { return !app->settingsController()->window()->isVisible(); }));
    std::tie(b, outB) =
        run(QStringList{"--interaction", "0x10", "--name", "B after A left"} + share);
    ASSERT_EQ(b, 0) << outB.join("\n").toStdString();
    EXPECT_EQ(title(), "B after A left");
}

// The first editor puts links to its own files at the paths handed out: the share
// uploads them, and then removes the links, never the files. Links that a killed run
// left there are never written through by the next run's editor.
TEST_F(ShareOutcome, HandedOutLinksNeverLeadASecondShareIntoTheFirstEditorsFiles) {
    QV_REQUIRE_FFMPEG();
    QV_PROGRESS_PEERS();
    storeProject();
    const std::string ownMovie = makeMovie("Own.mov", 1);
    const std::string ownXml = dir.write("Own.fcpxml", "<fcpxml version=\"1.8\"/>\n");
    const std::string movieBytes = testsupport::readFile(ownMovie);
    const std::string xmlBytes = testsupport::readFile(ownXml);
    const std::string movie = tempFolder() + "/Untitled.mp4";
    const std::string xml = tempFolder() + "/Untitled.fcpxml";
    const auto unchanged = [&] {
        EXPECT_TRUE(testsupport::readFile(ownMovie) == movieBytes) << "the first editor's movie";
        EXPECT_TRUE(testsupport::readFile(ownXml) == xmlBytes) << "the first editor's description";
    };

    launch();
    auto [status, out] = run({"--interaction", "0x10", "--name", "Linked", "--link-files",
                              QString::fromStdString(ownMovie), QString::fromStdString(ownXml)});
    ASSERT_EQ(status, 0) << out.join("\n").toStdString();
    ASSERT_TRUE(quit());
    ASSERT_EQ(uploads().size(), 1u);
    EXPECT_TRUE(storage.objectBytes(uploads()[0].at("source")) == movieBytes);
    EXPECT_FALSE(fs::exists(fs::symlink_status(movie))) << "the handed-out link stayed";
    EXPECT_FALSE(fs::exists(fs::symlink_status(xml))) << "the handed-out link stayed";
    unchanged();

    // As a run killed mid-upload leaves them.
    for (const auto& [link, target] : {std::pair(movie, ownMovie), std::pair(xml, ownXml)}) {
        fs::remove(link);
        fs::create_symlink(target, link);
    }
    relaunch();
    std::tie(status, out) = run({"--interaction", "0x10", "--name", "Next", "--seconds", "1"});
    ASSERT_EQ(status, 0) << out.join("\n").toStdString();
    ASSERT_TRUE(quit());
    unchanged();
    ASSERT_EQ(uploads().size(), 1u);
    EXPECT_EQ(uploads()[0].at("title"), "Next");
    EXPECT_FALSE(storage.objectBytes(uploads()[0].at("source")) == movieBytes);
    EXPECT_FALSE(fs::exists(fs::symlink_status(movie)));
}

// An editor makes and then leaves the bus without handing anything over (it crashed or
// quit mid-render), whether it was answered at once or after the settings window: the
// program does not stay unseen, it ends after the launch time-out's alert.
TEST_F(ShareOutcome, HolderLeavingWithoutFilesEndsTheProgramAfterTheTimeout) {
    QV_PROGRESS_PEERS();
    storeProject();
    for (const bool window : {false, true}) {
        SCOPED_TRACE(window ? "after the settings window" : "without interaction");
        relaunch();
        auto alert = std::make_shared<QString>();
        answerModal(
            [alert](QWidget& box) {
                *alert = messageBoxText(box);
                QTest::keyClick(&box, Qt::Key_Return);
            },
            40);
        if (window) {
            auto leaving = startEditor(
                {"--interaction", "0x20", "--name", "Gone", "--make-only", "--timeout", "1"});
            ASSERT_TRUE(waitFor([&] { return app->settingsController()->window()->isVisible(); }));
            finish(*leaving);
            ASSERT_TRUE(waitForLists(*app->settingsController()));
            click(*widget<QPushButton>(*app->settingsController(), "uploadBtn"));
        } else {
            auto [status, out] = run({"--interaction", "0x10", "--name", "Gone", "--make-only"});
            ASSERT_EQ(status, 0) << out.join("\n").toStdString();
        }
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(waitFor([&] { return !quits.empty(); }, 30)) << "the program stays running";
        EXPECT_GE(clock.elapsed(), 4000);
        EXPECT_EQ(quits, std::vector<int>{0});
        EXPECT_TRUE(alert->contains("Instead please use the Share menu")) << alert->toStdString();
        EXPECT_TRUE(uploads().empty());
    }
}

// A run killed mid-upload leaves its upload folder with a link to nothing: the next
// launch removes it, and only such folders of this user. A running program's folder, a
// folder of another form, a link to a folder and what it leads to all stay.
TEST_F(ShareOutcome, NextLaunchRemovesWhatAKilledRunLeftAndNothingElse) {
    QV_PROGRESS_PEERS();
    const std::string temp = tempFolder();
    const auto folder = [&](const std::string& name) {
        std::string path = temp + "/" + name;
        if (name.ends_with("XXXXXX")) {
            EXPECT_NE(::mkdtemp(path.data()), nullptr);
        } else {
            fs::create_directory(path);
        }
        return path;
    };
    // Killed runs, of today's form and of the form before it.
    const std::string killed = folder("upload-XXXXXX");
    fs::create_symlink("/proc/999999999/fd/7", killed + "/Cut.mov");
    const std::string older = folder("upload-XXXXXX");
    fs::create_symlink("/proc/self/fd/9", older + "/Untitled.mp4");
    // A running program's.
    const std::string shared = dir.write("Shared.mov", "shared");
    auto checked = sam::openChecked(shared);
    ASSERT_TRUE(std::holds_alternative<std::shared_ptr<const sam::CheckedFile>>(checked));
    auto running = std::get<0>(checked)->linkIn(temp);
    ASSERT_FALSE(running.path.empty());
    // Other forms.
    const std::string shortName = folder("upload-abc");
    fs::create_symlink("/proc/999999999/fd/7", shortName + "/Cut.mov");
    const std::string withFile = folder("upload-XXXXXX");
    put(withFile + "/Cut.mov", "mine");
    const std::string twoLinks = folder("upload-XXXXXX");
    fs::create_symlink("/proc/999999999/fd/7", twoLinks + "/A.mov");
    fs::create_symlink("/proc/999999999/fd/8", twoLinks + "/B.mov");
    const std::string elsewhere = dir.makeFolder("elsewhere");
    fs::create_symlink("/proc/999999999/fd/7", elsewhere + "/Cut.mov");
    const std::string linked = temp + "/upload-Lnk123";
    fs::create_symlink(elsewhere, linked);

    launch();
    EXPECT_FALSE(fs::exists(fs::symlink_status(killed)));
    EXPECT_FALSE(fs::exists(fs::symlink_status(older)));
    EXPECT_EQ(testsupport::readFile(running.path), "shared");
    for (const std::string& kept :
         {shortName + "/Cut.mov", withFile + "/Cut.mov", twoLinks + "/A.mov", twoLinks + "/B.mov",
          linked, elsewhere + "/Cut.mov"}) {
        EXPECT_TRUE(fs::exists(fs::symlink_status(kept))) << kept;
    }
    sam::CheckedFile::removeLink(running);
    EXPECT_FALSE(fs::exists(fs::symlink_status(fs::path(running.path).parent_path())));
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

// What editors hand the program, as a user meets it: the editor stand-in, in a process
// of its own, names files over the test's session bus that cannot be shared (a pipe, a
// device, a folder, a missing movie, data that is no bookmark), or two editors share at
// once. The program answers each with a script error the editor can act on, never
// reads what it refused, never lingers unseen and never lets two shares meet.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTest>
#include <atomic>
#include <filesystem>
#include <thread>

#include "tests/share_destination/ShareTestSupport.h"
#include "upload_dialog/QuorvSettingsController.h"

namespace sharetest {
namespace {

namespace fs = std::filesystem;

class HandOver : public ShareTest {
  protected:
    // As a confirmed settings window left them: an open-documents alone can upload.
    void chooseProject() {
        QuorvSettingsController& settings = *app->settingsController();
        settings.setProjectID(1);
        settings.setFolder("/");
        settings.setTitle("Handed over");
    }
    // Sends open-documents with `args`; the editor's exit status and output.
    std::pair<int, QStringList> open(const QStringList& args) {
        auto editor = startEditor(args);
        int status = -1;
        QStringList out = finish(*editor, &status, 30);
        return {status, out};
    }
    bool uploaded() const {
        for (const auto& [path, fields] : apiCalls()) {
            if (path == "/files/upload") {
                return true;
            }
        }
        return false;
    }
};

// Should the program open the pipe (and so wait for a writer for ever), a writer comes
// along, records that it found a reader and lets the program go on.
class PipeWatch {
  public:
    explicit PipeWatch(std::string path) : path_(std::move(path)) {
        thread_ = std::thread([this] {
            while (!stop_) {
                const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    opened_ = true;
                    ::close(fd);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    }
    ~PipeWatch() {
        stop_ = true;
        thread_.join();
    }
    bool opened() const { return opened_; }

  private:
    std::string path_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> opened_{false};
    std::thread thread_;
};

TEST_F(HandOver, PipeDeviceAndFolderAreRefusedUnreadAndTheProgramStillAnswers) {
    QV_PROGRESS_PEERS();
    const std::string pipe = dir.file("Cut.mov");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string device = dir.file("Zero.mp4");
    fs::create_symlink("/dev/zero", device);
    const std::string folder = dir.makeFolder("Folder.mov");
    PipeWatch watch(pipe);
    launch();
    chooseProject();

    for (const std::string& path : {pipe, device, folder}) {
        const auto [status, out] = open({"--open", QString::fromStdString(path)});
        EXPECT_EQ(status, 3) << path;
        EXPECT_TRUE(out.contains("script error -1302")) << path << out.join("\n").toStdString();
    }
    // The same refusal for a description that is no file, beside a good movie.
    const std::string movie = dir.write("Good.mov", "not read either");
    const std::string xml = dir.file("Cut.fcpxml");
    ASSERT_EQ(::mkfifo(xml.c_str(), 0600), 0);
    PipeWatch xmlWatch(xml);
    const auto [status, out] =
        open({"--open", QString::fromStdString(movie), "--open", QString::fromStdString(xml)});
    EXPECT_EQ(status, 3);
    EXPECT_TRUE(out.contains("script error -1302")) << out.join("\n").toStdString();

    EXPECT_FALSE(watch.opened()) << "the program opened the pipe";
    EXPECT_FALSE(xmlWatch.opened()) << "the program opened the pipe";
    // Nothing was uploaded, and the program still serves the editor's next share.
    auto editor = startEditor({"--interaction", "0x10", "--make-only"});
    int made = -1;
    finish(*editor, &made, 20);
    EXPECT_EQ(made, 0);
    EXPECT_FALSE(uploaded());
    EXPECT_EQ(storage.stat("puts"), 0);
    EXPECT_TRUE(quits.empty());
    EXPECT_TRUE(fs::exists(movie));
}

// A missing movie and items that are no usable bookmark are script errors; the program,
// handed nothing it can share, ends by itself (after its launch alert) instead of
// lingering without a window.
TEST_F(HandOver, MissingMovieAndUnusableBookmarksAreScriptErrorsAndTheProgramEnds) {
    QV_PROGRESS_PEERS();
    auto alert = std::make_shared<QString>();
    answerModal(
        [alert](QWidget& box) {
            *alert = messageBoxText(box);
            QTest::keyClick(&box, Qt::Key_Return);
        },
        60);
    launch();
    chooseProject();

    auto [status, out] = open({"--open", QString::fromStdString(dir.file("Gone.mov"))});
    EXPECT_EQ(status, 3);
    EXPECT_TRUE(out.contains("script error -43")) << out.join("\n").toStdString();

    const std::vector<QStringList> unusable = {
        {"--item", "utf8", "file:///tmp/Cut.mov"},                 // no bookmark data
        {"--item", "bmrk", "QVBK 0\\nurl file:///tmp/Cut.mov\\n"},  // unknown version
        {"--item", "bmrk", "QVBK 1\\nurl http://tmp/Cut.mov\\n"},   // not a file URL
        {"--item", "bmrk", "QVBK 1\\nurl file:Cut.mov\\n"},         // relative
        {"--item", "bmrk", "QVBK 1\\nurl file://elsewhere/Cut.mov\\n"},  // another host
        {"--big-item", "1048576"},                                  // over the size cap
    };
    for (const QStringList& args : unusable) {
        std::tie(status, out) = open(args);
        EXPECT_EQ(status, 3) << args.join(" ").toStdString();
        EXPECT_TRUE(out.contains("script error -1700")) << args.join(" ").toStdString();
    }
    EXPECT_FALSE(uploaded());
    ASSERT_TRUE(waitFor([&] { return !quits.empty(); }, 30));
    EXPECT_EQ(quits, std::vector<int>{0});
    EXPECT_TRUE(alert->contains("Instead please use the Share menu")) << alert->toStdString();
}

// Two editors share at once without interaction: one gets the location and its movie is
// stored whole under its own title; the other is told busy at once.
TEST_F(HandOver, TwoEditorsAtOnceNeverShareALocation) {
    QV_REQUIRE_FFMPEG();
    QV_PROGRESS_PEERS();
    writePreferences({{QuorvSettingsController::kSelectedProjectKey, base::Value(1)},
                      {QuorvSettingsController::kSelectedFolderKey, base::Value("/")}});
    const std::string movieA = makeMovie("A.mov", 1);
    const std::string movieB = makeMovie("B.mov", 2);
    launch();
    auto a = startEditor({"--interaction", "0x10", "--name", "Cut A", "--movie",
                          QString::fromStdString(movieA), "--no-fcpxml"});
    auto b = startEditor({"--interaction", "0x10", "--name", "Cut B", "--movie",
                          QString::fromStdString(movieB), "--no-fcpxml"});
    int statusA = -1;
    int statusB = -1;
    const QStringList outA = finish(*a, &statusA);
    const QStringList outB = finish(*b, &statusB);
    ASSERT_EQ(statusA + statusB, 3) << outA.join("\n").toStdString() << "\n"
                                    << outB.join("\n").toStdString();
    const bool aWon = statusA == 0;
    EXPECT_TRUE((aWon ? outB : outA).contains("script error -1708"));
    ASSERT_TRUE(waitFor([&] { return !quits.empty(); }, 60));
    EXPECT_EQ(quits, std::vector<int>{0});

    std::vector<settingstest::Fields> uploads;
    for (const auto& [path, fields] : apiCalls()) {
        if (path == "/files/upload") {
            uploads.push_back(fields);
        }
    }
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].at("title"), aWon ? "Cut A" : "Cut B");
    EXPECT_EQ(storage.objectBytes(uploads[0].at("source")),
              testsupport::readFile(aWon ? movieA : movieB));
}

}  // namespace
}  // namespace sharetest

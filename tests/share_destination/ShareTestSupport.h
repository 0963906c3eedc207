#pragma once
// The share destination against its peers: the stand-in service and storage of the
// upload windows with a linked account, the program's delegate running in the test
// (so the test answers its windows as a user would), and the editor stand-in in a
// process of its own that talks to it over the test's session bus only.
#include <QStringList>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/share_destination/SAMApplicationDelegate.h"
#include "platform/system/ChildProcess.h"
#include "tests/upload_dialog/ProgressWindowSupport.h"

namespace sharetest {

class ShareTest : public progresstest::ProgressWindowTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Launches the delegate as the program does; the quit it asks for is recorded.
    void launch();
    // Starts the editor stand-in with `args` and our environment with `env` ("NAME=value"
    // entries) on top; its output is read when it ends. (Spawned, not started through
    // Qt's process class, whose way of forking the thread checker cannot follow.)
    std::unique_ptr<platform::system::ChildProcess> startEditor(
        const QStringList& args, const std::vector<std::string>& env = {}) const;
    // Waits for the stand-in to end; its output lines (and exit status in `status`).
    QStringList finish(platform::system::ChildProcess& editor, int* status = nullptr,
                       double seconds = 60) const;
    // This process's environment with the "NAME=value" entries of `extra` in place, in the
    // form a child process takes.
    static std::map<std::string, std::string> environmentWith(
        const std::vector<std::string>& extra);
    // A 29.97 drop-frame pattern movie made by ffmpeg: `seconds` long (never longer),
    // starting at 01:00:00;00.
    std::string makeMovie(const std::string& name, double seconds = 10) const;
    // The private temporary folder the assets go to.
    std::string tempFolder() const;
    // The line of `lines` that starts with `prefix` (without it); empty when none.
    static std::string line(const QStringList& lines, const std::string& prefix);

    std::shared_ptr<SAMApplicationDelegate> app;
    std::vector<int> quits;  // every status the program asked to quit with
};

// Skips (or in CI fails) without ffmpeg.
#define QV_REQUIRE_FFMPEG()                      \
    do {                                         \
        if (!sharetest::haveFFmpeg()) {          \
            if (testsupport::Peer::isCi()) {     \
                FAIL() << "ffmpeg is missing";   \
            }                                    \
            GTEST_SKIP() << "ffmpeg is missing"; \
        }                                        \
    } while (0)
bool haveFFmpeg();

}  // namespace sharetest

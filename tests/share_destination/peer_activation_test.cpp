// The real program, started by the bus for the editor's first command: a bus of the
// test's own knows the program from its service file, the editor stand-in shares with
// no interaction, and the program uploads with the choices stored last time and exits 0.
#include <signal.h>

#include <QFile>
#include <filesystem>
#include <fstream>

#include "tests/share_destination/ShareTestSupport.h"
#include "upload_dialog/QuorvSettingsController.h"

namespace sharetest {
namespace {

namespace fs = std::filesystem;

class Activation : public ShareTest {
  protected:
    void TearDown() override {
        if (bus) {
            bus->kill();
            bus->wait(5);
        }
        ShareTest::TearDown();
    }

    // A bus whose only service is the program, run through a wrapper that records how
    // it exited. The bus passes its own environment on to the program.
    QString startBus() {
        const std::string root = dir.makeFolder("bus");
        const std::string services = dir.makeFolder("bus/services");
        const std::string socket = root + "/socket";
        const std::string wrapper =
            dir.write("bus/run-exporter",
                      "#!/bin/sh\n\"" + std::string(QV_SAM_BUNDLE) +
                          "/Contents/MacOS/Quorvane FCPX Exporter\" \"$@\"\necho $? > \"" + root +
                          "/exit-status\"\n");
        fs::permissions(wrapper, fs::perms::owner_all);
        std::ofstream(services + "/com.oxburyworks.QuorvFCPXExporter.service")
            << "[D-BUS Service]\nName=com.oxburyworks.QuorvFCPXExporter\nExec=" << wrapper << "\n";
        const std::string config = dir.write(
            "bus/session.conf",
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n"
            "  <type>session</type>\n  <listen>unix:path=" +
                socket +
                "</listen>\n"
                "  <servicedir>" +
                services +
                "</servicedir>\n"
                "  <policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>\n</busconfig>\n");
        const QString address = "unix:path=" + QString::fromStdString(socket);
        bus = std::make_unique<platform::system::ChildProcess>(
            "/usr/bin/dbus-daemon",
            std::vector<std::string>{"--nofork", "--config-file=" + config});
        bus->setEnvironment(environmentWith(
            {"DBUS_SESSION_BUS_ADDRESS=" + address.toStdString(), "QT_QPA_PLATFORM=offscreen"}));
        bus->setStandardOutput(platform::system::ChildProcess::Stream::Inherit);
        bus->setStandardError(platform::system::ChildProcess::Stream::Inherit);
        EXPECT_TRUE(bus->launch());
        EXPECT_TRUE(waitFor([&] { return fs::exists(socket); }));
        return address;
    }

    std::unique_ptr<platform::system::ChildProcess> bus;
};

TEST_F(Activation, BusStartsTheProgramWhichSharesWithoutInteractionAndExitsZero) {
    QV_REQUIRE_FFMPEG();
    QV_PROGRESS_PEERS();
    // The bundle carries a service file naming its program.
    QFile service(QString(QV_SAM_BUNDLE) +
                  "/Contents/Resources/com.oxburyworks.QuorvFCPXExporter.service");
    ASSERT_TRUE(service.open(QIODevice::ReadOnly));
    EXPECT_TRUE(service.readAll().contains("/Contents/MacOS/Quorvane FCPX Exporter\""));
    // What the user chose last time in the settings window.
    writePreferences({{QuorvSettingsController::kSelectedProjectKey, base::Value(1)},
                      {QuorvSettingsController::kSelectedDeptKey, base::Value(11)},
                      {QuorvSettingsController::kSelectedFolderKey, base::Value("/Cuts")}});

    const QString address = startBus();
    auto editor = startEditor({"--interaction", "0x10", "--name", "Activated", "--seconds", "2"},
                              {"DBUS_SESSION_BUS_ADDRESS=" + address.toStdString()});
    int status = -1;
    const QStringList out = finish(*editor, &status, 90);
    ASSERT_EQ(status, 0) << out.join("\n").toStdString();
    EXPECT_EQ(line(out, "movie "), tempFolder() + "/Untitled.mp4");

    const std::string exitFile = dir.file("bus/exit-status");
    ASSERT_TRUE(waitFor([&] { return fs::exists(exitFile) && fs::file_size(exitFile) > 0; }, 60));
    EXPECT_EQ(testsupport::readFile(exitFile), "0\n");
    settingstest::Fields upload;
    for (const auto& [path, fields] : apiCalls()) {
        if (path == "/files/upload") {
            upload = fields;
        }
    }
    EXPECT_EQ(upload["title"], "Activated");
    EXPECT_EQ(upload["project_id"], "1");
    EXPECT_EQ(upload["frameRate"], "29.97");
    EXPECT_GE(storage.stat("puts"), 1);
    EXPECT_FALSE(fs::exists(tempFolder() + "/Untitled.mp4"));
}

// A session that ends sends the program SIGTERM mid-upload: it ends as the signal says
// and takes the folder it uploads through with it.
TEST_F(Activation, TerminatedMidUploadLeavesNoUploadFolderBehind) {
    QV_REQUIRE_FFMPEG();
    QV_PROGRESS_PEERS();
    writePreferences({{QuorvSettingsController::kSelectedProjectKey, base::Value(1)},
                      {QuorvSettingsController::kSelectedFolderKey, base::Value("/")}});
    ASSERT_TRUE(storage.script(R"({"slow_seconds": 10})"));
    const QString address = startBus();
    auto editor = startEditor({"--interaction", "0x10", "--name", "Ended", "--seconds", "2"},
                              {"DBUS_SESSION_BUS_ADDRESS=" + address.toStdString()});
    int status = -1;
    const QStringList out = finish(*editor, &status, 90);
    ASSERT_EQ(status, 0) << out.join("\n").toStdString();

    // The upload's link names the program's descriptor: /proc/<pid>/fd/N.
    std::string folder;
    std::string target;
    ASSERT_TRUE(waitFor(
        [&] {
            for (const auto& entry : fs::directory_iterator(tempFolder())) {
                if (entry.path().filename().string().rfind("upload-", 0) == 0) {
                    for (const auto& link : fs::directory_iterator(entry.path())) {
                        folder = entry.path().string();
                        target = fs::read_symlink(link.path()).string();
                        return true;
                    }
                }
            }
            return false;
        },
        30));
    const pid_t pid = std::stoi(target.substr(std::string("/proc/").size()));
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    const std::string exitFile = dir.file("bus/exit-status");
    ASSERT_TRUE(waitFor([&] { return fs::exists(exitFile) && fs::file_size(exitFile) > 0; }, 30));
    EXPECT_EQ(testsupport::readFile(exitFile), std::to_string(128 + SIGTERM) + "\n");
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder)));
}

}  // namespace
}  // namespace sharetest

// The settings window as the plug-in shows it inside the host, lists filled from the
// stand-in service, for a person to look at.
#include <QImage>
#include <QLabel>

#include "tests/export_plugin/HostRunSupport.h"

namespace {

class ExportLookTest : public exporttest::ExportPluginTest {};

TEST_F(ExportLookTest, SettingsWindowInsideTheHost) {
    QV_PROGRESS_PEERS();
    const std::string picture = dir.file("settings.png");
    const auto run = runHost({"--project", "/work/projects/My Film.prproj", "--answer", "cancel",
                              "--screenshot", picture, "startup", "export", "shutdown"});
    ASSERT_EQ(run.report("screenshot"), "screenshot saved=1") << run.output;
    QImage image(QString::fromStdString(picture));
    ASSERT_FALSE(image.isNull());
    QLabel shown;
    shown.setPixmap(QPixmap::fromImage(image));
    shown.resize(image.size());
    EXPECT_FALSE(saveScreenshot(shown, "export_plugin_settings_in_host").empty());
}

}  // namespace

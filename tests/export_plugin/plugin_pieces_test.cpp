// The plug-in's pieces against the host stand-in's own suites, in one process: the
// suites acquired and released, the frame rate of each sequence kind, the thumbnail
// taken from a padded, bottom-first frame buffer, and the text fields' keys. Then the
// built library itself: its start-up, shut-down and exported symbols inside the host.
#include <fcntl.h>
#include <unistd.h>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "apps/export_plugin/HostSuites.h"
#include "apps/export_plugin/OWCustomTextField.h"
#include "apps/export_plugin/SequenceTiming.h"
#include "apps/export_plugin/Thumbnail.h"
#include "base/Console.h"
#include "tests/export_plugin/HostRunSupport.h"
#include "tests/helpers/RunTool.h"
#include "tests/helpers/TempDir.h"
#include "tests/helpers/desktop/DesktopTest.h"
#include "tests/standins/host_suites.h"

namespace {

using exportplugin::HostSuites;

// The stand-in host set up for one sequence, with the plug-in's suites acquired.
class HostSuitesTest : public testsupport::DesktopTest {
  protected:
    void use(hoststandin::Options options) {
        options.plugin = "unused";
        hoststandin::configureHost(options);
        suites.acquire(*exportplugin::suiteBroker(hoststandin::stdParms()));
    }
    void TearDown() override {
        suites.release(*exportplugin::suiteBroker(hoststandin::stdParms()));
        EXPECT_EQ(hoststandin::suitesHeld(), 0);
        DesktopTest::TearDown();
    }
    exportplugin::SequenceTiming timing() const {
        return exportplugin::readSequenceTiming(suites.sequenceInfo, suites.time,
                                                hoststandin::kTimelineID);
    }
    HostSuites suites;
};

struct RateCase {
    const char* sequence;
    const char* zero;
    int64_t scale;
    int64_t sampleSize;
    int64_t zeroFrames;
    bool dropFrame;
};

class FrameRateTest : public HostSuitesTest, public testing::WithParamInterface<RateCase> {};

TEST_P(FrameRateTest, ScaleSampleSizeAndZeroPointOfEachSequenceKind) {
    const RateCase c = GetParam();
    hoststandin::Options options;
    options.sequence = c.sequence;
    options.zeroTimecode = c.zero;
    use(options);
    const auto t = timing();
    EXPECT_EQ(t.scale, c.scale);
    EXPECT_EQ(t.sampleSize, c.sampleSize);
    EXPECT_FLOAT_EQ(t.fps(), float(c.scale) / float(c.sampleSize));
    EXPECT_EQ(t.zeroPointFrames(), c.zeroFrames);
    EXPECT_EQ(t.dropFrame, c.dropFrame);
    EXPECT_EQ(t.bounds.right, 320);
    EXPECT_EQ(t.bounds.bottom, 180);
}

INSTANTIATE_TEST_SUITE_P(Sequences, FrameRateTest,
                         testing::Values(RateCase{"25", "01:00:00:00", 25, 1, 90000, false},
                                         RateCase{"29.97df", "01:00:00;00", 30000, 1001, 107892,
                                                  true},
                                         RateCase{"29.97", "00:00:10:00", 30000, 1001, 300, false},
                                         RateCase{"23.976", "00:00:01:00", 24000, 1001, 24, false},
                                         RateCase{"59.94", "00:00:00:00", 60000, 1001, 0, false}),
                         [](const testing::TestParamInfo<RateCase>& info) {
                             std::string name = std::string("fps") + info.param.sequence;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

TEST_F(HostSuitesTest, UnknownOrMissingRatesLeaveTheOutputsAlone) {
    use({});
    int64_t scale = 7;
    int64_t sampleSize = 9;
    // A frame of no known rate, a frame length of 0, and no time suite at all.
    exportplugin::ConvertPrTimeToScaleSampleSize(suites.time, 1234567, &scale, &sampleSize);
    exportplugin::ConvertPrTimeToScaleSampleSize(suites.time, 0, &scale, &sampleSize);
    exportplugin::ConvertPrTimeToScaleSampleSize(nullptr, 8475667200, &scale, &sampleSize);
    EXPECT_EQ(scale, 7);
    EXPECT_EQ(sampleSize, 9);
    const auto none = exportplugin::readSequenceTiming(nullptr, suites.time, 1);
    EXPECT_EQ(none.fps(), 0.0f);
    EXPECT_EQ(none.zeroPointFrames(), 0);
    EXPECT_FALSE(none.dropFrame);
}

// The host keeps its rows bottom first with padding after each; the thumbnail must come
// out as the picture was painted: red top left, green top right, blue bottom left.
TEST_F(HostSuitesTest, ThumbnailIsUprightUnmirroredFromPaddedRowsAndFreesTheFrame) {
    hoststandin::Options options;
    options.width = 64;
    options.height = 36;
    options.rowPadding = 44;
    use(options);
    const auto image = exportplugin::thumbnailForTimeline(hoststandin::kTimelineID,
                                                          hoststandin::stdParms(), suites);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width(), 64);
    ASSERT_EQ(image->height(), 36);
    auto rgb = [&](int x, int y) {
        const uint8_t* p = image->pixel(x, y);
        return std::vector<int>{p[0], p[1], p[2], p[3]};
    };
    for (int y : {0, 17}) {
        EXPECT_EQ(rgb(0, y), (std::vector<int>{255, 0, 0, 255})) << y;
        EXPECT_EQ(rgb(63, y), (std::vector<int>{0, 255, 0, 255})) << y;
    }
    for (int y : {18, 35}) {
        EXPECT_EQ(rgb(31, y), (std::vector<int>{0, 0, 255, 255})) << y;
        EXPECT_EQ(rgb(32, y), (std::vector<int>{255, 255, 255, 255})) << y;
    }
    EXPECT_EQ(hoststandin::frameBuffersAlive(), 0);
}

TEST_F(HostSuitesTest, NoThumbnailWithoutAFrameBufferOrWithShortRows) {
    hoststandin::Options options;
    options.failFrameBuffer = true;
    use(options);
    EXPECT_FALSE(exportplugin::thumbnailForTimeline(hoststandin::kTimelineID,
                                                    hoststandin::stdParms(), suites));
    std::vector<char> pixels(16 * 4 * 4);
    EXPECT_FALSE(exportplugin::imageFromFrameBuffer(pixels.data(), 16, 4, 16 * 4 - 1));
    EXPECT_FALSE(exportplugin::imageFromFrameBuffer(nullptr, 16, 4, 64));
    EXPECT_TRUE(exportplugin::imageFromFrameBuffer(pixels.data(), 16, 4, 64));
}

// The host's menu owns Ctrl+A/Z/X/C/V; in a text field the field takes them.
class TextFieldTest : public testsupport::DesktopTest {};

TEST_F(TextFieldTest, EditingKeysGoToTheFieldNotTheHostsMenu) {
    testsupport::TempDir dir;
    const std::string log = dir.file("console");
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int previous = base::Console::setOutput(fd);

    QWidget window;
    auto* field = new QLineEdit(&window);
    (new QVBoxLayout(&window))->addWidget(field);
    int hostShortcuts = 0;
    for (const QKeySequence& keys :
         {QKeySequence("Ctrl+A"), QKeySequence("Ctrl+Z"), QKeySequence("Ctrl+X"),
          QKeySequence("Ctrl+C"), QKeySequence("Ctrl+V")}) {
        auto* action = new QAction(&window);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::ApplicationShortcut);
        QObject::connect(action, &QAction::triggered, [&] { ++hostShortcuts; });
        window.addAction(action);
    }
    OWCustomTextField::adopt(window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    field->setFocus();
    ASSERT_TRUE(waitFor([&] { return field->hasFocus(); }));

    QTest::keyClicks(field, "cut one");
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(field->selectedText(), "cut one");
    QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "cut one");
    QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(field->text(), "");
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(field->text(), "cut one");
    QTest::keyClick(field, Qt::Key_End);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->text(), "cut onecut one");  // pasted once, not twice
    EXPECT_EQ(hostShortcuts, 0);

    base::Console::setOutput(previous);
    ::close(fd);
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    const std::string lines = text.str();
    EXPECT_NE(lines.find("perform key eq: " + std::to_string(int(Qt::Key_A))), std::string::npos);
    EXPECT_NE(lines.find("] 4\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("] key down\n"), std::string::npos);
}

// ---- the library in the host ----

TEST(ExportPluginLibrary, ExportsOnlyItsEntryPoint) {
    const auto symbols =
        testsupport::runTool({"nm", "-D", "--defined-only", exporttest::pluginLibrary()});
    ASSERT_EQ(symbols.status, 0) << "nm failed";
    // Exported means global or weak (an upper-case type letter); the linker leaves a few
    // of the standard library's typeinfo objects in the table as local ones.
    std::vector<std::string> names;
    std::istringstream in(symbols.out);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (!type.empty() && std::isupper(static_cast<unsigned char>(type[0]))) {
            names.push_back(name);
        }
    }
    EXPECT_EQ(names, std::vector<std::string>{"xExportControllerEntry"}) << symbols.out;
}

class HostLifecycleTest : public exporttest::ExportPluginTest {};

// A host may start the plug-in twice: each acquisition still has its one release.
TEST_F(HostLifecycleTest, StartupAcquiresTheNineSuitesAndShutdownReleasesExactlyThose) {
    const auto run = runHost(
        {"startup", "startup", "selector:3", "selector:-1", "shutdown", "selector:7"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.report("startup"), "startup status=0 menu=\"Send to Quorvane\"");
    const std::vector<std::string> acquired = run.reports("acquire ");
    std::vector<std::string> expected{"acquire \"Premiere ExportController Suite\" 1 ok",
                                            "acquire \"MediaCore Export Info Suite\" 1 ok",
                                            "acquire \"Premiere Error Suite\" 3 ok",
                                            "acquire \"MediaCore Sequence Info Suite\" 3 ok",
                                            "acquire \"Premiere Time Suite\" 1 ok",
                                            "acquire \"MediaCore Application Settings Suite\" 1 ok",
                                            "acquire \"MediaCore StringSuite\" 1 ok",
                                            "acquire \"Premiere PPix Suite\" 1 ok",
                                            "acquire \"Premiere PPix Creator Suite\" 1 ok"};
    const std::vector<std::string> once = expected;
    expected.insert(expected.end(), once.begin(), once.end());
    EXPECT_EQ(acquired, expected);
    EXPECT_EQ(run.reports("release ").size(), 18u) << run.output;
    for (const std::string& line : run.reports("release ")) {
        EXPECT_EQ(line.substr(line.size() - 3), " ok") << line;
    }
    EXPECT_EQ(run.report("selector 3"), "selector 3 status=-100");
    EXPECT_EQ(run.report("selector -1"), "selector -1 status=-100");
    EXPECT_EQ(run.report("shutdown"), "shutdown status=0 suites-held=0");
    // A second shut-down has nothing left to release.
    EXPECT_EQ(run.report("selector 7"), "selector 7 status=0");
}

// Without the export suite (refused, or the host has only an older one) an export is
// refused at once with the host's error event: no settings window for nothing.
TEST_F(HostLifecycleTest, WithheldSuitesAreNeitherUsedNorReleasedAndNoRenderRefusesTheExport) {
    const auto run = runHost({"--withhold", "Premiere Time Suite", "--withhold",
                              "Premiere PPix Suite", "--older", "Premiere ExportController Suite",
                              "startup", "export", "shutdown"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.report("acquire \"Premiere ExportController Suite\""),
              "acquire \"Premiere ExportController Suite\" 1 older");
    EXPECT_EQ(run.report("export"), "export status=-2");
    EXPECT_EQ(run.report("error-event"),
              "error-event type=3 title=\"Quorvane Exporter error\" text=\"The host offers no "
              "export render to this plug-in.  Export cancelled.\"");
    EXPECT_EQ(run.report("settings-window"), "");
    EXPECT_EQ(run.report("render"), "");
    EXPECT_EQ(run.reports("acquire ").size(), 9u);
    EXPECT_EQ(run.report("acquire \"Premiere Time Suite\""),
              "acquire \"Premiere Time Suite\" 1 withheld");
    const auto released = run.reports("release ");
    EXPECT_EQ(released.size(), 6u);
    for (const std::string& line : released) {
        EXPECT_EQ(line.find("Time Suite"), std::string::npos);
        EXPECT_EQ(line.find("\"Premiere PPix Suite\""), std::string::npos);
    }
    EXPECT_EQ(run.report("shutdown"), "shutdown status=0 suites-held=0");
}

}  // namespace

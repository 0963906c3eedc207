// The upload windows' helpers are compiled in here: this folder's tests build on them.
#include "tests/share_destination/ShareTestSupport.h"

#include "tests/upload_dialog/ProgressWindowSupport.cpp"  // NOLINT(bugprone-suspicious-include)
#include "tests/upload_dialog/SettingsWindowSupport.cpp"  // NOLINT(bugprone-suspicious-include)

#include <unistd.h>
#include <QDBusConnection>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "apps/share_destination/SAMDocumentController.h"
#include "apps/share_destination/SAMObject.h"
#include "apps/share_destination/SAMScriptingTerms.h"
#include "support/OWLocalPaths.h"
#include "tests/helpers/RunTool.h"

namespace sharetest {

bool haveFFmpeg() {
    return !QStandardPaths::findExecutable("ffmpeg").isEmpty();
}

void ShareTest::SetUp() {
    ProgressWindowTest::SetUp();
    ::setenv("TMPDIR", dir.makeFolder("tmp").c_str(), 1);
    useBundle(sam::kBusName);  // the bundle identifier equals the bus name
    SAMObject::resetCountersForTesting();
}

void ShareTest::TearDown() {
    app.reset();
    SAMDocumentController::sharedDocumentController().closeAll();
    ::unsetenv("TMPDIR");
    ProgressWindowTest::TearDown();
}

void ShareTest::launch() {
    QFile xml(QString(QV_SAM_BUNDLE) + "/Contents/Resources/" + sam::kIntrospectionFile);
    ASSERT_TRUE(xml.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(xml.readAll());
    SAMApplicationDelegate::Options options;
    options.bus = QDBusConnection::sessionBus();
    options.terminate = [this](int status) { quits.push_back(status); };
    options.introspection = text.mid(text.indexOf("<interface"));
    options.introspection.truncate(options.introspection.lastIndexOf("</interface>") + 12);
    app = SAMApplicationDelegate::create(options);
    ASSERT_TRUE(app->applicationDidFinishLaunching());
}

std::map<std::string, std::string> ShareTest::environmentWith(
    const std::vector<std::string>& extra) {
    std::map<std::string, std::string> env;
    for (const std::string& entry : testsupport::environmentWith(extra)) {
        const size_t equals = entry.find('=');
        if (equals != std::string::npos) {
            env[entry.substr(0, equals)] = entry.substr(equals + 1);
        }
    }
    return env;
}

std::unique_ptr<platform::system::ChildProcess> ShareTest::startEditor(
    const QStringList& args, const std::vector<std::string>& env) const {
    std::vector<std::string> arguments;
    for (const QString& arg : args) {
        arguments.push_back(arg.toStdString());
    }
    auto editor =
        std::make_unique<platform::system::ChildProcess>(QV_EDITOR_STANDIN, std::move(arguments));
    editor->setEnvironment(environmentWith(env));
    editor->setStandardOutput(platform::system::ChildProcess::Stream::Pipe);
    editor->setStandardError(platform::system::ChildProcess::Stream::Inherit);
    EXPECT_TRUE(editor->launch()) << "the editor stand-in did not start: " << editor->lastError();
    return editor;
}

QStringList ShareTest::finish(platform::system::ChildProcess& editor, int* status,
                              double seconds) const {
    const bool ended = waitFor([&] { return !editor.isRunning(); }, seconds);
    EXPECT_TRUE(ended) << "the editor stand-in did not end";
    if (!ended) {
        editor.kill();
    }
    const std::optional<int> exit = editor.wait(5);
    if (status) {
        *status = exit && *exit < 128 ? *exit : -1;
    }
    std::string out;
    char buffer[4096];
    ssize_t got;
    while (editor.standardOutputFd() >= 0 &&
           (got = ::read(editor.standardOutputFd(), buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno != EINTR) {
            break;
        }
        out.append(buffer, static_cast<size_t>(std::max<ssize_t>(got, 0)));
    }
    return QString::fromStdString(out).split('\n', Qt::SkipEmptyParts);
}

std::string ShareTest::makeMovie(const std::string& name, double seconds) const {
    const std::string path = dir.file(name);
    // Whole frames that fit the time: the movie is never longer than asked.
    const int frames = static_cast<int>(std::floor(seconds * 30000.0 / 1001.0));
    const testsupport::ToolResult ffmpeg =
        testsupport::runTool({"ffmpeg",
                              "-nostdin",
                              "-loglevel",
                              "error",
                              "-y",
                              "-f",
                              "lavfi",
                              "-i",
                              "testsrc2=size=320x180:rate=30000/1001",
                              "-frames:v",
                              std::to_string(frames),
                              "-timecode",
                              "01:00:00;00",
                              "-c:v",
                              "mpeg4",
                              "-q:v",
                              "8",
                              "-f",
                              "mov",
                              "--",
                              path});
    EXPECT_EQ(ffmpeg.status, 0) << ffmpeg.out;
    return path;
}

std::string ShareTest::tempFolder() const {
    return OWLocalPaths::tempDirectory();
}

std::string ShareTest::line(const QStringList& lines, const std::string& prefix) {
    for (const QString& l : lines) {
        const std::string text = l.toStdString();
        if (text.rfind(prefix, 0) == 0) {
            return text.substr(prefix.size());
        }
    }
    return {};
}

}  // namespace sharetest

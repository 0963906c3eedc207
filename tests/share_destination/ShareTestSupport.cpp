// The upload windows' helpers are compiled in here: this folder's tests build on them.
#include "tests/share_destination/ShareTestSupport.h"

#include "tests/upload_dialog/ProgressWindowSupport.cpp"  // NOLINT(bugprone-suspicious-include)
#include "tests/upload_dialog/SettingsWindowSupport.cpp"  // NOLINT(bugprone-suspicious-include)

#include <QDBusConnection>
#include <QFile>
#include <QStandardPaths>
#include <cmath>
#include <cstdlib>

#include "apps/share_destination/SAMDocumentController.h"
#include "apps/share_destination/SAMObject.h"
#include "apps/share_destination/SAMScriptingTerms.h"
#include "support/OWLocalPaths.h"

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

std::unique_ptr<QProcess> ShareTest::startEditor(const QStringList& args) const {
    auto editor = std::make_unique<QProcess>();
    editor->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    editor->start(QV_EDITOR_STANDIN, args);
    return editor;
}

QStringList ShareTest::finish(QProcess& editor, int* status, double seconds) const {
    const bool ended = waitFor([&] { return editor.state() == QProcess::NotRunning; }, seconds);
    EXPECT_TRUE(ended) << "the editor stand-in did not end";
    if (!ended) {
        editor.kill();
        editor.waitForFinished(5000);
    }
    if (status) {
        *status = editor.exitStatus() == QProcess::NormalExit ? editor.exitCode() : -1;
    }
    return QString::fromUtf8(editor.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

std::string ShareTest::makeMovie(const std::string& name, double seconds) const {
    const std::string path = dir.file(name);
    // Whole frames that fit the time: the movie is never longer than asked.
    const int frames = static_cast<int>(std::floor(seconds * 30000.0 / 1001.0));
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin",  "-loglevel",
                            "error",     "-y",
                            "-f",        "lavfi",
                            "-i",        "testsrc2=size=320x180:rate=30000/1001",
                            "-frames:v", QString::number(frames),
                            "-timecode", "01:00:00;00",
                            "-c:v",      "mpeg4",
                            "-q:v",      "8",
                            "-f",        "mov",
                            "--",        QString::fromStdString(path)});
    EXPECT_TRUE(ffmpeg.waitForFinished(60000));
    EXPECT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
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

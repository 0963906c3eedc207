#include "tests/helpers/desktop/DesktopTest.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "base/RunLoop.h"

namespace testsupport {

void DesktopTest::SetUp() {
    base::RunLoop::setMainThread();
}

void DesktopTest::TearDown() {
    // A box a failed test left up would take the next test's clicks.
    while (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
        modal->deleteLater();
        QCoreApplication::processEvents();
    }
    base::RunLoop::main().run(base::kDefaultRunLoopMode, 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool DesktopTest::waitFor(const std::function<bool()>& predicate, double seconds) {
    return QTest::qWaitFor(predicate, static_cast<int>(seconds * 1000));
}

void DesktopTest::answerModal(std::function<void(QWidget&)> answer, double seconds) {
    auto* poll = new QTimer(QCoreApplication::instance());
    auto left = std::make_shared<int>(static_cast<int>(seconds * 50));
    QObject::connect(poll, &QTimer::timeout, poll, [poll, left, answer = std::move(answer)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            poll->deleteLater();
            poll->stop();
            answer(*modal);
        } else if (--*left <= 0) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(20);
}

QString DesktopTest::messageBoxText(QWidget& box) {
    auto* message = qobject_cast<QMessageBox*>(&box);
    return message ? message->text() + "\n" + message->informativeText() : QString();
}

std::string DesktopTest::saveScreenshot(QWidget& widget, const std::string& name) {
    const char* dir = std::getenv("QV_SCREENSHOT_DIR");
    const QString folder = QString::fromUtf8(dir ? dir : QV_SCREENSHOT_FOLDER);
    if (!QDir().mkpath(folder)) {
        return {};
    }
    const QString path = folder + "/" + QString::fromStdString(name) + ".png";
    return widget.grab().save(path, "PNG") ? path.toStdString() : std::string();
}

}  // namespace testsupport

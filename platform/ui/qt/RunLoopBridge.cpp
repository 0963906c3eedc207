#include "platform/ui/qt/RunLoopBridge.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QWindow>
#include <cmath>
#include <limits>

namespace platform::ui::qt {

namespace {

bool applicationModalWindowShown() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        return false;
    }
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() && window->modality() == Qt::ApplicationModal) {
            return true;
        }
    }
    return false;
}

int timerMilliseconds(double seconds) {
    // Rounded up, so the timer never fires just before the deadline and spins.
    const double ms = std::ceil(std::max(0.0, seconds) * 1000.0);
    return static_cast<int>(std::min(ms, double(std::numeric_limits<int>::max() / 2)));
}

}  // namespace

RunLoopBridge::RunLoopBridge(base::RunLoop& loop) : loop_(loop) {
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, &RunLoopBridge::serve);
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &RunLoopBridge::rearm);
    }
    notifierFor(base::kDefaultRunLoopMode);
    notifierFor(base::kModalPanelRunLoopMode);
    if (auto* app = QCoreApplication::instance()) {
        app->installEventFilter(this);
    }
    rearm();
}

bool RunLoopBridge::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if ((type == QEvent::Show || type == QEvent::Hide) && watched->isWindowType()) {
        // Qt may be busy without blocking (a caller's processEvents with a time limit),
        // so the mode is switched now rather than when it next blocks. Queued: the
        // window's visibility settles after its event.
        QMetaObject::invokeMethod(this, &RunLoopBridge::rearm, Qt::QueuedConnection);
    }
    return false;
}

RunLoopBridge::~RunLoopBridge() = default;

base::RunLoopMode RunLoopBridge::servedMode() const {
    return waitDepth_ > 0 || applicationModalWindowShown() ? base::kModalPanelRunLoopMode
                                                           : base::kDefaultRunLoopMode;
}

QSocketNotifier* RunLoopBridge::notifierFor(const base::RunLoopMode& mode) {
    auto& notifier = notifiers_[mode];
    if (!notifier) {
        notifier =
            std::make_unique<QSocketNotifier>(loop_.pollDescriptor(mode), QSocketNotifier::Read);
        notifier->setEnabled(false);
        connect(notifier.get(), &QSocketNotifier::activated, this, &RunLoopBridge::serve);
    }
    return notifier.get();
}

void RunLoopBridge::serve() {
    // Level-triggered: whatever this pass leaves ready wakes us again.
    if (loop_.run(servedMode(), 0) == base::RunLoop::RunResult::Stopped && stopHandler_) {
        stopHandler_();
    }
    rearm();
}

void RunLoopBridge::rearm() {
    const base::RunLoopMode mode = servedMode();
    for (auto& [notifierMode, notifier] : notifiers_) {
        // Only the served mode's descriptor: another mode's ready source would spin us.
        notifier->setEnabled(notifierMode == mode);
    }
    notifierFor(mode)->setEnabled(true);
    if (const auto due = loop_.secondsUntilWork(mode)) {
        deadline_.start(timerMilliseconds(*due));
    } else {
        deadline_.stop();
    }
}

void RunLoopBridge::waitOnce(double maxSeconds) {
    ++waitDepth_;
    rearm();
    QTimer bound;
    bound.setSingleShot(true);
    bound.setTimerType(Qt::PreciseTimer);
    bound.start(timerMilliseconds(maxSeconds));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
    --waitDepth_;
    rearm();
}

}  // namespace platform::ui::qt

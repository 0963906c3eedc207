#include "apps/export_plugin/HostApplication.h"

#include <dlfcn.h>
#include <QApplication>
#include <QThread>
#include <future>
#include <memory>

#include "base/Bundle.h"
#include "base/Path.h"
#include "base/RunLoop.h"
#include "platform/ui/AlertPresenter.h"
#include "platform/ui/qt/QtAlertPresenter.h"
#include "platform/ui/qt/RunLoopBridge.h"

namespace exportplugin {

namespace {

// Lives on the GUI thread; touched only there. Never destroyed with the library's
// statics: the host's application may be gone by then. Shared with the wait that is
// using it: a shut-down from an event dispatched inside that wait frees it only once the
// wait has returned.
std::shared_ptr<platform::ui::qt::RunLoopBridge>& bridge() {
    static auto* instance = new std::shared_ptr<platform::ui::qt::RunLoopBridge>;
    return *instance;
}

void installOnMainThread() {
    if (bridge()) {
        return;
    }
    base::RunLoop::setMainThread();
    bridge() = std::make_shared<platform::ui::qt::RunLoopBridge>(base::RunLoop::main());
    base::MainThreadWait::setHook([bridge = std::weak_ptr(bridge())](double maxSeconds) {
        if (const auto held = bridge.lock()) {
            held->waitOnce(maxSeconds);
        }
    });
    platform::ui::AlertPresenter::setCurrent(
        std::make_shared<platform::ui::qt::QtAlertPresenter>());
    const std::string bundle = HostApplication::ownBundlePath();
    if (!bundle.empty()) {
        base::Bundle::setOwn(base::Bundle::atPath(bundle));
    }
}

void uninstallOnMainThread() {
    if (!bridge()) {
        return;
    }
    platform::ui::AlertPresenter::setCurrent(nullptr);
    base::MainThreadWait::setHook(nullptr);
    bridge().reset();
}

}  // namespace

bool HostApplication::onMainThread() {
    return QCoreApplication::instance() &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

void HostApplication::runOnMainThread(const std::function<void()>& task) {
    if (onMainThread() || !QCoreApplication::instance()) {
        task();
        return;
    }
    // The caller waits on a promise of ours rather than on Qt's blocking connection, so
    // the hand-over (and an exception thrown by the task) is plain C++ both sides see.
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&task, &done] {
            try {
                task();
                done.set_value();
            } catch (...) {
                done.set_exception(std::current_exception());
            }
        },
        Qt::QueuedConnection);
    finished.get();
}

bool HostApplication::install() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return false;
    }
    runOnMainThread(installOnMainThread);
    return true;
}

void HostApplication::uninstall() {
    if (QCoreApplication::instance()) {
        runOnMainThread(uninstallOnMainThread);
    }
}

bool HostApplication::installed() {
    bool result = false;
    runOnMainThread([&result] { result = bridge() != nullptr; });
    return result;
}

std::string HostApplication::ownBundlePath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&HostApplication::ownBundlePath), &info) == 0 ||
        !info.dli_fname) {
        return {};
    }
    // <bundle>/Contents/MacOS/<library>
    const std::string macOS = base::deletingLastPathComponent(info.dli_fname);
    const std::string contents = base::deletingLastPathComponent(macOS);
    if (base::lastPathComponent(macOS) != "MacOS" ||
        base::lastPathComponent(contents) != "Contents") {
        return {};
    }
    return base::deletingLastPathComponent(contents);
}

}  // namespace exportplugin

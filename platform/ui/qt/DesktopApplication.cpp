#include "platform/ui/qt/DesktopApplication.h"

#include "base/RunLoop.h"
#include "platform/ui/AlertPresenter.h"
#include "platform/ui/qt/QtAlertPresenter.h"
#include "platform/ui/qt/RunLoopBridge.h"

namespace platform::ui::qt {

DesktopApplication::DesktopApplication(int& argc, char** argv) {
    base::RunLoop::setMainThread();
    app_ = std::make_unique<QApplication>(argc, argv);
    bridge_ = std::make_unique<RunLoopBridge>(base::RunLoop::main());
    bridge_->setStopHandler([] { QCoreApplication::exit(0); });
    base::MainThreadWait::setHook(
        [bridge = bridge_.get()](double maxSeconds) { bridge->waitOnce(maxSeconds); });
    platform::ui::AlertPresenter::setCurrent(std::make_shared<QtAlertPresenter>());
}

DesktopApplication::~DesktopApplication() {
    platform::ui::AlertPresenter::setCurrent(nullptr);
    base::MainThreadWait::setHook(nullptr);
    base::RunLoop::main().run(base::kDefaultRunLoopMode, 0);
    bridge_.reset();
    app_.reset();
}

int DesktopApplication::exec() {
    return QApplication::exec();
}

}  // namespace platform::ui::qt

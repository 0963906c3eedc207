#pragma once
// Start-up and teardown of a desktop program. Made first thing in main(), before any
// window: makes this thread the main one, builds the QApplication, serves the main
// base::RunLoop from Qt's loop, points blocking main-thread waits at Qt's loop and
// shows alerts as Qt boxes. exec() runs until the last window closes, quit(), or
// base::RunLoop::main().stop().
//
// Teardown, in order: alerts go back to the headless presenter and waits to the plain
// run loop; tasks still queued on the main loop run while Qt is alive; the bridge goes;
// then the QApplication. Window controllers must be gone before this object.
#include <QApplication>
#include <memory>

namespace platform::ui::qt {

class RunLoopBridge;

class DesktopApplication {
  public:
    DesktopApplication(int& argc, char** argv);
    ~DesktopApplication();
    DesktopApplication(const DesktopApplication&) = delete;
    DesktopApplication& operator=(const DesktopApplication&) = delete;

    int exec();
    QApplication& application() { return *app_; }
    RunLoopBridge& bridge() { return *bridge_; }

  private:
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<RunLoopBridge> bridge_;
};

}  // namespace platform::ui::qt

#pragma once
// Serves the main thread's base::RunLoop from Qt's event loop. Qt owns the thread's
// blocking wait; the bridge watches the loop's descriptor for the mode it serves and
// keeps a precise timer on the loop's next deadline, both re-armed whenever Qt is about
// to block. While an application-modal window is up, or a blocking wait runs through
// the wait hook, it serves the modal-panel mode: default-mode timers wait, posted tasks
// go on.
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>

#include "base/RunLoop.h"

namespace platform::ui::qt {

class RunLoopBridge : public QObject {
  public:
    // Needs the QCoreApplication; call on the main thread.
    explicit RunLoopBridge(base::RunLoop& loop);
    ~RunLoopBridge() override;

    // The mode served right now.
    base::RunLoopMode servedMode() const;
    // Blocks in Qt's loop until something happened, at most `maxSeconds`, serving the
    // modal-panel mode meanwhile. The main thread's wait hook.
    void waitOnce(double maxSeconds);
    // Serves whatever is ready now, then re-arms.
    void serve();
    // Called when the main loop was told to stop while Qt served it.
    void setStopHandler(std::function<void()> handler) { stopHandler_ = std::move(handler); }

  protected:
    // Watches windows being shown and hidden: a modal one changes the served mode.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void rearm();
    QSocketNotifier* notifierFor(const base::RunLoopMode& mode);

    base::RunLoop& loop_;
    std::map<base::RunLoopMode, std::unique_ptr<QSocketNotifier>> notifiers_;
    QTimer deadline_;
    int waitDepth_ = 0;
    std::function<void()> stopHandler_;
};

}  // namespace platform::ui::qt

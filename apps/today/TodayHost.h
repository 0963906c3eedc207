#pragma once
// The program that hosts the events widget on a Linux desktop, doing what a system's
// widget area would: it shows the widget in a pop-up from a tray icon where the desktop
// has a tray (else in a small window), asks it to update whenever it is shown and every
// 15 minutes, gives each update at most four minutes, and offers the editing switch. The
// terminal form (--print) runs one update and writes the rows as text.
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <iosfwd>
#include <memory>

#include "apps/today/TodayViewController.h"

class QToolButton;
class QWidget;

class TodayHost {
  public:
    static constexpr int kUpdateIntervalSeconds = 15 * 60;
    // Beyond the client's own 180 s a call: an update still running then (a call held up
    // behind a stalled one, a reply that trickles in) is cancelled, so the next can run.
    static constexpr double kUpdateTimeOutSeconds = 240;
    enum class Mode { Tray, Window };

    explicit TodayHost(std::shared_ptr<TodayViewController> widget);
    ~TodayHost();
    TodayHost(const TodayHost&) = delete;
    TodayHost& operator=(const TodayHost&) = delete;

    // Tray where the desktop has one, else a window; shows the window at once.
    void start(Mode mode);
    static Mode preferredMode();
    void showPanel();
    // The panel: a header with the title and the editing switch ("editButton") above the
    // widget's view. Made on first use.
    QWidget* panel();
    // Asks for an update unless one is running.
    void update();
    void setUpdateTimeOut(double seconds);
    QSystemTrayIcon* trayIcon() { return tray_.get(); }

    // One line per row: relative date, project, text and address, separated by " | ".
    // Control characters the service sent are written as spaces, so nothing it sends
    // can steer the terminal.
    static void printRows(const TodayViewController& widget, const OWRelativeDates& dates,
                          std::ostream& out);

  private:
    void togglePopup();
    void placePopup();

    std::shared_ptr<TodayViewController> widget_;
    QPointer<QWidget> panel_;
    QPointer<QToolButton> edit_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QTimer timer_;
    QTimer updateBound_;
    Mode mode_ = Mode::Window;
};

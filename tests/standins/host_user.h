#pragma once
// The stand-in's scripted user. While the plug-in waits in its settings window the user
// waits for the window's lists, measures how much processor time the waiting takes,
// takes a screenshot when asked, then exports or cancels. Alerts are read out and
// answered with their default button.
#include <time.h>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include "tests/standins/host_options.h"

namespace hoststandin {

class ScriptedUser : public QObject {
  public:
    explicit ScriptedUser(const Options& options);
    // Starts watching the host's windows (call on the GUI thread).
    void start();

  private:
    void look();
    void answerAlert(QWidget& box);
    void handleSettingsWindow(QWidget& window);
    bool listsReady(QWidget& window) const;
    void answer(QWidget& window);

    const Options& options_;
    QTimer timer_;
    QWidget* settingsWindow_ = nullptr;
    bool measuring_ = false;
    double startWall_ = 0;
    double startCpu_ = 0;
    double startRunnable_ = 0;
    bool answered_ = false;
    double seenAt_ = 0;
    static constexpr double kCancelPatienceSeconds = 5;
};

// Seconds of processor time the calling thread has used, and spent ready to run while
// other threads had the processor.
double threadCpuSeconds();
double threadRunnableSeconds();
double wallSeconds();

}  // namespace hoststandin

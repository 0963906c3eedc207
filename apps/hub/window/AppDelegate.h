#pragma once
// The hub's application delegate: at launch it makes the service client that sets the
// account up (the token controller and its delayed load) and shows the window from
// the hub's window file; closing that window ends the program.
#include <QPointer>
#include <QWidget>
#include <memory>

class OWQuorvane;
namespace Ui {
class HubWindow;
}

class AppDelegate {
  public:
    AppDelegate();
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    void applicationDidFinishLaunching();
    static bool applicationShouldTerminateAfterLastWindowClosed() { return true; }

    std::shared_ptr<OWQuorvane> quorv() const { return quorv_; }
    QWidget* window() const { return window_; }

  private:
    std::shared_ptr<OWQuorvane> quorv_;
    std::unique_ptr<Ui::HubWindow> ui_;
    QPointer<QWidget> window_;
};

#pragma once
// Alerts as Qt message boxes. An alert with a visible parent window is a sheet: a
// window-modal box on that window, opened without blocking. Any other alert is an
// application-modal box; a caller that waits for its answer runs Qt's loop through the
// main thread's wait hook. The default button answers 1, the alternate 0, the other -1;
// Escape and the close box pick the alternate button (else the other, else the default).
// A suppression binding adds a "Do not show this message again" check box.
//
// Parent windows are identified by their top-level QWidget's address
// (windowIdentity()); an identity that is no live top-level widget is ignored.
#include <QPointer>
#include <vector>

#include "platform/ui/AlertPresenter.h"

class QMessageBox;
class QWidget;

namespace platform::ui::qt {

class QtAlertPresenter : public AlertPresenter {
  public:
    static const void* windowIdentity(const QWidget* window) { return window; }
    // The live top-level widget behind an identity, or nullptr.
    static QWidget* windowForIdentity(const void* identity);

    void present(const AlertRequest& request, Answer answer) override;
    void dismiss(const AlertRequest& request) override;
    bool windowHasSheet(const void* window) const override;

    static constexpr const char* kSuppressionText = "Do not show this message again";

  private:
    struct Shown {
        std::string messageText;
        std::string informativeText;
        const void* parentWindow = nullptr;
        QPointer<QMessageBox> box;
    };
    void forgetClosed();
    std::vector<Shown> shown_;  // main thread only
};

}  // namespace platform::ui::qt

#pragma once
// A presenter for processes without a screen, where no one can be asked: it writes the
// alert and its answer to the system console (standard error) and answers at once with
// the choice that changes nothing, so no one is signed up for anything unasked. That is
// the alternate button, else the other button, else the only button there is.
#include "platform/ui/AlertPresenter.h"

namespace platform::ui {

class HeadlessAlertPresenter : public AlertPresenter {
  public:
    void present(const AlertRequest& request, Answer answer) override;
    void dismiss(const AlertRequest&) override {}
    bool canAsk() const override { return false; }

    // The code answered for `request` (0 alternate, -1 other, 1 default).
    static long unattendedAnswer(const AlertRequest& request);
};

}  // namespace platform::ui

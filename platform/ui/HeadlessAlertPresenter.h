#pragma once
// A presenter for processes without a screen: writes the alert to the system console
// (standard error) and answers with the default button at once.
#include "platform/ui/AlertPresenter.h"

namespace platform::ui {

class HeadlessAlertPresenter : public AlertPresenter {
  public:
    void present(const AlertRequest& request, Answer answer) override;
    void dismiss(const AlertRequest&) override {}
};

}  // namespace platform::ui

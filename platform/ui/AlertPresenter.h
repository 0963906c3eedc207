#pragma once
// What shows an alert to the user. The alert classes of the support layer build the
// request; a presenter puts it on screen (or somewhere else) and reports the button
// pressed: 1 for the default button, 0 for the alternate one, -1 for the other one.
// present() and dismiss() run on the main thread; the answer may come from any thread.
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform::ui {

struct AlertRequest {
    std::string messageText;
    std::string informativeText;  // shown as it is: percent signs are no conversions
    std::optional<std::string> defaultButtonTitle;
    std::optional<std::string> alternateButtonTitle;
    std::optional<std::string> otherButtonTitle;
    // A preference key whose value a "do not show again" check box reads and writes.
    std::optional<std::string> suppressionBinding;
    const void* parentWindow = nullptr;  // identity only; none means a window of its own
    // With a suppression binding: the check box's state when shown (the preference's
    // value), and where each change of it goes (written to the preference).
    bool suppressionChecked = false;
    std::function<void(bool checked)> setSuppressionChecked = nullptr;
};

class AlertPresenter {
  public:
    using Answer = std::function<void(long returnCode)>;
    virtual ~AlertPresenter() = default;

    // Shows the alert; calls `answer` once when the user has answered.
    virtual void present(const AlertRequest& request, Answer answer) = 0;
    // Takes the alert away (also when it was answered by a timer instead of the user).
    virtual void dismiss(const AlertRequest& request) = 0;
    // Whether `window` already carries a sheet.
    virtual bool windowHasSheet(const void*) const { return false; }

    // The presenter in use: a headless one until a program or a test sets another.
    static std::shared_ptr<AlertPresenter> current();
    static void setCurrent(std::shared_ptr<AlertPresenter> presenter);
};

}  // namespace platform::ui

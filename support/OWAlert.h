#pragma once
// An alert shown from any thread, built and presented on the main thread through the
// current platform::ui::AlertPresenter. A blocking call waits for the answer and returns
// the button pressed (1 default, 0 alternate, -1 other); the timed form answers 1 by
// itself after its interval. The first answer wins: a timer never overrides the user.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/ui/AlertPresenter.h"

class OWAlert : public std::enable_shared_from_this<OWAlert> {
  public:
    using Window = const void*;  // identity of a window; never dereferenced
    // The end call a delegate answers to. An empty `call` means the delegate does not
    // respond to the selector named `name`.
    struct Selector {
        std::string name;
        std::function<void(OWAlert& alert, long returnCode)> call;
    };
    static constexpr const char* kDefaultDidEndSelector = "alertDidEnd:returnCode:contextInfo:";

    static std::shared_ptr<OWAlert> create();

    static void alertSheetWithMessageText(const std::string& messageText,
                                          const std::string& informativeText, Window parentWindow);
    static long alertSheetWithMessageText(const std::string& messageText,
                                          const std::optional<std::string>& defaultButton,
                                          const std::optional<std::string>& alternateButton,
                                          const std::optional<std::string>& otherButton,
                                          const std::string& informativeText, Window parentWindow,
                                          bool block);
    // `delegate` is not retained; nullptr means the alert ends on itself.
    static long alertSheetWithMessageText(
        const std::string& messageText, const std::optional<std::string>& defaultButton,
        const std::optional<std::string>& alternateButton,
        const std::optional<std::string>& otherButton, const std::string& informativeText,
        Window parentWindow, const void* delegate, const std::optional<Selector>& didEndSelector,
        bool block, std::shared_ptr<OWAlert> alertObject = nullptr,
        const std::optional<std::string>& suppressionBinding = std::nullopt);
    // Blocks until answered or until `interval` whole seconds have passed (then 1).
    static long timedAlertSheetWithMessageText(const std::string& messageText,
                                               const std::optional<std::string>& defaultButton,
                                               const std::optional<std::string>& alternateButton,
                                               const std::optional<std::string>& otherButton,
                                               const std::string& informativeText,
                                               Window parentWindow, long interval);

    // Main thread: builds the request and hands it to the presenter.
    void alertSheetWithDictionary(const platform::ui::AlertRequest& request);
    // The default end call: records the first answer.
    void alertDidEnd(long returnCode);
    // Body of the timed form's timer thread.
    void defaultReturnAfterTimeInterval(long interval);

    Window parentWindow() const;
    bool alertEnded() const { return alertEnded_.load(); }
    long returnCode() const { return returnCode_.load(); }

  private:
    OWAlert() = default;
    long waitForEnd();
    void dismiss();

    mutable std::mutex mutex_;
    std::condition_variable ended_;
    Window parentWindow_ = nullptr;
    const void* delegate_ = nullptr;
    std::optional<Selector> didEnd_;
    std::atomic<bool> alertEnded_{false};
    std::atomic<long> returnCode_{-1};
    std::optional<platform::ui::AlertRequest> request_;  // the alert being shown
    std::shared_ptr<platform::ui::AlertPresenter> presenter_;
};

#include "support/OWAlert.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "base/RunLoop.h"

namespace {

void consoleLine(const std::string& text) {
    const std::string line = text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

std::shared_ptr<OWAlert> OWAlert::create() {
    return std::shared_ptr<OWAlert>(new OWAlert);
}

void OWAlert::alertSheetWithMessageText(const std::string& messageText,
                                        const std::string& informativeText, Window parentWindow) {
    (void)alertSheetWithMessageText(messageText, std::nullopt, std::nullopt, std::nullopt,
                                    informativeText, parentWindow, true);
}

long OWAlert::alertSheetWithMessageText(const std::string& messageText,
                                        const std::optional<std::string>& defaultButton,
                                        const std::optional<std::string>& alternateButton,
                                        const std::optional<std::string>& otherButton,
                                        const std::string& informativeText, Window parentWindow,
                                        bool block) {
    return alertSheetWithMessageText(messageText, defaultButton, alternateButton, otherButton,
                                     informativeText, parentWindow, nullptr, std::nullopt, block);
}

long OWAlert::alertSheetWithMessageText(const std::string& messageText,
                                        const std::optional<std::string>& defaultButton,
                                        const std::optional<std::string>& alternateButton,
                                        const std::optional<std::string>& otherButton,
                                        const std::string& informativeText, Window parentWindow,
                                        const void* delegate,
                                        const std::optional<Selector>& didEndSelector, bool block,
                                        std::shared_ptr<OWAlert> alertObject,
                                        const std::optional<std::string>& suppressionBinding) {
    auto alert = alertObject ? std::move(alertObject) : create();
    auto presenter = platform::ui::AlertPresenter::current();
    // A window can carry one sheet; a second alert becomes a window of its own.
    if (parentWindow && presenter->windowHasSheet(parentWindow))
        parentWindow = nullptr;
    if (delegate && (!didEndSelector || !didEndSelector->call)) {
        consoleLine("Alert error: delegate does not respond to selector " +
                    (didEndSelector ? didEndSelector->name : std::string(kDefaultDidEndSelector)));
        return -1;
    }
    {
        std::lock_guard lock(alert->mutex_);
        alert->parentWindow_ = parentWindow;
        alert->delegate_ = delegate;
        alert->didEnd_ = delegate ? didEndSelector : std::nullopt;
        alert->presenter_ = presenter;
    }
    alert->alertEnded_ = false;
    platform::ui::AlertRequest request{messageText,     informativeText, defaultButton,
                                       alternateButton, otherButton,     suppressionBinding,
                                       parentWindow};
    base::MainQueue::postAndWait([&] { alert->alertSheetWithDictionary(request); });
    if (!block)
        return -1;
    return alert->waitForEnd();
}

long OWAlert::timedAlertSheetWithMessageText(const std::string& messageText,
                                             const std::optional<std::string>& defaultButton,
                                             const std::optional<std::string>& alternateButton,
                                             const std::optional<std::string>& otherButton,
                                             const std::string& informativeText,
                                             Window parentWindow, long interval) {
    auto alert = create();
    std::thread([alert, interval] { alert->defaultReturnAfterTimeInterval(interval); }).detach();
    return alertSheetWithMessageText(messageText, defaultButton, alternateButton, otherButton,
                                     informativeText, parentWindow, nullptr, std::nullopt, true,
                                     alert);
}

void OWAlert::alertSheetWithDictionary(const platform::ui::AlertRequest& request) {
    std::shared_ptr<platform::ui::AlertPresenter> presenter;
    {
        std::lock_guard lock(mutex_);
        request_ = request;
        presenter = presenter_ ? presenter_ : platform::ui::AlertPresenter::current();
        presenter_ = presenter;
    }
    // The answer keeps the alert alive until its sheet has ended.
    presenter->present(request, [self = shared_from_this()](long code) {
        std::optional<Selector> didEnd;
        {
            std::lock_guard lock(self->mutex_);
            didEnd = self->didEnd_;
        }
        if (didEnd && didEnd->call)
            didEnd->call(*self, code);
        self->alertDidEnd(code);
    });
}

void OWAlert::alertDidEnd(long returnCode) {
    bool expected = false;
    std::lock_guard lock(mutex_);
    // The first answer wins; a timer that fires later changes nothing.
    if (alertEnded_.compare_exchange_strong(expected, true))
        returnCode_ = returnCode;
    ended_.notify_all();
    // A main thread waiting for the answer sleeps in its event loop; wake it.
    if (!base::MainQueue::isMainThread())
        base::MainQueue::post([] {});
}

void OWAlert::defaultReturnAfterTimeInterval(long interval) {
    {
        std::unique_lock lock(mutex_);
        ended_.wait_for(lock, std::chrono::seconds(std::max(0L, interval)),
                        [this] { return alertEnded_.load(); });
    }
    alertDidEnd(1);
}

long OWAlert::waitForEnd() {
    if (base::MainQueue::isMainThread()) {
        // The interface stays alive while we wait: the answer arrives through it.
        while (!base::MainThreadWait::until([this] { return alertEnded_.load(); }, 3600)) {
        }
    } else {
        std::unique_lock lock(mutex_);
        while (!ended_.wait_for(lock, std::chrono::milliseconds(200),
                                [this] { return alertEnded_.load(); })) {
        }
    }
    dismiss();
    return returnCode_;
}

void OWAlert::dismiss() {
    std::optional<platform::ui::AlertRequest> request;
    std::shared_ptr<platform::ui::AlertPresenter> presenter;
    {
        std::lock_guard lock(mutex_);
        request = std::move(request_);
        request_.reset();
        presenter = std::move(presenter_);  // an answer still pending holds us, not we it
    }
    if (request && presenter) {
        base::MainQueue::postAndWait([&] { presenter->dismiss(*request); });
    }
}

OWAlert::Window OWAlert::parentWindow() const {
    std::lock_guard lock(mutex_);
    return parentWindow_;
}

#include "platform/ui/ScriptedAlertPresenter.h"

namespace platform::ui {

void ScriptedAlertPresenter::script(std::optional<long> answer) {
    std::lock_guard lock(mutex_);
    script_.push_back(answer);
}

void ScriptedAlertPresenter::setWindowWithSheet(const void* window) {
    std::lock_guard lock(mutex_);
    windowWithSheet_ = window;
}

void ScriptedAlertPresenter::present(const AlertRequest& request, Answer answer) {
    std::optional<long> code;
    {
        std::lock_guard lock(mutex_);
        presented_.push_back(request);
        if (!script_.empty()) {
            code = script_.front();
            script_.pop_front();
        }
        if (!code)
            pending_.push_back(answer);
    }
    if (code && answer)
        answer(*code);
}

void ScriptedAlertPresenter::dismiss(const AlertRequest&) {
    std::lock_guard lock(mutex_);
    ++dismissed_;
}

bool ScriptedAlertPresenter::windowHasSheet(const void* window) const {
    std::lock_guard lock(mutex_);
    return window != nullptr && window == windowWithSheet_;
}

std::vector<AlertRequest> ScriptedAlertPresenter::presented() const {
    std::lock_guard lock(mutex_);
    return presented_;
}

size_t ScriptedAlertPresenter::dismissedCount() const {
    std::lock_guard lock(mutex_);
    return dismissed_;
}

bool ScriptedAlertPresenter::answerPending(long returnCode) {
    Answer answer;
    {
        std::lock_guard lock(mutex_);
        if (pending_.empty())
            return false;
        answer = std::move(pending_.front());
        pending_.pop_front();
    }
    if (answer)
        answer(returnCode);
    return true;
}

}  // namespace platform::ui

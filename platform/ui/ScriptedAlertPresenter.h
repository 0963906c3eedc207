#pragma once
// A presenter for tests: answers each alert with the next scripted code (or never,
// for a scripted none), and records what it was asked to show and to take away.
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/ui/AlertPresenter.h"

namespace platform::ui {

class ScriptedAlertPresenter : public AlertPresenter {
  public:
    // Answers in order; an alert without a scripted answer stays up.
    void script(std::optional<long> answer);
    void setWindowWithSheet(const void* window);

    void present(const AlertRequest& request, Answer answer) override;
    void dismiss(const AlertRequest& request) override;
    bool windowHasSheet(const void* window) const override;

    std::vector<AlertRequest> presented() const;
    size_t dismissedCount() const;
    // Answers the oldest alert still waiting, as a user would.
    bool answerPending(long returnCode);

  private:
    mutable std::mutex mutex_;
    std::deque<std::optional<long>> script_;
    std::vector<AlertRequest> presented_;
    std::deque<Answer> pending_;
    size_t dismissed_ = 0;
    const void* windowWithSheet_ = nullptr;
};

}  // namespace platform::ui

#include "platform/ui/AlertPresenter.h"

#include <mutex>

#include "platform/ui/HeadlessAlertPresenter.h"

namespace platform::ui {
namespace {
std::mutex gMutex;
std::shared_ptr<AlertPresenter> gCurrent;
}  // namespace

std::shared_ptr<AlertPresenter> AlertPresenter::current() {
    std::lock_guard lock(gMutex);
    if (!gCurrent)
        gCurrent = std::make_shared<HeadlessAlertPresenter>();
    return gCurrent;
}

void AlertPresenter::setCurrent(std::shared_ptr<AlertPresenter> presenter) {
    std::lock_guard lock(gMutex);
    gCurrent = std::move(presenter);
}

}  // namespace platform::ui

#include "platform/ui/HeadlessAlertPresenter.h"

#include <cstdio>
#include <string>

namespace platform::ui {

void HeadlessAlertPresenter::present(const AlertRequest& request, Answer answer) {
    std::string line = "Alert: " + request.messageText;
    if (!request.informativeText.empty())
        line += " - " + request.informativeText;
    line += " [" + request.defaultButtonTitle.value_or("OK") + "]\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    if (answer)
        answer(1);
}

}  // namespace platform::ui

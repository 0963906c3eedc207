#include "platform/ui/HeadlessAlertPresenter.h"

#include <cstdio>
#include <string>

namespace platform::ui {

long HeadlessAlertPresenter::unattendedAnswer(const AlertRequest& request) {
    if (request.alternateButtonTitle)
        return 0;
    if (request.otherButtonTitle)
        return -1;
    return 1;
}

void HeadlessAlertPresenter::present(const AlertRequest& request, Answer answer) {
    const long code = unattendedAnswer(request);
    const std::string title = code == 0    ? *request.alternateButtonTitle
                              : code == -1 ? *request.otherButtonTitle
                                           : request.defaultButtonTitle.value_or("OK");
    std::string line = "Alert: " + request.messageText;
    if (!request.informativeText.empty())
        line += " - " + request.informativeText;
    line += " [" + title + "] (no one could be asked)\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    if (answer)
        answer(code);
}

}  // namespace platform::ui

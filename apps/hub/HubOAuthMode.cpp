#include "apps/hub/HubOAuthMode.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "base/RunLoop.h"
#include "base/UniqueFd.h"
#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneHubCredentials.h"
#include "support/OWLog.h"

namespace hub {

bool hasOAuthArgument(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i] && std::strcmp(argv[i], kOAuthArgument) == 0) {
            return true;
        }
    }
    return false;
}

std::string handOverText(const OWQuorvaneAuthController& controller) {
    return OWQuorvaneHubCredentials::line(controller.quorvServerURLString(),
                                          controller.oauthTokenExpires(),
                                          controller.oauthRefreshToken(), controller.oauthToken());
}

void runOAuthMode() {
    // First of all, so that no log line can reach standard output.
    if (auto log = OWLog::sharedController()) {
        log->setLoggingDisabled(true);
    }
    base::RunLoop::setMainThread();
    auto controller =
        OWQuorvaneAuthController::sharedController(std::string(kAppName), std::string(),
                                                   /*noLoad=*/true);
    controller->loadSavedSettings();
    const std::string text = handOverText(*controller);
    // A reader that went away must not turn the exit status into a signal.
    ::signal(SIGPIPE, SIG_IGN);
    (void)base::writeFully(STDOUT_FILENO, text.data(), text.size());
    // A refresh the load started runs on other threads; ending here without tearing
    // down the shared objects under them is what "not waited for" means.
    ::_exit(0);
}

}  // namespace hub

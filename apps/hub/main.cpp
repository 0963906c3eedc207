// The hub's program. "-oauth" is answered here, without the toolkit: every exporter
// starts the hub this way while it starts itself. Any other start becomes the linking
// window, a program of its own beside this one that replaces this process.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "apps/hub/HubBundle.h"
#include "apps/hub/HubOAuthMode.h"
#include "base/Console.h"

int main(int argc, char** argv) {
    if (hub::hasOAuthArgument(argc, argv)) {
        hub::runOAuthMode();
    }
    const std::string window = hub::windowProgramPath();
    ::execv(window.c_str(), argv);
    base::Console::log("Error: unable to start the linking window %@: %@", window,
                       std::string(std::strerror(errno)));
    return 1;
}

#include "apps/hub/HubBundle.h"

#include "base/Bundle.h"
#include "base/Path.h"

namespace hub {

std::string windowProgramPath() {
    const std::string folder =
        base::deletingLastPathComponent(base::Bundle::main()->executablePath());
    return base::appendingPathComponent(folder, kWindowProgram);
}

}  // namespace hub

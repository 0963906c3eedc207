#pragma once
// Starts a tool for the privilege backends: argument vector, no shell, standard
// output and error to the null device, no inherited descriptors. Standard input is
// the null device, or a socket carrying `input` followed by end of file.
#include <optional>
#include <string>
#include <vector>

#include "platform/system/Privilege.h"

namespace platform::system::privilegespawn {

// With `wait`: the exit status (128 + signal for a killed tool). Without: 0 once
// started; the tool is reaped in the background. -1 when it cannot be started.
// `environment` holds "NAME=value" entries set for the tool on top of ours.
int run(const PrivilegedCommand& command, const std::optional<std::string>& input, bool wait,
        const std::vector<std::string>& environment = {});

}  // namespace platform::system::privilegespawn

#pragma once
// Property reads over the bus: the application's, a document's and an asset's
// properties, each object named by its unique-ID specifier.
#include "platform/scripting/ScriptCommand.h"

namespace sam {

void performGetData(platform::scripting::ScriptCommand& command);

}  // namespace sam

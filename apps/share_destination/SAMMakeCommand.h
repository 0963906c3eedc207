#pragma once
// The make command: with the user's permission to interact it shows the upload-settings
// window and answers, once the user confirms, with the specifier of an asset whose
// location tells the editor where to write the movie and its description; without it,
// it answers at once with the asset at the document's default location.
#include "platform/scripting/ScriptCommand.h"

class SAMApplicationDelegate;

class SAMMakeCommand {
  public:
    static void performDefaultImplementation(platform::scripting::ScriptCommand& command,
                                             SAMApplicationDelegate& delegate);
    // The 'inte' attribute of the command as a 32-bit signed number (0 without one).
    static uint64_t appleEventUserInteractionLevel(
        const platform::scripting::ScriptCommand& command);
};

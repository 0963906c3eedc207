#pragma once
// The make command: with the user's permission to interact it shows the upload-settings
// window and answers, once the user confirms, with the specifier of an asset whose
// location tells the editor where to write the movie and its description; without it,
// it answers at once with the asset at the document's default location.
#include <cstddef>

#include "platform/scripting/ScriptCommand.h"

class SAMApplicationDelegate;
class QuorvSettingsController;

class SAMMakeCommand {
  public:
    // Longest asset name taken, in UTF-8 bytes: it becomes the upload's title.
    static constexpr size_t kMaxNameBytes = 1024;
    // Longest metadata or data-option value (or key) taken, counting the bytes of all
    // its parts, and the most all of them may carry together.
    static constexpr size_t kMaxValueBytes = 64 * 1024;
    static constexpr size_t kMaxTableBytes = 1024 * 1024;

    static void performDefaultImplementation(platform::scripting::ScriptCommand& command,
                                             SAMApplicationDelegate& delegate);
    // The 'inte' attribute of the command as a 32-bit signed number (0 without one).
    static uint64_t appleEventUserInteractionLevel(
        const platform::scripting::ScriptCommand& command);
    // A share without the settings window uses the project, department and folder the
    // user chose last time, when none is chosen yet.
    static void useStoredChoices(QuorvSettingsController& settings);
};

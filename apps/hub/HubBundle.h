#pragma once
// Where the hub's parts lie inside "Quorvane Plugin Hub.app":
//
//   Contents/Info.plist                      identifier and the hub's client id (OWQAppID)
//   Contents/MacOS/Quorvane Plugin Hub       the program others start ("-oauth")
//   Contents/MacOS/QuorvHubWindow            the linking window (Qt, WebEngine)
//   Contents/Resources/                      OWQuorvaneAuth.ui, QuorvAuth.css, Tick_2.svg
//   Contents/PlugIns/                        programs shipped inside the hub (the widget)
#include <string>

namespace hub {

inline constexpr const char* kWindowProgram = "QuorvHubWindow";
inline constexpr const char* kPlugInsFolder = "Contents/PlugIns";

// The linking window's program: beside the running executable.
std::string windowProgramPath();

}  // namespace hub

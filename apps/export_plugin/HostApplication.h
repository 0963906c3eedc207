#pragma once
// The plug-in's side of the host's Qt application. The plug-in carries its own copy of
// the program layers, so inside a host it does what a program of ours does in main():
// the host's GUI thread becomes the main thread of that copy, its run loop is served
// from the host's Qt loop, blocking waits and alerts go through Qt, and the bundle the
// plug-in was loaded from becomes the code's own bundle (found from the plug-in's own
// address, not the host's).
#include <functional>
#include <string>

namespace exportplugin {

class HostApplication {
  public:
    // False when the host runs no QApplication: the plug-in then shows no window.
    static bool install();
    // Undoes install(); queued main-thread work left over is dropped.
    static void uninstall();
    static bool installed();

    // Runs `task` on the host's GUI thread and waits for it (inline when already there).
    static void runOnMainThread(const std::function<void()>& task);
    static bool onMainThread();

    // The bundle folder holding the plug-in library, found from its own address; empty
    // when the library does not lie in Contents/MacOS of a bundle.
    static std::string ownBundlePath();
};

}  // namespace exportplugin

#pragma once
// What the hub's window program (and a test of it) does around the application
// object: the web engine's set-up, which must come before it, and the teardown of the
// web objects, which must come before it goes.
namespace hub {

// Registers the callback scheme of the client id in the hub's Info.plist (the own
// bundle's OWQAppID) and shares graphics contexts as the web engine needs. Call before
// the QApplication exists.
void prepareWebEngine();

// Releases the linking window's web objects; call after the windows are gone and before
// the application object is.
void tearDownWebEngine();

}  // namespace hub

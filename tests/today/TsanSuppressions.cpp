// What the race detector is told to let through in the widget's tests (it reads this hook
// at start; other builds never call it). Qt and GLib from the distribution are not built
// with the detector: the memory Qt's own thread pool copies and frees while painting and
// converting images, and GLib's allocator under its threads, is handed over inside those
// libraries, where the detector cannot see it. Only calls made from the libraries
// themselves are let through; races with a frame of ours in them are still reported.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libglib-2.0.so.0\n";
}

// What the address and leak checkers are told when they run the web engine's tests. The
// engine's libraries are not instrumented: objects they make with one allocator's size
// and free with another's look mismatched, and what the engine and fontconfig keep for
// the process's life is reported as leaked. Our own code stays fully checked.
extern "C" {

const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}

const char* __lsan_default_suppressions() {
    return "leak:libQt6WebEngineCore.so\n"
           "leak:libfontconfig.so\n";
}

}  // extern "C"

// Zip extraction of hostile archives: nothing may appear outside the target folder.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/system/Archive.h"
#include "platform/system/FileOps.h"

namespace fileops = platform::system::fileops;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::string root = [] {
        char templ[] = "/tmp/qv-fuzz-unzip-XXXXXX";
        return std::string(::mkdtemp(templ));
    }();
    const std::string zip = root + "/in.zip";
    const std::string out = root + "/box/out";
    FILE* f = std::fopen(zip.c_str(), "wb");
    if (!f) {
        return 0;
    }
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    fileops::createDirectories(root + "/box");
    platform::system::archive::unzip(zip, out);
    // Only "in.zip" and "box" in the root, only "out" in the box.
    auto top = fileops::listDirectory(root);
    auto box = fileops::listDirectory(root + "/box");
    if (!top || top->size() != 2 || !box || box->size() > 1) {
        std::abort();
    }
    fileops::removeTree(root + "/box");
    return 0;
}

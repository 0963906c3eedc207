// Zips a folder of mixed files (incompressible media-like blocks, compressible text,
// many small files) with our archiver and with Info-ZIP's `zip -r -q`, and prints
// both times. Usage: bench_zip [MiB, default 1024] [work folder, default $TMPDIR]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/system/Archive.h"
#include "platform/system/FileOps.h"

extern char** environ;
namespace fileops = platform::system::fileops;

namespace {

void writeFile(const std::string& path, size_t bytes, bool compressible, std::mt19937_64& rng) {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    static const char words[] = "frame timecode render clip sequence marker audio video ";
    while (bytes > 0) {
        size_t n = std::min(bytes, block.size());
        for (size_t i = 0; i < n; i += 8) {
            uint64_t r = rng();
            for (size_t k = 0; k < 8 && i + k < n; ++k) {
                block[i + k] = compressible ? words[(r >> (k * 8)) % 8 * 7 % (sizeof words - 1)]
                                            : static_cast<char>(r >> (k * 8));
            }
        }
        out.write(block.data(), static_cast<std::streamsize>(n));
        bytes -= n;
    }
}

void makeTree(const std::string& root, size_t totalMiB) {
    std::mt19937_64 rng(42);
    const size_t total = totalMiB << 20;
    fileops::createDirectories(root + "/media");
    fileops::createDirectories(root + "/text");
    fileops::createDirectories(root + "/small");
    size_t media = total * 7 / 10, text = total * 2 / 10, small = total - media - text;
    for (size_t i = 0; media > 0; ++i) {
        size_t n = std::min(media, size_t{64} << 20);
        writeFile(root + "/media/clip" + std::to_string(i) + ".mov", n, false, rng);
        media -= n;
    }
    for (size_t i = 0; text > 0; ++i) {
        size_t n = std::min(text, size_t{8} << 20);
        writeFile(root + "/text/log" + std::to_string(i) + ".txt", n, true, rng);
        text -= n;
    }
    for (size_t i = 0; small > 0; ++i) {
        size_t n = std::min(small, size_t{40} << 10);
        writeFile(root + "/small/f" + std::to_string(i) + ".xml", n, i % 2 == 0, rng);
        small -= n;
    }
}

double seconds(const std::chrono::steady_clock::time_point& start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int runZipTool(const std::string& folder, const std::string& parent, const std::string& out) {
    std::vector<std::string> args = {
        "/usr/bin/env", "-C", parent, "zip", "-r", "-q", "-y", out, fileops::lastComponent(folder)};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    const char* tmp = std::getenv("TMPDIR");
    std::string base = argc > 2 ? argv[2] : (tmp && *tmp ? tmp : "/tmp");
    std::string templ = base + "/qv-bench-zip-XXXXXX";
    if (!mkdtemp(templ.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    std::string work = templ;
    std::string folder = work + "/Project.fcpbundle";
    std::printf("making a %zu MiB folder in %s\n", mib, work.c_str());
    makeTree(folder, mib);

    auto start = std::chrono::steady_clock::now();
    auto status = platform::system::archive::zip(folder, work + "/ours.zip", true);
    double ours = seconds(start);
    start = std::chrono::steady_clock::now();
    int rc = runZipTool(folder, work, work + "/infozip.zip");
    double theirs = seconds(start);

    std::printf("ours:     %7.2f s  %s  %llu bytes\n", ours, status ? "ok" : "FAILED",
                static_cast<unsigned long long>(fileops::treeSize(work + "/ours.zip")));
    std::printf("zip -r -q %7.2f s  %s  %llu bytes\n", theirs, rc == 0 ? "ok" : "FAILED",
                static_cast<unsigned long long>(fileops::treeSize(work + "/infozip.zip")));
    std::printf("ratio ours/zip: %.2f\n", theirs > 0 ? ours / theirs : 0.0);
    fileops::removeTree(work);
    return status && rc == 0 ? 0 : 1;
}

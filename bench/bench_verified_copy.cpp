// Copies one file to two destinations with SHA-256 verification and compares the
// time with what the same job takes with the stock tools: `cp` to each destination
// followed by `sha256sum` of both copies. Both run in the same process run, on the
// same file, so the ratio is what matters.
//
//   bench_verified_copy [size in MiB, default 2048] [folder, default $TMPDIR or /tmp]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/system/FileOps.h"
#include "support/OWFileManager.h"

namespace {

namespace fileops = platform::system::fileops;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

bool run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout)) {
            _exit(126);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

void makeSource(const std::string& path, uint64_t bytes) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 random(42);
    std::vector<uint64_t> block(1 << 17);  // 1 MiB
    for (uint64_t written = 0; written < bytes; written += 8 * block.size()) {
        for (auto& word : block) {
            word = random();
        }
        const auto n = std::min<uint64_t>(8 * block.size(), bytes - written);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2048;
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = argc > 2 ? argv[2] : (tmp ? tmp : "/tmp");
    folder += "/bench_verified_copy." + std::to_string(getpid());
    fileops::createDirectories(folder);
    const std::string source = folder + "/source.bin";
    std::printf("Preparing a %llu MiB source in %s\n", static_cast<unsigned long long>(mib),
                folder.c_str());
    makeSource(source, mib * 1024 * 1024);
    // Read once so that both contenders start from a warm cache.
    run({"/bin/cat", source});

    const std::vector<std::string> ours{folder + "/ours1.bin", folder + "/ours2.bin"};
    auto start = Clock::now();
    const bool copied = OWFileManager::copyFileWithProgress(
        source, ours, OWFileManager::kVerifySHA256, nullptr, {}, {});
    const double oursTime = seconds(start);

    const std::string a = folder + "/cp1.bin", b = folder + "/cp2.bin";
    start = Clock::now();
    const bool tools = run({"/usr/bin/cp", "--", source, a}) &&
                       run({"/usr/bin/cp", "--", source, b}) &&
                       run({"/usr/bin/sha256sum", "--", a, b});
    const double toolsTime = seconds(start);

    std::printf("verified copy to two destinations: %.3f s (%s)\n", oursTime,
                copied ? "ok" : "FAILED");
    std::printf("cp twice + sha256sum of both:      %.3f s (%s)\n", toolsTime,
                tools ? "ok" : "FAILED");
    std::printf("ratio ours / tools: %.2f   (throughput %.0f MiB/s vs %.0f MiB/s)\n",
                oursTime / toolsTime, static_cast<double>(mib) / oursTime,
                static_cast<double>(mib) / toolsTime);
    fileops::removeTree(folder);
    return copied && tools ? 0 : 1;
}

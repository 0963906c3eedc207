// Reading and writing JSON shaped like the service's replies, measured in the same run
// against nlohmann/json and RapidJSON (when their headers are installed):
//   Reply   - 20 MB of project and event lists (numbers, dates, words, flags)
//   Strings - 20 MB of records whose values are nearly all strings
//   Events  - 50 MB list of event records, as the widget's first update fetches
// After the timings it prints QMJSON's speed as a ratio of each peer's, and the peak
// memory each library needs to read a document and hold it, as a multiple of the text
// (measured in a child process per library and document, from the resident set).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "client/json/QMJSON.h"

#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>
#define HAVE_NLOHMANN 1
#endif
#if __has_include(<rapidjson/document.h>)
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#define HAVE_RAPIDJSON 1
#endif

namespace {

constexpr size_t kMB = 1000 * 1000;

class Generator {
  public:
    std::string number(uint64_t below) { return std::to_string(rng_() % below); }
    std::string date() {
        return "\"2024-0" + number(9) + "-1" + number(9) + "T1" + number(9) + ":3" + number(9) +
               ":0" + number(9) + ".000Z\"";
    }
    std::string words(int n) {
        static const char* const kWords[] = {"Final",  "cut",   "review",     "colour",  "grade",
                                             "Résumé", "edit",  "scene",      "take",    "mix",
                                             "B-roll", "draft", "\\\"v2\\\"", "ünïcode", "audio"};
        std::string s = "\"";
        for (int i = 0; i < n; ++i) {
            s += std::string(i ? " " : "") + kWords[rng_() % 15];
        }
        return s + "\"";
    }
    std::string flag() { return rng_() % 2 ? "true" : "false"; }
    std::string hex(int digits) {
        std::string s;
        for (int i = 0; i < digits; ++i) {
            s += "0123456789abcdef"[rng_() % 16];
        }
        return s;
    }
    std::string event() {
        return "{\"id\":" + number(1000000000) +
               ",\"type\":\"comment\",\"project_id\":" + number(100000000) +
               ",\"text\":" + words(20) + ",\"timecode\":" + number(100000) + "." + number(100) +
               ",\"created_at\":" + date() + ",\"read\":" + flag() + "}";
    }

  private:
    std::mt19937_64 rng_{42};
};

std::string makeReply() {
    Generator g;
    std::string out = "{\"status\":\"ok\",\"projects\":[";
    for (size_t i = 0; out.size() < 10 * kMB; ++i) {
        out += (i ? "," : "");
        out += "{\"id\":" + g.number(100000000) + ",\"name\":" + g.words(3) +
               ",\"description\":" + g.words(12) + ",\"created_at\":" + g.date() +
               ",\"updated_at\":" + g.date() + ",\"owner\":{\"id\":" + g.number(1000000) +
               ",\"name\":" + g.words(2) + ",\"email\":\"user" + g.number(100000) +
               "@example.com\"},\"asset_count\":" + g.number(5000) +
               ",\"size_bytes\":" + g.number(100000000000ull) + ",\"duration\":" + g.number(10000) +
               "." + g.number(1000) + ",\"fps\":29.97,\"archived\":" + g.flag() +
               ",\"thumbnail\":null,\"tags\":[" + g.words(1) + "," + g.words(1) + "]}";
    }
    out += "],\"events\":[";
    for (size_t i = 0; out.size() < 20 * kMB; ++i) {
        out += (i ? "," : "") + g.event();
    }
    return out + "]}";
}

// Asset records with names, paths, links and notes: almost nothing but strings.
std::string makeStrings() {
    Generator g;
    std::string out = "[";
    for (size_t i = 0; out.size() < 20 * kMB; ++i) {
        out += (i ? "," : "");
        out += "{\"id\":\"" + g.hex(8) + "-" + g.hex(4) + "-" + g.hex(4) + "-" + g.hex(12) +
               "\",\"name\":" + g.words(4) + ",\"path\":\"/Volumes/Media/Projects/" + g.hex(6) +
               "/Footage/Clip_" + g.number(10000) + ".mov\",\"url\":\"https://media.example.com/" +
               g.hex(32) + "/original.mov?token=" + g.hex(40) + "\",\"note\":" + g.words(40) +
               ",\"status\":\"ready\",\"created_at\":" + g.date() + "}";
    }
    return out + "]";
}

std::string makeEvents() {
    Generator g;
    std::string out = "[";
    for (size_t i = 0; out.size() < 50 * kMB; ++i) {
        out += (i ? "," : "") + g.event();
    }
    return out + "]";
}

struct Document {
    const char* name;
    std::string text;
};

std::vector<Document>& documents() {
    static std::vector<Document> all = {
        {"Reply", makeReply()}, {"Strings", makeStrings()}, {"Events", makeEvents()}};
    return all;
}

const Document& document(const char* name) {
    for (const Document& d : documents()) {
        if (std::strcmp(d.name, name) == 0) {
            return d;
        }
    }
    std::abort();
}

// ---- readers and writers under test ---------------------------------------------------

void qmjsonRead(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        std::optional<base::Value> value = QMJSON().objectWithString(text);
        if (!value) {
            state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void qmjsonWrite(benchmark::State& state, const std::string& text) {
    const base::Value value = *QMJSON().objectWithString(text);
    size_t bytes = 0;
    for (auto _ : state) {
        std::optional<std::string> out = QMJSON().stringWithObject(value);
        bytes += out ? out->size() : 0;
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

#ifdef HAVE_NLOHMANN
void nlohmannRead(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        nlohmann::ordered_json value = nlohmann::ordered_json::parse(text);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void nlohmannWrite(benchmark::State& state, const std::string& text) {
    const nlohmann::ordered_json value = nlohmann::ordered_json::parse(text);
    size_t bytes = 0;
    for (auto _ : state) {
        std::string out = value.dump();
        bytes += out.size();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
#endif

#ifdef HAVE_RAPIDJSON
// Default flags read numbers into doubles; numbers as text is the closer match to
// what QMJSON does.
template <unsigned kFlags>
void rapidjsonRead(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse<kFlags>(text.c_str(), text.size());
        if (document.HasParseError()) {
            state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void rapidjsonWrite(benchmark::State& state, const std::string& text) {
    rapidjson::Document document;
    document.Parse(text.c_str(), text.size());
    size_t bytes = 0;
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        document.Accept(writer);
        bytes += buffer.GetSize();
        benchmark::DoNotOptimize(buffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
#endif

using Runner = void (*)(benchmark::State&, const std::string&);
struct Library {
    const char* name;
    Runner read;
    Runner write;
};

std::vector<Library> libraries() {
    std::vector<Library> all = {{"QMJSON", qmjsonRead, qmjsonWrite}};
#ifdef HAVE_RAPIDJSON
    all.push_back({"RapidJSON", rapidjsonRead<rapidjson::kParseDefaultFlags>, rapidjsonWrite});
    all.push_back({"RapidJSON numbers as text",
                   rapidjsonRead<rapidjson::kParseNumbersAsStringsFlag>, nullptr});
#endif
#ifdef HAVE_NLOHMANN
    all.push_back({"nlohmann", nlohmannRead, nlohmannWrite});
#endif
    return all;
}

// Peers follow each other per document and operation, so each ratio compares runs made
// close together in time.
void registerBenchmarks() {
    for (const Document& doc : documents()) {
        const bool reply = std::strcmp(doc.name, "Reply") == 0;
        for (const Library& library : libraries()) {
            // nlohmann takes seconds per pass over the larger documents; its read of the
            // reply is enough to place it.
            if (library.read && (reply || std::strcmp(library.name, "nlohmann") != 0)) {
                benchmark::RegisterBenchmark(
                    ("Read/" + std::string(doc.name) + "/" + library.name).c_str(),
                    [&doc, read = library.read](benchmark::State& s) { read(s, doc.text); })
                    ->Unit(benchmark::kMillisecond);
            }
        }
        for (const Library& library : libraries()) {
            if (library.write && reply) {
                benchmark::RegisterBenchmark(
                    ("Write/" + std::string(doc.name) + "/" + library.name).c_str(),
                    [&doc, write = library.write](benchmark::State& s) { write(s, doc.text); })
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
}

// ---- peak memory ------------------------------------------------------------------------

long statusKilobytes(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) {
        return -1;
    }
    char line[256];
    long value = -1;
    const size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
            value = std::strtol(line + n + 1, nullptr, 10);
        }
    }
    std::fclose(f);
    return value;
}

// The growth of the resident set's high-water mark while `readAndHold` runs in a child
// process; it must keep what it read alive. Negative when it could not be measured.
double peakBytes(const std::function<void()>& readAndHold) {
    int fds[2];
    if (pipe(fds) != 0) {
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        malloc_trim(0);
        // Writing 5 resets the high-water mark to the current resident set.
        if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", f);
            std::fclose(f);
        }
        const long before = statusKilobytes("VmRSS");
        readAndHold();
        const double grown = 1024.0 * static_cast<double>(statusKilobytes("VmHWM") - before);
        const ssize_t written = write(fds[1], &grown, sizeof grown);
        _exit(written == sizeof grown ? 0 : 1);
    }
    close(fds[1]);
    double grown = -1;
    if (pid < 0 || read(fds[0], &grown, sizeof grown) != sizeof grown) {
        grown = -1;
    }
    close(fds[0]);
    if (pid > 0) {
        waitpid(pid, nullptr, 0);
    }
    return grown;
}

void printPeakMemory() {
    std::printf("\nPeak memory to read a document and hold it, as a multiple of its text:\n");
    for (const char* name : {"Reply", "Events"}) {
        const std::string& text = document(name).text;
        std::printf("  %-7s %5.1f MB:", name, static_cast<double>(text.size()) / kMB);
        // Each reader's result is left alive on purpose: the child ends right after.
        std::vector<std::pair<const char*, std::function<void()>>> readers = {
            {"QMJSON", [&] { new base::Value(*QMJSON().objectWithString(text)); }}};
#ifdef HAVE_RAPIDJSON
        readers.push_back({"RapidJSON", [&] { (new rapidjson::Document)->Parse(text.c_str()); }});
        readers.push_back({"RapidJSON numbers as text", [&] {
                               (new rapidjson::Document)
                                   ->Parse<rapidjson::kParseNumbersAsStringsFlag>(text.c_str());
                           }});
#endif
#ifdef HAVE_NLOHMANN
        readers.push_back({"nlohmann", [&] { new auto(nlohmann::ordered_json::parse(text)); }});
#endif
        for (const auto& [library, readAndHold] : readers) {
            const double bytes = peakBytes(readAndHold);
            std::printf("  %s %.2fx (%.0f MB)", library, bytes / static_cast<double>(text.size()),
                        bytes / kMB);
        }
        std::printf("\n");
    }
}

// ---- report -------------------------------------------------------------------------------

// Keeps every run's throughput so the ratios can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            auto bytes = run.counters.find("bytes_per_second");
            if (bytes != run.counters.end()) {
                throughput_[run.benchmark_name()] = bytes->second;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatios() const {
        std::printf("\nThroughput; QMJSON's speed as a multiple of each peer's:\n");
        for (const char* op : {"Read", "Write"}) {
            for (const Document& doc : documents()) {
                const std::string prefix = std::string(op) + "/" + doc.name + "/";
                auto ours = throughput_.find(prefix + "QMJSON");
                if (ours == throughput_.end()) {
                    continue;
                }
                std::printf("  %-5s %-7s (%4.1f MB)  QMJSON %7.1f MB/s\n", op, doc.name,
                            static_cast<double>(doc.text.size()) / kMB, ours->second / kMB);
                for (const Library& library : libraries()) {
                    auto peer = throughput_.find(prefix + library.name);
                    if (peer == throughput_.end() || peer == ours) {
                        continue;
                    }
                    std::printf("      %-27s %7.1f MB/s   QMJSON is %.2fx its speed\n",
                                library.name, peer->second / kMB,
                                peer->second > 0 ? ours->second / peer->second : 0.0);
                }
            }
        }
    }

  private:
    std::map<std::string, double> throughput_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    documents();  // generate the documents outside the timings
    registerBenchmarks();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    printPeakMemory();
    benchmark::Shutdown();
    return 0;
}

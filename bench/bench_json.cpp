// Reading and writing a 20 MB reply shaped like the service's project and event lists,
// measured in the same run against nlohmann/json and RapidJSON (when their headers are
// installed). Prints each peer's throughput as a ratio of ours at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
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

constexpr size_t kDocumentBytes = size_t{20} * 1000 * 1000;

std::string makeReply() {
    std::mt19937_64 rng(42);
    auto number = [&](uint64_t below) { return std::to_string(rng() % below); };
    auto date = [&] {
        return "\"2024-0" + number(9) + "-1" + number(9) + "T1" + number(9) + ":3" + number(9) +
               ":0" + number(9) + ".000Z\"";
    };
    static const char* const kWords[] = {"Final",  "cut",        "review", "colour",  "grade",
                                         "Résumé", "edit",       "scene",  "take",    "mix",
                                         "B-roll", "\\\"v2\\\"", "draft",  "ünïcode", "audio"};
    auto words = [&](int n) {
        std::string s = "\"";
        for (int i = 0; i < n; ++i) {
            s += std::string(i ? " " : "") + kWords[rng() % 15];
        }
        return s + "\"";
    };
    std::string out = "{\"status\":\"ok\",\"projects\":[";
    for (size_t i = 0; out.size() < kDocumentBytes / 2; ++i) {
        if (i) {
            out += ',';
        }
        out += "{\"id\":" + number(100000000) + ",\"name\":" + words(3) +
               ",\"description\":" + words(12) + ",\"created_at\":" + date() +
               ",\"updated_at\":" + date() + ",\"owner\":{\"id\":" + number(1000000) +
               ",\"name\":" + words(2) + ",\"email\":\"user" + number(100000) +
               "@example.com\"},\"asset_count\":" + number(5000) +
               ",\"size_bytes\":" + number(100000000000ull) + ",\"duration\":" + number(10000) +
               "." + number(1000) +
               ",\"fps\":29.97,\"archived\":" + (rng() % 2 ? "true" : "false") +
               ",\"thumbnail\":null,\"tags\":[" + words(1) + "," + words(1) + "]}";
    }
    out += "],\"events\":[";
    for (size_t i = 0; out.size() < kDocumentBytes; ++i) {
        if (i) {
            out += ',';
        }
        out += "{\"id\":" + number(1000000000) +
               ",\"type\":\"comment\",\"project_id\":" + number(100000000) +
               ",\"text\":" + words(20) + ",\"timecode\":" + number(100000) + "." + number(100) +
               ",\"created_at\":" + date() + ",\"read\":" + (rng() % 2 ? "true" : "false") + "}";
    }
    return out + "]}";
}

const std::string& reply() {
    static const std::string text = makeReply();
    return text;
}

void QMJSON_Read(benchmark::State& state) {
    for (auto _ : state) {
        std::optional<base::Value> value = QMJSON().objectWithString(reply());
        if (!value) {
            state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply().size()));
}

void QMJSON_Write(benchmark::State& state) {
    const base::Value value = *QMJSON().objectWithString(reply());
    size_t bytes = 0;
    for (auto _ : state) {
        std::optional<std::string> text = QMJSON().stringWithObject(value);
        bytes += text ? text->size() : 0;
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(QMJSON_Read)->Unit(benchmark::kMillisecond);
BENCHMARK(QMJSON_Write)->Unit(benchmark::kMillisecond);

#ifdef HAVE_NLOHMANN
void Nlohmann_Read(benchmark::State& state) {
    for (auto _ : state) {
        nlohmann::ordered_json value = nlohmann::ordered_json::parse(reply());
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply().size()));
}

void Nlohmann_Write(benchmark::State& state) {
    const nlohmann::ordered_json value = nlohmann::ordered_json::parse(reply());
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text = value.dump();
        bytes += text.size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(Nlohmann_Read)->Unit(benchmark::kMillisecond);
BENCHMARK(Nlohmann_Write)->Unit(benchmark::kMillisecond);
#endif

#ifdef HAVE_RAPIDJSON
template <unsigned kFlags>
void RapidJSON_Read(benchmark::State& state) {
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse<kFlags>(reply().c_str(), reply().size());
        if (document.HasParseError()) {
            state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply().size()));
}

void RapidJSON_Write(benchmark::State& state) {
    rapidjson::Document document;
    document.Parse(reply().c_str(), reply().size());
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
// Default flags read numbers into doubles; the second form keeps them as exact text,
// which is the closer match to what QMJSON does.
BENCHMARK(RapidJSON_Read<rapidjson::kParseDefaultFlags>)
    ->Name("RapidJSON_Read")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RapidJSON_Read<rapidjson::kParseNumbersAsStringsFlag>)
    ->Name("RapidJSON_ReadNumbersAsText")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RapidJSON_Write)->Unit(benchmark::kMillisecond);
#endif

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
        std::printf("\nDocument: %.1f MB\n", static_cast<double>(reply().size()) / 1e6);
        for (const char* op : {"Read", "Write"}) {
            const double ours = rate(std::string("QMJSON_") + op);
            std::printf("%-5s QMJSON %8.1f MB/s\n", op, ours / 1e6);
            for (const auto& [name, value] : throughput_) {
                if (name.rfind("QMJSON_", 0) == 0 ||
                    name.find(std::string("_") + op) == std::string::npos) {
                    continue;
                }
                std::printf("      %-28s %8.1f MB/s   QMJSON is %.2fx its speed\n", name.c_str(),
                            value / 1e6, value > 0 ? ours / value : 0.0);
            }
        }
    }

  private:
    double rate(const std::string& name) const {
        auto it = throughput_.find(name);
        return it == throughput_.end() ? 0 : static_cast<double>(it->second);
    }
    std::map<std::string, double> throughput_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    reply();  // generate the document outside the timings
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}

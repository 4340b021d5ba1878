// Throughput of the pure code paths that run per command or per report.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ir/ccf_learn.h"
#include "ir/hex_words.h"
#include "ir/ir_compare.h"
#include "ir/ir_hash.h"
#include "parsers/ir_receive_parser.h"

namespace {

const char* const kCode =
    "0000 006E 0022 0022 0156 00A9 0015 0012 0015 003E 0015 003E 0015 003E 0015 0012 0015 003E "
    "0015 003E 0015 0012 0015 003E 0015 0012 0015 0015 0015 0015 0015 003E 0015 0012 0015 0015 "
    "0015 003E 0015 0012 0015 003E 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015";

void ReadHexWords(benchmark::State& state) {
    std::uint32_t words[256];
    for (auto _ : state)
        benchmark::DoNotOptimize(koblib::readHexWords(words, 256, kCode));
}
BENCHMARK(ReadHexWords);

void Compare(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(koblib::irCompare(kCode, kCode));
}
BENCHMARK(Compare);

void Hash(benchmark::State& state) {
    std::vector<unsigned int> words(255);
    for (std::size_t k = 0; k < words.size(); ++k)
        words[k] = k % 2 ? 139 : 409;
    char out[33];
    for (auto _ : state)
        benchmark::DoNotOptimize(
            koblib::irHash(words.data(), static_cast<unsigned>(words.size()), out, 33));
}
BENCHMARK(Hash);

// A 255-word received frame over 64-byte reports (9 reports).
void ReceiveFrame(benchmark::State& state) {
    std::vector<std::vector<unsigned char>> reports;
    std::vector<unsigned char> bytes{0x0A, 255};
    for (int k = 0; k < 255; ++k) {
        bytes.push_back(0x01);
        bytes.push_back(static_cast<unsigned char>(k));
    }
    for (std::size_t pos = 0; pos < bytes.size(); pos += 64) {
        std::vector<unsigned char> report(64, 0);
        std::copy(bytes.begin() + pos, bytes.begin() + std::min(bytes.size(), pos + 64),
                  report.begin());
        reports.push_back(report);
    }
    std::size_t texts = 0;
    koblib::IRReceiveParser parser(
        "S", [&](const std::string&, const std::string& text, const unsigned int*, unsigned int) {
            texts += text.size();
        });
    for (auto _ : state)
        for (const auto& report : reports)
            parser.parse(report.data(), 64);
    benchmark::DoNotOptimize(texts);
}
BENCHMARK(ReceiveFrame);

// A received frame through the learner; a run ends after ten equal frames,
// so a new one starts before each ten.
void LearnFrame(benchmark::State& state) {
    std::string frame;
    for (int k = 0; k < 68; ++k)
        frame += k % 2 ? "0041 " : "0115 ";
    int codes = 0;
    koblib::CCFLearn learn(
        [&](const std::string&, int percent, const std::string&) { codes += percent == 100; },
        [](const std::string&) {}, [](const std::string&) {});
    std::uint32_t n = 0;
    for (auto _ : state) {
        if (n++ % koblib::CCFLearn::kEqualFrames == 0) learn.start(38000, "S");
        learn.onFrame("S", frame);
    }
    benchmark::DoNotOptimize(codes);
}
BENCHMARK(LearnFrame);

}  // namespace

// Google Benchmark's table, then one line per benchmark in the form the
// other benchmarks print: operations per second of CPU time.
class Figures : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            lines_.push_back(
                run.benchmark_name() + ": " +
                std::to_string(static_cast<long long>(
                    benchmark::GetTimeUnitMultiplier(run.time_unit) / run.GetAdjustedCPUTime())) +
                " ops/s");
    }
    void print() const {
        for (const auto& line : lines_)
            std::printf("%s\n", line.c_str());
    }

  private:
    std::vector<std::string> lines_;
};

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Figures figures;
    benchmark::RunSpecifiedBenchmarks(&figures);
    figures.print();
    return 0;
}

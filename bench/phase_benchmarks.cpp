// Micro-benchmarks of the run's phases inside the program: reading and
// converting a data file, ordering the case matrix, writing the records.
// Data: 1,000,000 cases of 20 variables, values 0..4, from 5,000 patterns
// (typical survey data) or every value drawn (nearly all patterns distinct).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "aggregation/Corvanesubs.h"
#include "textio/layer_state.h"

namespace {

constexpr int32_t kCases = 1000000;
constexpr int32_t kVariables = 20;

struct DataSet {
  std::string path;
  size_t bytes = 0;
  std::vector<int32_t> ordered;  // column by column, in pattern order
};

DataSet Make(int patterns) {
  std::mt19937_64 random(7);
  std::vector<std::vector<int>> pool(static_cast<size_t>(patterns), std::vector<int>(kVariables));
  for (auto& row : pool) {
    for (int& v : row) v = static_cast<int>(random() % 5);
  }
  std::string text;
  text.reserve(static_cast<size_t>(kCases) * kVariables * 2 + 16);
  for (int32_t i = 0; i < kCases; ++i) {
    const std::vector<int>* row = patterns > 0 ? &pool[random() % static_cast<size_t>(patterns)] : nullptr;
    for (int j = 0; j < kVariables; ++j) {
      text += static_cast<char>('0' + (row != nullptr ? (*row)[static_cast<size_t>(j)] : static_cast<int>(random() % 5)));
      text += j + 1 < kVariables ? " " : "\r\n";
    }
  }
  DataSet set;
  set.path = "/tmp/phase_benchmarks_" + std::to_string(getpid()) + "_" + std::to_string(patterns) + ".txt";
  FILE* file = std::fopen(set.path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  set.bytes = text.size();
  return set;
}

const DataSet& Repeated() {
  static DataSet set = Make(5000);
  return set;
}

const DataSet& Distinct() {
  static DataSet set = Make(0);
  return set;
}

void StartLayer() {
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
}

void ReadAll(const DataSet& set, int32_t* cases) {
  if (textio::OpenUnit(1, set.path.data(), static_cast<int>(set.path.size()), "read", true) != 0) std::abort();
  for (int32_t i = 0; i < kCases; ++i) {
    textio::beginRead(1);
    textio::readIntegers(cases + i, kVariables, kCases);
    textio::endRead();
  }
  textio::CloseUnit(1);
}

std::vector<int32_t> Matrix() { return std::vector<int32_t>(static_cast<size_t>(kCases) * kVariables); }

void Reading(benchmark::State& state, const DataSet& set) {
  StartLayer();
  std::vector<int32_t> cases = Matrix();
  for (auto _ : state) {
    ReadAll(set, cases.data());
    benchmark::DoNotOptimize(cases.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(set.bytes));
}

void Ordering(benchmark::State& state, const DataSet& set) {
  StartLayer();
  std::vector<int32_t> read = Matrix();
  ReadAll(set, read.data());
  std::vector<int32_t> cases = Matrix();
  for (auto _ : state) {
    state.PauseTiming();
    cases = read;
    state.ResumeTiming();
    SortCases(kCases, kVariables, cases.data());
    benchmark::ClobberMemory();
  }
}

void Writing(benchmark::State& state, const DataSet& set) {
  StartLayer();
  std::vector<int32_t> cases = Matrix();
  ReadAll(set, cases.data());
  SortCases(kCases, kVariables, cases.data());
  const char layout[] = "((  20(I3)),1X,I6)";
  char recordLayout[kRecordLayoutLength];
  const textio::TextPiece piece{layout, static_cast<int>(sizeof layout - 1)};
  textio::concatenate(recordLayout, kRecordLayoutLength, &piece, 1);
  const std::string out = "/tmp/phase_benchmarks_out_" + std::to_string(getpid()) + ".txt";
  for (auto _ : state) {
    if (textio::OpenUnit(2, out.data(), static_cast<int>(out.size()), "write", true) != 0) std::abort();
    WritePatterns(kCases, kVariables, cases.data(), recordLayout);
    textio::CloseUnit(2);
  }
  std::remove(out.c_str());
}

BENCHMARK_CAPTURE(Reading, repeated_patterns, Repeated())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Reading, distinct_patterns, Distinct())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ordering, repeated_patterns, Repeated())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ordering, distinct_patterns, Distinct())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Writing, repeated_patterns, Repeated())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Writing, distinct_patterns, Distinct())->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::remove(Repeated().path.c_str());
  std::remove(Distinct().path.c_str());
}

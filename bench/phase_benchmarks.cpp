// Micro-benchmarks of the run's phases inside the program: reading and
// converting a data file, ordering the case matrix, writing the records.
// Data: 1,000,000 cases of 20 variables, values 0..4, from 5,000 patterns
// (typical survey data) or every value drawn (nearly all patterns distinct);
// the orderings also on matrices made in memory, among them keys of 60 and
// of 90 bits for the same 2,000,000 cases, side by side, and std::sort of
// row numbers beside the wide ones; and the same cases packed into keys, as
// a reading packs values that narrow, ordered and written from their keys.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "aggregation/core/run_units.h"
#include "aggregation/ordering/case_order.h"
#include "aggregation/reading/case_packing.h"
#include "aggregation/run/Corvanesubs.h"
#include "aggregation/writing/pattern_record.h"
#include "aggregation/writing/pattern_writing.h"
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

const std::string kNullDevice = "/dev/null";

std::string OutputFile() { return "/tmp/phase_benchmarks_out_" + std::to_string(getpid()) + ".txt"; }

void StartLayer() {
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
}

void ReadAll(const DataSet& set, int32_t* cases) {
  if (textio::OpenUnit(kDataUnit, set.path.data(), static_cast<int>(set.path.size()), "read", true) != 0) std::abort();
  for (int32_t i = 0; i < kCases; ++i) {
    textio::beginRead(kDataUnit);
    textio::readIntegers(cases + i, kVariables, kCases);
    textio::endRead();
  }
  textio::CloseUnit(kDataUnit);
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

// A matrix of `ncases` rows of `nvars` values drawn from [0, values), column by column.
std::vector<int32_t> RandomMatrix(int32_t ncases, int32_t nvars, int32_t values) {
  std::mt19937_64 random(11);
  std::vector<int32_t> cases(static_cast<size_t>(ncases) * static_cast<size_t>(nvars));
  for (int32_t& v : cases) v = static_cast<int32_t>(random() % static_cast<uint64_t>(values));
  return cases;
}

void OrderingShape(benchmark::State& state, int32_t ncases, int32_t nvars, int32_t values) {
  StartLayer();
  const std::vector<int32_t> drawn = RandomMatrix(ncases, nvars, values);
  std::vector<int32_t> cases(drawn.size());
  for (auto _ : state) {
    state.PauseTiming();
    cases = drawn;
    state.ResumeTiming();
    SortCases(ncases, nvars, cases.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * ncases);
}

// The rows of a matrix, column by column, packed into keys of the
// narrowest packing that holds the values [0, values).
void PackMatrix(const std::vector<int32_t>& cases, int32_t ncases, int32_t nvars, int32_t values,
                PackedCases& packed) {
  const Packing packing = PackingFor(nvars, 0, values - 1);
  if (!TakeKeyStorage(packed, packing, ncases)) std::abort();
  std::vector<int32_t> row(static_cast<size_t>(nvars));
  for (int32_t i = 0; i < ncases; ++i) {
    for (int32_t j = 0; j < nvars; ++j) row[static_cast<size_t>(j)] = cases[static_cast<size_t>(i) + static_cast<size_t>(j) * ncases];
    PackRow(packing, row.data(), packed.keys + static_cast<size_t>(i) * static_cast<size_t>(packing.words));
  }
}

void OrderingPackedShape(benchmark::State& state, int32_t ncases, int32_t nvars, int32_t values) {
  StartLayer();
  PackedCases drawn, packed;
  PackMatrix(RandomMatrix(ncases, nvars, values), ncases, nvars, values, drawn);
  PackMatrix(RandomMatrix(ncases, nvars, values), ncases, nvars, values, packed);
  const size_t words = static_cast<size_t>(ncases) * static_cast<size_t>(drawn.packing.words);
  for (auto _ : state) {
    state.PauseTiming();
    std::copy_n(drawn.keys, words, packed.keys);
    state.ResumeTiming();
    OrderPackedCases(packed, ncases);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * ncases);
}

// The yardstick for the ordering: std::sort of row numbers, compared from
// the last column down, then the matrix gathered into that order.
void OrderingByRowNumbers(benchmark::State& state, int32_t ncases, int32_t nvars, int32_t values) {
  const std::vector<int32_t> drawn = RandomMatrix(ncases, nvars, values);
  std::vector<int32_t> cases(drawn.size()), ordered(drawn.size()), rows(static_cast<size_t>(ncases));
  for (auto _ : state) {
    state.PauseTiming();
    cases = drawn;
    state.ResumeTiming();
    for (int32_t i = 0; i < ncases; ++i) rows[static_cast<size_t>(i)] = i;
    std::sort(rows.begin(), rows.end(), [&](int32_t a, int32_t b) {
      for (int32_t j = nvars - 1; j >= 0; --j) {
        const int32_t* column = cases.data() + static_cast<size_t>(j) * static_cast<size_t>(ncases);
        if (column[a] != column[b]) return column[a] < column[b];
      }
      return false;
    });
    for (int32_t j = 0; j < nvars; ++j) {
      const size_t base = static_cast<size_t>(j) * static_cast<size_t>(ncases);
      for (int32_t i = 0; i < ncases; ++i) ordered[base + static_cast<size_t>(i)] = cases[base + static_cast<size_t>(rows[static_cast<size_t>(i)])];
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * ncases);
}

// Times `write` writing the records to `out`, a fresh file each round (or
// /dev/null), and counts the bytes it wrote.
template <typename Write>
void TimeWriting(benchmark::State& state, const std::string& out, Write write) {
  char recordLayout[kRecordLayoutLength];
  BuildRecordLayout(kVariables, recordLayout);
  int64_t bytes = 0;
  for (auto _ : state) {
    if (out != kNullDevice) std::remove(out.c_str());
    if (textio::OpenUnit(kPatternUnit, out.data(), static_cast<int>(out.size()), "write", true) != 0) std::abort();
    write(recordLayout);
    bytes += textio::SelectUnit(kPatternUnit, textio::StatementKind::Write)->filePosition +
             textio::SelectUnit(kPatternUnit, textio::StatementKind::Write)->position;
    textio::CloseUnit(kPatternUnit);
  }
  state.SetBytesProcessed(bytes);
  if (out != kNullDevice) std::remove(out.c_str());
}

// Writes the records of the ordered matrix to `out`: a file, or /dev/null
// for the editing alone without the file system's work.
void Writing(benchmark::State& state, const DataSet& set, const std::string& out) {
  StartLayer();
  std::vector<int32_t> cases = Matrix();
  ReadAll(set, cases.data());
  SortCases(kCases, kVariables, cases.data());
  TimeWriting(state, out, [&](const char* recordLayout) { WritePatterns(kCases, kVariables, cases.data(), recordLayout); });
}

// Writes the records of the distinct cases, ordered as packed keys, to `out`.
void WritingPacked(benchmark::State& state, const std::string& out) {
  StartLayer();
  std::vector<int32_t> cases = Matrix();
  ReadAll(Distinct(), cases.data());
  PackedCases packed;
  PackMatrix(cases, kCases, kVariables, 5, packed);
  OrderPackedCases(packed, kCases);
  TimeWriting(state, out, [&](const char* recordLayout) {
    WritePackedRecords(packed, kCases, recordLayout, PieceRows(kVariables));
  });
}

BENCHMARK_CAPTURE(Reading, repeated_patterns, Repeated())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Reading, distinct_patterns, Distinct())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ordering, repeated_patterns, Repeated())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ordering, distinct_patterns, Distinct())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrderingShape, bits60_2M_x20, 2000000, 20, 5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrderingShape, bits90_2M_x30, 2000000, 30, 5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrderingShape, bits1200_200k_x300, 200000, 300, 10)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrderingByRowNumbers, bits1200_200k_x300, 200000, 300, 10)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrderingByRowNumbers, bits90_2M_x30, 2000000, 30, 5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrderingShape, bits60_10M_x20, 10000000, 20, 5)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(OrderingPackedShape, bits60_2M_x20, 2000000, 20, 5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrderingPackedShape, bits90_2M_x30, 2000000, 30, 5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrderingPackedShape, bits1200_200k_x300, 200000, 300, 10)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrderingPackedShape, bits60_10M_x20, 10000000, 20, 5)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(Writing, repeated_patterns, Repeated(), OutputFile())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Writing, distinct_patterns, Distinct(), OutputFile())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Writing, distinct_patterns_edited_only, Distinct(), kNullDevice)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WritingPacked, distinct_patterns, OutputFile())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WritingPacked, distinct_patterns_edited_only, kNullDevice)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::remove(Repeated().path.c_str());
  std::remove(Distinct().path.c_str());
}

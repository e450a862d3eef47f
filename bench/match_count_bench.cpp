// The Results window's count of the strings that pass its filter over every key it lists, made by
// the search of all keys, beside the run that found them as the window runs it (log and summary)
// and, with --each-key, the count made key by key, one pass each. bench/count_vs_run.sh runs it
// beside veskor-scan on the same rows.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/results/key_matches.h"
#include "engine/run/analysis_run.h"
#include "engine/run/match_counts.h"
#include "engine/search/job_runner.h"
#include "text/cp1251.h"

namespace {

using Filter = std::function<bool(std::string_view)>;

// The processor time of the whole process, every thread's.
double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The wall time of `work`, and in `cpu` its processor time (on a machine shared with others the
// wall time depends on their load, the processor time much less).
double Seconds(const std::function<void()>& work, double* cpu = nullptr) {
  const double cpu_start = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  work();
  if (cpu != nullptr) *cpu = CpuSeconds() - cpu_start;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// The window's filter of plain text: the needle in any letter case.
Filter Containing(std::string needle) {
  for (char& c : needle) c = static_cast<char>(veskor::ToLower1251(static_cast<uint8_t>(c)));
  return [needle](std::string_view text) {
    return std::search(text.begin(), text.end(), needle.begin(), needle.end(), [](char a, char b) {
             return veskor::ToLower1251(static_cast<uint8_t>(a)) == static_cast<uint8_t>(b);
           }) != text.end();
  };
}

// Keeps what the window keeps of a row's run: its summary and what it searched.
struct Kept : veskor::RunObserver {
  veskor::RowOutcome outcome;
  void RowFinished(const veskor::RequestRow&, const veskor::RowOutcome& row) override {
    outcome = row;
  }
};

}  // namespace

// Usage: match_count_bench FILE ALGO ALPHABET_FILE MIN TEXT [--each-key]
int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr,
                 "usage: match_count_bench FILE ALGO ALPHABET_FILE MIN TEXT [--each-key]\n");
    return 2;
  }
  const std::string file = argv[1];
  const std::string algo = argv[2];
  std::ifstream alphabet_file(argv[3], std::ios::binary);
  const std::string alphabet{std::istreambuf_iterator<char>(alphabet_file), {}};
  const int min = std::atoi(argv[4]);
  const std::string text = argv[5];
  const bool each_key = argc > 6 && std::strcmp(argv[6], "--each-key") == 0;
  veskor::FillAlgorithms();

  // The row as the window runs it: its lines to its log beside FILE, its summary kept.
  veskor::AnalysisRequest request;
  request.input = file;
  request.format = "%3d | %*d | %s";
  veskor::RequestRow row;
  row.algorithm = row.algorithm_shown = algo;
  row.fields = veskor::SearchFields{alphabet, "", static_cast<uint8_t>(min), 0};
  request.rows.push_back(row);
  const Filter filter = Containing(text);
  std::atomic<bool> stop{false};
  veskor::ScanOptions options;
  options.workers = veskor::DefaultWorkerCount();

  // Rounds of the run and the count in turn, the count over the keys the run's window lists.
  Kept kept;
  std::vector<int> keys;
  uint64_t strings = 0, matches = 0;
  int keys_with_matches = 0;
  std::vector<double> run_times, run_cpu, count_times, count_cpu;
  for (int round = 0; round < 3; ++round) {
    double cpu = 0;
    run_times.push_back(Seconds([&] { veskor::RunRequest(request, kept); }, &cpu));
    run_cpu.push_back(cpu);
    if (!kept.outcome.summary || !kept.outcome.search) {
      std::fprintf(stderr, "the row did not run\n");
      return 1;
    }
    const veskor::RunSearch& search = *kept.outcome.search;
    const bool unkeyed = !search.any && search.algorithm.Unkeyed();
    keys = kept.outcome.summary->ShownKeys(unkeyed, kept.outcome.key);
    strings = kept.outcome.summary->ShownCount(unkeyed, kept.outcome.key);
    matches = 0;
    keys_with_matches = 0;
    count_times.push_back(Seconds(
        [&] {
          veskor::CountMatchesOfKeys(
              search, keys, filter, stop,
              [&](int, uint64_t count) {
                matches += count;
                keys_with_matches += count > 0;
              },
              nullptr, options);
        },
        &cpu));
    count_cpu.push_back(cpu);
  }
  const double run = Median(run_times), count = Median(count_times);
  std::printf(
      "%s, %s, printable min %d, filter \"%s\": %zu keys, %llu strings; %d keys with %llu "
      "matches\n",
      file.c_str(), algo.c_str(), min, text.c_str(), keys.size(),
      static_cast<unsigned long long>(strings), keys_with_matches,
      static_cast<unsigned long long>(matches));
  std::printf("  %-36s %8s %8s %8s\n", "medians of 3, interleaved", "wall s", "cpu s", "vs run");
  std::printf("  %-36s %8.2f %8.2f %7.2fx\n", "the run (log and summary)", run, Median(run_cpu),
              1.0);
  std::printf("  %-36s %8.2f %8.2f %7.2fx\n", "count across keys, one search", count,
              Median(count_cpu), count / run);
  if (each_key) {
    const veskor::RunSearch& search = *kept.outcome.search;
    uint64_t each_matches = 0;
    double cpu = 0;
    const double each = Seconds(
        [&] {
          for (int key : keys) {
            each_matches += veskor::CountKeyMatches(search, key, filter, stop).count;
          }
        },
        &cpu);
    std::printf("  %-36s %8.2f %8.2f %7.2fx  (once; %llu matches)\n",
                "count key by key, one pass each", each, cpu, each / run,
                static_cast<unsigned long long>(each_matches));
  }
  return 0;
}

// The scanner's figures in one run on one machine: a plain read pass over a mapped file, one
// key, all 255 keys with a sparse alphabet, all keys with the printable alphabet by the sparse
// and the dense search (where they cross over), and NONE with the printable alphabet against
// GNU strings, with a check that both find the same strings at the same offsets.
//
//   build/bench/fast_scan_bench [MiB] [FILE...]
//     MiB: size of the generated random file (default 256); FILEs: real files for the
//     strings check (default: a few binaries from /usr/bin).
// bench/all_keys_vs_strings.sh measures the runner's search of all keys against GNU strings.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/input/mapped_input.h"
#include "engine/run/log_file.h"
#include "engine/run/row_filter.h"
#include "engine/run/row_line_maker.h"
#include "engine/score/key_summary.h"
#include "engine/search/job_runner.h"
#include "engine/search/row_search.h"
#include "engine/search/scan_input.h"
#include "engine/search/sparse_search.h"
#include "report/report_format.h"

namespace veskor {
namespace {

// Counts the bytes of the lines and drops them.
class DropServices : public ScanServices {
 public:
  uint64_t bytes = 0;
  void Write(std::string_view piece) override { bytes += piece.size(); }
  void SetProgress(int) override {}
  void Pace(int64_t) override {}
};

// Writes every line to a log, as the run does.
class LogServices : public ScanServices {
 public:
  explicit LogServices(const std::string& path) : log_(path) {}
  void Write(std::string_view bytes) override { log_.Write(bytes); }
  void SetProgress(int) override {}
  void Pace(int64_t) override {}
  void Close() { log_.Close(); }

 private:
  LogFile log_;
};

// The best of five timings: the machines are shared and noisy, and the minimum is the figure
// least disturbed by the neighbours.
double Seconds(const std::function<void()>& body) {
  double best = 1e100;
  for (int i = 0; i < 5; ++i) {
    const auto start = std::chrono::steady_clock::now();
    body();
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

struct Scan {
  double seconds;
  int64_t found;
};

Scan RunScan(const MappedInput& input, const TAlgorithm& algorithm, const SearchFields& fields,
             int key, const std::string& log, const std::string& format, ScanOptions options = {}) {
  int64_t found = 0;
  options.workers = DefaultWorkerCount();
  const RowLineMaker lines(format);
  const RowFilter expression(fields.RegExp);
  const double seconds = Seconds([&] {
    LogServices services(log);
    TScanContext context = ContextOver(input.data(), input.size(), services, lines, &expression);
    if (key >= 0) {
      context.Key = static_cast<uint8_t>(key);
      ScanPass(algorithm, fields, context, options);
    } else {
      context.SingleKey = false;
      ScanAllKeys(
          algorithm, fields, context, [](int) { return true; }, options);
    }
    services.Close();
    found = context.Found;
  });
  return {seconds, found};
}

using Strings = std::set<std::pair<uint64_t, std::string>>;

// Lines "offset text" as both our format "%2:d %3:s" and strings -t d write them.
Strings ReadPairs(const std::string& path) {
  Strings pairs;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t i = 0;
    while (i < line.size() && line[i] == ' ') ++i;
    const size_t space = line.find(' ', i);
    if (space == std::string::npos) continue;
    pairs.emplace(std::strtoull(line.c_str() + i, nullptr, 10), line.substr(space + 1));
  }
  return pairs;
}

std::string PrintableAlphabet() {
  std::string alphabet = "\t";
  for (int b = 32; b <= 126; ++b) alphabet.push_back(static_cast<char>(b));
  return alphabet;
}

// A file as the tables name it: the files this benchmark generates in its scratch folder by
// their own name, so that the output reads the same in every run.
std::string ShownName(const std::string& file, const std::string& work) {
  if (file.rfind(work + "/", 0) != 0) return file;
  return "(generated) " + file.substr(work.size() + 1);
}

// NONE with the printable alphabet against strings -a -n 7 -t d; returns the speed ratio.
double AgainstStrings(const std::string& file, const std::string& work, bool print) {
  MappedInput input;
  if (input.Open(file) != MappedInput::Result::kOk) return 0;
  SearchFields fields;
  fields.Alphabet = PrintableAlphabet();
  fields.MinLength = 7;
  const Scan ours = RunScan(input, Algorithms[3], fields, 0, work + "/ours.txt", "%2:d %3:s");
  const std::string command = "strings -a -n 7 -t d '" + file + "' > '" + work + "/strings.txt'";
  int status = 0;
  const double theirs = Seconds([&] { status = std::system(command.c_str()); });
  const bool same =
      status == 0 && ReadPairs(work + "/ours.txt") == ReadPairs(work + "/strings.txt");
  if (print) {
    std::printf("  %-34s %9.1f MiB  ours %8.4f s  strings %8.4f s  %6.1f x  %s\n",
                ShownName(file, work).c_str(), input.size() / 1048576.0, ours.seconds, theirs,
                theirs / ours.seconds, same ? "same strings" : "DIFFERENT STRINGS");
  }
  return same ? theirs / ours.seconds : -1;
}

// One search of all keys over the file with the lines dropped; returns the strings found.
int64_t AllKeysDroppedOnce(const MappedInput& input, const SearchFields& fields,
                           ScanOptions::Search search, int workers, bool summary) {
  ScanOptions options;
  options.workers = workers > 0 ? workers : DefaultWorkerCount();
  options.search = search;
  const RowLineMaker lines(kDefaultReportFormat);
  const RowFilter expression(fields.RegExp);
  DropServices services;
  TScanContext context = ContextOver(input.data(), input.size(), services, lines, &expression);
  context.SingleKey = false;
  RowSummary row_summary;
  if (summary) context.Summary = &row_summary;
  ScanAllKeys(
      Algorithms[0], fields, context, [](int) { return true; }, options);
  return context.Found;
}

// All keys over the file with the lines dropped; best of five timings.
Scan AllKeysDropped(const MappedInput& input, const SearchFields& fields,
                    ScanOptions::Search search, int workers, bool summary = false) {
  int64_t found = 0;
  const double seconds =
      Seconds([&] { found = AllKeysDroppedOnce(input, fields, search, workers, summary); });
  return {seconds, found};
}

// Where the sparse screening stops paying: alphabets of growing size, both searches, XOR8,
// MinLength 7, all cores, over the random file.
void Crossover(const MappedInput& input) {
  std::printf(
      "\nAll keys, XOR8, MinLength 7, lines dropped: the sparse screening against the dense "
      "key sets\n  %-26s %11s %10s %10s %12s\n",
      "alphabet", "pair values", "sparse s", "dense s", "lines");
  const std::pair<const char*, std::string> alphabets[] = {
      {"digits", "0123456789"},
      {"hex digits", "0123456789abcdef"},
      {"0-9 a-v", "0123456789abcdefghijklmnopqrstuv"},
      {"0-9 a-z", "0123456789abcdefghijklmnopqrstuvwxyz"},
      {"0-9 a-z A-Z", "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"},
      {"printable", PrintableAlphabet()},
  };
  for (const auto& [name, alphabet] : alphabets) {
    SearchFields fields;
    fields.Alphabet = alphabet;
    fields.MinLength = 7;
    const Scan sparse = AllKeysDropped(input, fields, ScanOptions::Search::kSparse, 0);
    const Scan dense = AllKeysDropped(input, fields, ScanOptions::Search::kDense, 0);
    std::printf("  %-26s %11d %10.3f %10.3f %12lld%s\n", name,
                PairValueCount(AlphabetSet(alphabet), CipherFamily::kXor), sparse.seconds,
                dense.seconds, static_cast<long long>(dense.found),
                sparse.found == dense.found ? "" : "  DIFFERENT COUNTS");
  }
}

// The wall and processor seconds of one search of all keys with the lines dropped.
std::pair<double, double> DroppedOnce(const MappedInput& input, const SearchFields& fields,
                                      bool summary) {
  auto cpu = [] {
    timespec at{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &at);
    return static_cast<double>(at.tv_sec) + at.tv_nsec * 1e-9;
  };
  const double cpu_from = cpu();
  const auto from = std::chrono::steady_clock::now();
  AllKeysDroppedOnce(input, fields, ScanOptions::Search::kAuto, 0, summary);
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - from;
  return {wall.count(), cpu() - cpu_from};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// What keeping the per-key summary (counts and text scores) costs the dense search of all keys
// with the printable alphabet, over the random file, binaries from /usr/bin and zero bytes (the
// padding of binaries, one string per key). The runs without and with it alternate, and the
// medians are shown: the neighbours' load on a shared machine then weighs on both alike. The
// cost is given in wall time and in processor time, the steadier of the two.
void SummaryCost(const std::vector<std::string>& files, const std::string& work) {
  std::printf(
      "\nAll keys, XOR8, printable, MinLength 7, lines dropped: without and with the summary,\n"
      "medians of 7 alternating runs\n"
      "  %-34s %10s %10s %8s %10s %10s %8s\n",
      "file", "without s", "with s", "cost", "cpu s", "cpu s", "cpu cost");
  SearchFields fields;
  fields.Alphabet = PrintableAlphabet();
  fields.MinLength = 7;
  for (const std::string& file : files) {
    MappedInput input;
    if (input.Open(file) != MappedInput::Result::kOk) continue;
    std::vector<double> wall[2], cpu[2];
    for (int round = 0; round < 7; ++round) {
      for (const bool summary : {false, true}) {
        const auto [seconds, processor] = DroppedOnce(input, fields, summary);
        wall[summary].push_back(seconds);
        cpu[summary].push_back(processor);
      }
    }
    const double without = Median(wall[0]), with = Median(wall[1]);
    const double cpu_without = Median(cpu[0]), cpu_with = Median(cpu[1]);
    std::printf("  %-34s %10.3f %10.3f %7.1f%% %10.3f %10.3f %7.1f%%\n",
                ShownName(file, work).c_str(), without, with, 100.0 * (with - without) / without,
                cpu_without, cpu_with, 100.0 * (cpu_with - cpu_without) / cpu_without);
  }
}

long PeakKilobytes() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace
}  // namespace veskor

int main(int argc, char** argv) {
  using namespace veskor;
  const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  std::vector<std::string> real_files;
  for (int i = 2; i < argc; ++i) real_files.push_back(argv[i]);
  if (real_files.empty()) real_files = {"/usr/bin/ls", "/usr/bin/cmake", "/usr/bin/gdb"};
  char work_template[] = "/tmp/veskor_bench_XXXXXX";
  const std::string work = ::mkdtemp(work_template);
  const std::string file = work + "/random.bin";
  {
    std::vector<uint8_t> data(mib << 20);
    std::mt19937_64 rng(42);
    for (size_t i = 0; i + 8 <= data.size(); i += 8) {
      const uint64_t v = rng();
      std::memcpy(data.data() + i, &v, 8);
    }
    for (int i = 0; i < 40; ++i) {  // a few dozen digit strings hidden under XOR8, key 0x5A
      const size_t at = rng() % (data.size() - 64);
      for (int j = 0; j < 12; ++j) data[at + j] = static_cast<uint8_t>(('0' + j % 10) ^ 0x5A);
    }
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
  }
  FillAlgorithms();
  MappedInput input;
  if (input.Open(file) != MappedInput::Result::kOk) return 1;
  const long base_kb = PeakKilobytes();
  uint64_t sum = 0;
  auto read_pass = [&] {
    const auto* words = reinterpret_cast<const uint64_t*>(input.data());
    for (size_t i = 0; i < input.size() / 8; ++i) sum += words[i];
  };
  read_pass();  // bring the file into the page cache and the mapping
  const double read_seconds = Seconds(read_pass);
  SearchFields digits;
  digits.Alphabet = "0123456789";
  digits.MinLength = 7;
  const std::string format(kDefaultReportFormat);
  const Scan one = RunScan(input, Algorithms[0], digits, 0x5A, work + "/one.log", format);
  const Scan all = RunScan(input, Algorithms[0], digits, -1, work + "/all.log", format);
  const long peak_kb = PeakKilobytes();

  std::printf(
      "veskor fast_scan_bench: %zu MiB random file, 40 digit strings under XOR8 key 0x5A,\n"
      "alphabet 0123456789, MinLength 7, MaxLength 0, default format, lines written to a "
      "log (checksum %llu)\n\n",
      mib, static_cast<unsigned long long>(sum & 0xFF));
  std::printf("  %-40s %9s %9s %12s\n", "measure", "seconds", "GiB/s", "ratio");
  const double gib = input.size() / 1073741824.0;
  std::printf("  %-40s %9.4f %9.2f %12s\n", "plain read pass (64-bit sums)", read_seconds,
              gib / read_seconds, "1.00");
  std::printf("  %-40s %9.4f %9.2f %9.2f x read pass   (%lld lines)\n", "one key (0x5A)",
              one.seconds, gib / one.seconds, one.seconds / read_seconds,
              static_cast<long long>(one.found));
  std::printf(
      "  %-40s %9.4f %9.2f %9.2f x one key     (%lld lines; %.0f x faster than 255 "
      "one-key passes)\n",
      "all keys 1 to 255", all.seconds, gib / all.seconds, all.seconds / one.seconds,
      static_cast<long long>(all.found), 255 * one.seconds / all.seconds);
  std::printf("  %-40s %9ld KiB beyond the mapping\n", "peak extra memory (resident)",
              peak_kb - base_kb);
  std::printf(
      "\nNONE, printable alphabet (tab, 32 to 126), MinLength 7, against "
      "strings -a -n 7 -t d:\n");
  AgainstStrings(file, work, true);
  for (const std::string& real : real_files) AgainstStrings(real, work, true);
  // The crossover on the first 32 MiB of the random file (or the whole, when smaller).
  {
    const std::string part = work + "/random32.bin";
    const std::string cut = "head -c " + std::to_string(std::min<size_t>(mib, 32) << 20) + " '" +
                            file + "' > '" + part + "'";
    MappedInput part_input;
    if (std::system(cut.c_str()) == 0 && part_input.Open(part) == MappedInput::Result::kOk) {
      Crossover(part_input);
      const std::string zeros = work + "/zeros32.bin";
      std::ofstream(zeros, std::ios::binary)
          .write(std::string(size_t{32} << 20, '\0').data(), std::streamsize{32} << 20);
      SummaryCost({part, "/usr/bin/cmake", "/usr/bin/gdb", zeros}, work);
    }
  }
  std::string cleanup = "rm -rf '" + work + "'";
  return std::system(cleanup.c_str());
}

// How well the keys of an all-keys search are ranked, measured through the runner's own summary
// (a task row run with its summary kept and no line written, as `veskor-scan --summary` runs it)
// on real files of this machine and on seeded random data. Also the text score's speed.
//
//   build/bench/rank_bench [cases (a)] [cases (b)] [seed] [--hard=N] [--threads=N] [--list]
//                          [--keep=DIR] [--bands]
//                        (defaults 400, 200, seed 1, 40 cases per kind of the harder corpus,
//                         2 threads)
//
// (a) whole files under a key and (b) 30..60 byte secrets in binaries and random bytes, both
// beside ranking by the number of strings; then the harder corpus, kind by kind: (1) 12..24 byte
// secrets in binaries and random bytes, (2) secrets in licence texts and scripts, (3) in
// compressed files, (4) three secrets in one 4 MiB binary made of several, (5) whole HTML, JSON,
// CSV, Python and man files; (4) has a third of --hard's cases. --list prints every case whose
// key is not ranked well enough, and --keep copies its file into DIR. The seconds beside each
// figure add up the cases' run times (the threads run cases side by side, one search worker each).
// --bands adds the scores behind the score bands (engine/score/score_band.h): the true keys of the
// secrets and of whole files, and the best wrong key of each case by the kind of file around it,
// with the share of each in the bands. The same seed draws the same cases on the same files.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_corpus.h"
#include "engine/decoding/algorithms.h"
#include "engine/run/analysis_run.h"
#include "engine/score/key_summary.h"
#include "engine/score/score_band.h"
#include "engine/score/text_score.h"
#include "report/report_format.h"

namespace veskor::bench {
namespace {

constexpr const char* kPresetName = "printable";
constexpr int kXor8 = 0, kAdd8 = 1, kSub8 = 2, kXor8W = 4;  // indices into Algorithms

// The runner's side of a --summary run: no log; the row's outcome and messages kept.
class SummaryObserver : public RunObserver {
 public:
  void Message(const RequestRow&, const std::string& text) override { messages += text + "\n"; }
  std::unique_ptr<LogSink> OpenLog(const RequestRow&, const std::string&) override {
    class NoLog : public LogSink {
      void Write(std::string_view) override {}
      void Close() override {}
    };
    return std::make_unique<NoLog>();
  }
  void RowFinished(const RequestRow&, const RowOutcome& finished) override { outcome = finished; }

  RowOutcome outcome;
  std::string messages;
};

// Stores `bytes` so that the algorithm decodes them back under `key`.
void Encode(const TAlgorithm& algorithm, uint8_t key, char* bytes, size_t size) {
  const DecodeTable decode = MakeDecodeTable(algorithm.Decode, key);
  DecodeTable encode{};
  for (int b = 0; b < 256; ++b) encode[decode[b]] = static_cast<uint8_t>(b);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>(encode[static_cast<uint8_t>(bytes[i])]);
  }
}

struct Ranks {
  int by_score = 0;  // 1 is first; 0: the key has no string
  int by_count = 0;
  std::vector<int> ranking;  // as --summary lists the keys
  std::shared_ptr<const RowSummary> row;
};

// Runs one all-keys row over the file at `input` as `veskor-scan --algo NAME --alphabet-file
// printable --summary` does, and ranks `key` by the summary's order and by number of strings.
Ranks RankKey(const TAlgorithm& algorithm, const std::string& input, int key) {
  // The summary kept, no line formatted, one search worker (the bench runs its cases side by
  // side instead).
  AnalysisRequest request;
  request.input = input;
  request.format = kDefaultReportFormat;
  request.write_lines = false;
  request.workers = 1;
  RequestRow task;
  task.algorithm = algorithm.Name;
  task.preset = kPresetName;
  task.fields = SearchFields{PrintableAlphabet(), "", 7, 0};
  request.rows = {task};
  SummaryObserver host;
  RunRequest(request, host);
  if (!host.outcome.summary || host.outcome.kind != RowOutcome::Kind::kDone) {
    throw std::runtime_error("the run over " + input + " did not finish: " + host.messages);
  }
  Ranks ranks;
  ranks.row = host.outcome.summary;
  const RowSummary& row = *ranks.row;
  ranks.ranking = row.ShownKeys(algorithm.Unkeyed(), host.outcome.key);
  const auto at = std::find(ranks.ranking.begin(), ranks.ranking.end(), key);
  ranks.by_score = at == ranks.ranking.end() ? 0 : static_cast<int>(at - ranks.ranking.begin()) + 1;
  std::vector<int> by_count = ranks.ranking;
  std::stable_sort(by_count.begin(), by_count.end(), [&](int a, int b) {
    if (row[a].Count() != row[b].Count()) return row[a].Count() > row[b].Count();
    return a < b;
  });
  const auto at_count = std::find(by_count.begin(), by_count.end(), key);
  ranks.by_count =
      at_count == by_count.end() ? 0 : static_cast<int>(at_count - by_count.begin()) + 1;
  return ranks;
}

// Strings of the printable preset in plain bytes: spans of tab and 32..126, 7 or longer.
uint64_t CountStrings(std::string_view data) {
  uint64_t count = 0, span = 0;
  for (const char ch : data) {
    const uint8_t c = static_cast<uint8_t>(ch);
    if (c == '\t' || (c >= 32 && c <= 126)) {
      ++span;
    } else {
      count += span >= 7;
      span = 0;
    }
  }
  return count + (span >= 7);
}

// Names for the generated tables, beside the words of the secrets.
constexpr const char* kCities[] = {"Lisbon", "Oslo",    "Tartu",  "Leeds",  "Graz",
                                   "Lyon",   "Porto",   "Krakow", "Malmo",  "Ghent",
                                   "Bremen", "Bologna", "Cork",   "Aarhus", "Utrecht"};
constexpr const char* kFirstNames[] = {"Anna", "Piet",  "Marta", "Jonas", "Ines", "Tomas",
                                       "Lena", "Oskar", "Sofia", "Emil",  "Nora", "Hugo"};

// A CSV table of 10 to 400 rows: people, sensor readings or stock.
std::string MakeCsv(uint64_t seed) {
  std::mt19937_64 rng(seed);
  Draw draw(rng);
  const int rows = 10 + static_cast<int>(draw.Below(391));
  auto number = [&](uint64_t below) { return std::to_string(draw.Below(below)); };
  auto cents = [&] {
    const uint64_t c = draw.Below(100);
    return std::string(c < 10 ? ".0" : ".") + std::to_string(c);
  };
  std::string csv;
  switch (draw.Below(3)) {
    case 0:
      csv = "id,first_name,email,city,balance\n";
      for (int i = 1; i <= rows; ++i) {
        const std::string name = draw.Pick(kFirstNames);
        std::string mail = name;
        mail[0] = static_cast<char>(mail[0] - 'A' + 'a');
        csv += Draw::Cat({std::to_string(i), ",", name, ",", mail, ".", draw.Pick(kWords), "@",
                          draw.Pick(kHosts), ".", draw.Pick(kTlds), ",", draw.Pick(kCities), ",",
                          number(9000), cents(), "\n"});
      }
      break;
    case 1: {
      csv = "timestamp,sensor,temperature,humidity,pressure\n";
      int minute = 0;
      char stamp[32];
      for (int i = 0; i < rows; ++i, minute += 15) {
        std::snprintf(stamp, sizeof stamp, "2025-%02d-%02dT%02d:%02d:00", 1 + minute / 40320 % 12,
                      1 + minute / 1440 % 28, minute / 60 % 24, minute % 60);
        csv += Draw::Cat({stamp, ",", std::to_string(1 + draw.Below(8)), ",",
                          std::to_string(15 + draw.Below(12)), ".", number(10), ",",
                          std::to_string(30 + draw.Below(50)), ".", number(10), ",",
                          std::to_string(990 + draw.Below(40)), "\n"});
      }
      break;
    }
    default:
      csv = "sku,item,quantity,unit_price,warehouse\n";
      for (int i = 0; i < rows; ++i) {
        const std::string code = Draw::Cat(
            {Draw::Capital(draw.Letter()), Draw::Capital(draw.Letter()), "-", draw.Digits(4)});
        csv += Draw::Cat({code, ",", draw.Pick(kWords), " ", draw.Pick(kWords), ",", number(500),
                          ",", number(200), cents(), ",", draw.Pick(kCities), "\n"});
      }
      break;
  }
  return csv;
}

struct Tally {
  int cases = 0, score_hits = 0, count_hits = 0;
  double seconds = 0;
  void Add(bool score_hit, bool count_hit, double case_seconds) {
    ++cases;
    score_hits += score_hit;
    count_hits += count_hit;
    seconds += case_seconds;
  }
  void Print(const std::string& name) const {
    if (cases == 0) return;
    std::printf("  %-30s %4d cases   score %6.1f%%   count %6.1f%%   %5.0f s\n", name.c_str(),
                cases, 100.0 * score_hits / cases, 100.0 * count_hits / cases, seconds);
  }
};

// The parts the cases belong to; the first two are the earlier corpus.
enum Part { kWhole, kSecret, kShort, kInText, kCompressed, kThreeSecrets, kWholeTyped, kParts };

struct PartInfo {
  const char* name;  // in the overview
  const char* title;
  std::vector<const char*> groups;
  int top;  // the rank the true key must reach
};

const std::array<PartInfo, kParts>& PartInfos() {
  static const std::array<PartInfo, kParts> infos = {{
      {"(a) whole files, first",
       "(a) whole files under a random key: the true key ranks first",
       {"programs (/usr/bin)", "libraries (/usr/lib)", "documents (/usr/share/doc)", "scripts"},
       1},
      {"(b) 30..60 byte secrets, top 3",
       "(b) a 30..60 byte secret under a random key: its key ranks in the top three",
       {"in binaries (stored plain)", "in random bytes"},
       3},
      {"(1) 12..24 byte secrets, top 3",
       "(1) a 12..24 byte secret in a binary or random bytes: its key in the top three",
       {"in binaries", "in random bytes"},
       3},
      {"(2) in texts, scripts, top 3",
       "(2) a secret in a licence text or a script: its key in the top three",
       {"licence texts", "scripts (python, shell)"},
       3},
      {"(3) in compressed files, top 3",
       "(3) a secret in a compressed file: its key in the top three",
       {"/usr/share/doc .gz/.xz", "/usr/share/man .gz/.xz"},
       3},
      {"(4) three in 4 MiB, first",
       "(4) three secrets in a 4 MiB binary made of several: their key first",
       {"concatenated binaries"},
       1},
      {"(5) HTML..man files, first",
       "(5) whole files of a type under a random key: the true key first",
       {"HTML", "JSON", "CSV (generated)", "Python", "man pages"},
       1},
  }};
  return infos;
}

// One case, drawn before the search so that the threads share nothing.
struct Case {
  Part part = kWhole;
  size_t group = 0;
  std::vector<fs::path> paths;  // the host, or the files joined into it; none for random bytes
  enum class Source { kFiles, kRandom, kGzip, kCsv } source = Source::kFiles;
  size_t size = 0;  // random bytes: their size; joined files: the size they are cut to
  uint64_t data_seed = 0;
  int algorithm = 0;
  int key = 0;
  std::vector<std::string> secrets;  // none: the whole host is stored under the key
  std::vector<uint64_t> wheres;      // each secret's offset, modulo the room it has
  // Results.
  bool score_hit = false, count_hit = false;
  double seconds = 0;
  // The true key's score; the best score of the other keys, and of those but the keys that read
  // the file's own text or the secret in the other letter case (see CaseTwins).
  double true_score = 0, wrong_score = 0, wrong_apart_score = 0;
  uint64_t file_bytes = 0, string_bytes = 0, plain_strings = 0;
  std::string listing;
};

std::string CaseName(const Case& c) {
  switch (c.source) {
    case Case::Source::kRandom:
      return "random " + std::to_string(c.size);
    case Case::Source::kCsv:
      return "generated csv " + std::to_string(c.data_seed % 100000);
    default:
      break;
  }
  std::string name = c.paths.empty() ? "" : c.paths[0].string();
  if (c.paths.size() > 1) name += " + " + std::to_string(c.paths.size() - 1) + " more";
  return name;
}

// A case whose key was not ranked well enough: the key's best strings and the three keys ranked
// first.
std::string Describe(const Case& c, const Ranks& ranks) {
  const TAlgorithm& algorithm = Algorithms[c.algorithm];
  const RowSummary& row = *ranks.row;
  std::string out;
  char line[600];
  std::string secrets;
  for (const std::string& secret : c.secrets) secrets += " \"" + secret + "\"";
  std::snprintf(line, sizeof(line), "    %s %s key %d: rank %d by score (%.1f), %d by count%s\n",
                CaseName(c).c_str(), algorithm.Name.c_str(), c.key, ranks.by_score,
                row[c.key].Score(), ranks.by_count, secrets.c_str());
  out += line;
  for (const BestString& best : row[c.key].Best()) {
    std::snprintf(line, sizeof(line), "      its best %.1f \"%s\"\n", best.score,
                  Clip(best.text, 60).c_str());
    out += line;
  }
  for (size_t i = 0; i < std::min<size_t>(3, ranks.ranking.size()); ++i) {
    const KeySummary& summary = row[ranks.ranking[i]];
    const std::string best = summary.Best().empty() ? "" : Clip(summary.Best()[0].text, 60);
    std::snprintf(line, sizeof(line), "      key %3d score %7.1f count %6llu best %.1f \"%s\"\n",
                  ranks.ranking[i], summary.Score(),
                  static_cast<unsigned long long>(summary.Count()),
                  summary.Best().empty() ? 0.0 : summary.Best()[0].score, best.c_str());
    out += line;
  }
  return out;
}

// Whole files of up to 1 MiB; binaries of 256 KiB to 5 MiB hold the secrets of (b), as random
// bytes of 1 to 5 MiB do. The harder corpus hides short secrets in binaries of 64 KiB to 4 MiB
// and random bytes of 64 KiB to 4 MiB, and joins binaries of 64 KiB to 2 MiB into 4 MiB.
constexpr size_t kMaxWhole = 1u << 20;
constexpr size_t kMinHost = 256u << 10, kMaxHost = 5u << 20;
constexpr size_t kMinShortHost = 64u << 10, kMaxShortHost = 4u << 20;
constexpr size_t kJoinedSize = 4u << 20, kMaxJoinedPart = 2u << 20;

size_t MaxBytes(const Case& c) {
  switch (c.part) {
    case kWhole:
    case kWholeTyped:
      return kMaxWhole;
    case kThreeSecrets:
      return kJoinedSize;
    default:
      return kMaxHost;
  }
}

// The case's file as stored: the host, with the secrets or the whole of it under the key.
std::string MakeData(Case& c, size_t max_bytes) {
  std::string data;
  switch (c.source) {
    case Case::Source::kRandom:
      data = RandomBytes(c.data_seed, c.size);
      break;
    case Case::Source::kCsv:
      data = MakeCsv(c.data_seed);
      break;
    case Case::Source::kGzip:
      data = ReadGzip(c.paths[0], max_bytes);
      break;
    case Case::Source::kFiles:
      for (const fs::path& path : c.paths) data += ReadFile(path, max_bytes - data.size());
      break;
  }
  c.plain_strings = CountStrings(data);
  const TAlgorithm& algorithm = Algorithms[c.algorithm];
  const uint8_t key = static_cast<uint8_t>(c.key);
  if (c.secrets.empty()) {
    Encode(algorithm, key, data.data(), data.size());
    return data;
  }
  // The secrets go into equal shares of the host, one each, so that they never overlap.
  const size_t shares = c.secrets.size();
  for (size_t s = 0; s < shares; ++s) {
    std::string secret;
    for (const char ch : c.secrets[s]) {
      secret += ch;
      if (algorithm.Width == 2) secret += '\0';
    }
    Encode(algorithm, key, secret.data(), secret.size());
    const size_t share = data.size() / shares;
    const size_t room = share > secret.size() ? share - secret.size() : 1;
    data.replace(s * share + c.wheres[s] % room, secret.size(), secret);
  }
  return data;
}

struct Options {
  int cases_a = 400, cases_b = 200, cases_hard = 40;
  uint64_t seed = 1;
  bool list = false, bands = false;
  std::string keep;  // a folder for the files of the cases not ranked well enough
  unsigned threads = 2;
};

// The keys that read a case's text in the other letter case: XOR8 and XOR8W's key ^ 32, ADD8 and
// SUB8's key + 32 and key - 32, of the true key and, where the host is stored as it is (a secret
// in it), of the key that reads it plain (0). They find real text, so they are no measure of
// what a wrong key finds.
std::vector<int> CaseTwins(const Case& c) {
  std::vector<int> twins;
  std::vector<int> readers = {c.key};
  if (!c.secrets.empty()) readers.push_back(0);
  const bool xor_family = c.algorithm == kXor8 || c.algorithm == kXor8W;
  for (const int key : readers) {
    if (xor_family) {
      twins.push_back(key ^ 32);
    } else {
      twins.push_back((key + 32) & 255);
      twins.push_back((key + 224) & 255);
    }
  }
  return twins;
}

void RunCase(Case& c, size_t index, const std::string& input, const Options& options) {
  const std::string data = MakeData(c, MaxBytes(c));
  c.file_bytes = data.size();
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + input);
  }
  const auto start = std::chrono::steady_clock::now();
  const Ranks ranks = RankKey(Algorithms[c.algorithm], input, c.key);
  c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (int key = 0; key < 256; ++key) c.string_bytes += (*ranks.row)[key].TotalLength();
  c.true_score = (*ranks.row)[c.key].Score();
  const std::vector<int> twins = CaseTwins(c);
  for (int key = 1; key < 256; ++key) {
    if (key == c.key) continue;
    const double score = (*ranks.row)[key].Score();
    c.wrong_score = std::max(c.wrong_score, score);
    if (std::find(twins.begin(), twins.end(), key) == twins.end()) {
      c.wrong_apart_score = std::max(c.wrong_apart_score, score);
    }
  }
  const int top = PartInfos()[c.part].top;
  c.score_hit = ranks.by_score >= 1 && ranks.by_score <= top;
  c.count_hit = ranks.by_count >= 1 && ranks.by_count <= top;
  if (c.score_hit) return;
  if (options.list) c.listing = Describe(c, ranks);
  if (!options.keep.empty()) {
    // Named so that `veskor-scan --algo ALGO --summary` can be run on it again.
    const std::string kept = options.keep + "/case" + std::to_string(index) + "-" +
                             Algorithms[c.algorithm].Name + "-key" + std::to_string(c.key) + ".bin";
    fs::copy_file(input, kept, fs::copy_options::overwrite_existing);
    if (options.list) c.listing.insert(c.listing.find('\n') + 1, "      kept as " + kept + "\n");
  }
}

// The text score's speed on the strings of a document and on short random printable strings.
void MeasureSpeed(const Pools& pools) {
  std::string text;
  for (size_t i = 0; i < pools.documents.size() && text.size() < (8u << 20); ++i) {
    text += ReadFile(pools.documents[i], 1 << 20);
  }
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.emplace_back(text.data() + start, end - start);
    start = end + 1;
  }
  std::mt19937_64 rng(7);
  std::string random_bytes;
  std::vector<std::string_view> random_strings;
  std::vector<size_t> lengths;
  while (random_bytes.size() < (8u << 20)) {
    const size_t length = 7 + rng() % 6;
    lengths.push_back(length);
    for (size_t i = 0; i < length; ++i) random_bytes += static_cast<char>(32 + rng() % 95);
  }
  for (size_t i = 0, at = 0; i < lengths.size(); at += lengths[i++]) {
    random_strings.emplace_back(random_bytes.data() + at, lengths[i]);
  }
  for (const auto& [name, strings] : {std::pair{"document lines", &lines},
                                      std::pair{"random 7..12 printable", &random_strings}}) {
    // The fastest of five rounds: the machine is shared, and the slower rounds measure others.
    uint64_t bytes = 0;
    double sum = 0, fastest = 1e30;
    TextScorer scorer;
    for (int round = 0; round < 5; ++round) {
      bytes = 0;
      sum = 0;
      const auto start = std::chrono::steady_clock::now();
      for (std::string_view s : *strings) {
        scorer.Reset();
        scorer.Feed(s);
        sum += scorer.Score();
        bytes += s.size();
      }
      fastest = std::min(fastest, std::chrono::duration<double, std::nano>(
                                      std::chrono::steady_clock::now() - start)
                                      .count());
    }
    std::printf(
        "  %-24s %10llu bytes in %8zu strings: %.2f ns/byte (%.1f ns/string), mean "
        "score %.1f bits\n",
        name, static_cast<unsigned long long>(bytes), strings->size(), fastest / bytes,
        fastest / strings->size(), sum / strings->size());
  }
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--list") == 0) {
      options.list = true;
    } else if (std::strcmp(argv[i], "--bands") == 0) {
      options.bands = true;
    } else if (std::strncmp(argv[i], "--threads=", 10) == 0) {
      options.threads = std::max(1, std::atoi(argv[i] + 10));
    } else if (std::strncmp(argv[i], "--keep=", 7) == 0) {
      options.keep = argv[i] + 7;
    } else if (std::strncmp(argv[i], "--hard=", 7) == 0) {
      options.cases_hard = std::max(0, std::atoi(argv[i] + 7));
    } else if (positional == 0) {
      options.cases_a = std::atoi(argv[i]);
      ++positional;
    } else if (positional == 1) {
      options.cases_b = std::atoi(argv[i]);
      ++positional;
    } else {
      options.seed = std::strtoull(argv[i], nullptr, 10);
    }
  }
  return options;
}

// The earlier corpus, drawn in order from the seed.
void DrawEarlierCases(const Options& options, const Pools& pools, std::vector<Case>& cases) {
  const std::array<std::vector<fs::path>, 4> kinds = {
      SizedBetween({&pools.programs}, 0, kMaxWhole), SizedBetween({&pools.libraries}, 0, kMaxWhole),
      SizedBetween({&pools.documents}, 0, kMaxWhole), SizedBetween({&pools.scripts}, 0, kMaxWhole)};
  const std::vector<fs::path> hosts =
      SizedBetween({&pools.programs, &pools.libraries}, kMinHost, kMaxHost);
  std::mt19937_64 rng(options.seed);
  for (int i = 0; i < options.cases_a; ++i) {
    Case c;
    c.group = static_cast<size_t>(i) % kinds.size();
    const auto& pool = kinds[c.group];
    if (pool.empty()) continue;
    c.paths = {pool[rng() % pool.size()]};
    c.algorithm = (i / static_cast<int>(kinds.size())) % 3;
    c.key = 1 + static_cast<int>(rng() % 255);
    cases.push_back(std::move(c));
  }
  SecretMaker secrets(rng);
  for (int i = 0; i < options.cases_b; ++i) {
    Case c;
    c.part = kSecret;
    c.group = i % 2 == 0 && !hosts.empty() ? 0 : 1;
    if (c.group == 0) {
      c.paths = {hosts[rng() % hosts.size()]};
    } else {
      c.source = Case::Source::kRandom;
      c.size = (1u << 20) + rng() % (4u << 20);
      c.data_seed = rng();
    }
    c.algorithm = (i / 2) % 3;
    c.key = 1 + static_cast<int>(rng() % 255);
    c.secrets = {secrets.Make()};
    c.wheres = {rng()};
    cases.push_back(std::move(c));
  }
}

// The harder corpus: --hard cases of each kind (a third as many three-secret binaries, which
// are the largest), each kind drawn from a stream of its own so that its cases stay the same
// whatever the others' counts.
void DrawHarderCases(const Options& options, const Pools& pools, std::vector<Case>& cases) {
  const std::vector<fs::path> binaries =
      SizedBetween({&pools.programs, &pools.libraries}, kMinShortHost, kMaxShortHost);
  const std::vector<fs::path> parts =
      SizedBetween({&pools.programs, &pools.libraries}, kMinShortHost, kMaxJoinedPart);
  const std::array<const std::vector<fs::path>*, 2> in_text = {&pools.licences,
                                                               &pools.texts_scripts};
  const std::array<const std::vector<fs::path>*, 2> compressed = {&pools.doc_gz, &pools.man_gz};
  const std::vector<fs::path> html = SizedBetween({&pools.html}, 0, kMaxWhole);
  const std::vector<fs::path> json = SizedBetween({&pools.json}, 1024, kMaxWhole);
  const std::vector<fs::path> python = SizedBetween({&pools.python}, 2048, kMaxWhole);
  const std::vector<fs::path> man_pages = SizedBetween({&pools.man_pages}, 1024, kMaxWhole);
  const std::array<const std::vector<fs::path>*, 5> typed = {&html, &json, nullptr, &python,
                                                             &man_pages};
  // XOR8, ADD8 and SUB8 in turn; where wide text fits (binaries and random bytes), every
  // seventh case is XOR8W.
  auto algorithm_of = [](int i, bool wide) {
    if (wide && i % 7 == 6) return kXor8W;
    return std::array{kXor8, kAdd8, kSub8}[(wide ? i - i / 7 : i) % 3];
  };
  for (int part = kShort; part < kParts; ++part) {
    std::mt19937_64 rng(options.seed * 0x9E3779B97F4A7C15ULL + static_cast<uint64_t>(part));
    ShortSecretMaker short_secrets(rng);
    SecretMaker long_secrets(rng);
    const int count = part == kThreeSecrets ? (options.cases_hard + 2) / 3 : options.cases_hard;
    for (int i = 0; i < count; ++i) {
      Case c;
      c.part = static_cast<Part>(part);
      const bool wide = part == kShort || part == kThreeSecrets;
      c.algorithm = algorithm_of(i, wide);
      int secrets = 1;
      switch (part) {
        case kShort:
          c.group = static_cast<size_t>(i) % 2;
          if (c.group == 0 && !binaries.empty()) {
            c.paths = {binaries[rng() % binaries.size()]};
          } else {
            c.group = 1;
            c.source = Case::Source::kRandom;
            c.size = kMinShortHost + rng() % (kMaxShortHost - kMinShortHost);
            c.data_seed = rng();
          }
          break;
        case kInText:
        case kCompressed: {
          c.group = static_cast<size_t>(i) % 2;
          const auto& pool = part == kInText ? *in_text[c.group] : *compressed[c.group];
          if (pool.empty()) continue;
          c.paths = {pool[rng() % pool.size()]};
          break;
        }
        case kThreeSecrets: {
          if (parts.empty()) continue;
          uintmax_t total = 0;
          while (total < kJoinedSize) {
            c.paths.push_back(parts[rng() % parts.size()]);
            total += fs::file_size(c.paths.back());
          }
          c.size = kJoinedSize;
          secrets = 3;
          break;
        }
        default: {
          c.group = static_cast<size_t>(i) % typed.size();
          secrets = 0;
          if (typed[c.group] == nullptr) {
            c.source = Case::Source::kCsv;
            c.data_seed = rng();
          } else {
            const auto& pool = *typed[c.group];
            if (pool.empty()) continue;
            c.paths = {pool[rng() % pool.size()]};
            if (typed[c.group] == &man_pages) c.source = Case::Source::kGzip;
          }
          break;
        }
      }
      c.key = 1 + static_cast<int>(rng() % 255);
      for (int s = 0; s < secrets; ++s) {
        // Kind (1) is all short secrets; the others mix short ones with those of (b).
        c.secrets.push_back(part == kShort || rng() % 2 ? short_secrets.Make()
                                                        : long_secrets.Make());
        c.wheres.push_back(rng());
      }
      cases.push_back(std::move(c));
    }
  }
}

void RunCases(std::vector<Case>& cases, const Options& options, const std::string& dir) {
  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  std::exception_ptr failure;
  std::mutex failure_mutex;
  for (unsigned t = 0; t < options.threads; ++t) {
    workers.emplace_back([&, t] {
      const std::string input = dir + "/case" + std::to_string(t) + ".bin";
      try {
        for (size_t i; (i = next++) < cases.size();) RunCase(cases[i], i, input, options);
      } catch (...) {
        std::lock_guard lock(failure_mutex);
        failure = std::current_exception();
        next = cases.size();
      }
      std::error_code ignored;
      fs::remove(input, ignored);
    });
  }
  for (std::thread& worker : workers) worker.join();
  if (failure) std::rethrow_exception(failure);
}

constexpr std::array<const char*, 5> kStringBuckets = {
    "file's strings < 100", "file's strings 100..999", "file's strings 1k..10k",
    "file's strings 10k..100k", "file's strings >= 100k"};

size_t StringBucket(uint64_t strings) {
  size_t bucket = 0;
  for (uint64_t limit = 100; bucket + 1 < kStringBuckets.size() && strings >= limit; limit *= 10) {
    ++bucket;
  }
  return bucket;
}

// Prints the hit rates of every part: by group and algorithm, and for the harder corpus by the
// plain file's number of strings too.
void PrintTallies(const std::vector<Case>& cases) {
  std::array<Tally, kParts> overview;
  for (int part = 0; part < kParts; ++part) {
    const PartInfo& info = PartInfos()[part];
    Tally& all = overview[part];
    std::vector<Tally> by_group(info.groups.size()), by_algorithm(Algorithms.size());
    std::array<Tally, kStringBuckets.size()> by_strings;
    for (const Case& c : cases) {
      if (c.part != part) continue;
      for (Tally* tally : {&all, &by_group[c.group], &by_algorithm[c.algorithm],
                           &by_strings[StringBucket(c.plain_strings)]}) {
        tally->Add(c.score_hit, c.count_hit, c.seconds);
      }
    }
    if (all.cases == 0) continue;
    std::printf("%s%s\n", part == kWhole ? "" : "\n", info.title);
    all.Print("all");
    for (size_t g = 0; g < info.groups.size(); ++g) by_group[g].Print(info.groups[g]);
    for (size_t a = 0; a < Algorithms.size(); ++a) by_algorithm[a].Print(Algorithms[a].Name);
    if (part >= kShort) {
      for (size_t b = 0; b < by_strings.size(); ++b) by_strings[b].Print(kStringBuckets[b]);
    }
    for (const Case& c : cases) {
      if (c.part == part) std::printf("%s", c.listing.c_str());
    }
  }
  std::printf("\noverview: the cases whose key ranks where it should\n");
  for (int part = 0; part < kParts; ++part) overview[part].Print(PartInfos()[part].name);
}
// The kind of file around a case's strings, for the wrong keys: random bytes, binaries, text
// (documents, scripts, HTML, JSON, CSV, Python, man pages) or compressed files.
enum HostKind { kRandomHost, kBinaryHost, kTextHost, kCompressedHost, kHostKinds };

HostKind HostOf(const Case& c) {
  if (c.source == Case::Source::kRandom) return kRandomHost;
  switch (c.part) {
    case kWhole:
      return c.group < 2 ? kBinaryHost : kTextHost;
    case kSecret:
    case kShort:
    case kThreeSecrets:
      return kBinaryHost;
    case kCompressed:
      return kCompressedHost;
    default:
      return kTextHost;
  }
}

// One line of a population of scores: its quantiles and its share in each band.
void PrintScores(const char* name, std::vector<double> scores) {
  if (scores.empty()) return;
  std::sort(scores.begin(), scores.end());
  auto at = [&](double q) { return scores[static_cast<size_t>(q * (scores.size() - 1) + 0.5)]; };
  int in_band[3] = {};
  for (const double score : scores) ++in_band[static_cast<int>(BandOf(score))];
  const double n = static_cast<double>(scores.size());
  std::printf("  %-36s %5zu %6.1f %6.1f %6.1f %6.1f %6.1f %7.1f   %5.1f%% %5.1f%% %5.1f%%\n", name,
              scores.size(), at(0.01), at(0.1), at(0.5), at(0.9), at(0.99), scores.back(),
              100.0 * in_band[static_cast<int>(ScoreBand::kNoise)] / n,
              100.0 * in_band[static_cast<int>(ScoreBand::kMaybe)] / n,
              100.0 * in_band[static_cast<int>(ScoreBand::kText)] / n);
}

void PrintBands(const std::vector<Case>& cases) {
  std::printf("\nscore bands: noise below %s, text from %s\n", ScoreText(kMaybeScore).c_str(),
              ScoreText(kTextScore).c_str());
  std::printf("  %-36s %5s %6s %6s %6s %6s %6s %7s   %6s %6s %6s\n", "", "cases", "1%", "10%",
              "median", "90%", "99%", "max", "noise", "maybe", "text");
  const char* const kHostNames[kHostKinds] = {"random bytes", "binaries", "text files",
                                              "compressed files"};
  std::vector<double> secrets, whole;
  std::array<std::vector<double>, kHostKinds> wrong, apart;
  std::vector<double> wrong_all, apart_all;
  for (const Case& c : cases) {
    (c.secrets.empty() ? whole : secrets).push_back(c.true_score);
    wrong[HostOf(c)].push_back(c.wrong_score);
    apart[HostOf(c)].push_back(c.wrong_apart_score);
    wrong_all.push_back(c.wrong_score);
    apart_all.push_back(c.wrong_apart_score);
  }
  PrintScores("true key: hidden secrets", secrets);
  PrintScores("true key: whole files", whole);
  for (int kind = 0; kind < kHostKinds; ++kind) {
    PrintScores(("best wrong key: " + std::string(kHostNames[kind])).c_str(), wrong[kind]);
  }
  PrintScores("best wrong key: all", wrong_all);
  for (int kind = 0; kind < kHostKinds; ++kind) {
    PrintScores(("  but case twins: " + std::string(kHostNames[kind])).c_str(), apart[kind]);
  }
  PrintScores("  but case twins: all", apart_all);
}

}  // namespace
}  // namespace veskor::bench

int main(int argc, char** argv) {
  using namespace veskor::bench;
  const Options options = ParseOptions(argc, argv);
  veskor::FillAlgorithms();
  const auto start = std::chrono::steady_clock::now();
  const Pools pools = FindFiles(kMaxHost);
  std::printf(
      "rank_bench: %d + %d cases and %d per harder kind (a third of that in (4)), seed %llu, %u "
      "threads; files: %zu "
      "programs, %zu libraries, %zu documents, %zu scripts; %zu licences, %zu scripts of "
      "/usr/bin and /usr/share, %zu + %zu compressed, %zu HTML, %zu JSON, %zu Python, %zu man\n",
      options.cases_a, options.cases_b, options.cases_hard,
      static_cast<unsigned long long>(options.seed), options.threads, pools.programs.size(),
      pools.libraries.size(), pools.documents.size(), pools.scripts.size(), pools.licences.size(),
      pools.texts_scripts.size(), pools.doc_gz.size(), pools.man_gz.size(), pools.html.size(),
      pools.json.size(), pools.python.size(), pools.man_pages.size());
  std::printf(
      "as `veskor-scan --algo ALGO --alphabet-file printable --summary FILE` ranks: printable "
      "preset (tab and 32..126), MinLength 7, keys 1..255\n\n");

  std::vector<Case> cases;
  DrawEarlierCases(options, pools, cases);
  DrawHarderCases(options, pools, cases);
  const std::string folder = MakeCaseFolder("rank_bench");
  try {
    RunCases(cases, options, folder);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rank_bench: %s\n", e.what());
    fs::remove_all(folder);
    return 1;
  }
  fs::remove_all(folder);
  PrintTallies(cases);
  if (options.bands) PrintBands(cases);

  uint64_t file_bytes = 0, string_bytes = 0;
  for (const Case& c : cases) {
    file_bytes += c.file_bytes;
    string_bytes += c.string_bytes;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("\n%.1f MiB searched, %.1f MiB of strings summarized, %.0f s\n\n",
              file_bytes / 1048576.0, string_bytes / 1048576.0, seconds);
  std::printf("text score speed (one thread)\n");
  MeasureSpeed(pools);
  return 0;
}

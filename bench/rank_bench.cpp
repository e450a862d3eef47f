// How well the text score ranks the keys of an all-keys search, on real files of this machine:
// (a) whole files stored under a key, (b) short secrets hidden under a key in binaries and in
// random bytes; both beside ranking by the number of strings. Also the text score's speed.
//
//   build/bench/rank_bench [cases (a)] [cases (b)] [seed] [--threads=N] [--list]
//                                                      (defaults 400, 200, 1, 2 threads)
//
// --list prints every case whose key the score does not rank well enough. The seconds beside
// each figure add up the cases' search times (the threads run cases side by side).
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/score/key_summary.h"
#include "engine/score/text_score.h"
#include "engine/search/line_maker.h"
#include "engine/search/row_search.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

// Scores every accepted string into the row's summary and makes no line; a long text is scored
// in the pieces it arrives in.
class ScoringLines : public LineMaker {
 public:
  // Written under the lock by the search's workers; read once the search has ended.
  mutable RowSummary row;
  mutable uint64_t scored_bytes = 0;

  bool Matches(std::string_view, const std::atomic<bool>&,
               const std::function<void()>&) const override {
    return true;
  }
  void AppendLine(LineBuffer&, int32_t key, int32_t, int64_t position,
                  std::string_view text) const override {
    Add(key, position, text.size(), text, TextScore(text));
  }
  void WriteLine(ByteSink&, int32_t key, int32_t, int64_t position,
                 const LongText& text) const override {
    struct Scoring : ByteSink {
      TextScorer scorer;
      std::string prefix;
      void Write(std::string_view piece) override {
        scorer.Feed(piece);
        prefix.append(piece.substr(0, KeySummary::kTextBytes - prefix.size()));
      }
    } sink;
    text.WriteTo(text.size(), sink);
    Add(key, position, text.size(), sink.prefix, sink.scorer.Score());
  }

 private:
  void Add(int32_t key, int64_t position, uint64_t length, std::string_view prefix,
           float score) const {
    std::lock_guard lock(mutex_);
    row.Add(key, static_cast<uint64_t>(position), length, prefix, score);
    scored_bytes += length;
  }

  mutable std::mutex mutex_;
};

// The search's other services: nothing to write, show or process.
class QuietServices : public ScanServices {
 public:
  void Write(std::string_view) override {}
  void SetProgress(int) override {}
  void ProcessEvents() override {}
};

SearchFields PrintableFields() {
  SearchFields fields;
  fields.Alphabet = "\t";
  for (int c = 32; c <= 126; ++c) fields.Alphabet += static_cast<char>(c);
  fields.MinLength = 7;
  return fields;
}

// Stores `plain` so that the algorithm decodes it back under `key`.
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
  RowSummary row;
};

// Searches every key and ranks `key` by score and by number of strings.
Ranks RankKey(const TAlgorithm& algorithm, const std::string& data, int key,
              uint64_t& scored_bytes) {
  QuietServices services;
  ScoringLines lines;
  TScanContext context =
      ContextOver(reinterpret_cast<const uint8_t*>(data.data()), data.size(), services, lines);
  context.SingleKey = false;
  ScanAllKeys(algorithm, PrintableFields(), context, [](int) { return true; });
  scored_bytes += lines.scored_bytes;
  Ranks ranks;
  const std::vector<int> ranking = lines.row.Ranking();
  const auto at = std::find(ranking.begin(), ranking.end(), key);
  ranks.by_score = at == ranking.end() ? 0 : static_cast<int>(at - ranking.begin()) + 1;
  std::vector<int> by_count = ranking;
  std::stable_sort(by_count.begin(), by_count.end(), [&](int a, int b) {
    if (lines.row[a].Count() != lines.row[b].Count()) {
      return lines.row[a].Count() > lines.row[b].Count();
    }
    return a < b;
  });
  const auto at_count = std::find(by_count.begin(), by_count.end(), key);
  ranks.by_count =
      at_count == by_count.end() ? 0 : static_cast<int>(at_count - by_count.begin()) + 1;
  ranks.row = std::move(lines.row);
  return ranks;
}

bool IsElf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  in.read(magic, 4);
  return in && std::memcmp(magic,
                           "\x7F"
                           "ELF",
                           4) == 0;
}

bool IsScript(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[2] = {};
  in.read(magic, 2);
  return in && magic[0] == '#' && magic[1] == '!';
}

// Plain text: no zero bytes and mostly printable in its first 4 KiB.
bool IsPlainText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  char head[4096];
  in.read(head, sizeof(head));
  const std::streamsize n = in.gcount();
  if (n < 256) return false;
  int printable = 0;
  for (std::streamsize i = 0; i < n; ++i) {
    const uint8_t c = static_cast<uint8_t>(head[i]);
    if (c == 0) return false;
    printable += (c >= 32 && c < 127) || c == '\n' || c == '\t' || c == '\r';
  }
  return printable > n * 95 / 100;
}

struct Pools {
  std::vector<fs::path> programs, libraries, documents, scripts;
};

// Regular files (not links) of `root` between the sizes, in name order, at most `limit` looked at.
std::vector<fs::path> FilesUnder(const fs::path& root, uintmax_t min_size, uintmax_t max_size,
                                 size_t limit) {
  std::vector<fs::path> files;
  std::error_code error;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
  size_t seen = 0;
  for (; !error && it != fs::recursive_directory_iterator() && seen < limit; it.increment(error)) {
    ++seen;
    const fs::directory_entry& entry = *it;
    if (entry.is_symlink(error) || !entry.is_regular_file(error)) continue;
    const uintmax_t size = entry.file_size(error);
    if (!error && size >= min_size && size <= max_size) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

Pools FindFiles(uintmax_t max_size) {
  Pools pools;
  for (const fs::path& p : FilesUnder("/usr/bin", 4096, max_size, 100000)) {
    if (IsElf(p))
      pools.programs.push_back(p);
    else if (IsScript(p))
      pools.scripts.push_back(p);
  }
  for (const fs::path& p : FilesUnder("/usr/lib", 4096, max_size, 200000)) {
    if (IsElf(p))
      pools.libraries.push_back(p);
    else if (IsScript(p))
      pools.scripts.push_back(p);
  }
  for (const fs::path& p : FilesUnder("/usr/share/doc", 2048, max_size, 100000)) {
    if (p.extension() != ".gz" && IsPlainText(p)) pools.documents.push_back(p);
  }
  return pools;
}

std::string ReadFile(const fs::path& path, size_t max_bytes) {
  std::ifstream in(path, std::ios::binary);
  std::string data(max_bytes, '\0');
  in.read(data.data(), static_cast<std::streamsize>(max_bytes));
  data.resize(static_cast<size_t>(in.gcount()));
  return data;
}

// Secrets of 30 to 60 bytes of several kinds, from word lists of their own.
class SecretMaker {
 public:
  explicit SecretMaker(std::mt19937_64& rng) : rng_(rng) {}

  std::string Make() {
    for (;;) {
      std::string secret;
      switch (rng_() % 6) {
        case 0:
          secret = "https://" + Pick(kHosts) + "." + Pick(kTlds) + "/" + Pick(kWords) + "/" +
                   Pick(kWords) + Digits(3) + "." + Pick(kExtensions);
          break;
        case 1:
          secret = std::string(rng_() % 2 ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER") +
                   "\\Software\\" + Capital(Pick(kWords)) + "\\" + Capital(Pick(kWords)) + "\\" +
                   Capital(Pick(kWords));
          break;
        case 2:
          secret = Pick(kCommands) + " --" + Pick(kWords) + " -" + Letter() + " /opt/" +
                   Pick(kWords) + "/" + Pick(kWords) + "." + Pick(kExtensions);
          break;
        case 3: {
          secret = Capital(Pick(kWords));
          while (secret.size() < 40) {
            secret += ' ';
            secret += Pick(kSmallWords);
            secret += ' ';
            secret += Pick(kWords);
          }
          secret += ".";
          break;
        }
        case 4:
          secret = "C:\\Users\\" + Capital(Pick(kWords)) + "\\AppData\\" + Capital(Pick(kWords)) +
                   "\\" + Pick(kWords) + "." + Pick(kExtensions);
          break;
        default:
          secret = "password for " + Pick(kWords) + "." + Pick(kHosts) + "." + Pick(kTlds) +
                   " is " + Capital(Pick(kWords)) + Digits(4);
          break;
      }
      if (secret.size() >= 30 && secret.size() <= 60) return secret;
    }
  }

 private:
  static constexpr const char* kWords[] = {
      "harvest", "lantern", "orchid",  "granite", "meadow",  "velvet",   "compass", "thunder",
      "saddle",  "pebble",  "willow",  "falcon",  "cobalt",  "juniper",  "marble",  "tundra",
      "quiver",  "ember",   "walnut",  "glacier", "hammock", "mosaic",   "nectar",  "orbit",
      "paddock", "quartz",  "riddle",  "sparrow", "timber",  "umbrella", "voyage",  "wander",
      "yonder",  "zephyr",  "anchor",  "blossom", "candle",  "dagger",   "emerald", "furnace",
      "gallery", "horizon", "invoice", "jacket",  "kettle",  "ladder",   "mirror",  "needle",
      "pigeon",  "rocket",  "shelter", "tractor", "village", "whistle",  "kingdom", "puzzle"};
  static constexpr const char* kSmallWords[] = {"and",  "the",  "of",   "with", "near", "under",
                                                "over", "into", "from", "for",  "by",   "after"};
  static constexpr const char* kHosts[] = {"northwind",  "bluepeak", "silverline", "redbrook",
                                           "greenfield", "ironwood", "brightstar", "oakridge"};
  static constexpr const char* kTlds[] = {"com", "net", "org", "io", "de", "co.uk"};
  static constexpr const char* kExtensions[] = {"zip", "exe", "dat", "txt", "cfg", "bin", "pdf"};
  static constexpr const char* kCommands[] = {"rsync", "openssl", "scp", "wget", "tar", "dd"};

  template <size_t N>
  std::string Pick(const char* const (&words)[N]) {
    return words[rng_() % N];
  }
  static std::string Capital(std::string word) {
    word[0] = static_cast<char>(word[0] - 'a' + 'A');
    return word;
  }
  std::string Digits(int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += static_cast<char>('0' + rng_() % 10);
    return out;
  }
  char Letter() { return static_cast<char>('a' + rng_() % 26); }

  std::mt19937_64& rng_;
};

struct Tally {
  int cases = 0, score_hits = 0, count_hits = 0;
  double seconds = 0;
  void Add(bool score_hit, bool count_hit, double case_seconds) {
    ++cases;
    score_hits += score_hit;
    count_hits += count_hit;
    seconds += case_seconds;
  }
  void Print(const char* name) const {
    if (cases == 0) return;
    std::printf("  %-30s %4d cases   score %6.1f%%   count %6.1f%%   %5.0f s\n", name, cases,
                100.0 * score_hits / cases, 100.0 * count_hits / cases, seconds);
  }
};

// A case whose key the score did not rank well enough: the key's best strings and the three
// keys ranked first.
std::string Describe(const std::string& name, const TAlgorithm& algorithm, int key,
                     const Ranks& ranks, const std::string& secret) {
  std::string out;
  char line[512];
  std::snprintf(line, sizeof(line), "    %s %s key %d: rank %d by score (%.1f), %d by count %s\n",
                name.c_str(), algorithm.Name.c_str(), key, ranks.by_score, ranks.row[key].Score(),
                ranks.by_count, secret.c_str());
  out += line;
  for (const BestString& best : ranks.row[key].Best()) {
    std::snprintf(line, sizeof(line), "      its best %.1f \"%s\"\n", best.score,
                  best.text.substr(0, 60).c_str());
    out += line;
  }
  const std::vector<int> ranking = ranks.row.Ranking();
  for (size_t i = 0; i < std::min<size_t>(3, ranking.size()); ++i) {
    const KeySummary& summary = ranks.row[ranking[i]];
    const std::string best = summary.Best().empty() ? "" : summary.Best()[0].text.substr(0, 60);
    std::snprintf(line, sizeof(line), "      key %3d score %7.1f count %6llu best %.1f \"%s\"\n",
                  ranking[i], summary.Score(), static_cast<unsigned long long>(summary.Count()),
                  summary.Best().empty() ? 0.0 : summary.Best()[0].score, best.c_str());
    out += line;
  }
  return out;
}

// One case of either part, drawn before the search so that the threads share nothing.
struct Case {
  bool whole = true;           // (a); otherwise (b)
  size_t group = 0;            // (a): the kind of file; (b): 0 in a binary, 1 in random bytes
  std::filesystem::path path;  // empty for random bytes
  size_t random_size = 0;
  uint64_t data_seed = 0;
  int algorithm = 0;
  int key = 0;
  std::string secret;
  uint64_t where = 0;  // the secret's offset, modulo the room the host leaves
  // Results.
  bool score_hit = false, count_hit = false;
  double seconds = 0;
  uint64_t file_bytes = 0, scored_bytes = 0;
  std::string listing;
};

void RunCase(Case& c, size_t max_bytes, bool list) {
  const TAlgorithm& algorithm = Algorithms[c.algorithm];
  std::string data;
  if (!c.path.empty()) {
    data = ReadFile(c.path, max_bytes);
  } else {
    std::mt19937_64 rng(c.data_seed);
    data.resize(c.random_size);
    for (size_t j = 0; j + 8 <= data.size(); j += 8) {
      const uint64_t v = rng();
      std::memcpy(&data[j], &v, 8);
    }
  }
  if (c.whole) {
    Encode(algorithm, static_cast<uint8_t>(c.key), data.data(), data.size());
  } else {
    std::string secret = c.secret;
    Encode(algorithm, static_cast<uint8_t>(c.key), secret.data(), secret.size());
    data.replace(c.where % (data.size() - secret.size()), secret.size(), secret);
  }
  c.file_bytes = data.size();
  const auto start = std::chrono::steady_clock::now();
  const Ranks ranks = RankKey(algorithm, data, c.key, c.scored_bytes);
  c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int top = c.whole ? 1 : 3;
  c.score_hit = ranks.by_score >= 1 && ranks.by_score <= top;
  c.count_hit = ranks.by_count >= 1 && ranks.by_count <= top;
  if (list && !c.score_hit) {
    const std::string name =
        c.path.empty() ? "random " + std::to_string(data.size()) : c.path.string();
    c.listing = Describe(name, algorithm, c.key, ranks, c.secret);
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

struct Options {
  int cases_a = 400, cases_b = 200;
  uint64_t seed = 1;
  bool list = false;
  unsigned threads = 2;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--list") == 0) {
      options.list = true;
    } else if (std::strncmp(argv[i], "--threads=", 10) == 0) {
      options.threads = std::max(1, std::atoi(argv[i] + 10));
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

// Whole files of up to 1 MiB; binaries of 256 KiB to 5 MiB hold secrets, as random bytes of
// 1 to 5 MiB do.
constexpr size_t kMaxWhole = 1u << 20;
constexpr size_t kMinHost = 256u << 10, kMaxHost = 5u << 20;

using Kinds = std::vector<std::pair<const char*, std::vector<fs::path>>>;

Kinds WholeFileKinds(const Pools& pools) {
  auto small = [&](const std::vector<fs::path>& pool) {
    std::vector<fs::path> files;
    for (const auto& p : pool) {
      if (fs::file_size(p) <= kMaxWhole) files.push_back(p);
    }
    return files;
  };
  return {{"programs (/usr/bin)", small(pools.programs)},
          {"libraries (/usr/lib)", small(pools.libraries)},
          {"documents (/usr/share/doc)", small(pools.documents)},
          {"scripts", small(pools.scripts)}};
}

std::vector<fs::path> SecretHosts(const Pools& pools) {
  std::vector<fs::path> hosts;
  for (const auto* pool : {&pools.programs, &pools.libraries}) {
    for (const auto& p : *pool) {
      if (fs::file_size(p) >= kMinHost) hosts.push_back(p);
    }
  }
  return hosts;
}

// Every case is drawn first, in order, from the seed.
std::vector<Case> DrawCases(const Options& options, const Kinds& kinds,
                            const std::vector<fs::path>& hosts) {
  std::mt19937_64 rng(options.seed);
  std::vector<Case> cases;
  for (int i = 0; i < options.cases_a; ++i) {
    Case c;
    c.group = static_cast<size_t>(i) % kinds.size();
    const auto& pool = kinds[c.group].second;
    if (pool.empty()) continue;
    c.path = pool[rng() % pool.size()];
    c.algorithm = (i / static_cast<int>(kinds.size())) % 3;
    c.key = 1 + static_cast<int>(rng() % 255);
    cases.push_back(std::move(c));
  }
  SecretMaker secrets(rng);
  for (int i = 0; i < options.cases_b; ++i) {
    Case c;
    c.whole = false;
    c.group = i % 2 == 0 && !hosts.empty() ? 0 : 1;
    if (c.group == 0) {
      c.path = hosts[rng() % hosts.size()];
    } else {
      c.random_size = (1u << 20) + rng() % (4u << 20);
      c.data_seed = rng();
    }
    c.algorithm = (i / 2) % 3;
    c.key = 1 + static_cast<int>(rng() % 255);
    c.secret = secrets.Make();
    c.where = rng();
    cases.push_back(std::move(c));
  }
  return cases;
}

void RunCases(std::vector<Case>& cases, unsigned threads, bool list) {
  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      for (size_t i; (i = next++) < cases.size();) {
        RunCase(cases[i], cases[i].whole ? kMaxWhole : kMaxHost, list);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
}

// Prints the hit rates by kind and algorithm, and returns the bytes searched and scored.
std::pair<uint64_t, uint64_t> PrintTallies(const std::vector<Case>& cases, const Kinds& kinds) {
  Tally whole, hidden;
  std::vector<Tally> whole_by_kind(kinds.size()), whole_by_algorithm(3);
  std::vector<Tally> hidden_by_host(2), hidden_by_algorithm(3);
  uint64_t scored_bytes = 0, file_bytes = 0;
  for (const Case& c : cases) {
    scored_bytes += c.scored_bytes;
    file_bytes += c.file_bytes;
    const std::array<Tally*, 3> tallies =
        c.whole ? std::array<Tally*, 3>{&whole, &whole_by_kind[c.group],
                                        &whole_by_algorithm[c.algorithm]}
                : std::array<Tally*, 3>{&hidden, &hidden_by_host[c.group],
                                        &hidden_by_algorithm[c.algorithm]};
    for (Tally* tally : tallies) tally->Add(c.score_hit, c.count_hit, c.seconds);
    if (!c.listing.empty()) std::printf("%s", c.listing.c_str());
  }
  std::printf("(a) whole files under a random key: the true key ranks first\n");
  whole.Print("all");
  for (size_t k = 0; k < kinds.size(); ++k) whole_by_kind[k].Print(kinds[k].first);
  for (size_t a = 0; a < 3; ++a) whole_by_algorithm[a].Print(Algorithms[a].Name.c_str());
  std::printf("\n(b) a 30..60 byte secret under a random key: its key ranks in the top three\n");
  hidden.Print("all");
  hidden_by_host[0].Print("in binaries (stored plain)");
  hidden_by_host[1].Print("in random bytes");
  for (size_t a = 0; a < 3; ++a) hidden_by_algorithm[a].Print(Algorithms[a].Name.c_str());
  return {file_bytes, scored_bytes};
}

}  // namespace
}  // namespace veskor

int main(int argc, char** argv) {
  using namespace veskor;
  const Options options = ParseOptions(argc, argv);
  FillAlgorithms();
  const auto start = std::chrono::steady_clock::now();
  const Pools pools = FindFiles(kMaxHost);
  std::printf(
      "rank_bench: %d + %d cases, seed %llu, %u threads; files: %zu programs, %zu libraries, "
      "%zu documents, %zu scripts\n",
      options.cases_a, options.cases_b, static_cast<unsigned long long>(options.seed),
      options.threads, pools.programs.size(), pools.libraries.size(), pools.documents.size(),
      pools.scripts.size());
  std::printf("printable preset (tab and 32..126), MinLength 7, keys 1..255\n\n");

  const Kinds kinds = WholeFileKinds(pools);
  std::vector<Case> cases = DrawCases(options, kinds, SecretHosts(pools));
  RunCases(cases, options.threads, options.list);
  const auto [file_bytes, scored_bytes] = PrintTallies(cases, kinds);

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("\n%.1f MiB searched, %.1f MiB of strings scored, %.0f s\n\n", file_bytes / 1048576.0,
              scored_bytes / 1048576.0, seconds);
  std::printf("text score speed (one thread)\n");
  MeasureSpeed(pools);
  return 0;
}

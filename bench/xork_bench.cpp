// How well key recovery finds the repeating key (XORK) of seeded cases made of this machine's
// files, and how fast it reads a file.
//
//   build/bench/xork_bench [cases per kind] [seed] [--list] [--keep=DIR] [--max=N] [--kinds=ABC]
//                          [--search]
//   build/bench/xork_bench --file=PATH [--max=N] [--passes]
//
// --search: after the recovery, each case is searched as a run searches it, by an XORK row
// without a key and by an ANY row (printable alphabet, min 7, a summary and no lines), and the
// true key's place is counted in both rankings ("key top3", "ANY 1st", "ANY top3"); "row 1st"
// and "row top3" count it only with the planted URL of (A) and (B) among the 8 best strings the
// key's summary keeps; "URL in" counts the URL among the key's strings at all, "URL 8" and
// "URL 20" among its 8 and 20 best by text score.
//
// --file: the candidates of one file and the recovery's time; --passes also times, for each
// candidate, a pass that decodes the file in blocks under it (XorKeyStream) and finds the runs of
// the printable alphabet, at least 7 long (FindByteSpans): what searching a candidate costs at the
// least, before its strings are scored.
//
// (A) a program of /usr/bin (50 to 400 KiB) with a URL planted in its read-only data, encrypted
// whole under a random key of 2, 3, 4, 5, 7, 8, 12, 16, 24 or 32 bytes and stored at a random
// offset inside another program; (B) a configuration text of 1 to 4 KiB (key=value lines, URLs,
// a user agent) under a random key of 4 to 16 bytes inside a program; (C) a whole HTML, JSON or
// Python file (at most 256 KiB) under a random key of 2 to 32 bytes. A case is found when the true
// key, turned to the payload's offset, is among the candidates; its place is counted too. The
// same seed draws the same cases.
#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_corpus.h"
#include "engine/decoding/algorithms.h"
#include "engine/decoding/xor_key.h"
#include "engine/decoding/xor_key_stream.h"
#include "engine/recovery/key_recovery.h"
#include "engine/run/analysis_run.h"
#include "engine/score/text_score.h"
#include "engine/search/span_finder.h"

namespace veskor::bench {
namespace {

constexpr int kProgramPeriods[] = {2, 3, 4, 5, 7, 8, 12, 16, 24, 32};
constexpr size_t kMaxWhole = 256u << 10;
constexpr size_t kMinHost = 50u << 10, kMaxHost = 1u << 20;

struct Options {
  int cases = 100;
  uint64_t seed = 1;
  bool list = false;
  size_t max_candidates = RecoveryOptions{}.max_candidates;
  std::string kinds = "ABC";
  std::string file;
  std::string keep;
  bool passes = false;
  bool search = false;
};

// A random key of exactly n bytes (its shortest period is n).
XorKey RandomKey(std::mt19937_64& rng, size_t n) {
  for (;;) {
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    const std::optional<XorKey> key = XorKey::Of(bytes);
    if (key && key->size() == n) return *key;
  }
}

void Encode(std::string& data, size_t from, size_t length, const XorKey& key) {
  for (size_t t = 0; t < length; ++t)
    data[from + t] = static_cast<char>(data[from + t] ^ key.At(t));
}

// The file offset and size of a program's read-only data, or nothing.
bool ReadOnlyData(const std::string& elf, uint64_t& offset, uint64_t& size) {
  if (elf.size() < sizeof(Elf64_Ehdr) || elf[4] != ELFCLASS64) return false;
  Elf64_Ehdr header;
  std::memcpy(&header, elf.data(), sizeof header);
  const uint64_t table = header.e_shoff;
  if (header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shstrndx >= header.e_shnum ||
      table + uint64_t{header.e_shnum} * sizeof(Elf64_Shdr) > elf.size()) {
    return false;
  }
  auto section = [&](size_t i) {
    Elf64_Shdr s;
    std::memcpy(&s, elf.data() + table + i * sizeof s, sizeof s);
    return s;
  };
  const Elf64_Shdr names = section(header.e_shstrndx);
  for (size_t i = 0; i < header.e_shnum; ++i) {
    const Elf64_Shdr s = section(i);
    const uint64_t name = names.sh_offset + s.sh_name;
    if (name + 8 > elf.size() || std::strcmp(elf.data() + name, ".rodata") != 0) continue;
    if (s.sh_type == SHT_NOBITS || s.sh_offset + s.sh_size > elf.size()) return false;
    offset = s.sh_offset;
    size = s.sh_size;
    return true;
  }
  return false;
}

class ConfigMaker : public Draw {
 public:
  explicit ConfigMaker(std::mt19937_64& rng) : Draw(rng) {}

  std::string Url() {
    return Cat({Below(3) ? "https://" : "http://", Pick(kHosts), ".", Pick(kTlds),
                Below(3) ? "" : Cat({":", std::to_string(1024 + Below(60000))}), "/", Pick(kWords),
                "/", Pick(kWords), Digits(2), ".", Pick(kExtensions)});
  }
  std::string UserAgent() {
    switch (Below(3)) {
      case 0:
        return Cat(
            {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
             "Gecko) Chrome/",
             std::to_string(100 + Below(30)), ".0.", Digits(4), ".", Digits(2), " Safari/537.36"});
      case 1:
        return Cat({"Mozilla/5.0 (X11; Linux x86_64; rv:", std::to_string(90 + Below(40)),
                    ".0) Gecko/20100101 Firefox/", std::to_string(90 + Below(40)), ".0"});
      default:
        return Cat({"Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1; Trident/4.0; .NET CLR ",
                    Digits(1), ".", Digits(1), ".", Digits(5), ")"});
    }
  }
  std::string Line() {
    switch (Below(12)) {
      case 0:
        return Cat({Pick(kWords), "_url=", Url()});
      case 1:
        return Cat({"user_agent=", UserAgent()});
      case 2:
        return Cat({Pick(kWords), "_interval=", std::to_string(Below(86400))});
      case 3:
        return Cat({"id=", Hex(16 + static_cast<int>(Below(17)))});
      case 4:
        return Cat({Pick(kUsers), "_", Pick(kCredentialNames), "=", Capital(Pick(kWords)),
                    Pick(kSymbols), Digits(3)});
      case 5:
        return Cat({"install_dir=C:\\Users\\", Capital(Pick(kWords)), "\\AppData\\Roaming\\",
                    Capital(Pick(kWords))});
      case 6:
        return Cat({"mutex=Global\\", Capital(Pick(kWords)), Pick(kLockWords), Digits(2)});
      case 7:
        return Cat({"[", Pick(kWords), "]"});
      case 8:
        return Cat({"# ", Capital(Pick(kWords)), " ", Pick(kSmallWords), " ", Pick(kWords)});
      case 9:
        return Cat({"host=", Pick(kHosts), ".", Pick(kTlds)});
      case 10:
        return Cat({"port=", std::to_string(1 + Below(65535))});
      default:
        return Cat({Pick(kWords), "=", Below(2) ? "true" : "false"});
    }
  }
  std::string Make(size_t size) {
    std::string text = Cat({"[", Pick(kWords), "]\n", "server=", Url(), "\n"});
    const char* end = Below(3) ? "\n" : "\r\n";
    while (text.size() < size) text += Line() + end;
    text.resize(size);
    return text;
  }
};

struct Case {
  char kind = 'A';
  int period = 0;
  std::string data;
  XorKey key = *XorKey::Of(std::vector<uint8_t>{1, 2});  // aligned to the file
  std::string name;
  std::string url;  // planted in (A) and (B)
  // Results
  int place = 0;  // 1-based; 0: not among the candidates
  size_t candidates = 0;
  double seconds = 0;
  // With --search: the true key's place in the XORK row's ranking (with the URL among its best
  // strings, where one was planted) and in ANY's (0: not ranked), and the seconds of both rows.
  int row_place = 0;
  int row_key_place = 0;  // the true key's place, whatever its best strings
  int url_rank = 0;       // the URL's string among the key's strings by score (1: the best)
  int any_place = 0;
  double search_seconds = 0;
};

Case MakeProgramCase(std::mt19937_64& rng, const std::vector<fs::path>& payloads,
                     const std::vector<fs::path>& hosts) {
  Case c;
  c.kind = 'A';
  const fs::path& source = payloads[rng() % payloads.size()];
  std::string payload = ReadFile(source, kMaxHost);
  ConfigMaker maker(rng);
  const std::string url = maker.Url();
  uint64_t at = 0, room = 0;
  if (!ReadOnlyData(payload, at, room) || room < url.size() + 1) {
    at = payload.size() / 2;
    room = payload.size() / 4;
  }
  const uint64_t where = at + rng() % (room - url.size());
  std::memcpy(&payload[where], url.c_str(), url.size() + 1);
  c.url = url;
  c.period = kProgramPeriods[rng() % std::size(kProgramPeriods)];
  const XorKey key = RandomKey(rng, static_cast<size_t>(c.period));
  Encode(payload, 0, payload.size(), key);
  const fs::path& host_path = hosts[rng() % hosts.size()];
  std::string host = ReadFile(host_path, kMaxHost);
  const uint64_t offset = rng() % (host.size() + 1);
  c.data = host.substr(0, offset) + payload + host.substr(offset);
  c.key = key.TurnedTo(offset);
  c.name = source.string() + " in " + host_path.string() + " at " + std::to_string(offset);
  return c;
}

Case MakeConfigCase(std::mt19937_64& rng, const std::vector<fs::path>& hosts) {
  Case c;
  c.kind = 'B';
  ConfigMaker maker(rng);
  std::string config = maker.Make(1024 + rng() % 3073);
  // The first line after the section's name: "server=" and a URL.
  const size_t server = config.find("server=") + 7;
  c.url = config.substr(server, config.find_first_of("\r\n", server) - server);
  c.period = 4 + static_cast<int>(rng() % 13);
  const XorKey key = RandomKey(rng, static_cast<size_t>(c.period));
  Encode(config, 0, config.size(), key);
  const fs::path& host_path = hosts[rng() % hosts.size()];
  std::string host = ReadFile(host_path, kMinHost + rng() % (kMaxHost - kMinHost));
  const uint64_t offset = rng() % (host.size() + 1);
  c.data = host.substr(0, offset) + config + host.substr(offset);
  c.key = key.TurnedTo(offset);
  c.name = std::to_string(config.size()) + " bytes of settings in " + host_path.string() + " at " +
           std::to_string(offset);
  return c;
}

Case MakeTextCase(std::mt19937_64& rng, const std::vector<const std::vector<fs::path>*>& kinds,
                  int index) {
  Case c;
  c.kind = 'C';
  const std::vector<fs::path>& pool = *kinds[static_cast<size_t>(index) % kinds.size()];
  const fs::path& source = pool[rng() % pool.size()];
  c.data = ReadFile(source, kMaxWhole);
  c.period = 2 + static_cast<int>(rng() % 31);
  c.key = RandomKey(rng, static_cast<size_t>(c.period));
  Encode(c.data, 0, c.data.size(), c.key);
  c.name = source.string();
  return c;
}

void Recover(Case& c, const Options& options) {
  RecoveryOptions recovery;
  recovery.max_candidates = options.max_candidates;
  const auto start = std::chrono::steady_clock::now();
  const std::vector<KeyCandidate> candidates =
      RecoverKeys(reinterpret_cast<const uint8_t*>(c.data.data()), c.data.size(), recovery);
  c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  c.candidates = candidates.size();
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (candidates[i].key == c.key) c.place = static_cast<int>(i + 1);
  }
  if (!options.keep.empty() && c.place != 1) {
    // Named so that --file can be run on it again by hand.
    static int kept = 0;
    const std::string path =
        options.keep + "/" + c.kind + std::to_string(++kept) + "-key" + c.key.Text() + ".bin";
    std::ofstream(path, std::ios::binary).write(c.data.data(), std::streamsize(c.data.size()));
  }
  if (options.list && c.place != 1) {
    std::printf("  %c n=%-2d place %d of %zu: %s key %s\n", c.kind, c.period, c.place, c.candidates,
                c.name.c_str(), c.key.Text().c_str());
    for (size_t i = 0; i < std::min<size_t>(candidates.size(), 4); ++i) {
      const KeyCandidate& k = candidates[i];
      std::printf("      %-66s leak %llu/%u text %llu/%u weight %.0f\n", k.key.Text().c_str(),
                  static_cast<unsigned long long>(k.leak_bytes), k.leak_places,
                  static_cast<unsigned long long>(k.text_bytes), k.text_places, k.weight);
    }
  }
}

// The place of the string that holds `url` among the strings of the printable alphabet (at
// least 7 long) of `data` under `key`, by their text score; 0 when no string holds it.
int UrlRank(const std::string& data, const XorKey& key, const std::string& url) {
  std::string decoded = data;
  for (size_t i = 0; i < decoded.size(); ++i)
    decoded[i] = static_cast<char>(decoded[i] ^ key.At(i));
  std::array<bool, 256> printable{};
  for (const char ch : PrintableAlphabet()) printable[static_cast<uint8_t>(ch)] = true;
  std::vector<float> scores;
  float url_score = -1;
  for (size_t i = 0; i < decoded.size();) {
    size_t end = i;
    while (end < decoded.size() && printable[static_cast<uint8_t>(decoded[end])]) ++end;
    if (end - i >= 7) {
      const std::string_view text(decoded.data() + i, end - i);
      scores.push_back(TextScore(text));
      if (text.find(url) != std::string_view::npos) url_score = scores.back();
    }
    i = end + 1;
  }
  if (url_score < 0) return 0;
  return 1 + static_cast<int>(std::count_if(scores.begin(), scores.end(),
                                            [&](float s) { return s > url_score; }));
}

// The runs' side of --search: no log, nothing said.
class QuietRun : public RunObserver {
 public:
  std::unique_ptr<LogSink> OpenLog(const RequestRow&, const std::string&) override {
    class NoLog : public LogSink {
      void Write(std::string_view) override {}
      void Close() override {}
    };
    return std::make_unique<NoLog>();
  }
  void RowFinished(const RequestRow&, const RowOutcome& outcome) override {
    outcomes.push_back(outcome);
  }
  std::vector<RowOutcome> outcomes;
};

// The case searched by an XORK row and an ANY row, from a file of its bytes in `folder`.
void Search(Case& c, const std::string& folder) {
  const std::string path = folder + "/case.bin";
  std::ofstream(path, std::ios::binary).write(c.data.data(), std::streamsize(c.data.size()));
  AnalysisRequest request;
  request.input = path;
  request.format = "%3d | %*d | %s";
  request.write_lines = false;
  for (const char* name : {"XORK", "ANY"}) {
    RequestRow row;
    row.row = static_cast<int>(request.rows.size());
    row.algorithm = row.algorithm_shown = name;
    row.preset = row.preset_shown = "printable";
    row.fields = SearchFields{PrintableAlphabet(), "", 7, 0};
    request.rows.push_back(row);
  }
  QuietRun run;
  const auto start = std::chrono::steady_clock::now();
  RunRequest(request, run);
  c.search_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::filesystem::remove(path);
  if (run.outcomes.size() != 2 || !run.outcomes[0].summary || !run.outcomes[1].summary) return;
  // XORK: the place of the true key, whose best strings must hold the planted URL.
  const RunSearch& xork = *run.outcomes[0].search;
  const std::vector<int> ranking = run.outcomes[0].summary->Ranking();
  for (size_t i = 0; i < ranking.size(); ++i) {
    const XorKey* key = xork.algorithm.XorKeyAt(ranking[i]);
    if (key == nullptr || *key != c.key) continue;
    bool shown = c.url.empty();
    for (const BestString& best : (*run.outcomes[0].summary)[ranking[i]].Best()) {
      shown = shown || best.text.find(c.url) != std::string::npos;
    }
    c.row_key_place = static_cast<int>(i + 1);
    if (shown) c.row_place = static_cast<int>(i + 1);
  }
  if (!c.url.empty()) c.url_rank = UrlRank(c.data, c.key, c.url);
  // ANY: the place of the true pair among every pair.
  const RunSearch& any = *run.outcomes[1].search;
  const std::vector<int> pairs = run.outcomes[1].summary->Ranking();
  for (size_t i = 0; i < pairs.size() && i < 20; ++i) {
    const TAlgorithm algorithm = KeyAlgorithmOf(any, pairs[i]);
    const XorKey* key = algorithm.XorKeyAt(RowSummary::PairKey(pairs[i]));
    if (algorithm.Repeating && key != nullptr && *key == c.key) {
      c.any_place = static_cast<int>(i + 1);
      break;
    }
  }
}

struct Tally {
  int cases = 0, found = 0, first = 0, top3 = 0;
  int row_first = 0, row_top3 = 0, any_first = 0, any_top3 = 0;
  int key_top3 = 0, url_found = 0, url_8 = 0, url_20 = 0;
  size_t candidates = 0;
  double seconds = 0, search_seconds = 0;
  void Add(const Case& c) {
    ++cases;
    found += c.place > 0;
    first += c.place == 1;
    top3 += c.place >= 1 && c.place <= 3;
    row_first += c.row_place == 1;
    row_top3 += c.row_place >= 1 && c.row_place <= 3;
    any_first += c.any_place == 1;
    any_top3 += c.any_place >= 1 && c.any_place <= 3;
    key_top3 += c.row_key_place >= 1 && c.row_key_place <= 3;
    url_found += c.url.empty() || c.url_rank >= 1;
    url_8 += c.url.empty() || (c.url_rank >= 1 && c.url_rank <= 8);
    url_20 += c.url.empty() || (c.url_rank >= 1 && c.url_rank <= 20);
    candidates += c.candidates;
    seconds += c.seconds;
    search_seconds += c.search_seconds;
  }
  void Print(const std::string& label, bool search) const {
    auto pct = [&](int n) { return cases ? 100.0 * n / cases : 0.0; };
    std::printf("  %-10s %5d  %6.1f%%  %6.1f%%  %6.1f%%  %6.1f  %8.2f", label.c_str(), cases,
                pct(found), pct(first), pct(top3), cases ? double(candidates) / cases : 0.0,
                cases ? 1000 * seconds / cases : 0.0);
    if (search) {
      std::printf("  %6.1f%%  %6.1f%%  %6.1f%%  %6.1f%%  %6.1f%%  %6.1f%%  %6.1f%%  %6.1f%%  %8.2f",
                  pct(key_top3), pct(row_first), pct(row_top3), pct(url_found), pct(url_8),
                  pct(url_20), pct(any_first), pct(any_top3), cases ? search_seconds / cases : 0.0);
    }
    std::printf("\n");
  }
};

int RunFile(const Options& options) {
  const int fd = ::open(options.file.c_str(), O_RDONLY);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size == 0) {
    std::fprintf(stderr, "xork_bench: cannot read %s\n", options.file.c_str());
    return 1;
  }
  const auto size = static_cast<uint64_t>(st.st_size);
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (map == MAP_FAILED) return 1;
  RecoveryOptions recovery;
  recovery.max_candidates = options.max_candidates;
  const auto start = std::chrono::steady_clock::now();
  const std::vector<KeyCandidate> candidates =
      RecoverKeys(static_cast<const uint8_t*>(map), size, recovery);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (const KeyCandidate& k : candidates) {
    std::printf("%-66s leak %llu/%u text %llu/%u at %llu weight %.0f\n", k.key.Text().c_str(),
                static_cast<unsigned long long>(k.leak_bytes), k.leak_places,
                static_cast<unsigned long long>(k.text_bytes), k.text_places,
                static_cast<unsigned long long>(k.first_offset), k.weight);
  }
  std::printf("%zu candidates of %llu bytes in %.3f s\n", candidates.size(),
              static_cast<unsigned long long>(size), seconds);
  if (options.passes) {
    const auto data = static_cast<const uint8_t*>(map);
    std::array<bool, 256> printable{};
    for (const char c : PrintableAlphabet()) printable[static_cast<uint8_t>(c)] = true;
    const ByteClass members(printable);
    constexpr size_t kBlock = 1 << 20;
    std::vector<uint8_t> block(kBlock);
    std::vector<Span> spans(1 << 16);
    uint64_t runs = 0;
    const auto passes_start = std::chrono::steady_clock::now();
    for (const KeyCandidate& k : candidates) {
      const XorKeyStream stream(k.key);
      for (uint64_t at = 0; at < size; at += kBlock) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(kBlock, size - at));
        stream.Decode(data + at, at, block.data(), length);
        SpanState state;
        while (state.pos < length) {
          runs +=
              FindByteSpans(block.data(), members, 7, length, state, spans.data(), spans.size());
        }
      }
    }
    const double pass_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - passes_start).count();
    std::printf("%zu passes (decode and runs of 7 printable) in %.3f s, %llu runs\n",
                candidates.size(), pass_seconds, static_cast<unsigned long long>(runs));
  }
  ::munmap(map, size);
  return 0;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--list") {
      options.list = true;
    } else if (arg.rfind("--max=", 0) == 0) {
      options.max_candidates = std::strtoull(arg.c_str() + 6, nullptr, 10);
    } else if (arg.rfind("--kinds=", 0) == 0) {
      options.kinds = arg.substr(8);
    } else if (arg == "--search") {
      options.search = true;
    } else if (arg == "--passes") {
      options.passes = true;
    } else if (arg.rfind("--keep=", 0) == 0) {
      options.keep = arg.substr(7);
    } else if (arg.rfind("--file=", 0) == 0) {
      options.file = arg.substr(7);
    } else if (arg.rfind("--", 0) == 0) {
      throw std::runtime_error("unknown option " + arg);
    } else if (positional++ == 0) {
      options.cases = std::max(0, std::atoi(arg.c_str()));
    } else {
      options.seed = std::strtoull(arg.c_str(), nullptr, 10);
    }
  }
  return options;
}

int Main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  if (!options.file.empty()) return RunFile(options);
  const auto start = std::chrono::steady_clock::now();
  const Pools pools = FindFiles(64u << 20);
  const std::vector<fs::path> payloads = SizedBetween({&pools.programs}, 50u << 10, 400u << 10);
  const std::vector<fs::path> hosts = SizedBetween({&pools.programs}, kMinHost, 64u << 20);
  const std::vector<const std::vector<fs::path>*> texts = {&pools.html, &pools.json, &pools.python};
  for (const auto* pool : texts) {
    if (pool->empty()) throw std::runtime_error("no HTML, JSON or Python files to draw from");
  }
  if (payloads.empty() || hosts.empty()) throw std::runtime_error("no programs to draw from");
  std::printf(
      "xork_bench: %d cases per kind, seed %llu, at most %zu candidates; %zu programs, "
      "%zu HTML, %zu JSON, %zu Python files\n",
      options.cases, static_cast<unsigned long long>(options.seed), options.max_candidates,
      payloads.size(), pools.html.size(), pools.json.size(), pools.python.size());
  std::map<std::string, Tally> tallies;
  FillAlgorithms();
  char folder_template[] = "/tmp/xork_bench.XXXXXX";
  const std::string folder = options.search && ::mkdtemp(folder_template) ? folder_template : "";
  for (const char kind : options.kinds) {
    // Each kind draws from a stream of its own, so its cases stay when other kinds are left out.
    std::mt19937_64 rng(options.seed * 0x9E3779B97F4A7C15ULL + static_cast<uint64_t>(kind));
    for (int i = 0; i < options.cases; ++i) {
      Case c = kind == 'A'   ? MakeProgramCase(rng, payloads, hosts)
               : kind == 'B' ? MakeConfigCase(rng, hosts)
                             : MakeTextCase(rng, texts, i);
      Recover(c, options);
      if (options.search) {
        Search(c, folder);
        if (options.list &&
            (c.row_place == 0 || c.row_place > 3 || c.any_place == 0 || c.any_place > 3)) {
          std::printf(
              "  %c n=%-2d XORK key place %d (with the URL %d, its string's rank %d), ANY "
              "place %d: %s key %s\n",
              c.kind, c.period, c.row_key_place, c.row_place, c.url_rank, c.any_place,
              c.name.c_str(), c.key.Text().c_str());
        }
      }
      tallies[std::string(1, kind)].Add(c);
      char label[16];
      std::snprintf(label, sizeof label, "%c n=%02d", kind, c.period);
      tallies[label].Add(c);
    }
  }
  if (!folder.empty()) std::filesystem::remove(folder);
  std::printf("\n  %-10s %5s  %7s  %7s  %7s  %6s  %8s", "kind", "cases", "found", "first", "top 3",
              "cands", "ms each");
  if (options.search) {
    std::printf("  %7s  %7s  %7s  %7s  %7s  %7s  %7s  %7s  %8s", "key top3", "row 1st", "row top3",
                "URL in", "URL 8", "URL 20", "ANY 1st", "ANY top3", "s search");
  }
  std::printf("\n");
  for (const auto& [label, tally] : tallies) {
    if (label.size() == 1) {
      tally.Print(label == "A"   ? "A programs"
                  : label == "B" ? "B settings"
                                 : "C texts",
                  options.search);
    }
  }
  std::printf("\n");
  for (const auto& [label, tally] : tallies) {
    if (label.size() > 1) tally.Print(label, options.search);
  }
  std::printf("\n%.0f s in all\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return 0;
}

}  // namespace
}  // namespace veskor::bench

int main(int argc, char** argv) {
  try {
    return veskor::bench::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "xork_bench: %s\n", e.what());
    return 1;
  }
}

// How well the runner ranks the true pair of the rotation, skip-byte and running-key ciphers,
// read from `veskor-scan --summary` run as a subprocess on seeded cases made of this machine's
// files.
//
//   build/bench/cipher_bench [cases per algorithm] [seed] [--runner=PATH] [--algos=A,B,...]
//                            [--no-any] [--list] [--keep=DIR]
//                          (defaults 20, seed 1, build/veskor-scan, the six newer algorithms)
//
// (1) whole text files (documents, licences, scripts, man pages, HTML, JSON, CSV; at most 256 KiB)
// stored under a key: the true pair ranks first in `--algo ANY`. (2) a 20..60 byte secret at a
// seeded offset in a binary of /usr/bin or in random bytes (64 KiB..1 MiB): the true pair ranks in
// the top three, in `--algo ANY` and in the algorithm's own all-keys row. A pair counts as true
// when it decodes every byte as the key it was stored under does: ANY names a byte map by the
// first algorithm that has it. Whole files are also counted when the pairs ranked above the true
// one tie with it (a text's few byte values may decode alike under two maps). --no-any ranks
// through the own row alone; --list prints the cases that missed and --keep copies their files into
// DIR. The same seed draws the same cases.
//
// Then readings that mislead, each case ranked through `--algo ANY`: (3) a table of upper-case
// words separated by zero bytes, whole under XOR8, ADD8 or SUB8 (the key 32 off reads it as one
// run of small letters and spaces): the true pair first; (4) a short secret in a compiled program
// whose names carry their length bytes (read through the case-swapping keys as joined words):
// the true pair in the top three; (5) a licence whole under a rotation family's key whose twin of
// another family reads its line ends as letters, joining the lines: the true pair first; (6) ten
// programs of 0.4 to 2 MB with nothing hidden: no pair of ANY reaches the "maybe" band.
// --kinds=LIST picks the parts (whole, secret, table, names, joined, clean; all by default),
// --hard=N the cases of (3) to (5) (10 each), --clean=N the programs of (6) (10) and
// --seed-clean=S their draw (by default the seed's).
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_corpus.h"
#include "engine/score/score_band.h"

namespace veskor::bench {
namespace {

uint8_t Rol(uint8_t v, int r) { return static_cast<uint8_t>(v << (r & 7) | v >> ((8 - r) & 7)); }
uint8_t Ror(uint8_t v, int r) { return Rol(v, 8 - (r & 7)); }
uint8_t Low(int key) { return static_cast<uint8_t>(key); }
int Turns(int key) { return key >> 8; }

// What a key makes of the byte at `offset` (decoding), and back (encoding).
using Coder = uint8_t (*)(uint8_t byte, int key, uint64_t offset);

struct Cipher {
  const char* name;
  int width;                // bytes per character
  int first_key, last_key;  // the keys that "all keys" tries
  bool running;             // the key moves with the offset
  Coder decode, encode;     // no encoder: never stored under it here
};

uint8_t Xor(uint8_t b, int k, uint64_t) { return b ^ Low(k); }
uint8_t Add(uint8_t b, int k, uint64_t) { return b + Low(k); }
uint8_t Sub(uint8_t b, int k, uint64_t) { return b - Low(k); }
uint8_t Same(uint8_t b, int, uint64_t) { return b; }
// XOR8N is its own inverse, as XOR with a running key is.
uint8_t XorN(uint8_t b, int k, uint64_t) { return b == 0 || b == k ? b : b ^ Low(k); }
uint8_t XorInc(uint8_t b, int k, uint64_t i) { return b ^ Low(k + static_cast<int>(i & 255)); }
uint8_t XorDec(uint8_t b, int k, uint64_t i) { return b ^ Low(k - static_cast<int>(i & 255)); }

// Every algorithm in the order ANY names a byte map by.
const std::array<Cipher, 14> kCiphers = {{
    {"XOR8", 1, 1, 255, false, Xor, Xor},
    {"ADD8", 1, 1, 255, false, Add, Sub},
    {"SUB8", 1, 1, 255, false, Sub, Add},
    {"NONE", 1, 1, 1, false, Same, nullptr},
    {"XOR8W", 2, 1, 255, false, Xor, nullptr},
    {"ADD8W", 2, 1, 255, false, Add, nullptr},
    {"SUB8W", 2, 1, 255, false, Sub, nullptr},
    {"NONEW", 2, 1, 1, false, Same, nullptr},
    {"XOR8ROL", 1, 256, 2047, false,
     [](uint8_t b, int k, uint64_t) { return Rol(b ^ Low(k), Turns(k)); },
     [](uint8_t d, int k, uint64_t) -> uint8_t { return Ror(d, Turns(k)) ^ Low(k); }},
    {"ADD8ROL", 1, 256, 2047, false,
     [](uint8_t b, int k, uint64_t) { return Rol(b + Low(k), Turns(k)); },
     [](uint8_t d, int k, uint64_t) -> uint8_t { return Ror(d, Turns(k)) - Low(k); }},
    {"ROL8ADD", 1, 256, 2047, false,
     [](uint8_t b, int k, uint64_t) -> uint8_t { return Rol(b, Turns(k)) + Low(k); },
     [](uint8_t d, int k, uint64_t) { return Ror(d - Low(k), Turns(k)); }},
    {"XOR8N", 1, 1, 255, false, XorN, XorN},
    {"XOR8INC", 1, 0, 255, true, XorInc, XorInc},
    {"XOR8DEC", 1, 0, 255, true, XorDec, XorDec},
}};

int CipherIndex(const std::string& name) {
  for (size_t c = 0; c < kCiphers.size(); ++c) {
    if (name == kCiphers[c].name) return static_cast<int>(c);
  }
  return -1;
}

using ByteMap = std::array<uint8_t, 256>;
ByteMap MapOf(const Cipher& cipher, int key) {
  ByteMap map;
  for (int b = 0; b < 256; ++b) map[b] = cipher.decode(static_cast<uint8_t>(b), key, 0);
  return map;
}

// Encoding then decoding every key of every cipher must give back a random string, wherever in
// the file it lies: a wrong encoder would make every figure below meaningless.
void SelfCheck() {
  std::mt19937_64 rng(12345);
  std::string plain(300, '\0');
  for (char& c : plain) c = static_cast<char>(rng());
  for (const Cipher& cipher : kCiphers) {
    if (cipher.encode == nullptr) continue;
    for (int key = cipher.first_key; key <= cipher.last_key; ++key) {
      const uint64_t base = rng() % 100000;
      for (size_t t = 0; t < plain.size(); ++t) {
        const uint8_t p = static_cast<uint8_t>(plain[t]);
        if (cipher.decode(cipher.encode(p, key, base + t), key, base + t) != p) {
          std::fprintf(stderr, "cipher_bench: %s key %d does not decode its own encoding of %d\n",
                       cipher.name, key, p);
          std::exit(1);
        }
      }
    }
  }
}

struct Options {
  int cases = 20;
  uint64_t seed = 1;
  std::string runner = "build/veskor-scan";
  std::vector<int> ciphers;
  bool any = true, list = false;
  std::string keep;
  std::vector<std::string> kinds = {"whole", "secret", "table", "names", "joined", "clean"};
  int hard = 10;
  int clean = 10;           // programs of kind (6)
  uint64_t seed_clean = 0;  // their draw's seed; 0: the seed
  bool Has(const std::string& kind) const {
    return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
  }
};

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A run of `veskor-scan --algo ALGO --summary` on one file: the rank of the first row that decodes
// like the true pair (0: none does) and the rows ranked first. A text lacks most byte values, and
// pairs whose maps differ only on those (or only outside the alphabet) find the same strings:
// `tied` is the true pair's rank with the rows above it whose figures equal its own left out.
struct Ranking {
  int rank = 0, tied = 0;
  std::vector<std::string> top;
  double top_score = 0;  // the first row's score
  double seconds = 0;
};

// The tab-separated fields [first, last) of a summary line.
std::string Fields(const std::string& line, int first, int last) {
  std::string out;
  int field = 0;
  for (const char c : line) {
    if (c == '\t' && ++field == last) break;
    if (field >= first && !(c == '\t' && field == first)) out += c;
  }
  return out;
}

class Runner {
 public:
  Runner(std::string runner, std::string folder)
      : runner_(std::move(runner)), folder_(std::move(folder)) {
    std::ofstream(folder_ + "/printable", std::ios::binary) << PrintableAlphabet();
  }

  Ranking Rank(const std::string& algo, const std::string& input, int cipher, int key) const {
    const std::string errors = folder_ + "/stderr";
    const std::string command = Quote(runner_) + " --algo " + algo + " --alphabet-file " +
                                Quote(folder_ + "/printable") + " --min 7 --summary " +
                                Quote(input) + " 2>" + Quote(errors);
    const auto start = std::chrono::steady_clock::now();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot start " + runner_);
    std::string out;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) out.append(buffer, n);
    const int status = ::pclose(pipe);
    Ranking ranking;
    ranking.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string said = ReadFile(errors, 4096);
    const std::string header = "algo\tkey\tscore\tlines\tchars\tlongest\tbest\n";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || out.rfind(header, 0) != 0 ||
        said.find("(skipped)") != std::string::npos) {
      throw std::runtime_error(command + " failed: " + said);
    }
    const Cipher& truth = kCiphers[cipher];
    const ByteMap true_map = MapOf(truth, key);
    int row = 0;
    std::vector<std::string> above;
    for (size_t at = header.size(); at < out.size(); ++row) {
      size_t end = out.find('\n', at);
      if (end == std::string::npos) end = out.size();
      const std::string line = out.substr(at, end - at);
      at = end + 1;
      if (row == 0) ranking.top_score = std::atof(Fields(line, 2, 3).c_str());
      if (row < 3) {
        std::string shown = line;
        std::replace(shown.begin(), shown.end(), '\t', ' ');
        ranking.top.push_back(Clip(shown, 100));
      }
      if (ranking.rank != 0) continue;
      const size_t tab = line.find('\t');
      const int index = CipherIndex(line.substr(0, tab));
      if (index < 0) continue;
      const Cipher& found = kCiphers[index];
      const int found_key = std::atoi(line.c_str() + tab + 1);
      const bool same = truth.running ? index == cipher && found_key == key
                                      : !found.running && found.width == truth.width &&
                                            MapOf(found, found_key) == true_map;
      if (!same) {
        above.push_back(line);
        continue;
      }
      ranking.rank = row + 1;
      // score, lines, chars and longest
      const std::string figures = Fields(line, 2, 6);
      ranking.tied = 1 + static_cast<int>(std::count_if(above.begin(), above.end(),
                                                        [&](const std::string& other) {
                                                          return Fields(other, 2, 6) != figures;
                                                        }));
    }
    return ranking;
  }

 private:
  std::string runner_, folder_;
};

// One case, drawn before anything runs.
struct Case {
  int cipher = 0, key = 0;
  bool whole = true;
  fs::path path;           // none: random bytes
  bool gzip = false;       // a man page, unpacked
  size_t size = 0;         // the bytes kept
  uint64_t data_seed = 0;  // random bytes
  std::string secret;
  uint64_t where = 0;
  // Results: ranks 0 when not run or not found.
  int any_rank = 0, own_rank = 0, whole_tied = 0;
  double seconds = 0;
  std::string listing;
};

constexpr size_t kMaxWhole = 256u << 10;
constexpr size_t kMinHost = 64u << 10, kMaxHost = 1u << 20;

std::string MakeData(const Case& c) {
  std::string data = c.path.empty() ? RandomBytes(c.data_seed, c.size)
                     : c.gzip       ? ReadGzip(c.path, c.size)
                                    : ReadFile(c.path, c.size);
  const Cipher& cipher = kCiphers[c.cipher];
  if (c.whole) {
    for (size_t i = 0; i < data.size(); ++i) {
      data[i] = static_cast<char>(cipher.encode(static_cast<uint8_t>(data[i]), c.key, i));
    }
    return data;
  }
  if (data.size() < c.secret.size()) throw std::runtime_error("cannot read " + c.path.string());
  // For a running key the secret's first byte is stored under s = key + p (XOR8INC) or key - p
  // (XOR8DEC): the key is the one that offset 0 would have.
  const size_t p = c.where % (data.size() - c.secret.size() + 1);
  for (size_t t = 0; t < c.secret.size(); ++t) {
    data[p + t] = static_cast<char>(cipher.encode(static_cast<uint8_t>(c.secret[t]), c.key, p + t));
  }
  return data;
}

std::string CaseName(const Case& c) {
  if (c.whole) return c.path.string();
  const std::string name = c.path.empty() ? "random bytes" : c.path.string();
  return name + " (" + std::to_string(c.size) + " bytes kept) secret \"" + c.secret + "\"";
}

// Draws every case of one algorithm from a stream of its own, so that its cases stay the same
// whatever other algorithms are chosen.
void DrawCases(const Options& options, const Pools& pools, int cipher, std::vector<Case>& cases) {
  std::vector<fs::path> bin_scripts;
  for (const fs::path& p : pools.scripts) {
    if (p.string().rfind("/usr/bin/", 0) == 0) bin_scripts.push_back(p);
  }
  // The kinds of text in turn, each kind a pool; man pages (the first kind) are unpacked.
  std::vector<std::pair<std::vector<fs::path>, bool>> texts;
  const std::vector<const std::vector<fs::path>*> kinds = {
      &pools.man_pages, &pools.documents, &pools.licences, &bin_scripts,
      &pools.html,      &pools.json,      &pools.csv};
  for (const std::vector<fs::path>* pool : kinds) {
    std::vector<fs::path> files = SizedBetween({pool}, 1024, UINTMAX_MAX);
    if (!files.empty()) texts.emplace_back(std::move(files), pool == &pools.man_pages);
  }
  const std::vector<fs::path> hosts = SizedBetween({&pools.programs}, kMinHost, UINTMAX_MAX);
  std::mt19937_64 rng(options.seed * 0x9E3779B97F4A7C15ULL + static_cast<uint64_t>(cipher));
  SecretMaker long_secrets(rng, 20, 60);
  ShortSecretMaker short_secrets(rng, 20, 60);
  const Cipher& algorithm = kCiphers[cipher];
  auto draw_key = [&] {
    return algorithm.first_key +
           static_cast<int>(rng() % (algorithm.last_key + 1 - algorithm.first_key));
  };
  for (int i = 0; i < options.cases && !texts.empty(); ++i) {
    Case c;
    c.cipher = cipher;
    const auto& [pool, gzip] = texts[static_cast<size_t>(i) % texts.size()];
    c.path = pool[rng() % pool.size()];
    c.gzip = gzip;
    c.size = kMaxWhole;
    c.key = draw_key();
    if (options.Has("whole")) cases.push_back(c);
  }
  for (int i = 0; i < options.cases; ++i) {
    Case c;
    c.cipher = cipher;
    c.whole = false;
    c.size = kMinHost + rng() % (kMaxHost - kMinHost + 1);
    if (i % 2 == 0 && !hosts.empty()) {
      c.path = hosts[rng() % hosts.size()];
      c.size = std::min<size_t>(c.size, fs::file_size(c.path));
    } else {
      c.data_seed = rng();
    }
    c.secret = rng() % 2 ? long_secrets.Make() : short_secrets.Make();
    c.where = rng();
    c.key = draw_key();
    if (options.Has("secret")) cases.push_back(c);
  }
}

void RunCase(Case& c, size_t index, const Runner& runner, const std::string& input,
             const Options& options) {
  const std::string data = MakeData(c);
  std::ofstream(input, std::ios::binary | std::ios::trunc).write(data.data(), data.size());
  const char* name = kCiphers[c.cipher].name;
  std::vector<std::pair<const char*, Ranking>> runs;
  if (options.any) {
    runs.emplace_back("ANY", runner.Rank("ANY", input, c.cipher, c.key));
    c.any_rank = runs.back().second.rank;
  }
  if (!c.whole || !options.any) {
    runs.emplace_back(name, runner.Rank(name, input, c.cipher, c.key));
    c.own_rank = runs.back().second.rank;
  }
  c.whole_tied = runs[0].second.tied;
  const int top = c.whole ? 1 : 3;
  bool missed = false;
  for (const auto& [algo, ranking] : runs) {
    c.seconds += ranking.seconds;
    if (ranking.rank >= 1 && ranking.rank <= top) continue;
    missed = true;
    if (!options.list) continue;
    c.listing += "    " + std::string(name) + " key " + std::to_string(c.key) + " in " +
                 CaseName(c) + ": rank " + std::to_string(ranking.rank) + " in " + algo + " (" +
                 std::to_string(ranking.tied) + " without ties)\n";
    for (const std::string& line : ranking.top) c.listing += "      " + line + "\n";
  }
  if (missed && !options.keep.empty()) {
    // Named so that the runner can be run on it again by hand.
    const std::string kept = options.keep + "/case" + std::to_string(index) + "-" + name + "-key" +
                             std::to_string(c.key) + ".bin";
    fs::copy_file(input, kept, fs::copy_options::overwrite_existing);
    if (options.list) c.listing += "      kept as " + kept + "\n";
  }
}

struct Tally {
  int cases = 0, hits = 0;
  double seconds = 0;
  void Add(bool hit, double case_seconds) {
    ++cases;
    hits += hit;
    seconds += case_seconds;
  }
  std::string Percent() const {
    char text[16];
    if (cases == 0) return "     -";
    std::snprintf(text, sizeof(text), "%5.1f%%", 100.0 * hits / cases);
    return text;
  }
};

// Per algorithm: whole files first, secrets in the top three by ANY and by the own row.
struct Figures {
  Tally whole, whole_tied, any, own;
  double seconds = 0;
};

void PrintFigures(const Options& options, const std::vector<Case>& cases) {
  std::vector<Figures> figures(kCiphers.size());
  for (const Case& c : cases) {
    Figures& f = figures[c.cipher];
    f.seconds += c.seconds;
    if (c.whole) {
      const int rank = options.any ? c.any_rank : c.own_rank;
      f.whole.Add(rank == 1, c.seconds);
      f.whole_tied.Add(c.whole_tied == 1, c.seconds);
    } else {
      if (options.any) f.any.Add(c.any_rank >= 1 && c.any_rank <= 3, c.seconds);
      f.own.Add(c.own_rank >= 1 && c.own_rank <= 3, c.seconds);
    }
  }
  const char* whole_by = options.any ? "ANY" : "own row";
  std::printf(
      "(1) whole files under a key: the true pair first (%s); beside it, first or tied\n"
      "    with the first (the same score, lines, chars and longest)\n",
      whole_by);
  for (int c : options.ciphers) {
    const Tally& t = figures[c].whole;
    std::printf("  %-8s %4d cases   first %s   or tied %s   %6.1f s\n", kCiphers[c].name, t.cases,
                t.Percent().c_str(), figures[c].whole_tied.Percent().c_str(), t.seconds);
  }
  for (const Case& c : cases) {
    if (c.whole) std::printf("%s", c.listing.c_str());
  }
  std::printf(
      "\n(2) a 20..60 byte secret in a binary or random bytes: the true pair in the top 3\n");
  for (int c : options.ciphers) {
    const Figures& f = figures[c];
    std::printf("  %-8s %4d cases   ANY %s   own row %s   %6.1f s\n", kCiphers[c].name, f.own.cases,
                f.any.Percent().c_str(), f.own.Percent().c_str(), f.own.seconds);
  }
  for (const Case& c : cases) {
    if (!c.whole) std::printf("%s", c.listing.c_str());
  }
  std::printf("\n%-8s  %-11s  %-11s  %-13s  %-13s  %5s  %8s\n", "algo", "whole first",
              "whole first", "secrets top-3", "secrets top-3", "cases", "seconds");
  std::printf("%-8s  %-11s  %-11s  %-13s  %-13s  %5s  %8s\n", "", whole_by, "(or tied)", "(ANY)",
              "(own row)", "", "");
  for (int c : options.ciphers) {
    const Figures& f = figures[c];
    std::printf("%-8s  %-11s  %-11s  %-13s  %-13s  %5d  %8.1f\n", kCiphers[c].name,
                f.whole.Percent().c_str(), f.whole_tied.Percent().c_str(), f.any.Percent().c_str(),
                f.own.Percent().c_str(), f.whole.cases + f.own.cases, f.seconds);
  }
}

// Wall time of the runner's summary over 1 MiB of a real binary, stored plain: the median of three.
void PrintSpeed(const Options& options, const Pools& pools, const Runner& runner,
                const std::string& folder) {
  const std::vector<fs::path> big = SizedBetween({&pools.programs}, kMaxHost, UINTMAX_MAX);
  if (big.empty()) return;
  const fs::path& source = big[options.seed % big.size()];
  const std::string input = folder + "/speed.bin";
  const std::string data = ReadFile(source, kMaxHost);
  std::ofstream(input, std::ios::binary).write(data.data(), data.size());
  std::printf("\nspeed: `veskor-scan --algo ALGO --summary` on 1 MiB of %s, wall, median of 3\n",
              source.c_str());
  std::vector<int> algos = {0};
  if (options.any) algos.push_back(-1);
  for (int c : options.ciphers) {
    if (c != 0) algos.push_back(c);
  }
  for (int c : algos) {
    const char* name = c < 0 ? "ANY" : kCiphers[c].name;
    std::array<double, 3> seconds;
    for (double& s : seconds) s = runner.Rank(name, input, 0, 1).seconds;
    std::sort(seconds.begin(), seconds.end());
    std::printf("  %-8s %7.2f s\n", name, seconds[1]);
  }
}

// Readings that mislead (kinds 3 to 5) and programs with nothing hidden (kind 6), all ranked
// through ANY.
struct HardCase {
  enum Kind { kTable, kNames, kJoined, kClean } kind = kTable;
  int cipher = 0, key = 0;
  fs::path path;       // the host, the licence or the clean program; none for a table
  uint64_t seed = 0;   // the table's words
  std::string secret;  // kNames
  uint64_t where = 0;
  std::string twin;  // kJoined: the pair that reads the line ends as letters
  Ranking ranking;
  bool hit = false;
};

constexpr const char* kHardNames[] = {
    "(3) upper-case words separated by zero bytes, whole: the true pair first",
    "(4) a short secret in a program of length-prefixed names: the true pair in the top 3",
    "(5) a licence whose lines a twin pair joins, whole: the true pair first",
    "(6) programs of 0.4 to 2 MB with nothing hidden: no pair of ANY in the \"maybe\" band"};

// Upper-case words and names of two words, each ended by a zero byte, as the keyword tables of
// a program keep them.
std::string MakeWordTable(uint64_t seed) {
  std::mt19937_64 rng(seed);
  Draw draw(rng);
  std::string table;
  const int words = 300 + static_cast<int>(draw.Below(300));
  for (int i = 0; i < words; ++i) {
    std::string word = draw.Pick(kWords);
    if (draw.Below(2) == 0) word += draw.Pick(kWords);
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    table += word;
    table += '\0';
  }
  return table;
}

// Programs with many names stored after their length bytes (compiled Pascal units keep their
// identifiers so): a length byte, the name, and the next length byte.
bool HasCountedNames(const std::string& data) {
  int chains = 0;
  auto name_char = [](uint8_t c) { return std::isalnum(c) || c == '_'; };
  for (size_t i = 0; i + 2 < data.size() && chains < 200; ++i) {
    const auto length = static_cast<uint8_t>(data[i]);
    if (length < 4 || length > 60 || i + length + 2 >= data.size()) continue;
    size_t j = 1;
    while (j <= length && name_char(static_cast<uint8_t>(data[i + j]))) ++j;
    if (j <= length) continue;
    const auto next = static_cast<uint8_t>(data[i + length + 1]);
    if (next >= 4 && next <= 60 && std::isalpha(static_cast<uint8_t>(data[i + length + 2]))) {
      ++chains;
      i += length;
    }
  }
  return chains >= 200;
}

// A pair of another algorithm that reads the text as `cipher` and `key` do at nine bytes of ten
// or more, and its line ends as letters: its reading joins the lines. Empty when there is none.
std::string JoiningTwin(const std::string& text, int cipher, int key) {
  const Cipher& truth = kCiphers[cipher];
  std::array<uint64_t, 256> counts{};
  for (const char c : text) ++counts[static_cast<uint8_t>(c)];
  std::array<uint8_t, 256> stored;  // the stored byte of each text byte
  for (int t = 0; t < 256; ++t) stored[t] = truth.encode(static_cast<uint8_t>(t), key, 0);
  for (size_t c = 0; c < kCiphers.size(); ++c) {
    const Cipher& other = kCiphers[c];
    if (static_cast<int>(c) == cipher || other.running || other.width != 1 ||
        other.first_key == other.last_key) {
      continue;
    }
    for (int k = other.first_key; k <= other.last_key; ++k) {
      const uint8_t line_end = other.decode(stored['\n'], k, 0);
      if (!std::isalpha(line_end)) continue;
      uint64_t same = 0;
      for (int t = 0; t < 256; ++t) same += counts[t] * (other.decode(stored[t], k, 0) == t);
      if (same * 10 >= text.size() * 8) return std::string(other.name) + " " + std::to_string(k);
    }
  }
  return {};
}

void DrawHardCases(const Options& options, const Pools& pools, std::vector<HardCase>& cases) {
  std::mt19937_64 rng(options.seed * 0x9E3779B97F4A7C15ULL + 101);
  ShortSecretMaker secrets(rng);
  const std::array<int, 3> byte_ciphers = {CipherIndex("XOR8"), CipherIndex("ADD8"),
                                           CipherIndex("SUB8")};
  const std::array<int, 3> rotations = {CipherIndex("XOR8ROL"), CipherIndex("ADD8ROL"),
                                        CipherIndex("ROL8ADD")};
  if (options.Has("table")) {
    for (int i = 0; i < options.hard; ++i) {
      HardCase c;
      c.kind = HardCase::kTable;
      c.cipher = byte_ciphers[i % 3];
      c.key = 1 + static_cast<int>(rng() % 255);
      c.seed = rng();
      cases.push_back(c);
    }
  }
  if (options.Has("names")) {
    std::vector<fs::path> hosts;
    for (const fs::path& p : SizedBetween({&pools.programs}, 64u << 10, 4u << 20)) {
      if (HasCountedNames(ReadFile(p, 4u << 20))) hosts.push_back(p);
    }
    for (int i = 0; i < options.hard && !hosts.empty(); ++i) {
      HardCase c;
      c.kind = HardCase::kNames;
      c.cipher = byte_ciphers[i % 3];
      c.key = 1 + static_cast<int>(rng() % 255);
      c.path = hosts[rng() % hosts.size()];
      c.secret = secrets.Make();
      c.where = rng();
      cases.push_back(c);
    }
  }
  if (options.Has("joined")) {
    const std::vector<fs::path> licences = SizedBetween({&pools.licences}, 4096, 256u << 10);
    for (int i = 0; i < options.hard && !licences.empty(); ++i) {
      HardCase c;
      c.kind = HardCase::kJoined;
      c.cipher = rotations[i % 3];
      c.path = licences[rng() % licences.size()];
      const std::string text = ReadFile(c.path, kMaxWhole);
      const Cipher& cipher = kCiphers[c.cipher];
      // Keys whose byte has one bit below the top: an add and an XOR of it differ only where a
      // carry goes on, so the families' pairs of that key read most of a text alike.
      for (int tries = 0; tries < 2000 && c.twin.empty(); ++tries) {
        c.key = cipher.first_key / 256 * 256 +
                static_cast<int>(rng() % ((cipher.last_key + 1 - cipher.first_key) / 256)) * 256 +
                (1 << (rng() % 7)) + (rng() % 2 ? 0x80 : 0);
        c.twin = JoiningTwin(text, c.cipher, c.key);
      }
      if (!c.twin.empty()) cases.push_back(c);
    }
  }
  if (options.Has("clean")) {
    // A stream of its own, so that the programs are the same whatever kinds run beside them.
    std::mt19937_64 clean_rng((options.seed_clean != 0 ? options.seed_clean : options.seed) *
                                  0x9E3779B97F4A7C15ULL +
                              202);
    std::vector<fs::path> programs = SizedBetween({&pools.programs}, 400u << 10, 2u << 20);
    for (int i = 0; i < options.clean && !programs.empty(); ++i) {
      HardCase c;
      c.kind = HardCase::kClean;
      const size_t at = clean_rng() % programs.size();
      c.path = programs[at];
      programs.erase(programs.begin() + static_cast<ptrdiff_t>(at));
      cases.push_back(c);
    }
  }
}

std::string MakeHardData(const HardCase& c) {
  if (c.kind == HardCase::kClean) return ReadFile(c.path, 4u << 20);
  std::string data =
      c.kind == HardCase::kTable ? MakeWordTable(c.seed) : ReadFile(c.path, 4u << 20);
  const Cipher& cipher = kCiphers[c.cipher];
  if (c.kind != HardCase::kNames) {
    for (size_t i = 0; i < data.size(); ++i) {
      data[i] = static_cast<char>(cipher.encode(static_cast<uint8_t>(data[i]), c.key, i));
    }
    return data;
  }
  const size_t p = c.where % (data.size() - c.secret.size() + 1);
  for (size_t t = 0; t < c.secret.size(); ++t) {
    data[p + t] = static_cast<char>(cipher.encode(static_cast<uint8_t>(c.secret[t]), c.key, p + t));
  }
  return data;
}

std::string HardCaseName(const HardCase& c) {
  switch (c.kind) {
    case HardCase::kTable:
      return "word table " + std::to_string(c.seed % 100000);
    case HardCase::kNames:
      return c.path.string() + " secret \"" + c.secret + "\"";
    case HardCase::kJoined:
      return c.path.string() + " (twin " + c.twin + ")";
    default:
      return c.path.string();
  }
}

void RunHardCases(std::vector<HardCase>& cases, const Runner& runner, const std::string& folder,
                  const Options& options) {
  const std::string input = folder + "/hard";
  for (size_t i = 0; i < cases.size(); ++i) {
    HardCase& c = cases[i];
    const std::string data = MakeHardData(c);
    std::ofstream(input, std::ios::binary | std::ios::trunc).write(data.data(), data.size());
    c.ranking = runner.Rank("ANY", input, c.cipher, c.key);
    switch (c.kind) {
      case HardCase::kTable:
      case HardCase::kJoined:
        c.hit = c.ranking.rank == 1;
        break;
      case HardCase::kNames:
        c.hit = c.ranking.rank >= 1 && c.ranking.rank <= 3;
        break;
      case HardCase::kClean:
        c.hit = BandOf(c.ranking.top_score, kAnyBands) == ScoreBand::kNoise;
        break;
    }
    if (!c.hit && !options.keep.empty() && c.kind != HardCase::kClean) {
      const std::string kept = options.keep + "/hard" + std::to_string(i) + "-" +
                               kCiphers[c.cipher].name + "-key" + std::to_string(c.key) + ".bin";
      fs::copy_file(input, kept, fs::copy_options::overwrite_existing);
    }
  }
}

void PrintHardCases(const std::vector<HardCase>& cases, const Options& options) {
  for (int kind = HardCase::kTable; kind <= HardCase::kClean; ++kind) {
    Tally tally;
    std::string listing;
    for (const HardCase& c : cases) {
      if (c.kind != kind) continue;
      tally.Add(c.hit, c.ranking.seconds);
      if (c.hit && !options.list) continue;
      listing += std::string(c.hit ? "    " : "    MISS ") + HardCaseName(c);
      if (kind != HardCase::kClean) {
        listing += ": " + std::string(kCiphers[c.cipher].name) + " key " + std::to_string(c.key) +
                   " rank " + std::to_string(c.ranking.rank);
      }
      listing += "\n";
      for (const std::string& line : c.ranking.top) listing += "      " + line + "\n";
    }
    if (tally.cases == 0) continue;
    std::printf("\n%s\n  %4d cases   %s   %6.1f s\n%s", kHardNames[kind], tally.cases,
                tally.Percent().c_str(), tally.seconds, listing.c_str());
    if (kind == HardCase::kClean) {
      // The bands of ANY are measured on these: the best pairs' scores, highest first.
      std::vector<double> best;
      for (const HardCase& c : cases) {
        if (c.kind == kind) best.push_back(c.ranking.top_score);
      }
      std::sort(best.rbegin(), best.rend());
      std::printf("  best pairs' scores, highest first:");
      for (size_t i = 0; i < std::min<size_t>(best.size(), 10); ++i) std::printf(" %.2f", best[i]);
      std::printf("  (\"maybe\" from %.0f)\n", kAnyBands.maybe);
    }
  }
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  int positional = 0;
  std::string algos = "XOR8ROL,ADD8ROL,ROL8ADD,XOR8N,XOR8INC,XOR8DEC";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--list") {
      options.list = true;
    } else if (arg == "--no-any") {
      options.any = false;
    } else if (arg.rfind("--runner=", 0) == 0) {
      options.runner = arg.substr(9);
    } else if (arg.rfind("--keep=", 0) == 0) {
      options.keep = arg.substr(7);
    } else if (arg.rfind("--kinds=", 0) == 0) {
      options.kinds.clear();
      const std::string list = arg.substr(8);
      for (size_t at = 0; at <= list.size();) {
        size_t end = list.find(',', at);
        if (end == std::string::npos) end = list.size();
        options.kinds.push_back(list.substr(at, end - at));
        at = end + 1;
      }
    } else if (arg.rfind("--clean=", 0) == 0) {
      options.clean = std::max(0, std::atoi(arg.c_str() + 8));
    } else if (arg.rfind("--seed-clean=", 0) == 0) {
      options.seed_clean = std::strtoull(arg.c_str() + 13, nullptr, 10);
    } else if (arg.rfind("--hard=", 0) == 0) {
      options.hard = std::max(0, std::atoi(arg.c_str() + 7));
    } else if (arg.rfind("--algos=", 0) == 0) {
      algos = arg.substr(8);
    } else if (arg.rfind("--", 0) == 0) {
      throw std::runtime_error("unknown option " + arg);
    } else if (positional++ == 0) {
      options.cases = std::max(0, std::atoi(arg.c_str()));
    } else {
      options.seed = std::strtoull(arg.c_str(), nullptr, 10);
    }
  }
  for (size_t at = 0; at <= algos.size();) {
    size_t end = algos.find(',', at);
    if (end == std::string::npos) end = algos.size();
    const std::string name = algos.substr(at, end - at);
    const int c = CipherIndex(name);
    if (c < 0 || kCiphers[c].encode == nullptr) {
      throw std::runtime_error("no encoder for the algorithm \"" + name + "\"");
    }
    options.ciphers.push_back(c);
    at = end + 1;
  }
  return options;
}

}  // namespace
}  // namespace veskor::bench

int main(int argc, char** argv) {
  using namespace veskor::bench;
  SelfCheck();
  const std::string folder = MakeCaseFolder("cipher_bench");
  try {
    const Options options = ParseOptions(argc, argv);
    const auto start = std::chrono::steady_clock::now();
    const Pools pools = FindFiles(64u << 20);
    std::printf(
        "cipher_bench: %d cases per algorithm and part, seed %llu, runner %s%s; files: %zu "
        "documents, %zu licences, %zu scripts, %zu man pages, %zu HTML, %zu JSON, %zu CSV, %zu "
        "programs\n",
        options.cases, static_cast<unsigned long long>(options.seed), options.runner.c_str(),
        options.any ? "" : " (own rows only)", pools.documents.size(), pools.licences.size(),
        pools.scripts.size(), pools.man_pages.size(), pools.html.size(), pools.json.size(),
        pools.csv.size(), pools.programs.size());
    std::printf("printable alphabet (tab and 32..126), --min 7\n\n");
    const Runner runner(options.runner, folder);
    std::vector<Case> cases;
    if (options.Has("whole") || options.Has("secret")) {
      for (int c : options.ciphers) DrawCases(options, pools, c, cases);
      for (size_t i = 0; i < cases.size(); ++i)
        RunCase(cases[i], i, runner, folder + "/case", options);
      PrintFigures(options, cases);
    }
    std::vector<HardCase> hard;
    DrawHardCases(options, pools, hard);
    RunHardCases(hard, runner, folder, options);
    PrintHardCases(hard, options);
    if (options.Has("whole") || options.Has("secret")) PrintSpeed(options, pools, runner, folder);
    std::printf("\n%.0f s in all\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cipher_bench: %s\n", e.what());
    fs::remove_all(folder);
    return 1;
  }
  fs::remove_all(folder);
  return 0;
}

// Hidden executables: a seeded corpus of real ELF programs of this machine and made PE files,
// stored under every cipher family inside binaries of /usr/bin and random bytes, each found by
// its row and by ANY and carved back byte for byte; clean binaries where nothing may be found; a
// survey of /usr/bin; and the time of one row's finding, for bench/carve_vs_rows.sh.
//
//   build/bench/carve_bench [cases per cipher] [seed] [--keep=DIR] [--runner=build/veskor-scan]
//                                                          (defaults 20, seed 1)
//   build/bench/carve_bench --survey                 what /usr/bin's ELF programs hold
//   build/bench/carve_bench --time=FILE --algo=NAME [--key=K | --key-bytes=HEX] [--rounds=3]
//
// A case's pair is found when its row (every key of its algorithm; of a key of many bytes, that
// key, as a recovered candidate comes) lists the stored file at its offset under the true key,
// and ANY lists it under the pair that decodes alike. Carved: the bytes written by the carver
// have the original's SHA-256, computed here from the original file's bytes. With --runner, each
// case of a one-byte family or NONE is also carved by `veskor-scan --carve` with the case's key
// (--json): "runner equal" counts the cases whose embedded record names the stored file's
// offset and the original's SHA-256, and whose written file has those bytes.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_corpus.h"
#include "engine/carve/carved_file.h"
#include "engine/carve/executable_finder.h"
#include "engine/carve/test_ciphers.h"
#include "engine/carve/test_executables.h"
#include "engine/input/file_hash.h"
#include "engine/input/mapped_input.h"
#include "text/integer_syntax.h"

namespace veskor::bench {
namespace {

const TAlgorithm& Algorithm(const std::string& name) {
  for (const TAlgorithm& algorithm : Algorithms) {
    if (algorithm.Name == name) return algorithm;
  }
  throw std::runtime_error("no algorithm " + name);
}

std::string Hash(const std::string& bytes) {
  return Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()).value_or("");
}

// Whether `file` holds an ELF magic after offset 0 or a PE signature anywhere: a program that
// embeds another, plainly.
bool EmbedsPlainly(const std::string& file) {
  return file.find(
             "\x7F"
             "ELF",
             1) != std::string::npos ||
         file.find(std::string("PE\0\0", 4)) != std::string::npos;
}

struct Program {
  fs::path path;
  uint64_t size;
  std::optional<ExecutableHeader> header;
  bool embeds;
};

// Every ELF program of /usr/bin between the sizes, with what its header says and whether it
// embeds another.
std::vector<Program> Programs(uintmax_t min_size, uintmax_t max_size) {
  std::vector<Program> programs;
  for (const fs::path& path : FilesUnder("/usr/bin", min_size, max_size, 100000)) {
    if (!IsElf(path)) continue;
    const std::string bytes = ReadFile(path, static_cast<size_t>(fs::file_size(path)));
    programs.push_back({path, bytes.size(),
                        ReadExecutableHeader(reinterpret_cast<const uint8_t*>(bytes.data()),
                                             bytes.size(), 0, ByteCipher()),
                        EmbedsPlainly(bytes)});
  }
  return programs;
}

std::vector<FoundExecutable> FindIn(const ExecutableFinder& finder, const std::string& path) {
  MappedInput input;
  if (input.Open(path) != MappedInput::Result::kOk) throw std::runtime_error("cannot map " + path);
  return finder.Find(input.data(), input.size()).found;
}

ExecutableFinder AnyFinder() {
  ExecutableFinder finder;
  finder.AddEveryPair();
  return finder;
}

int Survey() {
  const std::vector<Program> programs = Programs(1, uintmax_t{1} << 30);
  size_t whole = 0, longer = 0, shorter = 0, refused = 0, embedding = 0;
  ExecutableFinder none;
  none.AddEveryKey(Algorithm("NONE"));
  const ExecutableFinder any = AnyFinder();
  std::map<std::string, int> plain_finds;
  size_t any_files = 0, clean = 0;
  for (const Program& p : programs) {
    if (!p.header) {
      ++refused;
      std::printf("refused: %s\n", p.path.c_str());
    } else if (p.header->declared_size == p.size) {
      ++whole;
    } else {
      ++(p.header->declared_size < p.size ? longer : shorter);
      std::printf("%s: %s, headers say %llu of %llu bytes\n",
                  p.header->declared_size < p.size ? "appended bytes" : "cut", p.path.c_str(),
                  static_cast<unsigned long long>(p.header->declared_size),
                  static_cast<unsigned long long>(p.size));
    }
    embedding += p.embeds;
    for (const FoundExecutable& f : FindIn(none, p.path)) {
      std::printf("plain %s at %llu in %s (%llu bytes%s)\n", FormatName(f.format).data(),
                  static_cast<unsigned long long>(f.offset), p.path.c_str(),
                  static_cast<unsigned long long>(f.size), f.truncated ? ", truncated" : "");
      ++plain_finds[p.path.string()];
    }
    const std::vector<FoundExecutable> hidden = FindIn(any, p.path);
    for (const FoundExecutable& f : hidden) {
      std::printf("ANY: %s at %llu in %s under %s %s\n", FormatName(f.format).data(),
                  static_cast<unsigned long long>(f.offset), p.path.c_str(),
                  f.pair.algorithm.c_str(), KeyTextOf(f.pair).c_str());
    }
    any_files += !hidden.empty();
    clean += !p.embeds && hidden.empty() && plain_finds.count(p.path.string()) == 0;
  }
  std::printf(
      "\n%zu ELF programs in /usr/bin: headers give the file's size %zu, fewer bytes than the file "
      "%zu, more %zu, refused %zu\n"
      "%zu hold an ELF magic after offset 0 or a PE signature; %zu have an executable found "
      "plainly at an offset above 0, %zu one under ANY's pairs; %zu hold none of these\n",
      programs.size(), whole, longer, shorter, refused, embedding, plain_finds.size(), any_files,
      clean);
  return 0;
}

// One row's finding on one file: the median of `rounds` timings of ExecutableFinder::Find on the
// mapped file, the finder built before the clock starts (a run builds it once for all files).
int Time(const std::string& path, const std::string& algo, const std::string& key,
         const std::string& key_bytes, int rounds) {
  ExecutableFinder finder;
  if (algo == "ANY") {
    finder.AddEveryPair();
  } else if (!key_bytes.empty()) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < key_bytes.size(); i += 2) {
      bytes.push_back(static_cast<uint8_t>(std::stoi(key_bytes.substr(i, 2), nullptr, 16)));
    }
    finder.AddKeyBytes(algo, bytes);
  } else if (!key.empty()) {
    const TAlgorithm& algorithm = Algorithm(algo);
    finder.AddKey(algorithm, KeyOfText(algorithm, key, key));
  } else {
    finder.AddEveryKey(Algorithm(algo));
  }
  MappedInput input;
  if (input.Open(path) != MappedInput::Result::kOk) throw std::runtime_error("cannot map " + path);
  std::vector<double> seconds;
  size_t found = 0;
  for (int r = 0; r < rounds; ++r) {
    const auto start = std::chrono::steady_clock::now();
    found = finder.Find(input.data(), input.size()).found.size();
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("%.4f %zu\n", seconds[seconds.size() / 2], found);
  return 0;
}

struct Kind {
  const char* algorithm;  // "XORK": a repeating key of 2 to 32 bytes
  bool any;               // ANY tries it (NONE is no hidden pair)
};
constexpr Kind kKinds[] = {{"XOR8", true},    {"ADD8", true},    {"SUB8", true},  {"XOR8ROL", true},
                           {"ADD8ROL", true}, {"ROL8ADD", true}, {"XOR8N", true}, {"XOR8INC", true},
                           {"XOR8DEC", true}, {"XORK", true},    {"NONE", false}};

struct Tally {
  int cases = 0, row = 0, any = 0, carved = 0, extra = 0, twins = 0, runner = 0;
};

// The case carved through the runner: true when one of its embedded records is the stored file at
// `offset` with the SHA-256 `hash`, and the file it names holds `payload`.
bool CarvedByRunner(const std::string& runner, const std::string& file, const std::string& dir,
                    const std::string& algorithm, int key, uint64_t offset, const std::string& hash,
                    const std::string& payload) {
  const std::string command = runner + " --algo " + algorithm + " --key " + std::to_string(key) +
                              " --alphabet a --min 255 --summary --json --carve '" + dir + "' '" +
                              file + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  std::string out;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const bool ran = ::pclose(pipe) == 0;
  bool equal = false;
  const std::string at = "\"offset\":" + std::to_string(offset) + ",";
  for (size_t line = 0, next; ran && line < out.size(); line = next + 1) {
    next = out.find('\n', line);
    if (next == std::string::npos) next = out.size();
    const std::string record = out.substr(line, next - line);
    if (record.find("\"type\":\"embedded\"") == std::string::npos ||
        record.find(at) == std::string::npos ||
        record.find("\"sha256\":\"" + hash + "\"") == std::string::npos) {
      continue;
    }
    const size_t path = record.find("\"path\":\"") + 8;
    const std::string written = record.substr(path, record.find('"', path) - path);
    equal = equal || ReadFile(written, payload.size() + 1) == payload;
    fs::remove(written);
  }
  return equal;
}

// The pair ANY names a map by: the first algorithm of the table that decodes every byte alike.
CarvePair AnyName(const CarvePair& pair) {
  if (!pair.key_bytes.empty() || Algorithm(pair.algorithm).Step != 0) return pair;
  const DecodeTable map = MakeDecodeTable(Algorithm(pair.algorithm).Decode, pair.key);
  for (const TAlgorithm& algorithm : Algorithms) {
    if (algorithm.Unkeyed() || algorithm.Step != 0) continue;
    for (int key = algorithm.FirstKey; key <= algorithm.LastKey; ++key) {
      if (MakeDecodeTable(algorithm.Decode, key) == map) return {algorithm.Name, key, {}};
    }
  }
  return pair;
}

// The members of a static library (the ar format): where each one's bytes begin, and how many.
struct Member {
  uint64_t offset, size;
};
std::vector<Member> ElfMembers(const std::string& archive) {
  std::vector<Member> members;
  if (archive.rfind("!<arch>\n", 0) != 0) return members;
  for (uint64_t at = 8; at + 60 <= archive.size();) {
    const std::string name = archive.substr(at, 16);
    const uint64_t size = std::strtoull(archive.substr(at + 48, 10).c_str(), nullptr, 10);
    const uint64_t data = at + 60;
    if (data + size > archive.size()) break;
    // "/" and "/SYM64/" hold the symbol table, "//" the long names.
    const bool table =
        name.rfind("/ ", 0) == 0 || name.rfind("// ", 0) == 0 || name.rfind("/SYM64/", 0) == 0;
    if (!table && archive.compare(data, 4,
                                  "\x7F"
                                  "ELF") == 0)
      members.push_back({data, size});
    at = data + size + size % 2;
  }
  return members;
}

// ELF objects stored plainly in this machine's static libraries, each found by NONE at its
// member's offset with the member's size, and carved back to the member's bytes.
void Archives(const std::string& carved) {
  std::vector<fs::path> archives;
  for (const char* root : {"/usr/lib/gcc", "/usr/lib/x86_64-linux-gnu"}) {
    for (const fs::path& p : FilesUnder(root, 1024, 64 << 20, 200000)) {
      if (p.extension() == ".a") archives.push_back(p);
    }
  }
  ExecutableFinder none;
  none.AddEveryKey(Algorithm("NONE"));
  size_t members = 0, found = 0, carved_equal = 0, extra = 0, libraries = 0;
  for (const fs::path& path : archives) {
    const std::string archive = ReadFile(path, static_cast<size_t>(fs::file_size(path)));
    const std::vector<Member> inside = ElfMembers(archive);
    if (inside.empty()) continue;
    ++libraries;
    members += inside.size();
    const std::vector<FoundExecutable> list = FindIn(none, path.string());
    MappedInput input;
    input.Open(path.string());
    const std::string host_hash = Hash(archive);
    for (const Member& m : inside) {
      const auto f = std::find_if(list.begin(), list.end(),
                                  [&](const FoundExecutable& e) { return e.offset == m.offset; });
      if (f == list.end() || f->size != m.size) {
        std::printf("  archive member missed: %s at %llu (%llu bytes)%s\n", path.c_str(),
                    static_cast<unsigned long long>(m.offset),
                    static_cast<unsigned long long>(m.size),
                    f == list.end() ? "" : (", found " + std::to_string(f->size)).c_str());
        continue;
      }
      ++found;
      const CarvedFile out = WriteCarvedFile(carved, host_hash, input.data(), input.size(), *f);
      carved_equal += out.sha256 == Hash(archive.substr(m.offset, m.size));
      fs::remove(out.path);
    }
    for (const FoundExecutable& e : list) {
      if (std::any_of(inside.begin(), inside.end(),
                      [&](const Member& m) { return m.offset == e.offset; })) {
        continue;
      }
      ++extra;
      std::printf("  other find: %s %s at %llu (%llu bytes)\n", path.c_str(),
                  FormatName(e.format).data(), static_cast<unsigned long long>(e.offset),
                  static_cast<unsigned long long>(e.size));
    }
  }
  std::printf(
      "static libraries: %zu with %zu ELF members: found %zu, carved equal %zu, other "
      "finds %zu\n",
      libraries, members, found, carved_equal, extra);
}

int Corpus(int cases, uint64_t seed, const std::string& keep, const std::string& runner) {
  std::mt19937_64 rng(seed);
  Draw draw(rng);
  const std::string folder = MakeCaseFolder("carve_bench");
  const std::string carved = folder + "/carved";
  PrepareCarveFolder(carved);
  // Payloads and hosts: programs whose headers give their whole size and that embed nothing.
  std::vector<Program> payloads, hosts;
  for (Program& p : Programs(16 << 10, 4 << 20)) {
    if (p.embeds || !p.header) continue;
    if (p.header->declared_size == p.size && p.size <= (2 << 20)) payloads.push_back(p);
    hosts.push_back(std::move(p));
  }
  const ExecutableFinder any = AnyFinder();
  std::printf("%zu payload programs, %zu host programs\n", payloads.size(), hosts.size());
  std::vector<std::pair<std::string, Tally>> tallies;
  int total_extra = 0;
  for (const Kind& kind : kKinds) {
    Tally tally;
    for (int c = 0; c < cases; ++c) {
      // Even cases store a real program, odd ones a made PE; a host binary, then random bytes.
      std::string payload;
      std::string what;
      if (c % 2 == 0) {
        const Program& p = payloads[draw.Below(payloads.size())];
        payload = ReadFile(p.path, p.size);
        what = p.path.filename().string();
      } else {
        test::PeShape shape;
        shape.wide = draw.Below(2) == 1;
        shape.sections = 1 + static_cast<int>(draw.Below(8));
        shape.certificate = draw.Below(3) == 0 ? 512 + static_cast<uint32_t>(draw.Below(4096)) : 0;
        shape.seed = rng();
        payload = test::MakePe(shape);
        what = shape.wide ? "made PE32+" : "made PE32";
      }
      std::string host;
      if (c % 4 < 2) {
        host = ReadFile(hosts[draw.Below(hosts.size())].path, 4 << 20);
      } else {
        host = RandomBytes(rng(), (64 << 10) + draw.Below(1 << 20));
      }
      const uint64_t offset = 1 + draw.Below(host.size() - 1);
      const TAlgorithm* algorithm = nullptr;
      CarvePair pair{kind.algorithm, 0, {}};
      std::string stored;
      if (pair.algorithm == "XORK") {
        const size_t length = 2 + draw.Below(31);
        for (size_t j = 0; j < length; ++j) pair.key_bytes.push_back(static_cast<uint8_t>(rng()));
        stored = test::EncodeRepeating(pair.key_bytes, payload, offset);
      } else {
        algorithm = &Algorithm(pair.algorithm);
        pair.key = algorithm->FirstKey +
                   static_cast<int>(draw.Below(static_cast<uint64_t>(algorithm->KeyCount())));
        stored = test::Encode(pair.algorithm, pair.key, payload, offset);
        // NONE decodes alike under every key, and lists its finds under its first.
        if (algorithm->Unkeyed()) pair.key = algorithm->FirstKey;
      }
      const std::string file = host.substr(0, offset) + stored + host.substr(offset);
      const std::string path = folder + "/case";
      std::ofstream(path, std::ios::binary) << file;
      ExecutableFinder row;
      if (algorithm != nullptr) {
        row.AddEveryKey(*algorithm);
      } else {
        row.AddKeyBytes("XORK", pair.key_bytes);
      }
      const std::vector<FoundExecutable> by_row = FindIn(row, path);
      ExecutableFinder any_and_candidate;
      std::vector<FoundExecutable> by_any;
      if (algorithm == nullptr) {
        any_and_candidate.AddEveryPair();
        any_and_candidate.AddKeyBytes("XORK", pair.key_bytes);
        by_any = FindIn(any_and_candidate, path);
      } else if (kind.any) {
        by_any = FindIn(any, path);
      }
      const CarvePair any_pair = AnyName(pair);
      const auto at = [&](const std::vector<FoundExecutable>& list, const CarvePair& expected) {
        return std::find_if(list.begin(), list.end(), [&](const FoundExecutable& f) {
          return f.offset == offset && f.pair == expected;
        });
      };
      ++tally.cases;
      const auto hit = at(by_row, pair);
      const bool row_found = hit != by_row.end() && hit->size == payload.size() && !hit->truncated;
      const bool any_found = !kind.any || at(by_any, any_pair) != by_any.end();
      tally.row += row_found;
      tally.any += any_found && kind.any;
      // What else is found lies inside the stored program (a program that embeds another).
      const std::pair<const std::vector<FoundExecutable>*, CarvePair> lists[] = {
          {&by_row, pair}, {&by_any, any_pair}};
      for (const auto& [list, expected] : lists) {
        for (const FoundExecutable& f : *list) {
          if (f.offset == offset && f.pair == expected) continue;
          if (f.offset > offset && f.offset < offset + payload.size()) continue;
          // Another pair at the stored file's own offset decodes its header alike and differs
          // elsewhere: both are listed (a twin); anything else is a false find.
          uint64_t differ = 0;
          if (f.offset == offset) {
            const ByteCipher mine = CipherOf(f.pair), truth = CipherOf(pair);
            for (uint64_t j = offset; j < offset + payload.size(); ++j) {
              const auto b = static_cast<uint8_t>(file[j]);
              differ += mine.Byte(b, j) != truth.Byte(b, j);
            }
            ++tally.twins;
          } else {
            ++tally.extra;
          }
          std::printf(
              "  %s: %s at %llu under %s %s (case %s %s %d, %s, %llu of %zu bytes "
              "differ)\n",
              f.offset == offset ? "twin" : "extra", FormatName(f.format).data(),
              static_cast<unsigned long long>(f.offset), f.pair.algorithm.c_str(),
              KeyTextOf(f.pair).c_str(), kind.algorithm, KeyTextOf(pair).c_str(), c, what.c_str(),
              static_cast<unsigned long long>(differ), payload.size());
        }
      }
      bool equal = false;
      if (row_found) {
        MappedInput input;
        input.Open(path);
        const CarvedFile out =
            WriteCarvedFile(carved, Hash(file), input.data(), input.size(), *hit);
        equal = out.sha256 == Hash(payload) && ReadFile(out.path, payload.size() + 1) == payload;
        fs::remove(out.path);
      }
      tally.carved += equal;
      if (!runner.empty() && algorithm != nullptr) {
        tally.runner += CarvedByRunner(runner, path, carved, pair.algorithm, pair.key, offset,
                                       Hash(payload), payload);
      }
      if (!row_found || !any_found || !equal) {
        std::printf("  missed: %s %s under %s at %llu (row %d, ANY %d, carved %d)\n", what.c_str(),
                    algorithm ? KeyText(*algorithm, pair.key).c_str() : KeyTextOf(pair).c_str(),
                    kind.algorithm, static_cast<unsigned long long>(offset), row_found, any_found,
                    equal);
        if (!keep.empty()) {
          fs::copy_file(path, keep + "/" + kind.algorithm + "_" + std::to_string(c),
                        fs::copy_options::overwrite_existing);
        }
      }
    }
    total_extra += tally.extra;
    tallies.push_back({kind.algorithm, tally});
  }
  std::printf("\n%-8s %6s %10s %10s %14s %6s %6s%s\n", "cipher", "cases", "row found", "ANY found",
              "carved equal", "extra", "twins", runner.empty() ? "" : "  runner equal");
  for (const auto& [name, t] : tallies) {
    std::printf("%-8s %6d %10d %10s %14d %6d %6d", name.c_str(), t.cases, t.row,
                name == "NONE" ? "-" : std::to_string(t.any).c_str(), t.carved, t.extra, t.twins);
    if (!runner.empty()) {
      std::printf(" %13s", name == "XORK" ? "-" : std::to_string(t.runner).c_str());
    }
    std::printf("\n");
  }
  // Clean programs: 20 drawn from those that hold no ELF magic after offset 0 and no PE
  // signature; neither NONE nor ANY may find anything in them.
  std::vector<const Program*> clean;
  for (const Program& p : hosts) clean.push_back(&p);
  std::shuffle(clean.begin(), clean.end(), rng);
  clean.resize(std::min<size_t>(clean.size(), 20));
  ExecutableFinder none_and_any;
  none_and_any.AddEveryKey(Algorithm("NONE"));
  none_and_any.AddEveryPair();
  int clean_found = 0;
  uint64_t clean_bytes = 0;
  for (const Program* p : clean) {
    for (const FoundExecutable& f : FindIn(none_and_any, p->path)) {
      ++clean_found;
      std::printf("  clean %s: %s at %llu under %s %s\n", p->path.c_str(),
                  FormatName(f.format).data(), static_cast<unsigned long long>(f.offset),
                  f.pair.algorithm.c_str(), KeyTextOf(f.pair).c_str());
    }
    clean_bytes += p->size;
  }
  std::printf("clean programs: %zu (%.1f MiB), executables found in them: %d\n", clean.size(),
              static_cast<double>(clean_bytes) / (1 << 20), clean_found);
  Archives(carved);
  fs::remove_all(folder);
  bool all = clean_found == 0 && total_extra == 0;
  for (const auto& [name, t] : tallies) {
    all = all && t.row == t.cases && t.carved == t.cases && (name == "NONE" || t.any == t.cases) &&
          (runner.empty() || name == "XORK" || t.runner == t.cases);
  }
  return all ? 0 : 1;
}

}  // namespace
}  // namespace veskor::bench

int main(int argc, char** argv) {
  using namespace veskor::bench;
  veskor::FillAlgorithms();
  int cases = 20;
  uint64_t seed = 1;
  int numbers = 0, rounds = 3;
  std::string time_file, algo, key, key_bytes, keep, runner;
  bool survey = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // The text after `name` when the argument begins with it.
    auto takes = [&](const char* name, std::string& out) {
      const size_t n = std::strlen(name);
      if (arg.compare(0, n, name) != 0) return false;
      out = arg.substr(n);
      return true;
    };
    std::string text;
    if (arg == "--survey") {
      survey = true;
    } else if (takes("--time=", time_file) || takes("--algo=", algo) || takes("--key=", key) ||
               takes("--key-bytes=", key_bytes) || takes("--keep=", keep) ||
               takes("--runner=", runner)) {
    } else if (takes("--rounds=", text)) {
      rounds = std::max(1, std::atoi(text.c_str()));
    } else if (numbers++ == 0) {
      cases = std::max(1, std::atoi(argv[i]));
    } else {
      seed = std::strtoull(argv[i], nullptr, 10);
    }
  }
  try {
    if (survey) return Survey();
    if (!time_file.empty()) return Time(time_file, algo, key, key_bytes, rounds);
    return Corpus(cases, seed, keep, runner);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "carve_bench: %s\n", error.what());
    return 1;
  }
}

// What the benches draw their cases from: real files of this machine by kind, seeded random
// bytes, and seeded secrets (URLs, paths, credentials, mutex names, commands) to hide in them.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace veskor::bench {

namespace fs = std::filesystem;

// The bytes of the "printable" preset: tab and 32..126.
inline std::string PrintableAlphabet() {
  std::string alphabet = "\t";
  for (int c = 32; c <= 126; ++c) alphabet += static_cast<char>(c);
  return alphabet;
}

inline bool StartsWith(const fs::path& path, const char* magic, size_t size) {
  std::ifstream in(path, std::ios::binary);
  char head[4] = {};
  in.read(head, static_cast<std::streamsize>(size));
  return in && std::memcmp(head, magic, size) == 0;
}
inline bool IsElf(const fs::path& path) {
  return StartsWith(path,
                    "\x7F"
                    "ELF",
                    4);
}
inline bool IsScript(const fs::path& path) { return StartsWith(path, "#!", 2); }

// Plain text: no zero bytes and mostly printable in its first 4 KiB.
inline bool IsPlainText(const fs::path& path) {
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

// Regular files (not links) of `root` between the sizes, in name order, at most `limit` looked at.
inline std::vector<fs::path> FilesUnder(const fs::path& root, uintmax_t min_size,
                                        uintmax_t max_size, size_t limit) {
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

// The files the cases are drawn from, each list in name order.
struct Pools {
  // ELF files of /usr/bin and /usr/lib, plain text of /usr/share/doc, scripts of both
  std::vector<fs::path> programs, libraries, documents, scripts;
  // licence texts, longer scripts, compressed documents and man pages, files by type
  std::vector<fs::path> licences, texts_scripts, doc_gz, man_gz, html, json, python, man_pages;
  std::vector<fs::path> csv;
};

inline bool EndsWith(const std::string& name, std::string_view end) {
  return name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
}

inline Pools FindFiles(uintmax_t max_size) {
  Pools pools;
  for (const fs::path& p : FilesUnder("/usr/bin", 4096, max_size, 100000)) {
    if (IsElf(p)) {
      pools.programs.push_back(p);
    } else if (IsScript(p)) {
      pools.scripts.push_back(p);
      if (fs::file_size(p) >= 1024) pools.texts_scripts.push_back(p);
    }
  }
  for (const fs::path& p : FilesUnder("/usr/lib", 4096, max_size, 200000)) {
    if (IsElf(p)) {
      pools.libraries.push_back(p);
    } else if (IsScript(p)) {
      pools.scripts.push_back(p);
    }
    const std::string name = p.filename().string();
    if (EndsWith(name, ".json") && p.string().find("/python") == std::string::npos) {
      pools.json.push_back(p);
    }
    if (EndsWith(name, ".py") && p.string().rfind("/usr/lib/python3", 0) == 0) {
      pools.python.push_back(p);
    }
  }
  for (const fs::path& p : FilesUnder("/usr/share/doc", 2048, max_size, 100000)) {
    if (p.extension() != ".gz" && IsPlainText(p)) pools.documents.push_back(p);
  }
  for (const fs::path& p : FilesUnder("/usr/share/common-licenses", 1024, max_size, 1000)) {
    pools.licences.push_back(p);
  }
  for (const fs::path& p : FilesUnder("/usr/share", 1024, max_size, 200000)) {
    const std::string path = p.string();
    const std::string name = p.filename().string();
    const bool gz = EndsWith(name, ".gz") || EndsWith(name, ".xz");
    if (path.rfind("/usr/share/doc/", 0) == 0) {
      if (name == "copyright") pools.licences.push_back(p);
      if (gz) pools.doc_gz.push_back(p);
    } else if (path.rfind("/usr/share/man/", 0) == 0) {
      if (gz) pools.man_gz.push_back(p);
      // Pages of the English sections, unpacked for the whole-file kind.
      if (EndsWith(name, ".gz") && path.rfind("/usr/share/man/man", 0) == 0 &&
          path.find('\'') == std::string::npos) {
        pools.man_pages.push_back(p);
      }
    }
    if (EndsWith(name, ".html") || EndsWith(name, ".htm")) {
      if (fs::file_size(p) >= 2048) pools.html.push_back(p);
    } else if (EndsWith(name, ".json")) {
      pools.json.push_back(p);
    } else if (EndsWith(name, ".csv")) {
      pools.csv.push_back(p);
    } else if (EndsWith(name, ".py") || EndsWith(name, ".sh")) {
      pools.texts_scripts.push_back(p);
    }
  }
  for (auto* pool : {&pools.licences, &pools.texts_scripts, &pools.json}) {
    std::sort(pool->begin(), pool->end());
  }
  return pools;
}

inline std::string ReadFile(const fs::path& path, size_t max_bytes) {
  std::ifstream in(path, std::ios::binary);
  std::string data(max_bytes, '\0');
  in.read(data.data(), static_cast<std::streamsize>(max_bytes));
  data.resize(static_cast<size_t>(in.gcount()));
  return data;
}

// The unpacked text of a .gz file, at most `max_bytes`.
inline std::string ReadGzip(const fs::path& path, size_t max_bytes) {
  const std::string command = "gzip -dc -- '" + path.string() + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string data(max_bytes, '\0');
  const size_t n = std::fread(data.data(), 1, max_bytes, pipe);
  ::pclose(pipe);
  data.resize(n);
  return data;
}

inline std::string RandomBytes(uint64_t seed, size_t size) {
  std::mt19937_64 rng(seed);
  std::string data(size, '\0');
  for (size_t j = 0; j + 8 <= data.size(); j += 8) {
    const uint64_t v = rng();
    std::memcpy(&data[j], &v, 8);
  }
  return data;
}

// The files of `pools` whose size is within the bounds, in the pools' order.
inline std::vector<fs::path> SizedBetween(const std::vector<const std::vector<fs::path>*>& pools,
                                          uintmax_t min_size, uintmax_t max_size) {
  std::vector<fs::path> files;
  for (const auto* pool : pools) {
    for (const auto& p : *pool) {
      const uintmax_t size = fs::file_size(p);
      if (size >= min_size && size <= max_size) files.push_back(p);
    }
  }
  return files;
}

// A private folder for a bench's files, in memory when /dev/shm is there; `name` prefixes it.
inline std::string MakeCaseFolder(const std::string& name) {
  for (const char* base : {"/dev/shm", "/tmp"}) {
    std::string pattern = std::string(base) + "/" + name + ".XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) return pattern;
  }
  throw std::runtime_error("cannot make a folder for the cases' files");
}

// The text with every byte outside 32..126 shown as "?".
inline std::string Clip(const std::string& text, size_t bytes) {
  std::string out;
  for (const char ch : text.substr(0, bytes)) {
    const uint8_t c = static_cast<uint8_t>(ch);
    out += c >= 32 && c < 127 ? ch : '?';
  }
  return out;
}

// Words and names of our own for the secrets and the generated tables.
inline constexpr const char* kWords[] = {
    "harvest", "lantern", "orchid",  "granite", "meadow",  "velvet",   "compass", "thunder",
    "saddle",  "pebble",  "willow",  "falcon",  "cobalt",  "juniper",  "marble",  "tundra",
    "quiver",  "ember",   "walnut",  "glacier", "hammock", "mosaic",   "nectar",  "orbit",
    "paddock", "quartz",  "riddle",  "sparrow", "timber",  "umbrella", "voyage",  "wander",
    "yonder",  "zephyr",  "anchor",  "blossom", "candle",  "dagger",   "emerald", "furnace",
    "gallery", "horizon", "invoice", "jacket",  "kettle",  "ladder",   "mirror",  "needle",
    "pigeon",  "rocket",  "shelter", "tractor", "village", "whistle",  "kingdom", "puzzle"};
inline constexpr const char* kSmallWords[] = {"and",  "the",  "of",   "with", "near", "under",
                                              "over", "into", "from", "for",  "by",   "after"};
inline constexpr const char* kHosts[] = {"northwind",  "bluepeak", "silverline", "redbrook",
                                         "greenfield", "ironwood", "brightstar", "oakridge"};
inline constexpr const char* kTlds[] = {"com", "net", "org", "io", "de", "co.uk"};
inline constexpr const char* kExtensions[] = {"zip", "exe", "dat", "txt", "cfg", "bin", "pdf"};
inline constexpr const char* kCommands[] = {"rsync", "openssl", "scp", "wget", "tar", "dd"};
inline constexpr const char* kUsers[] = {"admin", "root", "backup", "svc",    "deploy",
                                         "guest", "ops",  "db",     "mlopez", "kchen"};
inline constexpr const char* kCredentialNames[] = {"pass", "pwd",    "token", "secret",
                                                   "key",  "apikey", "auth",  "passwd"};
inline constexpr const char* kLockWords[] = {"Mutex", "Lock", "Sync", "Once", "Guard", "Mtx"};
inline constexpr const char* kSymbols[] = {"!", "#", "$", "@", "%", "*", "-", "_", "."};

// Draws from a seeded generator. Every draw is sequenced (one statement, or the elements of a
// braced list, which run in order), so that the same seed makes the same cases whatever order a
// compiler gives the operands of + or a call's arguments.
class Draw {
 public:
  explicit Draw(std::mt19937_64& rng) : rng_(rng) {}

  template <size_t N>
  std::string Pick(const char* const (&words)[N]) {
    return words[rng_() % N];
  }
  static std::string Capital(std::string word) {
    word[0] = static_cast<char>(word[0] - 'a' + 'A');
    return word;
  }
  static std::string Cat(std::initializer_list<std::string> parts) {
    std::string out;
    for (const std::string& part : parts) out += part;
    return out;
  }
  std::string Digits(int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += static_cast<char>('0' + rng_() % 10);
    return out;
  }
  std::string Hex(int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += "0123456789abcdef"[rng_() % 16];
    return out;
  }
  std::string Letter() { return std::string(1, static_cast<char>('a' + rng_() % 26)); }
  uint64_t Below(uint64_t n) { return rng_() % n; }

 protected:
  std::mt19937_64& rng_;
};

// Secrets of several kinds: URLs, registry and Windows paths, commands, sentences, passwords;
// of 30 to 60 bytes unless other bounds are given.
class SecretMaker : public Draw {
 public:
  explicit SecretMaker(std::mt19937_64& rng, size_t min_size = 30, size_t max_size = 60)
      : Draw(rng), min_size_(min_size), max_size_(max_size) {}

  std::string Make() {
    for (;;) {
      std::string secret;
      switch (Below(6)) {
        case 0:
          secret = Cat({"https://", Pick(kHosts), ".", Pick(kTlds), "/", Pick(kWords), "/",
                        Pick(kWords), Digits(3), ".", Pick(kExtensions)});
          break;
        case 1:
          secret = Cat({Below(2) ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER", "\\Software\\",
                        Capital(Pick(kWords)), "\\", Capital(Pick(kWords)), "\\",
                        Capital(Pick(kWords))});
          break;
        case 2:
          secret = Cat({Pick(kCommands), " --", Pick(kWords), " -", Letter(), " /opt/",
                        Pick(kWords), "/", Pick(kWords), ".", Pick(kExtensions)});
          break;
        case 3:
          secret = Capital(Pick(kWords));
          while (secret.size() < 40) secret += Cat({" ", Pick(kSmallWords), " ", Pick(kWords)});
          secret += ".";
          break;
        case 4:
          secret = Cat({"C:\\Users\\", Capital(Pick(kWords)), "\\AppData\\", Capital(Pick(kWords)),
                        "\\", Pick(kWords), ".", Pick(kExtensions)});
          break;
        default:
          secret = Cat({"password for ", Pick(kWords), ".", Pick(kHosts), ".", Pick(kTlds), " is ",
                        Capital(Pick(kWords)), Digits(4)});
          break;
      }
      if (secret.size() >= min_size_ && secret.size() <= max_size_) return secret;
    }
  }

 private:
  size_t min_size_, max_size_;
};

// Short secrets: mutex names, passwords, key=value credentials, user:password pairs, named-pipe
// paths, URLs and registry paths; of 12 to 24 bytes unless other bounds are given.
class ShortSecretMaker : public Draw {
 public:
  explicit ShortSecretMaker(std::mt19937_64& rng, size_t min_size = 12, size_t max_size = 24)
      : Draw(rng), min_size_(min_size), max_size_(max_size) {}

  std::string Make() {
    for (;;) {
      std::string secret;
      switch (Below(7)) {
        case 0: {
          const uint64_t scope = Below(3);
          secret = Cat({scope == 0   ? "Global\\"
                        : scope == 1 ? "Local\\"
                                     : "",
                        Capital(Pick(kWords)), Pick(kLockWords)});
          if (Below(2))
            secret += Cat({Below(2) ? "_" : "", Digits(2 + static_cast<int>(Below(3)))});
          break;
        }
        case 1:
          secret = Password();
          break;
        case 2:
          secret = Pick(kCredentialNames);
          secret += "=";
          secret += Below(3) == 0 ? Hex(10 + static_cast<int>(Below(7))) : Password();
          break;
        case 3:
          secret = Cat({Pick(kUsers), ":", Password()});
          break;
        case 4:
          secret = Cat({"\\\\.\\pipe\\", Pick(kWords)});
          secret += Below(2) ? Cat({"_", Pick(kWords)}) : Digits(3);
          break;
        case 5:
          secret = Cat({Below(2) ? "http://" : "https://", Pick(kWords), ".", Pick(kTlds), "/"});
          secret += Below(2) ? Pick(kWords) : Letter();
          break;
        default:
          secret = Cat({Below(2) ? "HKCU\\Software\\" : "HKLM\\SOFTWARE\\", Capital(Pick(kWords))});
          break;
      }
      if (secret.size() >= min_size_ && secret.size() <= max_size_) return secret;
    }
  }

 private:
  std::string Password() {
    switch (Below(3)) {
      case 0:
        return Cat({Capital(Pick(kWords)), Pick(kSymbols), Digits(2 + static_cast<int>(Below(3)))});
      case 1:
        return Cat({Pick(kWords), Digits(2), Capital(Pick(kWords))});
      default: {
        // A word with letters swapped for look-alike digits.
        std::string word = Cat({Pick(kWords), Pick(kSymbols), Capital(Pick(kWords))});
        for (char& c : word) {
          if (Below(2) == 0) continue;
          c = c == 'a' ? '4' : c == 'e' ? '3' : c == 'o' ? '0' : c == 'i' ? '1' : c;
        }
        return word;
      }
    }
  }

  size_t min_size_, max_size_;
};

}  // namespace veskor::bench

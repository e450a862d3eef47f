// A finder per task, built once, with the keys each file gave away added for that file, and each
// file's finds written once.
#include "cli/file_carver.h"

#include <algorithm>
#include <future>
#include <system_error>

#include "engine/carve/range_decoder.h"
#include "engine/decoding/algorithms.h"
#include "engine/decoding/xor_key.h"
#include "engine/run/run_search.h"
#include "text/error.h"

namespace veskor {

FileCarver::FileCarver(std::string dir, const std::vector<RequestRow>& rows, bool sha256)
    : dir_(std::move(dir)), sha256_(sha256) {
  for (const RequestRow& row : rows) {
    ExecutableFinder finder;
    TAlgorithm algorithm;
    bool file_keys = false;
    if (row.algorithm == kAnyAlgorithmName) {
      if (!row.key.empty()) continue;
      finder.AddEveryPair();
      file_keys = true;
    } else if (!FindAlgorithm(row.algorithm, algorithm)) {
      continue;
    } else if (algorithm.Repeating && row.key.empty()) {
      file_keys = true;
    } else if (algorithm.Repeating) {
      try {
        const XorKey key = XorKeyOfText(row.key, row.key_shown, algorithm.Name);
        finder.AddKeyBytes(algorithm.Name, {key.bytes().begin(), key.bytes().end()});
      } catch (const Error&) {
        continue;
      }
    } else if (row.key.empty() || algorithm.Unkeyed()) {
      // The bytes as stored decode alike under every key.
      finder.AddEveryKey(algorithm);
    } else {
      try {
        finder.AddKey(algorithm, KeyOfText(algorithm, row.key, row.key_shown));
      } catch (const Error&) {
        continue;
      }
    }
    finders_.push_back({row.row, std::move(finder), file_keys});
  }
}

ExecutableFinder::Result FileCarver::Find(const RowFinder& finder, const MappedInput& input,
                                          const RowOutcome& row, const FindOptions& options) {
  const RunSearch* search = row.search.get();
  std::shared_ptr<const std::vector<XorKey>> keys;
  if (finder.file_keys && search != nullptr) {
    keys = search->any ? search->xor_keys : search->algorithm.XorKeys;
  }
  if (!keys || keys->empty()) return finder.finder.Find(input.data(), input.size(), options);
  // The keys this file gave away, searched by the row, beside the row's own pairs: one pass finds
  // them all, and where they and another pair find a file at one offset the best decoding stays.
  TAlgorithm xork;
  FindAlgorithm("XORK", xork);
  ExecutableFinder with_keys = finder.finder;
  with_keys.AddEveryKey(WithXorKeys(xork, keys));
  return with_keys.Find(input.data(), input.size(), options);
}

void FileCarver::Carve(const MappedInput& input, const std::vector<RowOutcome>& rows,
                       const std::function<std::optional<std::string>()>& host_sha256,
                       const std::function<bool()>& go_on, Outcome& outcome) const {
  FindOptions options;
  options.go_on = go_on;
  // The host's hash names the files. It is taken on another thread from the first find on, while
  // the files are written with no name yet (where the folder's file system makes such files),
  // and they are named once it is known: the two take about as long on a file of programs.
  std::optional<std::string> hash;
  std::future<std::optional<std::string>> hashing;
  bool hash_asked = false;
  bool unnamed_made = true;  // false once the folder made no file without a name
  struct Unnamed {
    FoundExecutable found;
    UnnamedCarvedFile file;
  };
  std::vector<Unnamed> unnamed;
  // Waits for the hash and names the files that wait for it, in order: false when it could not be
  // taken (a stop, the deadline, a fault), and those files are gone.
  const auto name_waiting = [&] {
    if (hashing.valid()) hash = hashing.get();
    if (hash_asked && !hash) {
      unnamed.clear();
      return false;
    }
    for (Unnamed& u : unnamed) {
      std::optional<CarvedFile> file = NameCarvedFile(std::move(u.file), dir_, *hash, u.found);
      if (!file) file = WriteCarvedFile(dir_, *hash, input.data(), input.size(), u.found, sha256_);
      outcome.written.push_back({u.found, std::move(*file)});
    }
    unnamed.clear();
    return true;
  };
  const auto any_found = [&](const auto& same) {
    return std::any_of(outcome.written.begin(), outcome.written.end(),
                       [&](const Written& w) { return same(w.found); }) ||
           std::any_of(unnamed.begin(), unnamed.end(),
                       [&](const Unnamed& u) { return same(u.found); });
  };
  try {
    for (const RowOutcome& row : rows) {
      if (row.kind != RowOutcome::Kind::kDone) continue;
      const auto finder = std::find_if(finders_.begin(), finders_.end(),
                                       [&](const RowFinder& f) { return f.row == row.row; });
      if (finder == finders_.end()) continue;
      const ExecutableFinder::Result result = Find(*finder, input, row, options);
      for (const FoundExecutable& found : result.found) {
        const auto same_pair = [&](const FoundExecutable& f) {
          return f.offset == found.offset && f.pair == found.pair;
        };
        if (any_found(same_pair)) continue;
        if (go_on && !go_on()) {
          name_waiting();
          outcome.complete = false;
          return;
        }
        if (!hash_asked) {
          hash_asked = true;
          try {
            hashing = std::async(std::launch::async, host_sha256);
          } catch (const std::system_error&) {
            // No thread to spare: the hash is taken when it is waited for.
            hashing = std::async(std::launch::deferred, host_sha256);
          }
        }
        const auto same_bytes = [&](const FoundExecutable& f) {
          return f.offset == found.offset && f.size == found.size &&
                 DecodeAlike(input.data(), input.size(), CipherOf(f.pair), CipherOf(found.pair),
                             found.offset, found.offset + found.size);
        };
        // Another pair that decodes alike: the file is there already, under the first name.
        if (any_found(same_bytes)) continue;
        if (unnamed_made) {
          std::optional<UnnamedCarvedFile> file =
              WriteUnnamedCarvedFile(dir_, input.data(), input.size(), found, sha256_);
          if (file) {
            unnamed.push_back({found, std::move(*file)});
            continue;
          }
          unnamed_made = false;
        }
        if (!name_waiting()) {
          outcome.complete = false;
          return;
        }
        outcome.written.push_back(
            {found, WriteCarvedFile(dir_, *hash, input.data(), input.size(), found, sha256_)});
      }
      if (!result.complete) {
        name_waiting();
        outcome.complete = false;
        return;
      }
    }
    if (!name_waiting()) outcome.complete = false;
  } catch (...) {
    // The files written whole before the failure are named and told, as those written after the
    // hash are.
    try {
      name_waiting();
    } catch (...) {
    }
    throw;
  }
}

}  // namespace veskor

// A finder per task, built once, and each file's finds written once.
#include "cli/file_carver.h"

#include <unistd.h>

#include <algorithm>

#include "engine/decoding/algorithms.h"
#include "engine/run/run_search.h"
#include "text/error.h"

namespace veskor {

FileCarver::FileCarver(std::string dir, const std::vector<RequestRow>& rows)
    : dir_(std::move(dir)) {
  for (const RequestRow& row : rows) {
    ExecutableFinder finder;
    TAlgorithm algorithm;
    if (row.algorithm == kAnyAlgorithmName) {
      if (!row.key.empty()) continue;
      finder.AddEveryPair();
    } else if (!FindAlgorithm(row.algorithm, algorithm)) {
      continue;
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
    finders_.emplace_back(row.row, std::move(finder));
  }
}

void FileCarver::Carve(const MappedInput& input, const std::vector<RowOutcome>& rows,
                       const std::function<std::optional<std::string>()>& host_sha256,
                       const std::function<bool()>& go_on, Outcome& outcome) const {
  FindOptions options;
  options.go_on = go_on;
  std::optional<std::string> hash;
  for (const RowOutcome& row : rows) {
    if (row.kind != RowOutcome::Kind::kDone) continue;
    const auto finder = std::find_if(finders_.begin(), finders_.end(),
                                     [&](const auto& f) { return f.first == row.row; });
    if (finder == finders_.end()) continue;
    const ExecutableFinder::Result result =
        finder->second.Find(input.data(), input.size(), options);
    for (const FoundExecutable& found : result.found) {
      const auto same_pair = [&](const Written& w) {
        return w.found.offset == found.offset && w.found.pair == found.pair;
      };
      if (std::any_of(outcome.written.begin(), outcome.written.end(), same_pair)) continue;
      if (go_on && !go_on()) {
        outcome.complete = false;
        return;
      }
      if (!hash) {
        hash = host_sha256();
        if (!hash) {
          outcome.complete = false;
          return;
        }
      }
      CarvedFile file = WriteCarvedFile(dir_, *hash, input.data(), input.size(), found);
      const auto same_bytes = [&](const Written& w) {
        return w.found.offset == found.offset && w.found.size == found.size &&
               w.file.sha256 == file.sha256;
      };
      if (std::any_of(outcome.written.begin(), outcome.written.end(), same_bytes)) {
        // Another pair that decodes alike: the file is there already, under the first name.
        ::unlink(file.path.c_str());
        continue;
      }
      outcome.written.push_back({found, std::move(file)});
    }
    if (!result.complete) {
      outcome.complete = false;
      return;
    }
  }
}

}  // namespace veskor

// What the window keeps of each task row's last run for its Results window: the per-key summary
// and what the row searched, in memory only, and the words that name keys and scores.
#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/results/key_strings.h"
#include "engine/run/run_search.h"
#include "engine/score/key_summary.h"

namespace veskor {

class TaskTable;

// One row's last run, as the run ended it (done or stopped).
struct RowResult {
  std::shared_ptr<const RowSummary> summary;
  std::shared_ptr<const RunSearch> search;
  std::optional<int> key;  // the row's key; none for an all-keys row
  std::string preset;      // the row's preset name, 8-bit
  int64_t found = 0;       // the strings the run found
  bool stopped = false;
  int run = 0;          // the window's runs counted from 1; 0 when not known
  QDateTime run_start;  // when the run began

  bool Unkeyed() const;
  // The keys the Results window lists, best first: the summary's ranking, or for NONE, which
  // decodes alike under every key, the row's key (key 1 for an all-keys row) when it found
  // strings, as veskor-scan --summary lists them.
  std::vector<int> ShownKeys() const;
};

// A key in decimal, as the runner's summary writes it, with the hex form of the logs: "90 (0x5A)",
// a rotation family's "858 (0x35A)" (rotation 3, byte 0x5A). One form for every key the
// Results window names.
QString KeyText(int key);
// A key of `algorithm`: KeyText, or a key of many bytes as its bytes in hex, "0x8c61d263".
QString ShownKeyText(const TAlgorithm& algorithm, int key);

// The algorithm of a key the row's summary lists: of an ANY row the pair's own algorithm.
TAlgorithm KeyAlgorithm(const RunSearch& search, int key);
// A key the row's summary lists, as its algorithm writes it; of an ANY row the pair's key alone.
QString ListedKeyText(const RunSearch& search, int key);
// The same with the pair's algorithm in front for an ANY row: "XOR8ROL 858 (0x35A)".
QString NamedKeyText(const RunSearch& search, int key);

// The Result cell's words after the count for an all-keys row: "best keys 90 (0x5A), 122 (0x7A),
// 27 (0x1B)": up to three keys whose score is above 0, or empty when none is (or the row had
// one key, or is NONE). An ANY row names each pair's algorithm: "best keys XOR8ROL 858 (0x35A),
// ...".
QString BestKeysText(const RowResult& result);

// The results of the rows of the last run, found by the row's LogPath: a run gives each row a
// log path of its own, the path moves with its row when the table is sorted, and
// ResetTaskResults empties it, which ends the row's results.
class RowResults {
 public:
  void Clear() { results_.clear(); }
  void Keep(const std::string& log_path, std::shared_ptr<const RowResult> result);
  // The results of the table's row, or null.
  std::shared_ptr<const RowResult> Find(const TaskTable& table, int row) const;
  // Drops the results that no row's log path names any more; returns what was dropped.
  std::vector<std::shared_ptr<const RowResult>> Prune(const TaskTable& table);
  size_t size() const { return results_.size(); }

 private:
  std::map<std::string, std::shared_ptr<const RowResult>> results_;
};

}  // namespace veskor

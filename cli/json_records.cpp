// JSON Lines through nlohmann::json, its objects ordered as the records' layout lists them.
#include "cli/json_records.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/terminal_text.h"
#include "engine/export/summary_table.h"
#include "engine/score/key_summary.h"
#include "text/cp1251.h"
#include "text/integer_syntax.h"

namespace veskor {
namespace {

using Json = nlohmann::ordered_json;

// A name that is not UTF-8 is read as Windows-1251, and its bytes kept in hex to recover it.
Json Record(const char* type, const std::string& file) {
  Json record;
  record["type"] = type;
  if (IsValidUtf8(file)) {
    record["file"] = file;
    return record;
  }
  record["file"] = Cp1251ToUtf8(file);
  record["file_hex"] = LowerHex(file);
  return record;
}

// A score as the summary table shows it, at most two decimals.
double Rounded(double score) { return std::stod(ScoreText(score)); }

// An XORK key is written as the text of its bytes, every other key as a number.
Json KeyValue(const TAlgorithm& algorithm, int key) {
  if (algorithm.Repeating) return KeyText(algorithm, key);
  return key;
}

std::string Line(const Json& record) {
  return record.dump(-1, ' ', false, Json::error_handler_t::strict) + "\n";
}

}  // namespace

std::string KeyRecords(const std::string& file, const std::vector<RowOutcome>& outcomes, int top) {
  std::string lines;
  ForEachListedKey(outcomes, top,
                   [&](const TAlgorithm& algorithm, int key, const KeySummary& strings) {
                     Json record = Record("key", file);
                     record["algo"] = Cp1251ToUtf8(algorithm.Name);
                     record["key"] = KeyValue(algorithm, key);
                     // A key proved below the others carries the bound of its score instead.
                     if (strings.Bounded()) {
                       record["score"] = nullptr;
                       record["score_below"] = Rounded(BoundAbove(strings.Bound()));
                     } else {
                       record["score"] = Rounded(strings.Score());
                     }
                     record["lines"] = strings.Count();
                     record["chars"] = strings.TotalLength();
                     record["longest"] = strings.Longest();
                     record["best"] = Cp1251ToUtf8(strings.BestText());
                     record["best_offset"] = strings.BestPosition();
                     lines += Line(record);
                   });
  return lines;
}

std::string RuleRecord(const std::string& file, const FileRule& rule) {
  Json record = Record("rule", file);
  record["algo"] = Cp1251ToUtf8(rule.algorithm);
  if (rule.key_text.empty()) {
    record["key"] = rule.key;
  } else {
    record["key"] = rule.key_text;
  }
  record["name"] = rule.name;
  // Only ASCII: the writer escapes every other byte.
  record["rule"] = rule.text;
  return Line(record);
}

std::string FileRecord(const std::string& file, const FileOutcome& outcome) {
  Json record = Record("file", file);
  record["size"] = outcome.size;
  record["sha256"] = outcome.sha256;
  record["status"] = outcome.status;
  record["message"] = outcome.message;
  record["reason"] = outcome.reason;
  record["options"] = outcome.options;
  record["seconds"] = std::round(outcome.seconds * 1000) / 1000;
  return Line(record);
}

}  // namespace veskor

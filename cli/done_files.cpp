// Reads the `file` records of an earlier batch's JSON Lines, a line at a time.
#include "cli/done_files.h"

#include <nlohmann/json.hpp>

#include "cli/line_reader.h"

namespace veskor {

std::unordered_set<std::string> DoneHashes(std::istream& in, std::string_view options) {
  std::unordered_set<std::string> done;
  ReadLines(in, '\n', kMaxFileRecordBytes, [&](std::string_view line, bool whole) {
    // Most lines of a run are string and key records: they are not parsed at all.
    if (!whole || line.find("\"done\"") == std::string_view::npos) return true;
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!record.is_object()) return true;
    const auto type = record.find("type");
    const auto status = record.find("status");
    const auto sha256 = record.find("sha256");
    const auto given = record.find("options");
    if (type == record.end() || status == record.end() || sha256 == record.end() ||
        given == record.end()) {
      return true;
    }
    if (*type != "file" || *status != "done" || !sha256->is_string() || !given->is_string() ||
        given->get_ref<const std::string&>() != options) {
      return true;
    }
    const std::string& hash = sha256->get_ref<const std::string&>();
    if (!hash.empty()) done.insert(hash);
    return true;
  });
  return done;
}

}  // namespace veskor

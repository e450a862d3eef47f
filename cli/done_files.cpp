// Reads the `file` records of an earlier batch's JSON Lines.
#include "cli/done_files.h"

#include <nlohmann/json.hpp>

namespace veskor {

std::unordered_set<std::string> DoneHashes(std::string_view bytes) {
  std::unordered_set<std::string> done;
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    const std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    // Most lines of a run are string and key records: they are not parsed at all.
    if (line.find("\"done\"") == std::string_view::npos) continue;
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!record.is_object()) continue;
    const auto type = record.find("type");
    const auto status = record.find("status");
    const auto sha256 = record.find("sha256");
    if (type == record.end() || status == record.end() || sha256 == record.end()) continue;
    if (*type != "file" || *status != "done" || !sha256->is_string()) continue;
    const std::string& hash = sha256->get_ref<const std::string&>();
    if (!hash.empty()) done.insert(hash);
  }
  return done;
}

}  // namespace veskor

// The options text of a batch's file records.
#include "cli/record_options.h"

#include "cli/terminal_text.h"
#include "text/cp1251.h"

namespace veskor {
namespace {

// 8-bit text in double quotes, as UTF-8, with '"' and '\' escaped so that no two texts read
// alike.
std::string Quoted(std::string_view cp1251) {
  std::string quoted = "\"";
  for (const char c : Cp1251ToUtf8(cp1251)) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::string RecordOptions(const CliOptions& options, const std::vector<RequestRow>& rows,
                          std::string_view format) {
  std::string text;
  const auto add = [&](const std::string& part) {
    if (!text.empty()) text += "; ";
    text += part;
  };
  for (const RequestRow& row : rows) {
    std::string part = row.algorithm_shown + " key " +
                       (row.key_shown.empty() ? std::string("all") : row.key_shown) + " preset " +
                       Quoted(row.preset);
    if (row.fields) {
      part += " alphabet " + Quoted(row.fields->Alphabet) + " min " +
              std::to_string(row.fields->MinLength) + " max " +
              std::to_string(row.fields->MaxLength) + " regexp " + Quoted(row.fields->RegExp);
    } else {
      part += " (none)";
    }
    add(part);
  }
  add("format " + Quoted(format));
  if (options.summary) add("--summary");
  if (options.top > 0) add("--top " + std::to_string(options.top));
  if (options.yara) add("--yara");
  // The folder is part of every embedded record, and a batch resumed into another folder must
  // write its files there too.
  if (options.carve_dir) {
    const std::string& dir = *options.carve_dir;
    std::string quoted = "--carve \"";
    for (const char c : IsValidUtf8(dir) ? dir : Cp1251ToUtf8(dir)) {
      if (c == '"' || c == '\\') quoted += '\\';
      quoted += c;
    }
    add(quoted + "\"");
  }
  return text;
}

}  // namespace veskor

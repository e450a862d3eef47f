// The options text of a batch's file records.
#include "cli/record_options.h"

#include "presets/preset.h"
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

std::string RecordOptions(const CliOptions& options, const TaskTable& table,
                          const PresetList& presets, std::string_view format) {
  std::string text;
  const auto add = [&](const std::string& part) {
    if (!text.empty()) text += "; ";
    text += part;
  };
  for (int row = 0; row < table.RowCount(); ++row) {
    if (!table.Checked(row)) continue;
    const std::string preset_name = Utf16ToCp1251(table.Text(NxPresetColumn, row));
    const std::u16string& key = table.Text(NxKeyColumn, row);
    std::string part = Utf16ToUtf8(table.Text(NxAlgoColumn, row)) + " key " +
                       (key.empty() ? std::string("all") : Utf16ToUtf8(key)) + " preset " +
                       Quoted(preset_name);
    TPreset preset{};
    if (presets.FindPreset(preset_name, preset)) {
      part += " alphabet " + Quoted(ShortString(preset.Alphabet)) + " min " +
              std::to_string(preset.MinLength) + " max " + std::to_string(preset.MaxLength) +
              " regexp " + Quoted(ShortString(preset.RegExp));
    } else {
      part += " (none)";
    }
    add(part);
  }
  add("format " + Quoted(format));
  if (options.summary) add("--summary");
  if (options.top > 0) add("--top " + std::to_string(options.top));
  if (options.yara) add("--yara");
  return text;
}

}  // namespace veskor

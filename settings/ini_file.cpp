// The ini reader and writer: the file is split into lines once, the section and the entry are
// located, and a save splices only the entry's line (or the added lines) into the old bytes.
#include "settings/ini_file.h"

#include <optional>
#include <vector>

#include "files/file_exists.h"
#include "files/file_operation_error.h"
#include "files/read_whole_file.h"
#include "files/replace_file.h"

namespace veskor {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// One line of the file: [begin, end) is its text without the line end, [end, next) the line
// end itself (CR LF, LF, or nothing on a last line without one; a CR before it is not text).
struct Line {
  size_t begin;
  size_t end;
  size_t next;
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t next = text.find('\n', begin);
    next = next == std::string_view::npos ? text.size() : next + 1;
    size_t end = next;
    if (end > begin && text[end - 1] == '\n') --end;
    if (end > begin && text[end - 1] == '\r') --end;
    lines.push_back({begin, end, next});
    begin = next;
  }
  return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// The name of a section line ("[name]", blanks allowed around the brackets and inside them,
// anything after the ']' ignored), or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

// Where a section and its entry lie in the file's lines.
struct Location {
  std::optional<size_t> section_line;
  // The section's last line that holds more than blanks (the section line itself when it has
  // none); an added entry goes right after it.
  size_t last_filled_line = 0;
  std::optional<size_t> entry_line;
  std::string_view entry_key;   // the key as spelled in the file, without its blanks
  std::string_view entry_rest;  // the line's text after its first '='
};

Location Locate(std::string_view text, const std::vector<Line>& lines, std::string_view section,
                std::string_view key) {
  Location where;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = text.substr(lines[i].begin, lines[i].end - lines[i].begin);
    const std::optional<std::string_view> name = SectionName(line);
    if (name) {
      if (where.section_line) break;  // the first section of that name ends here
      if (SameIgnoringAsciiCase(*name, section)) {
        where.section_line = i;
        where.last_filled_line = i;
      }
      continue;
    }
    if (!where.section_line) continue;
    if (!Trim(line).empty()) where.last_filled_line = i;
    if (where.entry_line) continue;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view line_key = Trim(line.substr(0, equals));
    if (SameIgnoringAsciiCase(line_key, key)) {
      where.entry_line = i;
      where.entry_key = line_key;
      where.entry_rest = line.substr(equals + 1);
    }
  }
  return where;
}

// The text to add after `line` so that what follows starts on a line of its own.
std::string_view EndOfLastLine(std::string_view text, const Line& line) {
  if (line.next > line.end && text[line.next - 1] == '\n') return "";
  return line.next > line.end ? "\n" : kLineEnd;  // a lone CR already stands there
}

}  // namespace

std::string ReadIniEntry(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view fallback) {
  if (!FileExists(path)) return std::string(fallback);
  std::string text;
  try {
    text = ReadWholeFile(path, /*exclusive=*/false);
  } catch (const FileOperationError&) {
    return std::string(fallback);
  }
  const Location where = Locate(text, SplitLines(text), section, key);
  if (!where.entry_line) return std::string(fallback);
  std::string_view value = Trim(where.entry_rest);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, kIniValueLimit));
}

void WriteIniEntry(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value) {
  std::string text;
  if (FileExists(path)) text = ReadWholeFile(path, /*exclusive=*/false);
  const std::vector<Line> lines = SplitLines(text);
  const Location where = Locate(text, lines, section, key);

  std::string updated;
  updated.reserve(text.size() + section.size() + key.size() + value.size() + 8);
  auto append_entry = [&](std::string_view entry_key) {
    updated.append(entry_key).append("=").append(value);
  };
  if (where.entry_line) {
    const Line& line = lines[*where.entry_line];
    updated.append(text, 0, line.begin);
    append_entry(where.entry_key);
    updated.append(text, line.end);
  } else if (where.section_line) {
    const Line& line = lines[where.last_filled_line];
    updated.append(text, 0, line.next);
    updated.append(EndOfLastLine(text, line));
    append_entry(key);
    updated.append(kLineEnd);
    updated.append(text, line.next);
  } else {
    updated = text;
    if (!lines.empty()) updated.append(EndOfLastLine(text, lines.back()));
    updated.append("[").append(section).append("]").append(kLineEnd);
    append_entry(key);
    updated.append(kLineEnd);
  }
  ReplaceFile(path, updated);
}

}  // namespace veskor

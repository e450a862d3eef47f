// Reading the starter presets' source: entries, fields, the alphabet's ranges and escapes, and the
// checks that keep every shipped preset within what the editor shows and the run accepts.
#include "presets/starter/starter_source.h"

#include <bitset>
#include <optional>
#include <set>

#include "engine/regexp/regexp.h"
#include "text/cp1251.h"

namespace veskor {
namespace {

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads one character of a written alphabet at `at`, which it leaves after the character.
uint8_t ReadAlphabetChar(std::string_view text, size_t& at) {
  const char c = text[at++];
  if (c != '\\') return static_cast<uint8_t>(c);
  if (at >= text.size()) throw Error("the alphabet ends with a backslash");
  const char e = text[at++];
  switch (e) {
    case 't':
      return '\t';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case '\\':
    case '-':
      return static_cast<uint8_t>(e);
    case 'x': {
      const int high = at < text.size() ? HexDigit(text[at]) : -1;
      const int low = at + 1 < text.size() ? HexDigit(text[at + 1]) : -1;
      if (high < 0 || low < 0) throw Error("\\x takes two hexadecimal digits");
      at += 2;
      return static_cast<uint8_t>(high * 16 + low);
    }
    default:
      throw Error(std::string("unknown escape \\") + e + " in the alphabet");
  }
}

// UTF-8 to Windows-1251, refusing a character that has no 8-bit form (the lenient conversion
// would store '?' in its place).
std::string To1251Strictly(std::string_view utf8, int line) {
  std::string bytes = Utf8ToCp1251(utf8);
  if (Cp1251ToUtf8(bytes) != utf8) {
    throw StarterSourceError(line, "a character has no Windows-1251 form: " + std::string(utf8));
  }
  return bytes;
}

std::optional<int> ReadNumber(std::string_view text) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// A preset's name for a message (UTF-8, quoted).
std::string Quoted(const std::string& name) { return "\"" + Cp1251ToUtf8(name) + "\""; }

// One entry as the source gives it, with the lines of its fields for the messages.
struct Entry {
  std::string name;
  int line = 0;
  std::optional<std::string> alphabet, regexp;
  std::optional<int> min, max;
  int alphabet_line = 0, regexp_line = 0, min_line = 0, max_line = 0;
};

TPreset MakePreset(const Entry& entry) {
  if (entry.name.empty()) throw StarterSourceError(entry.line, "the preset has no name");
  if (entry.name.size() > kMaxFieldBytes) {
    throw StarterSourceError(entry.line, "the name is longer than 255 bytes");
  }
  if (!entry.alphabet)
    throw StarterSourceError(entry.line, Quoted(entry.name) + " has no alphabet");
  if (!entry.min) throw StarterSourceError(entry.line, Quoted(entry.name) + " has no min");
  std::string alphabet;
  try {
    alphabet = ExpandAlphabet(*entry.alphabet);
  } catch (const Error& e) {
    throw StarterSourceError(entry.alphabet_line, e.what());
  }
  if (alphabet.empty()) throw StarterSourceError(entry.alphabet_line, "the alphabet is empty");
  if (alphabet.size() > kMaxFieldBytes) {
    throw StarterSourceError(entry.alphabet_line, "the alphabet holds more than 255 characters");
  }
  if (*entry.min < kMinLengthLow || *entry.min > kMinLengthHigh) {
    throw StarterSourceError(entry.min_line, "min must lie between 5 and 255");
  }
  const int max = entry.max.value_or(0);
  if (max != 0 && (max < *entry.min || max > kMaxLengthHigh)) {
    throw StarterSourceError(entry.max_line, "max must be 0 or lie between min and 100");
  }
  const std::string regexp = entry.regexp.value_or("");
  if (regexp.size() > kMaxFieldBytes) {
    throw StarterSourceError(entry.regexp_line, "the expression is longer than 255 bytes");
  }
  if (!regexp.empty()) {
    try {
      CompiledRegExp compiled(regexp);
    } catch (const ERegExp& e) {
      throw StarterSourceError(entry.regexp_line, e.what());
    }
  }
  TPreset preset{};
  SetShortString(preset.Name, entry.name);
  SetShortString(preset.Alphabet, alphabet);
  SetShortString(preset.RegExp, regexp);
  preset.MinLength = static_cast<uint8_t>(*entry.min);
  preset.MaxLength = static_cast<uint8_t>(max);
  return preset;
}

// Stores a field's value, refusing a second one.
template <typename T>
void SetOnce(std::optional<T>& field, int& field_line, T value, int line, std::string_view key) {
  if (field) throw StarterSourceError(line, std::string(key) + " is given twice");
  field = std::move(value);
  field_line = line;
}

}  // namespace

std::string ExpandAlphabet(std::string_view written) {
  std::bitset<256> members;
  std::string bytes;
  auto add = [&](int b) {
    if (!members.test(b)) bytes.push_back(static_cast<char>(b));
    members.set(b);
  };
  size_t at = 0;
  while (at < written.size()) {
    const uint8_t first = ReadAlphabetChar(written, at);
    // A '-' with a character after it makes a range; a last '-' stands for itself.
    if (at + 1 < written.size() && written[at] == '-') {
      ++at;
      const uint8_t last = ReadAlphabetChar(written, at);
      if (last < first) throw Error("a range ends before it begins");
      for (int b = first; b <= last; ++b) add(b);
    } else {
      add(first);
    }
  }
  return bytes;
}

std::vector<TPreset> ParseStarterPresets(std::string_view source) {
  std::vector<Entry> entries;
  int line_number = 0;
  for (size_t start = 0; start < source.size();) {
    size_t end = source.find('\n', start);
    if (end == std::string_view::npos) end = source.size();
    const std::string_view line = Trim(source.substr(start, end - start));
    start = end + 1;
    ++line_number;
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']') throw StarterSourceError(line_number, "a name line ends with ']'");
      Entry entry;
      entry.name = To1251Strictly(Trim(line.substr(1, line.size() - 2)), line_number);
      entry.line = line_number;
      entries.push_back(std::move(entry));
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      throw StarterSourceError(line_number, "expected \"[name]\" or \"field = value\"");
    }
    if (entries.empty()) throw StarterSourceError(line_number, "a field before the first [name]");
    Entry& entry = entries.back();
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string value = To1251Strictly(Trim(line.substr(equals + 1)), line_number);
    if (key == "alphabet") {
      SetOnce(entry.alphabet, entry.alphabet_line, value, line_number, key);
    } else if (key == "regexp") {
      SetOnce(entry.regexp, entry.regexp_line, value, line_number, key);
    } else if (key == "min" || key == "max") {
      const std::optional<int> number = ReadNumber(value);
      if (!number) throw StarterSourceError(line_number, std::string(key) + " takes a number");
      if (key == "min") {
        SetOnce(entry.min, entry.min_line, *number, line_number, key);
      } else {
        SetOnce(entry.max, entry.max_line, *number, line_number, key);
      }
    } else {
      throw StarterSourceError(line_number, "unknown field \"" + std::string(key) + "\"");
    }
  }
  if (entries.empty()) throw StarterSourceError(0, "the source holds no preset");
  std::vector<TPreset> presets;
  std::set<std::string> names;
  for (const Entry& entry : entries) {
    // A task names its preset: of two with one name, the second could never be chosen.
    if (!names.insert(entry.name).second) {
      throw StarterSourceError(entry.line, "a second preset named " + Quoted(entry.name));
    }
    presets.push_back(MakePreset(entry));
  }
  return presets;
}

}  // namespace veskor

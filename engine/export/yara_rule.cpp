// YARA rules from a key's best strings: text strings under YARA's own XOR where the cipher is
// a plain XOR, hex strings of the stored bytes for every other cipher.
#include "engine/export/yara_rule.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "engine/input/fault_guard.h"
#include "engine/score/text_score.h"

namespace veskor {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHexByte(std::string& out, uint8_t byte) {
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 15];
}

// A text string between quotes. YARA reads a few escapes and \xNN in them; printable ASCII is
// written as it is, every other byte as \xNN, so that no byte of the file is left to how the
// rule's reader takes a source file's encoding or line ends.
std::string Quoted(std::string_view bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const auto byte = static_cast<uint8_t>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      AppendHexByte(out, byte);
    }
  }
  return out + '"';
}

std::string HexString(std::string_view stored) {
  std::string out = "{";
  for (const char c : stored) {
    out += ' ';
    AppendHexByte(out, static_cast<uint8_t>(c));
  }
  return out + " }";
}

// The text whose `xor(key)` (with `wide`: over each character and its zero byte) is exactly
// `stored`; none when a wide character is no 8-bit one.
std::optional<std::string> XorText(std::string_view stored, int key, int width) {
  std::string text;
  for (size_t i = 0; i + static_cast<size_t>(width) <= stored.size(); i += width) {
    if (width == 2 && static_cast<uint8_t>(stored[i + 1]) != key) return std::nullopt;
    text += static_cast<char>(static_cast<uint8_t>(stored[i]) ^ key);
  }
  return text;
}

// A string's definition after its identifier's "= ".
std::string Definition(const TAlgorithm& algorithm, int key, std::string_view stored) {
  // YARA's xor modifier is XOR8's and XOR8W's cipher: one rule string finds the text under its
  // key, and a reader sees the text. A wide character outside 8 bits has no `wide` form.
  if (algorithm.Family == CipherFamily::kXor && algorithm.Step == 0) {
    if (const auto text = XorText(stored, key, algorithm.Width)) {
      return Quoted(*text) + " xor(" + std::to_string(key) + ")" +
             (algorithm.Width == 2 ? " wide" : " ascii");
    }
  }
  return HexString(stored);
}

}  // namespace

std::string YaraRuleName(std::string_view sha256, const TAlgorithm& algorithm, int key) {
  std::string name = "veskor_";
  name += sha256.substr(0, 16);
  name += '_';
  // A YARA identifier holds at most 128 characters.
  name += std::string_view(algorithm.Name).substr(0, 64);
  name += '_';
  name += KeyText(algorithm, key);
  for (char& c : name) {
    const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!word) c = '_';
  }
  return name;
}

std::optional<StoredStrings> CopyStoredStrings(const std::vector<BestString>& strings,
                                               const TAlgorithm& algorithm, std::string_view mapped,
                                               size_t most) {
  const auto width = static_cast<uint64_t>(std::max(algorithm.Width, 1));
  StoredStrings copy;
  std::vector<uint64_t> from;
  uint64_t total = 0;
  for (const BestString& string : strings) {
    if (copy.strings.size() == most) break;
    const uint64_t bytes = std::min(string.length, kRuleStringCharacters) * width;
    if (string.position > mapped.size() || bytes > mapped.size() - string.position) continue;
    copy.strings.push_back({total, string.length, 0, {}});
    from.push_back(string.position);
    total += bytes;
  }
  copy.bytes.assign(total, '\0');
  char* const out = copy.bytes.data();
  const std::vector<BestString>& chosen = copy.strings;
  const bool read = ReadMapped([&] {
    for (size_t i = 0; i < chosen.size(); ++i) {
      std::memcpy(out + chosen[i].position, mapped.data() + from[i],
                  std::min(chosen[i].length, kRuleStringCharacters) * width);
    }
  });
  if (!read) return std::nullopt;
  return copy;
}

bool StoredAsPlainText(std::string_view stored) {
  return TextScore(stored) > KeySummary::kThresholdBits;
}

std::optional<std::string> YaraRule(const KeyFinding& finding, std::string_view name) {
  const TAlgorithm& algorithm = *finding.algorithm;
  const auto width = static_cast<uint64_t>(algorithm.Width);
  std::string strings;
  std::set<std::string> written;  // a text found at several offsets is one rule string
  for (const BestString& best : *finding.strings) {
    const uint64_t bytes = std::min(best.length, kRuleStringCharacters) * width;
    if (bytes == 0 || best.position > finding.file.size() ||
        bytes > finding.file.size() - best.position) {
      continue;
    }
    const std::string_view stored = finding.file.substr(best.position, bytes);
    if (StoredAsPlainText(stored)) continue;
    std::string definition = Definition(algorithm, finding.key, stored);
    if (!written.insert(definition).second) continue;
    strings += "    $s" + std::to_string(written.size()) + " = " + definition + "\n";
  }
  if (strings.empty()) return std::nullopt;
  std::string rule = "rule " + std::string(name) + "\n{\n  meta:\n";
  rule += "    algo = " + Quoted(algorithm.Name) + "\n";
  // KeyText's forms (decimal, 0x35A) are YARA integers; an XORK key of up to 32 bytes is not.
  const std::string key = KeyText(algorithm, finding.key);
  rule += "    key = " + (algorithm.Repeating ? Quoted(key) : key) + "\n";
  rule += "    score = " + Quoted(ScoreText(finding.score)) + "\n";
  rule += "  strings:\n" + strings + "  condition:\n    any of them\n}\n";
  return rule;
}

}  // namespace veskor

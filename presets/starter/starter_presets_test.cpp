// The shipped starter presets, read from the source the build reads: each against texts it must
// find and texts it must pass over, their order, and the generated presets.dat.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "engine/regexp/regexp.h"
#include "presets/starter/starter_source.h"
#include "text/cp1251.h"

namespace veskor {
namespace {

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::vector<TPreset>& Shipped() {
  static const std::vector<TPreset> presets = ParseStarterPresets(ReadFile(VESKOR_STARTER_SOURCE));
  return presets;
}

// What the run does with a decoded run of bytes: not a candidate (a byte outside the alphabet,
// or a length outside the bounds), a candidate the expression refuses, or a found string.
enum class Verdict { kNotCandidate, kFiltered, kFound };

Verdict Judge(const TPreset& preset, std::string_view text) {
  const std::string_view alphabet = ShortString(preset.Alphabet);
  for (char c : text) {
    if (alphabet.find(c) == std::string_view::npos) return Verdict::kNotCandidate;
  }
  if (text.size() < preset.MinLength || (preset.MaxLength != 0 && text.size() > preset.MaxLength)) {
    return Verdict::kNotCandidate;
  }
  const std::string_view regexp = ShortString(preset.RegExp);
  if (regexp.empty()) return Verdict::kFound;
  return CompiledRegExp(regexp).Matches(text) ? Verdict::kFound : Verdict::kFiltered;
}

void PrintTo(Verdict verdict, std::ostream* out) {
  *out << (verdict == Verdict::kFound      ? "found"
           : verdict == Verdict::kFiltered ? "filtered"
                                           : "no candidate");
}

constexpr Verdict kFound = Verdict::kFound;
constexpr Verdict kFiltered = Verdict::kFiltered;
constexpr Verdict kNot = Verdict::kNotCandidate;

struct Case {
  const char* preset;
  const char* text;  // UTF-8, searched as Windows-1251
  Verdict verdict;
};

const Case kCases[] = {
    {"Printable text", "Hello, world!", kFound},
    {"Printable text", "col1\tcol2", kFound},
    {"Printable text", "short", kNot},
    {"Printable text", "Привет мир", kNot},
    {"Letters and digits", "GetProcAddress", kFound},
    {"Letters and digits", "kernel32", kFound},
    {"Letters and digits", "two words", kNot},
    {"URL", "http://example.com/index.html", kFound},
    {"URL", "HTTPS://Example.org:8080/a?b=1&c=2#top", kFound},
    {"URL", "ftp://files.example.net/pub", kFound},
    {"URL", "junkhttp://host/x", kFound},
    {"URL", "http:/example.com/a", kFiltered},
    {"URL", "www.example.com/index", kFiltered},
    {"URL", "mailto:user@example.com", kFiltered},
    {"URL", "https:///path", kFiltered},
    {"IPv4 address", "192.168.0.1", kFound},
    {"IPv4 address", "8.8.8.8", kFound},
    {"IPv4 address", "255.255.255.255", kFound},
    {"IPv4 address", "256.1.1.1", kFiltered},
    {"IPv4 address", "1.2.3.4.5", kFiltered},
    {"IPv4 address", "01.2.3.4", kFiltered},
    {"IPv4 address", "1..2.3.4", kFiltered},
    {"IPv4 address", "192.168.100.1000", kNot},
    {"E-mail address", "user@example.com", kFound},
    {"E-mail address", "first.last+tag@mail.example.co.uk", kFound},
    {"E-mail address", "x_y%z@host-1.ru", kFound},
    {"E-mail address", "user@localhost", kFiltered},
    {"E-mail address", "@example.com", kFiltered},
    {"E-mail address", "user@.com", kFiltered},
    {"E-mail address", "user@example.c", kFiltered},
    {"Windows path", R"(C:\Windows\System32\kernel32.dll)", kFound},
    {"Windows path", R"(d:\temp\report (2).txt)", kFound},
    {"Windows path", R"(\\fileserver\share\doc.txt)", kFound},
    {"Windows path", R"(%SystemRoot%\system32\drivers)", kFound},
    {"Windows path", R"(C:\Users\Иван\Документы)", kFound},
    {"Windows path", R"(Windows\System32\x.dll)", kFiltered},
    {"Windows path", R"(C:Windows\System32)", kFiltered},
    {"Windows path", R"(C:\\double)", kFiltered},
    {"Windows path", "C:/Windows/System32", kNot},
    {"Registry key", R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run)", kFound},
    {"Registry key", R"(HKCU\Software\Classes\.txt)", kFound},
    {"Registry key", R"(Software\Microsoft\Windows NT\CurrentVersion\Winlogon)", kFound},
    {"Registry key", R"(SYSTEM\CurrentControlSet\Services\Tcpip)", kFound},
    {"Registry key", R"(SYSTEM\ControlSet001\Control)", kFound},
    {"Registry key", R"(hklm\system\setup)", kFound},
    {"Registry key", "HKEY_CURRENT_USER", kFiltered},
    {"Registry key", R"(MySoftware\Data)", kFiltered},
    {"Registry key", R"(Windows\System32\drivers)", kFiltered},
    {"Registry key", "Software update", kFiltered},
    {"Cyrillic text (1251)", "Привет, мир!", kFound},
    {"Cyrillic text (1251)", "Ёлки-палки", kFound},
    {"Cyrillic text (1251)", "Сумма: 100 руб.", kFound},
    {"Cyrillic text (1251)", "«Война и мир» — роман", kFound},
    {"Cyrillic text (1251)", "12345, 678!", kFiltered},
    {"Cyrillic text (1251)", "Да, да, да!", kFiltered},
    {"Cyrillic text (1251)", "Hello мир", kNot},
    {"Base64", "SGVsbG8sIHdvcmxkIQ==", kFound},
    {"Base64", "VGhpcyBpcyBhIHRlc3Q=", kFound},
    {"Base64", "MDEyMzQ1Njc4OWFiY2RlZg==", kFound},
    {"Base64", "SGVsbG8sIHdvcmxkIQ=", kFiltered},
    {"Base64", "SGVs=G8sIHdvcmxkIQ==", kFiltered},
    {"Base64", "SGVsbG8sIHdvcmxkI===", kFiltered},
    {"Base64", "dmVza29yMQ==", kNot},
    {"Hex string", "DEADBEEF00112233", kFound},
    {"Hex string", "5d41402abc4b2a76b9719d911017c592", kFound},
    {"Hex string", "0123456789012345", kFiltered},
    {"Hex string", "DeadBeef00112233", kFiltered},
    {"Hex string", "5d41402abc4b2a76b", kFiltered},
    {"Hex string", "0x5d41402abc4b2a76", kNot},
    {"GUID", "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}", kFound},
    {"GUID", "3f2504e0-4f89-11d3-9a0c-0305e82c3301", kFound},
    {"GUID", "3F2504E0-4F89-11D3-9A0C0-305E82C3301", kFiltered},
    {"GUID", "3F2504E04F8911D39A0C0305E82C3301abcd", kFiltered},
    {"GUID", "3F2504E0-4F89-11D3-9A0C-0305E82C330", kNot},
    {"Executable header", "!This program cannot be run in DOS mode.", kFound},
    {"Executable header", "This program must be run under Win32", kFound},
    {"Executable header", "This program can be run in DOS mode.", kFiltered},
    {"Executable header", "this program cannot be run in dos mode", kFiltered},
};

TEST(StarterPresets, EachFindsWhatItShouldAndPassesOverTheRest) {
  std::map<std::string, const TPreset*> by_name;
  for (const TPreset& preset : Shipped()) by_name[Cp1251ToUtf8(ShortString(preset.Name))] = &preset;
  std::map<std::string, int> found_cases;
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.preset) + ": " + c.text);
    ASSERT_EQ(by_name.count(c.preset), 1u);
    EXPECT_EQ(Judge(*by_name[c.preset], Utf8ToCp1251(c.text)), c.verdict);
    if (c.verdict == kFound) ++found_cases[c.preset];
  }
  // Every shipped preset is tested, with at least one string it must find.
  for (const auto& [name, preset] : by_name) EXPECT_GE(found_cases[name], 1) << name;
}

TEST(StarterPresets, PrintableTextComesFirstForTheDefaultTasks) {
  ASSERT_FALSE(Shipped().empty());
  const TPreset& first = Shipped().front();
  EXPECT_EQ(ShortString(first.Name), "Printable text");
  std::string printable;
  for (int c = 32; c <= 126; ++c) printable.push_back(static_cast<char>(c));
  printable.push_back('\t');
  EXPECT_EQ(ShortString(first.Alphabet), printable);
  EXPECT_EQ(first.MinLength, 7);
  EXPECT_EQ(first.MaxLength, 0);
  EXPECT_EQ(ShortString(first.RegExp), "");
}

TEST(StarterPresets, TheGeneratedFileHoldsTheSourcesRecords) {
  std::string records;
  for (const TPreset& preset : Shipped()) {
    records.append(reinterpret_cast<const char*>(&preset), sizeof preset);
  }
  EXPECT_EQ(ReadFile(VESKOR_STARTER_PRESETS), records);
}

}  // namespace
}  // namespace veskor

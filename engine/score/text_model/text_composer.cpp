// The generated part of the text model's corpus: sentences, identifiers, paths, addresses,
// registry keys and command lines made from the word lists by a fixed generator.
#include "engine/score/text_model/text_composer.h"

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "text/cp1251.h"

namespace {

// A small deterministic generator, so that the model is the same on every machine.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }
  bool Chance(int percent) { return Below(100) < static_cast<size_t>(percent); }

 private:
  uint64_t state_;
};

using WordLists = std::map<std::string, std::vector<std::string>>;

// "[name]" starts a section; "#" starts a comment line; words are separated by blanks.
WordLists ParseWordLists(const std::string& text) {
  WordLists lists;
  std::istringstream lines(text);
  std::string line, section;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      section = line.substr(1, line.find(']') - 1);
      continue;
    }
    std::istringstream words(line);
    std::string word;
    while (words >> word) lists[section].push_back(word);
  }
  return lists;
}

// Writes generated lines of each kind: English and Russian sentences, identifiers, paths,
// URLs, e-mail addresses, registry keys and command lines. Each draw from random_ is a statement
// of its own, or sequenced by ?: or a call: the operands of + are evaluated in whatever order the
// compiler chooses, and a model that followed that order would differ from compiler to compiler
// (a clang build scored every string differently). Where one line draws several parts, the
// later parts are drawn first: the order in which the model was first made.
class Composer {
 public:
  explicit Composer(const WordLists& lists) : lists_(lists) {}

  const std::string& Pick(const char* list) {
    const std::vector<std::string>& words = lists_.at(list);
    return words[random_.Below(words.size())];
  }

  std::string Number() {
    switch (random_.Below(5)) {
      case 0:
        return std::to_string(random_.Below(10));
      case 1:
        return std::to_string(random_.Below(100));
      case 2:
        return std::to_string(1990 + random_.Below(40));
      case 3: {
        const auto patch = random_.Below(10);
        const auto minor = random_.Below(20);
        return std::to_string(random_.Below(10)) + "." + std::to_string(minor) + "." +
               std::to_string(patch);
      }
      default:
        return std::to_string(random_.Below(100000));
    }
  }

  static std::string Capital(std::string word) {
    if (!word.empty()) word[0] = static_cast<char>(veskor::ToUpper1251(word[0]));
    return word;
  }
  static std::string Upper(std::string word) {
    for (char& c : word) c = static_cast<char>(veskor::ToUpper1251(c));
    return word;
  }

  std::string Sentence(const char* content, const char* function, int function_percent) {
    std::string out;
    const size_t words = 4 + random_.Below(12);
    for (size_t i = 0; i < words; ++i) {
      std::string word = random_.Chance(function_percent) ? Pick(function) : Pick(content);
      if (random_.Chance(2)) word = Number();
      if (i == 0) word = Capital(word);
      if (i > 0) out += random_.Chance(8) ? ", " : " ";
      out += word;
    }
    static const char* const kEnds[] = {".", ".", ".", ".", "?", "!", ":", ";"};
    return out + kEnds[random_.Below(8)];
  }

  // One to three sentences.
  std::string Line(const char* content, const char* function, int function_percent) {
    std::string out = Sentence(content, function, function_percent);
    for (size_t n = random_.Below(3); n > 0; --n) {
      out += ' ';
      out += Sentence(content, function, function_percent);
    }
    return out;
  }

  std::string EnglishLine() { return Line("english", "function", 40); }
  std::string RussianLine() { return Line("russian", "russian", 0); }

  // "First.Last" and "FLast", the last name drawn first.
  std::string FirstDotLast() {
    const std::string last = Pick("last");
    return Pick("first") + "." + last;
  }
  std::string InitialLast() {
    const std::string last = Pick("last");
    return Pick("first").substr(0, 1) + last;
  }

  std::string IdentifierPart() { return random_.Chance(60) ? Pick("ident") : Pick("english"); }

  std::string Identifier() {
    const size_t parts = 1 + random_.Below(4);
    std::string out;
    const size_t style = random_.Below(7);
    for (size_t i = 0; i < parts; ++i) {
      std::string part = IdentifierPart();
      switch (style) {
        case 0:  // snake_case
          out += (i ? "_" : "") + part;
          break;
        case 1:  // camelCase
          out += i ? Capital(part) : part;
          break;
        case 2:  // PascalCase
          out += Capital(part);
          break;
        case 3:  // SCREAMING_CASE
          out += (i ? "_" : "") + Upper(part);
          break;
        case 4:  // kebab-case
          out += (i ? "-" : "") + part;
          break;
        case 5:  // dotted names
          out += (i ? "." : "") + part;
          break;
        default:  // Hungarian-style prefixes
          out += i ? Capital(part) : std::string(random_.Chance(50) ? "m_" : "lp") + Capital(part);
          break;
      }
    }
    if (random_.Chance(10)) out += std::to_string(random_.Below(64));
    if (random_.Chance(8)) out += "_";
    return out;
  }

  std::string CodeLine() {
    switch (random_.Below(6)) {
      case 0: {
        const std::string second = Identifier(), first = Identifier();
        return Identifier() + "(" + first + ", " + second + ");";
      }
      case 1: {
        const std::string number = Number(), right = Identifier();
        return "if (" + Identifier() + " == " + right + ") return " + number + ";";
      }
      case 2: {
        const std::string member = Identifier(), object = Identifier();
        return Identifier() + " = " + object + "->" + member + ";";
      }
      case 3: {
        const std::string number = Number();
        return "#define " + Upper(Identifier()) + " " + number;
      }
      case 4: {
        const std::string parameter = Identifier(), method = Capital(Identifier());
        return Identifier() + "::" + method + "(const std::string& " + parameter + ")";
      }
      default: {
        const std::string third = Identifier(), second = Identifier();
        return Identifier() + " " + second + " " + third;
      }
    }
  }

  std::string FileName() {
    std::string name = random_.Chance(50) ? Identifier() : Pick("english");
    return name + "." + Pick("ext");
  }

  std::string UnixPath() {
    std::string out;
    for (size_t n = 1 + random_.Below(4); n > 0; --n) {
      out += "/" + (random_.Chance(60) ? Pick("unix") : IdentifierPart());
    }
    if (random_.Chance(70)) out += "/" + FileName();
    if (random_.Chance(15)) out = "~" + out;
    return out;
  }

  std::string WindowsPath() {
    std::string out;
    if (random_.Chance(10)) {
      const std::string share = Pick("windows");
      out = "\\\\" + Pick("domain") + "\\" + share;
    } else if (random_.Chance(15)) {
      static const char* const kVars[] = {"%SystemRoot%",   "%APPDATA%",     "%TEMP%",
                                          "%ProgramFiles%", "%USERPROFILE%", "%LOCALAPPDATA%",
                                          "%WINDIR%"};
      out = kVars[random_.Below(7)];
    } else {
      out = std::string(1, random_.Chance(70) ? 'C' : static_cast<char>('D' + random_.Below(5)));
      out += ":";
    }
    for (size_t n = 1 + random_.Below(4); n > 0; --n) {
      out += "\\" + (random_.Chance(60) ? Pick("windows") : Capital(Pick("english")));
    }
    if (random_.Chance(70)) out += "\\" + FileName();
    return out;
  }

  std::string Host() {
    std::string out;
    if (random_.Chance(40)) out += "www.";
    if (random_.Chance(20)) out += Pick("domain") + ".";
    out += Pick("domain");
    if (random_.Chance(20)) out += "-" + Pick("english");
    return out + "." + Pick("tld");
  }

  std::string Url() {
    static const char* const kSchemes[] = {"https://", "https://", "http://", "ftp://"};
    const std::string host = Host();
    std::string out = kSchemes[random_.Below(4)] + host;
    if (random_.Chance(10)) out += ":" + std::to_string(1024 + random_.Below(9000));
    for (size_t n = random_.Below(4); n > 0; --n) {
      out += '/';  // apart from the part: GCC 12 takes "/" + part for an overlapping copy
      out += IdentifierPart();
    }
    if (random_.Chance(50)) out += "/" + FileName();
    if (random_.Chance(30)) {
      const std::string value = random_.Chance(50) ? Number() : Pick("english");
      out += "?" + IdentifierPart() + "=" + value;
      if (random_.Chance(50)) {
        const std::string number = Number();
        out += "&" + IdentifierPart() + "=" + number;
      }
    }
    return out;
  }

  std::string Email() {
    std::string local;
    switch (random_.Below(4)) {
      case 0:
        local = FirstDotLast();
        break;
      case 1:
        local = InitialLast();
        break;
      case 2: {
        const std::string digits = random_.Chance(50) ? "" : std::to_string(random_.Below(100));
        local = Pick("ident") + digits;
        break;
      }
      default: {
        const std::string second = Pick("english");
        local = Pick("english") + "-" + second;
        break;
      }
    }
    if (random_.Chance(50)) {
      for (char& c : local) c = static_cast<char>(veskor::ToLower1251(c));
    }
    std::string out = local + "@" + Host();
    if (random_.Chance(25)) {
      const std::string last = Pick("last");
      out = Pick("first") + " " + last + " <" + out + ">";
    }
    return out;
  }

  std::string RegistryKey() {
    static const char* const kHives[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKLM", "HKCU",
                                         "HKEY_CLASSES_ROOT",  "HKEY_USERS"};
    std::string out = kHives[random_.Below(6)];
    out += random_.Chance(60) ? "\\SOFTWARE" : "\\Software";
    if (random_.Chance(50)) out += "\\" + Capital(Pick("english"));
    for (size_t n = 1 + random_.Below(4); n > 0; --n) {
      out += "\\" + (random_.Chance(70) ? Pick("registry") : Capital(Pick("english")));
    }
    return out;
  }

  std::string CommandLine() {
    std::string out = Pick("command");
    for (size_t n = random_.Below(5); n > 0; --n) {
      switch (random_.Below(6)) {
        case 0:
          out += " -" + std::string(1, static_cast<char>('a' + random_.Below(26)));
          break;
        case 1:
          out += " --" + Pick("option");
          break;
        case 2: {
          const std::string value = random_.Chance(50) ? Number() : Pick("english");
          out += " --" + Pick("option") + "=" + value;
          break;
        }
        case 3:
          out += " /" + Upper(Pick("option")).substr(0, 1 + random_.Below(3));
          break;
        case 4:
          out += " " + (random_.Chance(50) ? UnixPath() : WindowsPath());
          break;
        default:
          out += " " + (random_.Chance(50) ? FileName() : Url());
          break;
      }
    }
    return out;
  }
  // A password as people choose them: words, a year or a few digits, a sign, letters swapped
  // for digits and signs.
  std::string Password() {
    // Not "@" between words: an address sign there is what a key that turns spaces into "@"
    // shows of capitals.
    static const char kSigns[] = "!#$%&*?._-";
    const std::string sign(1, kSigns[random_.Below(sizeof kSigns - 1)]);
    std::string out;
    switch (random_.Below(7)) {
      case 0: {
        const std::string digits = std::to_string(random_.Below(10000));
        out = Capital(Pick("english")) + digits;
        break;
      }
      case 1: {
        const std::string digits = std::to_string(random_.Below(100));
        const std::string second = Capital(Pick("english"));
        out = Capital(Pick("english")) + second + digits;
        break;
      }
      case 2: {
        const std::string year = std::to_string(1990 + random_.Below(40));
        out = Capital(Pick("english")) + year;
        break;
      }
      case 3: {
        const std::string second = random_.Chance(50) ? Pick("english") : Capital(Pick("english"));
        out = Pick("english") + sign + second;
        break;
      }
      case 4: {
        const std::string second = Capital(Pick("english"));
        const std::string digits = std::to_string(random_.Below(100));
        out = Pick("english") + digits + second;
        break;
      }
      case 5: {
        const std::string digits = std::to_string(random_.Below(10000));
        out = Capital(Pick("english")) + sign + digits;
        break;
      }
      default: {
        const std::string second = Capital(Pick("english"));
        const std::string middle = random_.Chance(50) ? sign : std::to_string(random_.Below(100));
        out = Pick("english") + middle + second;
        break;
      }
    }
    // Letters swapped for look-alike digits and signs, in some passwords.
    if (random_.Chance(35)) {
      static const char kPlain[] = "aeiiosst";
      static const char kSwapped[] = "431!05$7";
      for (char& c : out) {
        for (size_t i = 0; i + 1 < sizeof kPlain; ++i) {
          if (c == kPlain[i] && random_.Chance(50)) {
            c = kSwapped[i];
            break;
          }
        }
      }
    }
    if (random_.Chance(25)) out += sign;
    return out;
  }

  std::string Hex(size_t digits) {
    std::string out;
    for (size_t i = 0; i < digits; ++i) out += "0123456789abcdef"[random_.Below(16)];
    return out;
  }
  // The names a program gives its mutexes, events and pipes, and the credentials of its
  // settings: the short strings a program hides.
  std::string SecretLine() {
    switch (random_.Below(6)) {
      case 0: {  // a mutex or an event
        static const char* const kScopes[] = {"Global\\", "Local\\", "", "Session\\1\\"};
        std::string out = kScopes[random_.Below(4)];
        if (random_.Chance(50)) {
          const std::string kind = Capital(Pick("mutex"));
          out += Capital(Pick("english")) + kind;
        } else {
          const std::string kind = Pick("mutex");
          out += Identifier() + "_" + kind;
        }
        if (random_.Chance(50))
          out += random_.Chance(50) ? std::to_string(random_.Below(10000))
                                    : "_" + Hex(4 + random_.Below(5));
        return out;
      }
      case 1: {  // a named pipe
        std::string out =
            random_.Chance(80) ? "\\\\.\\pipe\\" : "\\\\" + Pick("domain") + "\\pipe\\";
        out += random_.Chance(50) ? Pick("english") : Identifier();
        if (random_.Chance(60)) {
          const std::string suffix =
              random_.Chance(50) ? std::to_string(random_.Below(1000)) : Hex(4);
          out += std::string(1, "_-."[random_.Below(3)]) + suffix;
        }
        return out;
      }
      case 2: {  // key=value
        static const char* const kJoins[] = {"=", "=", ": ", ":", " = ", "=\""};
        const size_t join = random_.Below(6);
        std::string out = Pick("secret") + kJoins[join];
        out += random_.Chance(30)   ? Hex(8 + random_.Below(25))
               : random_.Chance(20) ? Pick("account")
                                    : Password();
        if (join == 5) out += "\"";
        return out;
      }
      case 3: {  // user:password
        std::string user;
        switch (random_.Below(4)) {
          case 0:
          case 1:
            user = Pick("account");
            break;
          case 2:
            user = random_.Chance(50) ? FirstDotLast() : InitialLast();
            break;
          default: {
            const std::string digits = std::to_string(random_.Below(100));
            user = Pick("english") + digits;
            break;
          }
        }
        if (random_.Chance(60)) {
          for (char& c : user) c = static_cast<char>(veskor::ToLower1251(c));
        }
        const std::string password = Password();
        return user + (random_.Chance(85) ? ":" : "/") + password;
      }
      case 4: {  // a connection string
        const std::string database = Pick("english");
        std::string out = "Server=" + Host() + ";Database=" + database + ";";
        out += random_.Chance(50) ? "User Id=" : "uid=";
        const std::string password = Password();
        const char* const field = random_.Chance(50) ? "Password=" : "pwd=";
        out += Pick("account") + ";" + field + password + ";";
        return out;
      }
      default:
        return Password();
    }
  }
  // Letters swapped for look-alike digits and signs, each with the given chance.
  std::string LookAlike(std::string word, int percent) {
    static const char kPlain[] = "aeilosst";
    static const char kSwapped[] = "43110$57";
    for (char& c : word) {
      for (size_t i = 0; i + 1 < sizeof kPlain; ++i) {
        if (c == kPlain[i] && random_.Chance(percent)) {
          c = kSwapped[i];
          break;
        }
      }
    }
    return word;
  }
  // Credentials whose words are written with look-alike digits ("d4gg3r"), joined by a sign, and
  // the user names they go with: the shape of a password in a program's settings, which the few
  // swapped passwords of SecretLine leave too rare for the model to know.
  std::string LookAlikeLine() {
    static const char kSigns[] = "!#$%&*?._-+=~^";
    const std::string sign(1, kSigns[random_.Below(sizeof kSigns - 1)]);
    const std::string second =
        LookAlike(random_.Chance(60) ? Capital(Pick("english")) : Pick("english"), 50);
    std::string out = LookAlike(Pick("english"), 50) + sign + second;
    if (random_.Chance(30)) out += std::to_string(random_.Below(100));
    if (random_.Chance(35)) {
      std::string user = random_.Chance(50) ? Pick("account") : InitialLast();
      for (char& c : user) c = static_cast<char>(veskor::ToLower1251(c));
      out = user + ":" + out;
    }
    return out;
  }
  std::string Date() {
    char out[32];
    const unsigned year = 1990 + static_cast<unsigned>(random_.Below(40));
    const unsigned month = 1 + static_cast<unsigned>(random_.Below(12));
    const unsigned day = 1 + static_cast<unsigned>(random_.Below(28));
    switch (random_.Below(4)) {
      case 0:
        std::snprintf(out, sizeof out, "%02u.%02u.%u", day, month, year);
        break;
      case 1:
        std::snprintf(out, sizeof out, "%02u/%02u/%u", month, day, year);
        break;
      default:
        std::snprintf(out, sizeof out, "%u-%02u-%02u", year, month, day);
        break;
    }
    std::string date = out;
    if (random_.Chance(25)) {
      const auto second = static_cast<unsigned>(random_.Below(60));
      const auto minute = static_cast<unsigned>(random_.Below(60));
      const auto hour = static_cast<unsigned>(random_.Below(24));
      std::snprintf(out, sizeof out, " %02u:%02u:%02u", hour, minute, second);
      date += out;
    }
    return date;
  }
  // A row of a table exported as text (comma, semicolon, tab or bar between fields), or its
  // header: numbers, amounts, dates, names and words side by side.
  std::string TableRow() {
    static const char* const kSeparators[] = {",", ",", ";", "\t", "|"};
    const char* separator = kSeparators[random_.Below(5)];
    const size_t fields = 3 + random_.Below(7);
    const bool header = random_.Chance(15);
    std::string out;
    for (size_t i = 0; i < fields; ++i) {
      if (i > 0) out += separator;
      if (header) {
        out += random_.Chance(50) ? Identifier() : Capital(Pick("english"));
        continue;
      }
      switch (random_.Below(8)) {
        case 0:
          out += std::to_string(random_.Below(i == 0 ? 1000 : 100000));
          break;
        case 1: {
          const std::string cents = std::to_string(10 + random_.Below(90));
          out += std::to_string(random_.Below(10000)) + "." + cents;
          break;
        }
        case 2:
          out += Date();
          break;
        case 3: {
          const std::string last = Pick("last");
          out += Pick("first") + " " + last;
          break;
        }
        case 4: {
          const std::string second = Pick("english");
          out += "\"" + Capital(Pick("english")) + " " + second + "\"";
          break;
        }
        case 5:
          out += Number();
          break;
        case 6:
          out += Pick("english");
          break;
        default:
          out += Capital(Pick("english"));
          break;
      }
    }
    return out;
  }

 private:
  const WordLists& lists_;
  Random random_{20240917};
};

// Appends `lines` lines from `make` until `bytes` bytes were added.
template <typename Make>
void AddLines(std::vector<std::string>& corpus, size_t bytes, Make make) {
  size_t added = 0;
  while (added < bytes) {
    corpus.push_back(make());
    added += corpus.back().size() + 1;
  }
}

}  // namespace

void AddComposedLines(const std::string& word_lists, std::vector<std::string>& corpus) {
  const WordLists lists = ParseWordLists(word_lists);
  Composer composer(lists);
  AddLines(corpus, 500000, [&] { return composer.EnglishLine(); });
  AddLines(corpus, 200000, [&] { return composer.RussianLine(); });
  AddLines(corpus, 80000, [&] { return composer.Identifier(); });
  AddLines(corpus, 80000, [&] { return composer.CodeLine(); });
  AddLines(corpus, 80000, [&] { return composer.UnixPath(); });
  AddLines(corpus, 80000, [&] { return composer.WindowsPath(); });
  AddLines(corpus, 80000, [&] { return composer.Url(); });
  AddLines(corpus, 30000, [&] { return composer.Email(); });
  AddLines(corpus, 50000, [&] { return composer.RegistryKey(); });
  AddLines(corpus, 80000, [&] { return composer.CommandLine(); });
  AddLines(corpus, 120000, [&] { return composer.SecretLine(); });
  AddLines(corpus, 60000, [&] { return composer.TableRow(); });
  AddLines(corpus, 40000, [&] { return composer.LookAlikeLine(); });
}

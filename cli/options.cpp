// Command-line parsing for veskor-scan.
#include "cli/options.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <fstream>
#include <iterator>
#include <string_view>

#include "text/cp1251.h"
#include "text/integer_syntax.h"

namespace veskor {

namespace {

// The file's bytes, of which at most `limit` are taken: one more is read, so that a longer file
// (/dev/zero among them) is refused without being read whole.
std::string ReadLimitedFile(const std::string& option, const std::string& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UsageError(option + ": cannot read " + path);
  std::string bytes(limit + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) throw UsageError(option + ": cannot read " + path);
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (bytes.size() > limit) {
    throw UsageError(option + ": at most " + std::to_string(limit) + " bytes");
  }
  return bytes;
}

int ParseLength(const std::string& option, const std::string& text) {
  const auto value = ParseInteger(text);
  if (!value || *value < 0 || *value > 255) {
    throw UsageError(option + ": '" + text + "' is not a whole number from 0 to 255");
  }
  return *value;
}

// The threads a scan may use: a whole number from 1 to kMaxJobs.
constexpr int kMaxJobs = 1024;

int ParseJobs(const std::string& option, const std::string& text) {
  const auto value = ParseInteger(text);
  if (!value || *value < 1 || *value > kMaxJobs) {
    throw UsageError(option + ": '" + text + "' is not a whole number from 1 to 1024");
  }
  return *value;
}

// A whole number of bytes, 0 to 2^63 - 1.
uint64_t ParseBytes(const std::string& option, const std::string& text) {
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      value > static_cast<uint64_t>(INT64_MAX)) {
    throw UsageError(option + ": '" + text + "' is not a whole number of bytes");
  }
  return value;
}

int ParseTop(const std::string& option, const std::string& text) {
  const auto value = ParseInteger(text);
  if (!value || *value < 1)
    throw UsageError(option + ": '" + text + "' is not a whole number above 0");
  return *value;
}

// A time in seconds, a decimal number above 0 (at most a year).
double ParseSeconds(const std::string& option, const std::string& text) {
  double value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !(value > 0) ||
      value > 366 * 24 * 3600.0) {
    throw UsageError(option + ": '" + text + "' is not a number of seconds above 0");
  }
  return value;
}

// A preset record holds at most 255 bytes of alphabet or expression.
constexpr size_t kRecordFieldBytes = 255;
// The settings file keeps at most this much of a format.
constexpr size_t kFormatBytes = 2047;

std::string RecordField(const std::string& option, std::string bytes) {
  if (bytes.size() > kRecordFieldBytes) throw UsageError(option + ": at most 255 bytes");
  return bytes;
}

// Where --help explains an option: under one of its sections, or nowhere (an option the
// synopsis and another option's text name).
enum class Section { kNone, kTasks, kOutput, kBatch };
// How an option's row in --help begins: a row of its own, or the row of the option before it,
// as its alternative ("--format TEXT | --format-file PATH") or beside it ("--min N, --max N").
enum class Row { kOwn, kAlternative, kBeside };

// Every option of the command line: its name, the name of its value (nullptr: it takes none),
// where --help explains it and what it explains, and what it sets. The text belongs to the first
// option of a row; its lines after the first are indented under it, but a line that begins
// with spaces (the algorithms under --algo) is laid out already and printed as it stands.
struct OptionSpec {
  const char* name;
  const char* argument;
  Section section;
  Row row;
  const char* text;
  void (*apply)(CliOptions& options, const std::string& name, const std::string& value);
};

using O = CliOptions;
using S = const std::string&;
using enum Section;
using enum Row;
// "--help" first; the options of each section in the order --help explains them.
constexpr OptionSpec kOptions[] = {
    {"--help", nullptr, kNone, kOwn, "", [](O& o, S, S) { o.help = true; }},
    {"--dir", "DIR", kNone, kOwn, "", [](O& o, S, S v) { o.dir = v; }},
    {"--list", nullptr, kTasks, kOwn, "print those rows and scan nothing (FILE may be left out)",
     [](O& o, S, S) { o.list = true; }},
    {"--algo", "NAME", kTasks, kOwn,
     "one task; NAME is one of these (case-sensitive):\n"
     "    XOR8 ADD8 SUB8 NONE         b^k, b+k, b-k, b: keys 1 to 255\n"
     "    XOR8W ADD8W SUB8W NONEW     the same, read as UTF-16LE text\n"
     "    XOR8ROL ADD8ROL ROL8ADD     rol(b^x,r), rol(b+x,r), rol(b,r)+x: keys\n"
     "                                0x100 to 0x7FF, r*256+x (0x35A: r 3, x 0x5A)\n"
     "    XOR8N                       b^k, but 0 and k stay: keys 1 to 255\n"
     "    XOR8INC XOR8DEC             b^(k+i), b^(k-i) at offset i: keys 0 to 255\n"
     "    XORK                        b^K[i mod n], a key of 2 to 32 bytes: 0x8c61d263\n"
     "                                or 8c:61:d2:63; without --key, the keys the\n"
     "                                file gives away\n"
     "    ANY                         every algorithm above but NONE and NONEW,\n"
     "                                with every key, ranked together",
     [](O& o, S, S v) { o.algorithm = Utf8ToCp1251(v); }},
    {"--key", "TEXT", kTasks, kOwn,
     "one key instead of every key: 90, $5A or 0x5A (hex), -1;\n"
     "a one-byte key is the low byte of any whole number (300\n"
     "is 44), a rotation key must lie in its range (858, 0x35A)",
     [](O& o, S, S v) {
       o.key = Utf8ToCp1251(v);
       o.key_shown = v;
     }},
    {"--preset", "NAME", kTasks, kOwn, "the first preset of that name in DIR/presets.dat, or",
     [](O& o, S, S v) { o.preset = Utf8ToCp1251(v); }},
    {"--alphabet", "TEXT", kTasks, kOwn,
     "the characters of a string (a\n"
     "file's bytes are taken as they are), with",
     [](O& o, S n, S v) { o.alphabet = RecordField(n, Utf8ToCp1251(v)); }},
    {"--alphabet-file", "PATH", kTasks, kAlternative, "",
     [](O& o, S n, S v) { o.alphabet = ReadLimitedFile(n, v, kRecordFieldBytes); }},
    {"--min", "N", kTasks, kOwn,
     "its shortest and longest length, 0 to 255 (default 7 and\n"
     "0: no limit)",
     [](O& o, S n, S v) { o.min_length = ParseLength(n, v); }},
    {"--max", "N", kTasks, kBeside, "", [](O& o, S n, S v) { o.max_length = ParseLength(n, v); }},
    {"--regexp", "TEXT", kTasks, kOwn, "an expression it must match",
     [](O& o, S n, S v) { o.regexp = RecordField(n, Utf8ToCp1251(v)); }},
    {"--regexp-file", "PATH", kTasks, kAlternative, "",
     [](O& o, S n, S v) { o.regexp = ReadLimitedFile(n, v, kRecordFieldBytes); }},
    {"--stdout", nullptr, kOutput, kOwn, "the logs' lines on standard output, in task order",
     [](O& o, S, S) { o.to_stdout = true; }},
    {"--summary", nullptr, kOutput, kOwn,
     "no lines: the keys of each task ranked best first, as\n"
     "tab-separated columns algo, key, score, lines, chars,\n"
     "longest, best",
     [](O& o, S, S) { o.summary = true; }},
    {"--format", "TEXT", kOutput, kOwn, "the log line format",
     [](O& o, S, S v) { o.format = Utf8ToCp1251(v); }},
    {"--format-file", "PATH", kOutput, kAlternative, "",
     [](O& o, S n, S v) { o.format = ReadLimitedFile(n, v, kFormatBytes); }},
    {"--jobs", "N", kOutput, kOwn,
     "threads, 1 to 1024 (default: every core); the output is\n"
     "the same for every N",
     [](O& o, S n, S v) { o.jobs = ParseJobs(n, v); }},
    {"--recursive", nullptr, kBatch, kOwn, "walk each DIR, its names in byte order",
     [](O& o, S, S) { o.recursive = true; }},
    {"--files-from", "LIST", kBatch, kOwn,
     "the names in LIST ('-': standard input), one a line, or\n"
     "ended by NUL with --null",
     [](O& o, S, S v) { o.files_from = v; }},
    {"--null", nullptr, kNone, kOwn, "", [](O& o, S, S) { o.null_separated = true; }},
    {"--max-size", "BYTES", kBatch, kOwn, "skip larger files",
     [](O& o, S n, S v) { o.max_size = ParseBytes(n, v); }},
    {"--timeout", "SECONDS", kBatch, kOwn, "stop a file's tasks after SECONDS (a log begun stays)",
     [](O& o, S n, S v) { o.timeout = ParseSeconds(n, v); }},
    {"--json", nullptr, kBatch, kOwn,
     "JSON Lines instead of logs, lines or tables: \"string\"\n"
     "records, \"key\" (--summary), \"rule\" (--yara), and a\n"
     "\"file\" record per file (size, sha256, status, message)",
     [](O& o, S, S) { o.json = true; }},
    {"--top", "N", kBatch, kOwn, "with --json --summary: the first N keys of each task",
     [](O& o, S n, S v) { o.top = ParseTop(n, v); }},
    {"--yara", nullptr, kBatch, kOwn,
     "with --summary: a YARA rule of each task's best key that\n"
     "holds text; the only output, or \"rule\" records",
     [](O& o, S, S) { o.yara = true; }},
    {"--skip-done", "JSONL", kBatch, kOwn,
     "pass over the files done in JSONL (an earlier --json\n"
     "run's output) to resume a batch",
     [](O& o, S, S v) { o.skip_done = v; }},
};

const OptionSpec* FindOption(std::string_view name) {
  for (const OptionSpec& option : kOptions) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

// The synopsis's forms: what starts each, then its parts, in which every option is written by
// its name alone and takes its value's name from kOptions. A start that ends with a newline
// puts the parts on the lines below it.
struct UsageForm {
  const char* start;
  const char* parts;
};
constexpr UsageForm kUsageForms[] = {
    {"usage: veskor-scan",
     "[--dir] [--format | --format-file] [--stdout | --summary] [--jobs] [--list] FILE"},
    {"       veskor-scan",
     "--algo [--key] (--preset | --alphabet | --alphabet-file) [--min] [--max] "
     "[--regexp | --regexp-file] [--format | --format-file] [--dir] [--stdout | --summary] "
     "[--jobs] FILE"},
    {"       either form, over many files:\n",
     "[--json] [--top] [--yara] [--recursive] [--files-from [--null]] [--max-size] [--timeout] "
     "[--skip-done] FILE|DIR..."},
    {"       veskor-scan", "-h | --help"},
};
// The synopsis's lines: at most this wide, their parts continued under the first.
constexpr size_t kUsageWidth = 80;
constexpr size_t kUsageIndent = 19;

// --help's sections in order: the heading, and a row before the options for what holds without
// any of them.
struct HelpSection {
  Section section;
  const char* heading;
  const char* first_label;
  const char* first_text;
};
constexpr HelpSection kHelpSections[] = {
    {kTasks, "Tasks:\n", "(no --algo)",
     "the checked rows of grid.cfg with the presets of\n"
     "presets.dat and the format of config.ini, read from DIR\n"
     "(default: where the window keeps them, beside the\n"
     "program or, installed, in ~/.config/veskor); never written"},
    {kOutput, "Output:\n", "(default)", "a log beside FILE per task, FILE_ALGO.log"},
    {kBatch,
     "Many files are scanned side by side, one worker each, and reported in the\n"
     "order given:\n",
     nullptr, nullptr},
};
constexpr const char* kHelpStart =
    "\n"
    "Finds text hidden in FILE by a simple cipher, as the window's \"Analyze\" does.\n";
constexpr const char* kHelpEnd =
    "\n"
    "Exit status: 0 when every task of every file ran to its end; 1 when an input\n"
    "could not be read, an error ended a run or a file timed out; 2 when the\n"
    "command line is wrong (nothing is read).\n";
// A row's text begins in this column, or in the wide one when the label leaves no gap of two.
constexpr size_t kTextColumn = 21;
constexpr size_t kWideTextColumn = 43;

// An option as the synopsis and --help write it: "--dir DIR".
std::string Labelled(const OptionSpec& option) {
  std::string label = option.name;
  if (option.argument != nullptr) label.append(" ").append(option.argument);
  return label;
}

// The parts of a form with every option's value named: "[--files-from [--null]]" becomes
// "[--files-from LIST [--null]]". A part ends at a space outside brackets.
std::vector<std::string> UsageParts(std::string_view parts) {
  std::vector<std::string> out(1);
  int depth = 0;
  for (size_t i = 0; i < parts.size();) {
    const char c = parts[i];
    if (c == ' ' && depth == 0) {
      out.emplace_back();
      ++i;
      continue;
    }
    if (c == '-' && i + 1 < parts.size() && parts[i + 1] == '-') {
      const size_t end = parts.find_first_of(" ])|", i);
      const std::string_view name = parts.substr(i, end - i);
      const OptionSpec* option = FindOption(name);
      out.back() += option != nullptr ? Labelled(*option) : std::string(name);
      i += name.size();
      continue;
    }
    if (c == '[' || c == '(') ++depth;
    if (c == ']' || c == ')') --depth;
    out.back() += c;
    ++i;
  }
  return out;
}

std::string MakeUsage() {
  std::string usage;
  for (const UsageForm& form : kUsageForms) {
    std::string line = form.start;
    bool line_begun = true;
    if (line.back() == '\n') {
      usage += line;
      line.assign(kUsageIndent, ' ');
      line_begun = false;
    }
    for (const std::string& part : UsageParts(form.parts)) {
      if (line_begun && line.size() + 1 + part.size() > kUsageWidth) {
        usage += line + "\n";
        line.assign(kUsageIndent, ' ');
        line_begun = false;
      }
      if (line_begun) line += ' ';
      line += part;
      line_begun = true;
    }
    usage += line + "\n";
  }
  return usage;
}

// One row of --help: the label, then the text's lines in their column.
std::string HelpRow(const std::string& label, std::string_view text) {
  std::string row = "  " + label;
  const size_t column = row.size() + 2 <= kTextColumn ? kTextColumn : kWideTextColumn;
  row.append(row.size() + 2 <= column ? column - row.size() : 2, ' ');
  for (size_t begin = 0, line = 0; begin <= text.size(); ++line) {
    const size_t end = std::min(text.find('\n', begin), text.size());
    const std::string_view piece = text.substr(begin, end - begin);
    if (line > 0 && !piece.starts_with(' ')) row.append(kTextColumn, ' ');
    row.append(piece).append("\n");
    begin = end + 1;
  }
  return row;
}

std::string MakeHelp() {
  std::string help = kHelpStart;
  for (const HelpSection& section : kHelpSections) {
    help += "\n";
    help += section.heading;
    if (section.first_label != nullptr) help += HelpRow(section.first_label, section.first_text);
    std::string label;
    const char* text = nullptr;
    for (const OptionSpec& option : kOptions) {
      if (option.section != section.section) continue;
      if (option.row == kOwn) {
        if (text != nullptr) help += HelpRow(label, text);
        label = Labelled(option);
        text = option.text;
      } else {
        label += (option.row == kAlternative ? " | " : ", ") + Labelled(option);
      }
    }
    if (text != nullptr) help += HelpRow(label, text);
  }
  return help + kHelpEnd;
}

}  // namespace

const std::string& UsageText() {
  static const std::string* const usage = new std::string(MakeUsage());
  return *usage;
}

const std::string& HelpText() {
  static const std::string* const help = new std::string(MakeHelp());
  return *help;
}

std::vector<std::string> OptionNames() {
  std::vector<std::string> names;
  for (const OptionSpec& option : kOptions) names.push_back(option.name);
  return names;
}

CliOptions ParseCommandLine(const std::vector<std::string>& arguments) {
  CliOptions options;
  std::vector<std::string> positional;
  bool options_end = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string argument = arguments[i];
    // The one short option, the one every program answers: the usage.
    if (!options_end && argument == "-h") argument = "--help";
    if (options_end || argument.size() < 2 || argument.compare(0, 2, "--") != 0) {
      positional.push_back(argument);
      continue;
    }
    if (argument == "--") {
      options_end = true;
      continue;
    }
    std::string value;
    bool has_inline_value = false;
    if (const size_t eq = argument.find('='); eq != std::string::npos) {
      value = argument.substr(eq + 1);
      argument.resize(eq);
      has_inline_value = true;
    }
    const OptionSpec* found = FindOption(argument);
    if (found == nullptr) throw UsageError("unknown option " + argument);
    const bool takes_value = found->argument != nullptr;
    if (takes_value && !has_inline_value) {
      if (i + 1 >= arguments.size()) throw UsageError(argument + " needs a value");
      value = arguments[++i];
    } else if (!takes_value && has_inline_value) {
      throw UsageError(argument + " takes no value");
    }
    found->apply(options, argument, value);
  }
  if (options.help) return options;
  if (options.to_stdout && options.summary) {
    throw UsageError("--stdout and --summary cannot be combined");
  }
  if (options.to_stdout && options.json) throw UsageError("--stdout and --json cannot be combined");
  if (options.top > 0 && !(options.json && options.summary)) {
    throw UsageError("--top needs --json and --summary");
  }
  if (options.yara && !options.summary) throw UsageError("--yara needs --summary");
  if (options.null_separated && !options.files_from) throw UsageError("--null needs --files-from");
  options.files = std::move(positional);
  if (options.files.empty() && !options.files_from && !(options.list && !options.algorithm)) {
    throw UsageError("FILE is missing");
  }
  if (options.algorithm) {
    if (options.list) throw UsageError("--list lists the table; it takes no --algo");
    if (options.preset && (options.alphabet || options.regexp)) {
      throw UsageError("--preset cannot be combined with --alphabet or --regexp");
    }
    if (!options.preset && !options.alphabet) throw UsageError("--alphabet or --preset is missing");
  } else if (options.key || options.preset || options.alphabet || options.regexp) {
    throw UsageError("--key, --preset, --alphabet and --regexp need --algo");
  }
  return options;
}

}  // namespace veskor

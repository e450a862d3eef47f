// Command-line parsing for veskor-scan.
#include "cli/options.h"

#include <charconv>
#include <climits>
#include <fstream>
#include <iterator>

#include "text/cp1251.h"
#include "text/integer_syntax.h"

namespace veskor {

const char* const kUsage =
    "usage: veskor-scan [--dir DIR] [--format TEXT | --format-file PATH]\n"
    "                   [--stdout | --summary] [--jobs N] [--list] FILE\n"
    "       veskor-scan --algo NAME [--key TEXT]\n"
    "                   (--preset NAME | --alphabet TEXT | --alphabet-file PATH)\n"
    "                   [--min N] [--max N] [--regexp TEXT | --regexp-file PATH]\n"
    "                   [--format TEXT | --format-file PATH] [--dir DIR]\n"
    "                   [--stdout | --summary] [--jobs N] FILE\n"
    "       either form, over many files:\n"
    "                   [--json] [--top N] [--yara] [--recursive]\n"
    "                   [--files-from LIST [--null]] [--max-size BYTES]\n"
    "                   [--timeout SECONDS] [--skip-done JSONL] FILE|DIR...\n"
    "       veskor-scan -h | --help\n";

const char* const kHelp =
    "\n"
    "Finds text hidden in FILE by a simple cipher, as the window's \"Analyze\" does.\n"
    "\n"
    "Tasks:\n"
    "  (no --algo)        the checked rows of grid.cfg with the presets of\n"
    "                     presets.dat and the format of config.ini, read from DIR\n"
    "                     (default: where the window keeps them, beside the\n"
    "                     program or, installed, in ~/.config/veskor); never written\n"
    "  --list             print those rows and scan nothing (FILE may be left out)\n"
    "  --algo NAME        one task; NAME is one of these (case-sensitive):\n"
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
    "                                with every key, ranked together\n"
    "  --key TEXT         one key instead of every key: 90, $5A or 0x5A (hex), -1;\n"
    "                     a one-byte key is the low byte of any whole number (300\n"
    "                     is 44), a rotation key must lie in its range (858, 0x35A)\n"
    "  --preset NAME      the first preset of that name in DIR/presets.dat, or\n"
    "  --alphabet TEXT | --alphabet-file PATH   the characters of a string (a\n"
    "                     file's bytes are taken as they are), with\n"
    "  --min N, --max N   its shortest and longest length, 0 to 255 (default 7 and\n"
    "                     0: no limit)\n"
    "  --regexp TEXT | --regexp-file PATH       an expression it must match\n"
    "\n"
    "Output:\n"
    "  (default)          a log beside FILE per task, FILE_ALGO.log\n"
    "  --stdout           the logs' lines on standard output, in task order\n"
    "  --summary          no lines: the keys of each task ranked best first, as\n"
    "                     tab-separated columns algo, key, score, lines, chars,\n"
    "                     longest, best\n"
    "  --format TEXT | --format-file PATH       the log line format\n"
    "  --jobs N           threads, 1 to 1024 (default: every core); the output is\n"
    "                     the same for every N\n"
    "\n"
    "Many files are scanned side by side, one worker each, and reported in the\n"
    "order given:\n"
    "  --recursive        walk each DIR, its names in byte order\n"
    "  --files-from LIST  the names in LIST ('-': standard input), one a line, or\n"
    "                     ended by NUL with --null\n"
    "  --max-size BYTES   skip larger files\n"
    "  --timeout SECONDS  stop a file's tasks after SECONDS (a log begun stays)\n"
    "  --json             JSON Lines instead of logs, lines or tables: \"string\"\n"
    "                     records, \"key\" (--summary), \"rule\" (--yara), and a\n"
    "                     \"file\" record per file (size, sha256, status, message)\n"
    "  --top N            with --json --summary: the first N keys of each task\n"
    "  --yara             with --summary: a YARA rule of each task's best key that\n"
    "                     holds text; the only output, or \"rule\" records\n"
    "  --skip-done JSONL  pass over the files done in JSONL (an earlier --json\n"
    "                     run's output) to resume a batch\n"
    "\n"
    "Exit status: 0 when every task of every file ran to its end; 1 when an input\n"
    "could not be read, an error ended a run or a file timed out; 2 when the\n"
    "command line is wrong (nothing is read).\n";

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

// Every option of the command line: its name, whether it takes a value, and what it sets.
struct OptionSpec {
  const char* name;
  bool takes_value;
  void (*apply)(CliOptions& options, const std::string& name, const std::string& value);
};

using O = CliOptions;
using S = const std::string&;
constexpr OptionSpec kOptions[] = {
    {"--help", false, [](O& o, S, S) { o.help = true; }},
    {"--list", false, [](O& o, S, S) { o.list = true; }},
    {"--stdout", false, [](O& o, S, S) { o.to_stdout = true; }},
    {"--summary", false, [](O& o, S, S) { o.summary = true; }},
    {"--dir", true, [](O& o, S, S v) { o.dir = v; }},
    {"--format", true, [](O& o, S, S v) { o.format = Utf8ToCp1251(v); }},
    {"--format-file", true, [](O& o, S n, S v) { o.format = ReadLimitedFile(n, v, kFormatBytes); }},
    {"--algo", true, [](O& o, S, S v) { o.algorithm = Utf8ToCp1251(v); }},
    {"--key", true,
     [](O& o, S, S v) {
       o.key = Utf8ToCp1251(v);
       o.key_shown = v;
     }},
    {"--preset", true, [](O& o, S, S v) { o.preset = Utf8ToCp1251(v); }},
    {"--alphabet", true, [](O& o, S n, S v) { o.alphabet = RecordField(n, Utf8ToCp1251(v)); }},
    {"--alphabet-file", true,
     [](O& o, S n, S v) { o.alphabet = ReadLimitedFile(n, v, kRecordFieldBytes); }},
    {"--min", true, [](O& o, S n, S v) { o.min_length = ParseLength(n, v); }},
    {"--max", true, [](O& o, S n, S v) { o.max_length = ParseLength(n, v); }},
    {"--regexp", true, [](O& o, S n, S v) { o.regexp = RecordField(n, Utf8ToCp1251(v)); }},
    {"--regexp-file", true,
     [](O& o, S n, S v) { o.regexp = ReadLimitedFile(n, v, kRecordFieldBytes); }},
    {"--jobs", true, [](O& o, S n, S v) { o.jobs = ParseJobs(n, v); }},
    {"--json", false, [](O& o, S, S) { o.json = true; }},
    {"--top", true, [](O& o, S n, S v) { o.top = ParseTop(n, v); }},
    {"--recursive", false, [](O& o, S, S) { o.recursive = true; }},
    {"--null", false, [](O& o, S, S) { o.null_separated = true; }},
    {"--files-from", true, [](O& o, S, S v) { o.files_from = v; }},
    {"--max-size", true, [](O& o, S n, S v) { o.max_size = ParseBytes(n, v); }},
    {"--skip-done", true, [](O& o, S, S v) { o.skip_done = v; }},
    {"--timeout", true, [](O& o, S n, S v) { o.timeout = ParseSeconds(n, v); }},
    {"--yara", false, [](O& o, S, S) { o.yara = true; }},
};

}  // namespace

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
    const OptionSpec* found = nullptr;
    for (const OptionSpec& option : kOptions) {
      if (argument == option.name) found = &option;
    }
    if (found == nullptr) throw UsageError("unknown option " + argument);
    if (found->takes_value && !has_inline_value) {
      if (i + 1 >= arguments.size()) throw UsageError(argument + " needs a value");
      value = arguments[++i];
    } else if (!found->takes_value && has_inline_value) {
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

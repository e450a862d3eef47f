// The runner's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "text/error.h"

namespace veskor {

// A command line that cannot be run; the runner prints the message and the usage, exit 2.
class UsageError : public Error {
 public:
  using Error::Error;
};

struct CliOptions {
  bool help = false;
  bool list = false;
  bool to_stdout = false;
  bool summary = false;  // print the keys ranked instead of writing lines
  std::optional<std::string> dir;
  std::optional<std::string> format;  // 8-bit
  // Single-task mode when set.
  std::optional<std::string> algorithm;  // 8-bit
  std::optional<std::string> key;        // 8-bit
  std::optional<std::string> key_shown;  // as typed, UTF-8, for messages
  std::optional<std::string> preset;     // 8-bit name
  std::optional<std::string> alphabet;   // 8-bit
  std::optional<std::string> regexp;     // 8-bit
  int min_length = 7;
  int max_length = 0;
  int jobs = 0;  // 0: every core the process may run on
  // The batch: names as given (file-system bytes), folders walked with `recursive`, the names
  // of the list `files_from` ("-": standard input) after them.
  std::vector<std::string> files;
  bool recursive = false;
  std::optional<std::string> files_from;
  bool null_separated = false;  // the list's names end with NUL
  bool json = false;            // JSON Lines on standard output
  int top = 0;                  // with --json --summary: the first N keys of each task; 0 all
  std::optional<uint64_t> max_size;
  bool yara = false;                     // with --summary: a YARA rule of each task's best key
  std::optional<std::string> skip_done;  // an earlier batch's JSON Lines
  std::optional<double> timeout;         // seconds a file's tasks may take
};

// Parses argv (without the program name). TEXT arguments are UTF-8 and converted to
// Windows-1251; the -file options read bytes unconverted. Raises UsageError.
CliOptions ParseCommandLine(const std::vector<std::string>& arguments);

// The names of every option ParseCommandLine takes, "--help" first, as its one table lists them.
std::vector<std::string> OptionNames();

// The synopsis, printed after a wrong command line; made from the options' table, as HelpText.
const std::string& UsageText();
// What follows the synopsis for -h and --help: every option, algorithm and exit status, in 80
// columns.
const std::string& HelpText();

}  // namespace veskor

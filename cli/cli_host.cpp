// Standard error for people, standard output or log files for the lines.
#include "cli/cli_host.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "cli/string_records.h"
#include "cli/terminal_text.h"
#include "engine/decoding/algorithms.h"
#include "engine/run/log_file.h"
#include "engine/run/run_search.h"
#include "engine/search/scan_context.h"
#include "files/io_error.h"
#include "text/cp1251.h"

namespace veskor {
namespace {

// The lines of every row on standard output, in task order, each ended by CR LF as in a log.
class StdoutSink : public LogSink {
 public:
  explicit StdoutSink(FileOutput& output) : output_(output) {}
  void Write(std::string_view bytes) override {
    buffer_.append(bytes);
    if (buffer_.size() >= kBytes) Flush();
  }
  void Close() override { Flush(); }
  ~StdoutSink() override {
    try {
      Flush();
    } catch (...) {
    }
  }

 private:
  static constexpr size_t kBytes = size_t{1} << 20;
  void Flush() {
    const bool written = output_.Out(buffer_);
    buffer_.clear();
    if (!written) throw IoErrorFromErrno(errno);
  }
  FileOutput& output_;
  std::string buffer_;
};

// After the message about a row whose algorithm has no decoder: the names there are.
std::string AlgorithmNames() {
  std::string names = "Algorithm names (case-sensitive):";
  for (const TAlgorithm& algorithm : Algorithms) names.append(" ").append(algorithm.Name);
  return names.append(" ").append(kAnyAlgorithmName);
}

}  // namespace

CliHost::CliHost(std::string input, Output output, FileOutput& out, bool json)
    : input_(std::move(input)),
      output_(output),
      json_(json),
      out_(out),
      bar_(out.Alone() && ::isatty(STDERR_FILENO) == 1) {}

CliHost::~CliHost() { ClearBar(); }

void CliHost::PrintLine(const std::string& line) {
  ClearBar();
  out_.Err(line);
}

void CliHost::Message(const RequestRow&, const std::string& text) {
  if (first_message_.empty()) first_message_ = text;
  PrintLine(EscapeForTerminal(text));
}

void CliHost::InputMessage(const RequestRow&, const std::string& text, const std::string& input) {
  if (first_message_.empty()) first_message_ = text;
  PrintLine(MessageAbout(input, text));
}

std::unique_ptr<LineMaker> CliHost::MakeLines(const TAlgorithm& algorithm, std::string_view format,
                                              bool write_lines) {
  if (json_ && write_lines) return StringRecords(input_, algorithm);
  return RunObserver::MakeLines(algorithm, format, write_lines && !json_);
}

void CliHost::RowProgress(const RequestRow& row, int percent) {
  bar_name_ = row.algorithm_shown;
  bar_percent_ = percent;
}

void CliHost::CheckDeadline() {
  // A signal sets the process's flag; a file scanned beside others obeys a flag of its own.
  if (StopRequested.load(std::memory_order_relaxed)) RequestStop();
  if (timed_out_ || !deadline_ || std::chrono::steady_clock::now() < *deadline_) return;
  // The run honours the flag after the row and clears it, so the next file starts unstopped;
  // a signal's stop, which ends the batch, is told apart by the runner's own flag.
  timed_out_ = true;
  RequestStop();
}

void CliHost::Pace(const RequestRow&, int, int64_t) {
  CheckDeadline();
  if (!bar_ || bar_percent_ < 0) return;
  const int percent = bar_percent_;
  constexpr int kWidth = 40;
  const int filled = percent * kWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  std::fprintf(stderr, "\r%s [%s] %3d%%", EscapeForTerminal(bar_name_).c_str(), bar.c_str(),
               percent);
  std::fflush(stderr);
  bar_shown_ = true;
}

void CliHost::ClearBar() {
  if (!bar_shown_) return;
  std::fprintf(stderr, "\r%*s\r", 60, "");
  bar_shown_ = false;
}

std::unique_ptr<LogSink> CliHost::OpenLog(const RequestRow& row, const std::string& path) {
  // With the summary alone no line is written anywhere.
  class NoLog : public LogSink {
    void Write(std::string_view) override {}
    void Close() override {}
  };
  if (output_ == Output::kSummary) return std::make_unique<NoLog>();
  if (output_ == Output::kStdout) return std::make_unique<StdoutSink>(out_);
  return RunObserver::OpenLog(row, path);
}

void CliHost::RowFinished(const RequestRow& row, const RowOutcome& outcome) {
  // Rows too short to be paced are still counted against the deadline.
  CheckDeadline();
  ClearBar();
  bar_percent_ = -1;
  const std::string& key = row.key_shown;
  const char* state = "";
  switch (outcome.kind) {
    case RowOutcome::Kind::kDone:
      break;
    case RowOutcome::Kind::kStopped:
      state = " (stopped)";
      break;
    case RowOutcome::Kind::kInputFailed:
      state = " (input not read)";
      break;
    case RowOutcome::Kind::kSkipped:
      state = " (skipped)";
      break;
  }
  if (outcome.kind == RowOutcome::Kind::kSkipped) {
    TAlgorithm found;
    if (row.algorithm != kAnyAlgorithmName && !FindAlgorithm(row.algorithm, found)) {
      out_.Err(AlgorithmNames());
    }
  }
  if (outcome.kind != RowOutcome::Kind::kDone) all_completed_ = false;
  outcomes_.push_back(outcome);
  const std::string log = output_ == Output::kStdout    ? "standard output"
                          : output_ == Output::kSummary ? "summary"
                          : outcome.log_path.empty()    ? "no log"
                                                        : outcome.log_path;
  // Without lines, the count is the summary's: the strings of the keys it lists.
  const int64_t lines =
      output_ == Output::kSummary && outcome.summary
          ? static_cast<int64_t>(outcome.summary->ShownCount(
                outcome.search && outcome.search->algorithm.Unkeyed(), outcome.key))
          : outcome.found;
  out_.Err((name_file_ ? EscapeForTerminal(input_) + ": " : std::string()) +
           EscapeForTerminal(row.algorithm_shown) + " key " +
           (key.empty() ? "all" : EscapeForTerminal(key)) + " preset \"" +
           EscapeForTerminal(row.preset_shown) + "\": " + std::to_string(lines) + " lines" + state +
           " -> " + EscapeForTerminal(log));
}

}  // namespace veskor

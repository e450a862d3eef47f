// How the accepted strings of one row become lines: the row's expression and report format.
// The workers of a search share one, so every call is const and safe from several threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "report/report_format.h"

namespace veskor {

class CompiledRegExp;

class LineMaker {
 public:
  virtual ~LineMaker() = default;
  // Does the row's expression accept the text? Asked only for strings that pass both length
  // tests, and only when the row has an expression. May raise the expression's error. A set
  // `stop` ends a long search (the answer is then false); `pace` is called now and then during
  // one.
  virtual bool Matches(std::string_view text, const std::atomic<bool>& stop,
                       const std::function<void()>& pace) const = 0;
  // Appends the line of an accepted string and its CR LF. May raise ReportFormatError; `out` is
  // then as it was.
  virtual void AppendLine(LineBuffer& out, int32_t key, int32_t width, int64_t position,
                          std::string_view text) const = 0;
  // The same for a long text, streamed into `out`; a failure is raised before anything is
  // written.
  virtual void WriteLine(ByteSink& out, int32_t key, int32_t width, int64_t position,
                         const LongText& text) const = 0;
  // The format whose lines (each followed by CR LF) may be written in place, their texts decoded
  // straight into them; null when lines are made only by AppendLine.
  virtual const ReportFormat* InPlaceFormat() const { return nullptr; }
};

// The run's lines: the expression compiled once, its compile error raised at the first string
// asked about (never before), and the format read once.
class RowLineMaker : public LineMaker {
 public:
  // Without `write_lines` every line is empty (its count still counts): the runner's summary.
  RowLineMaker(std::string_view expression, std::string_view format, bool write_lines = true);
  ~RowLineMaker() override;

  bool Matches(std::string_view text, const std::atomic<bool>& stop,
               const std::function<void()>& pace) const override;
  void AppendLine(LineBuffer& out, int32_t key, int32_t width, int64_t position,
                  std::string_view text) const override;
  void WriteLine(ByteSink& out, int32_t key, int32_t width, int64_t position,
                 const LongText& text) const override;
  const ReportFormat* InPlaceFormat() const override { return write_lines_ ? &format_ : nullptr; }

 private:
  bool write_lines_;
  std::unique_ptr<CompiledRegExp> expression_;
  std::exception_ptr expression_error_;
  ReportFormat format_;
};

}  // namespace veskor

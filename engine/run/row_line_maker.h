// The run's lines of one row: its expression (engine/regexp) and its report format (report/)
// behind the search's line maker.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string_view>

#include "engine/search/line_maker.h"
#include "report/report_format.h"

namespace veskor {

class CompiledRegExp;

// The expression compiled once, its compile error raised at the first string asked about (never
// before), and the format read once.
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
  std::unique_ptr<const KeyLineWriter> InPlace(int32_t key, int32_t width) const override;
  bool WritesLines() const override { return write_lines_; }

 private:
  bool write_lines_;
  std::unique_ptr<CompiledRegExp> expression_;
  std::exception_ptr expression_error_;
  ReportFormat format_;
};

}  // namespace veskor

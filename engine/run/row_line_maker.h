// The run's lines of one row, made by its report format (report/) behind the search's line
// maker.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/search/line_maker.h"
#include "report/report_format.h"

namespace veskor {

// The format read once.
class RowLineMaker : public LineMaker {
 public:
  // Without `write_lines` every line is empty (its count still counts): the runner's summary.
  explicit RowLineMaker(std::string_view format, bool write_lines = true);

  void AppendLine(LineBuffer& out, int32_t key, int32_t width, int64_t position,
                  std::string_view text) const override;
  void WriteLine(ByteSink& out, int32_t key, int32_t width, int64_t position,
                 const LongText& text) const override;
  std::unique_ptr<const KeyLineWriter> InPlace(int32_t key, int32_t width) const override;
  bool WritesLines() const override { return write_lines_; }

 private:
  bool write_lines_;
  ReportFormat format_;
};

}  // namespace veskor

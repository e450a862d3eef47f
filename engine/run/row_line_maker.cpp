// The run's line format, and the format's lines of a key written in place.
#include "engine/run/row_line_maker.h"

namespace veskor {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// The format's in-place lines of one key, each followed by its CR LF.
class FormatLines : public KeyLineWriter {
 public:
  explicit FormatLines(std::unique_ptr<const ReportFormat::InPlaceLines> lines)
      : lines_(std::move(lines)) {}
  uint64_t Bound(uint64_t lines, uint64_t text_bytes) const override {
    return lines_->Bound(lines, text_bytes) + lines * kLineEnd.size();
  }
  char* Write(char* at, std::span<const InPlaceLine> lines,
              const TextSource& texts) const override {
    return lines_->Write(at, lines, kLineEnd, texts);
  }

 private:
  std::unique_ptr<const ReportFormat::InPlaceLines> lines_;
};

// The lines of a run that keeps none: each counts, none has a byte.
class NoLines : public KeyLineWriter {
 public:
  uint64_t Bound(uint64_t, uint64_t) const override { return 0; }
  char* Write(char* at, std::span<const InPlaceLine>, const TextSource&) const override {
    return at;
  }
};

}  // namespace

RowLineMaker::RowLineMaker(std::string_view format, bool write_lines)
    : write_lines_(write_lines), format_(format) {}

void RowLineMaker::AppendLine(LineBuffer& out, int32_t key, int32_t width, int64_t position,
                              std::string_view text) const {
  if (write_lines_) format_.Append(out, key, width, position, text, kLineEnd);
}

void RowLineMaker::WriteLine(ByteSink& out, int32_t key, int32_t width, int64_t position,
                             const LongText& text) const {
  if (!write_lines_) return;
  format_.Write(out, key, width, position, text);
  out.Write(kLineEnd);
}

std::unique_ptr<const KeyLineWriter> RowLineMaker::InPlace(int32_t key, int32_t width) const {
  if (!write_lines_) return std::make_unique<NoLines>();
  std::unique_ptr<const ReportFormat::InPlaceLines> lines = format_.InPlace(key, width);
  if (lines == nullptr) return nullptr;
  return std::make_unique<FormatLines>(std::move(lines));
}

}  // namespace veskor

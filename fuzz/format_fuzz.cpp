// The report format: any format text gives a line or a ReportFormatError, with the run's and
// the preview's arguments, a failure leaves the caller's line untouched, and a format read once
// makes the same line, in memory and streamed from a long text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "report/report_format.h"

namespace {

constexpr std::string_view kText("te\0xt", 5);

struct Text : veskor::LongText {
  uint64_t size() const override { return kText.size(); }
  void WriteTo(uint64_t count, veskor::ByteSink& sink) const override {
    for (uint64_t at = 0; at < count; ++at) sink.Write(kText.substr(at, 1));
  }
};

struct Sink : veskor::ByteSink {
  std::string bytes;
  void Write(std::string_view piece) override { bytes.append(piece); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view format(reinterpret_cast<const char*>(data), size);
  std::string line = "kept";
  bool failed = false;
  try {
    veskor::AppendReportLine(line, format, 255, 10, 4294967296LL, kText);
  } catch (const veskor::ReportFormatError&) {
    if (line != "kept") std::abort();
    failed = true;
  }
  const veskor::ReportFormat compiled(format);
  std::string appended = "kept";
  try {
    compiled.Append(appended, 255, 10, 4294967296LL, kText);
    if (failed || appended != line) std::abort();
  } catch (const veskor::ReportFormatError&) {
    if (!failed || appended != "kept") std::abort();
  }
  Sink sink;
  try {
    compiled.Write(sink, 255, 10, 4294967296LL, Text());
    if (failed || "kept" + sink.bytes != line) std::abort();
  } catch (const veskor::ReportFormatError&) {
    if (!failed || !sink.bytes.empty()) std::abort();
  }
  veskor::FormatPreview(format);
  return 0;
}

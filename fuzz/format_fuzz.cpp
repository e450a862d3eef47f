// The report format: any format text gives a line or a ReportFormatError, with the run's and
// the preview's arguments, and a failure leaves the caller's line untouched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "report/report_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view format(reinterpret_cast<const char*>(data), size);
  std::string line = "kept";
  try {
    veskor::AppendReportLine(line, format, 255, 10, 4294967296LL, std::string_view("te\0xt", 5));
  } catch (const veskor::ReportFormatError&) {
    if (line != "kept") std::abort();
  }
  veskor::FormatPreview(format);
  return 0;
}

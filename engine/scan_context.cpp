// Shared pieces of the scanners: the stop flag, the width and the progress rounding.
#include "engine/scan_context.h"

#include <cfenv>
#include <cmath>

namespace veskor {

std::atomic<bool> StopRequested{false};

void ScanServices::ReportLong(int32_t key, int32_t width, int64_t position, const LongText& text) {
  struct Gather : ByteSink {
    std::string bytes;
    void Write(std::string_view piece) override { bytes.append(piece); }
  } gather;
  text.WriteTo(text.size(), gather);
  Report(key, width, position, gather.bytes);
}

int32_t DecimalWidth(uint64_t size) {
  int32_t digits = 1;
  while (size >= 10) size /= 10, ++digits;
  return digits;
}

int ProgressAt(uint64_t position, uint64_t size) {
  // position * 100 stays exact in 64 bits for any file the address space can map.
  const long double ratio =
      static_cast<long double>(position * 100) / static_cast<long double>(size);
  return static_cast<int>(std::nearbyintl(ratio));  // the default rounding mode: ties to even
}

}  // namespace veskor

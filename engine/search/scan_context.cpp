// Shared pieces of the scanners: the stop flag, the width and the progress rounding.
#include "engine/search/scan_context.h"

#include <cfenv>
#include <cmath>

namespace veskor {

std::atomic<bool> StopRequested{false};

namespace {
thread_local std::atomic<bool>* thread_stop = &StopRequested;
}  // namespace

std::atomic<bool>& StopFlag() { return *thread_stop; }

StopScope::StopScope(std::atomic<bool>& flag) : previous_(thread_stop) { thread_stop = &flag; }

StopScope::~StopScope() { thread_stop = previous_; }

int32_t DecimalWidth(uint64_t size) {
  int32_t digits = 1;
  while (size >= 10) size /= 10, ++digits;
  return digits;
}

TScanContext ContextOver(const uint8_t* data, uint64_t size, ScanServices& services,
                         const LineMaker& lines, const StringFilter* filter) {
  TScanContext context;
  context.Data = data;
  context.Size = size;
  context.Width = DecimalWidth(size);
  context.Services = &services;
  context.Lines = &lines;
  context.Filter = filter;
  return context;
}

int ProgressAt(uint64_t position, uint64_t size) {
  // position * 100 stays exact in 64 bits for any file the address space can map.
  const long double ratio =
      static_cast<long double>(position * 100) / static_cast<long double>(size);
  return static_cast<int>(std::nearbyintl(ratio));  // the default rounding mode: ties to even
}

}  // namespace veskor

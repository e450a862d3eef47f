// config.ini: any file gives a value or the default; writing the entry keeps it readable and
// reads back the value written (values are one line, as the format field holds one line).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "settings/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/dev/shm/veskor_ini_fuzz_" + std::to_string(::getpid()) + ".ini";
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  veskor::ReadIniEntry(path, "Config", "FormatStr", "default");
  const std::string value = "%3d | x";
  try {
    veskor::WriteIniEntry(path, "Config", "FormatStr", value);
  } catch (const std::exception&) {
    return 0;
  }
  if (veskor::ReadIniEntry(path, "Config", "FormatStr", "default") != value) std::abort();
  return 0;
}

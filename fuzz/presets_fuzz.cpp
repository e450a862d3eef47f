// presets.dat: any file loads its whole records unchanged and saves them back byte for byte.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "presets/preset_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = "/dev/shm/veskor_presets_fuzz_" + std::to_string(::getpid());
  static const bool made = (::mkdir(dir.c_str(), 0700), true);
  (void)made;
  const std::string in = dir + "/in.dat", out = dir + "/out.dat";
  std::ofstream(in, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  veskor::PresetList list;
  veskor::LoadPresets(list, in);
  veskor::SavePresets(list, out);
  std::ifstream saved(out, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(saved)),
                          std::istreambuf_iterator<char>());
  const size_t whole = size / sizeof(veskor::TPreset) * sizeof(veskor::TPreset);
  if (bytes != std::string(reinterpret_cast<const char*>(data), whole)) std::abort();
  return 0;
}

// The build's generator of the starter presets.dat: reads the readable source and saves its
// presets with the program's own preset file code, so that the file is what the window writes.
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>

#include "presets/preset_file.h"
#include "presets/starter/starter_source.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SOURCE presets.dat\n", argv[0]);
    return 2;
  }
  const std::string source_path = argv[1];
  std::ifstream in(source_path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot be read\n", source_path.c_str());
    return 1;
  }
  const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  try {
    veskor::PresetList list;
    for (const veskor::TPreset& preset : veskor::ParseStarterPresets(source)) list.Append(preset);
    veskor::SavePresets(list, argv[2]);
  } catch (const veskor::StarterSourceError& e) {
    // "FILE:LINE: message", as compilers say it, so that editors can jump to the line.
    const std::string where =
        e.line() > 0 ? source_path + ":" + std::to_string(e.line()) : source_path;
    const std::string message = e.what();
    const std::string prefix = "line " + std::to_string(e.line()) + ": ";
    std::fprintf(stderr, "%s: %s\n", where.c_str(),
                 message.rfind(prefix, 0) == 0 ? message.c_str() + prefix.size() : message.c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[2], e.what());
    return 1;
  }
  return 0;
}

// Lines split from 64 KiB reads, each cut at its bound.
#include "cli/line_reader.h"

#include <algorithm>
#include <string>
#include <vector>

namespace veskor {

bool ReadLines(std::istream& in, char separator, size_t max_bytes,
               const std::function<bool(std::string_view line, bool whole)>& take) {
  std::vector<char> buffer(size_t{64} << 10);
  std::string line;
  bool cut = false;    // the line went past max_bytes and was handed on
  bool begun = false;  // bytes since the last separator
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<size_t>(in.gcount());
    const char* const data = buffer.data();
    for (size_t at = 0; at < got;) {
      const auto end = static_cast<size_t>(std::find(data + at, data + got, separator) - data);
      begun = begun || end > at;
      if (!cut) {
        const size_t room = max_bytes - line.size();
        line.append(data + at, std::min(room, end - at));
        if (end - at > room) {
          cut = true;
          if (!take(line, false)) return true;
          line.clear();
        }
      }
      if (end == got) break;
      if (!cut && !take(line, true)) return true;
      line.clear();
      cut = false;
      begun = false;
      at = end + 1;
    }
  }
  if (in.bad()) return false;
  if (begun && !cut) take(line, true);
  return true;
}

}  // namespace veskor

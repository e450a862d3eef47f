// Message templates filled with one value.
#include "text/error.h"

namespace veskor {

std::string Substitute(std::string_view message_template, std::string_view value) {
  std::string out;
  out.reserve(message_template.size() + value.size());
  for (size_t i = 0; i < message_template.size(); ++i) {
    if (message_template[i] == '%' && i + 1 < message_template.size() &&
        (message_template[i + 1] == 's' || message_template[i + 1] == 'd')) {
      out.append(value);
      out.append(message_template.substr(i + 2));
      return out;
    }
    out.push_back(message_template[i]);
  }
  return out;
}

}  // namespace veskor

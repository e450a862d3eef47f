// Message templates filled with their values.
#include "text/error.h"

namespace veskor {

std::string Substitute(std::string_view message_template, std::string_view value) {
  return Substitute(message_template, {value});
}

std::string Substitute(std::string_view message_template,
                       std::initializer_list<std::string_view> values) {
  std::string out;
  out.reserve(message_template.size());
  const std::string_view* next = values.begin();
  for (size_t i = 0; i < message_template.size(); ++i) {
    if (next != values.end() && message_template[i] == '%' && i + 1 < message_template.size() &&
        (message_template[i + 1] == 's' || message_template[i + 1] == 'd')) {
      out.append(*next++);
      ++i;
      continue;
    }
    out.push_back(message_template[i]);
  }
  return out;
}

}  // namespace veskor

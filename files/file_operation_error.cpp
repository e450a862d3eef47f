// strerror's text, trimmed, as the message of a failed file operation.
#include "files/file_operation_error.h"

#include <cstring>

namespace veskor {

std::string SystemErrorText(int error_number) {
  std::string text = std::strerror(error_number);
  while (!text.empty() && (text.back() == ' ' || text.back() == '.' || text.back() == '\t')) {
    text.pop_back();
  }
  return text;
}

FileOperationError::FileOperationError(Stage stage, int error_number)
    : Error(SystemErrorText(error_number)), stage_(stage), error_number_(error_number) {}

}  // namespace veskor

// The error of a failed open, read, create or write of a program file, and the operating
// system's text for an errno value that it carries as its message.
#pragma once

#include <string>

#include "text/error.h"

namespace veskor {

// The operating system's text for an errno value, without trailing blanks and periods.
std::string SystemErrorText(int error_number);

// A failed open, read, create or write, with the stage and the errno; each file turns it into
// its own message.
class FileOperationError : public Error {
 public:
  enum class Stage { kOpen, kRead, kCreate, kWrite };
  FileOperationError(Stage stage, int error_number);
  Stage stage() const { return stage_; }
  int error_number() const { return error_number_; }

 private:
  Stage stage_;
  int error_number_;
};

}  // namespace veskor

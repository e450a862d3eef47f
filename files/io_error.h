// I/O errors of the log and the program files, with their numeric codes and messages.
#pragma once

#include "text/error.h"

namespace veskor {

class IoError : public Error {
 public:
  // An error of the table: "File not found", "Disk full", ...
  explicit IoError(int code);
  IoError(int code, const std::string& message) : Error(message), code_(code) {}
  int code() const { return code_; }
  // The errno value the error came from, or 0: the system's own reason beside the message.
  int error_number() const { return error_number_; }
  void set_error_number(int error_number) { error_number_ = error_number; }

 private:
  int code_;
  int error_number_ = 0;
};

// The code of the I/O error table for an errno value; an errno that the table does not name
// keeps its own number.
int IoCodeFromErrno(int error_number);

// The error for a failed system call: its table message, or "I/O error c" with the errno c.
IoError IoErrorFromErrno(int error_number);

// The message for a code: "File not found", "Disk full", ... or "I/O error c".
std::string IoErrorMessage(int code);

}  // namespace veskor

// errno values mapped onto the I/O error codes and their messages.
#include "files/io_error.h"

#include <cerrno>

namespace veskor {
namespace {

struct ErrnoCode {
  int error_number;
  int code;
};

// The errno values that the I/O error table names, with their codes.
constexpr ErrnoCode kErrnoCodes[] = {
    {ENOENT, 2}, {ENOTDIR, 3}, {ENAMETOOLONG, 3}, {EMFILE, 4},   {ENFILE, 4},   {EACCES, 5},
    {EPERM, 5},  {EROFS, 5},   {ELOOP, 5},        {ENOSPC, 101}, {EDQUOT, 101},
};

struct CodeMessage {
  int code;
  const char* message;
};

// The messages of the table's codes.
constexpr CodeMessage kMessages[] = {
    {2, "File not found"},          {3, "Invalid filename"},          {4, "Too many open files"},
    {5, "File access denied"},      {100, "Read beyond end of file"}, {101, "Disk full"},
    {106, "Invalid numeric input"},
};

// The table's code for an errno value; 0 when the table does not name it.
int TableCode(int error_number) {
  for (const ErrnoCode& row : kErrnoCodes) {
    if (row.error_number == error_number) return row.code;
  }
  return 0;
}

}  // namespace

IoError::IoError(int code) : Error(IoErrorMessage(code)), code_(code) {}

int IoCodeFromErrno(int error_number) {
  const int code = TableCode(error_number);
  return code != 0 ? code : error_number;
}

IoError IoErrorFromErrno(int error_number) {
  const int code = TableCode(error_number);
  // Its own number, even where that number is also a code of the table (EIO is 5).
  IoError error =
      code != 0 ? IoError(code)
                : IoError(error_number, Substitute("I/O error %d", std::to_string(error_number)));
  error.set_error_number(error_number);
  return error;
}

std::string IoErrorMessage(int code) {
  for (const CodeMessage& row : kMessages) {
    if (row.code == code) return row.message;
  }
  return Substitute("I/O error %d", std::to_string(code));
}

}  // namespace veskor

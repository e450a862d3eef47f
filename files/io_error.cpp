// errno values mapped onto the I/O error codes and their messages.
#include "files/io_error.h"

#include <cerrno>

namespace veskor {

IoError::IoError(int code) : Error(IoErrorMessage(code)), code_(code) {}

int IoCodeFromErrno(int error_number) {
  switch (error_number) {
    case ENOENT:
      return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case ELOOP:
      return 5;
    case ENOSPC:
    case EDQUOT:
      return 101;
    default:
      return error_number;
  }
}

IoError IoErrorFromErrno(int error_number) {
  switch (error_number) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case EMFILE:
    case ENFILE:
    case EACCES:
    case EPERM:
    case EROFS:
    case ELOOP:
    case ENOSPC:
    case EDQUOT:
      return IoError(IoCodeFromErrno(error_number));
    default:
      // Its own number, even where that number is also a code of the table (EIO is 5).
      return IoError(error_number, Substitute("I/O error %d", std::to_string(error_number)));
  }
}

std::string IoErrorMessage(int code) {
  switch (code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    case 106:
      return "Invalid numeric input";
    default:
      return Substitute("I/O error %d", std::to_string(code));
  }
}

}  // namespace veskor

// The permissions a new program file or log gets: 0666 less the process's umask.
#pragma once

#include <sys/types.h>

namespace veskor {

// The permissions of a new file: 0666 less the process's umask.
mode_t DefaultFileMode();

}  // namespace veskor

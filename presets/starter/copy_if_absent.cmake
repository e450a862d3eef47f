# Puts the starter presets.dat beside the built programs when no presets.dat is there, so that a
# first start in the build folder has presets; a file the user already has (even an empty one, or
# a link) is never replaced. Run as: cmake -DFROM=... -DTO=... -P copy_if_absent.cmake
if(NOT EXISTS "${TO}" AND NOT IS_SYMLINK "${TO}")
  file(COPY_FILE "${FROM}" "${TO}")
endif()

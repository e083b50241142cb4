# Cross build for 32-bit Windows with the MinGW-w64 i686 toolchain.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(prefix i686-w64-mingw32)
# The posix thread model, because GoogleTest needs std::mutex; the program itself uses
# no threads, and links everything statically.
find_program(CMAKE_C_COMPILER NAMES ${prefix}-gcc-posix)
find_program(CMAKE_CXX_COMPILER NAMES ${prefix}-g++-posix)
find_program(CMAKE_RC_COMPILER NAMES ${prefix}-windres)
if(NOT CMAKE_C_COMPILER OR NOT CMAKE_CXX_COMPILER OR NOT CMAKE_RC_COMPILER)
  message(FATAL_ERROR "${prefix}-gcc-posix, -g++-posix and -windres are needed (Debian: g++-mingw-w64-i686)")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Cross-build for Windows (i686) with Debian's MinGW-w64 compilers
# (g++-mingw-w64-i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZX_MINGW_TRIPLE i686-w64-mingw32)
# The POSIX-threads flavour of the compilers provides std::thread and
# std::mutex; the win32 flavour does not in GCC 12.
find_program(CMAKE_C_COMPILER NAMES ${ZX_MINGW_TRIPLE}-gcc-posix ${ZX_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZX_MINGW_TRIPLE}-g++-posix ${ZX_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZX_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${ZX_MINGW_TRIPLE}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${ZX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

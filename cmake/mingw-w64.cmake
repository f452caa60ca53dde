# Cross build for 64-bit Windows with Debian's MinGW-w64 compiler (the posix thread model, for
# std::thread and std::mutex). Executables are linked statically so they run without the
# compiler's DLLs, under Wine too.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# ctest runs the Windows test executables through Wine, where it is installed.
find_program(TRV4_WINE64 NAMES wine64 PATHS /usr/lib/wine)
if(TRV4_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TRV4_WINE64})
endif()

# Cross-compiles for 64-bit Windows with MinGW-w64 (the POSIX-threads compilers, which
# std::thread and std::mutex need), linking the C and C++ runtimes in statically so that the
# programs, the DLLs and the plugins (Qt's platform plugin among them) run without MinGW's DLLs
# beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_quelm_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_quelm_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_quelm_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_quelm_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_quelm_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and other programs the build runs are started through Wine.
find_program(QUELM_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(QUELM_WINE64 NAMES wine64)
if(QUELM_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUELM_WINE64})
endif()

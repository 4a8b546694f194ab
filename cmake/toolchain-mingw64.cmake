# Cross-building korloader.dll and its tests for 64-bit Windows with the
# mingw-w64 toolchain of Debian (packages g++-mingw-w64-x86-64,
# libz-mingw-w64-dev). The posix thread model is preferred so that the tests
# can use std::thread; every binary is linked statically against the GCC
# runtime, the C++ library, winpthread and zlib, so it needs no DLL but the
# system's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KOR_MINGW_TRIPLET x86_64-w64-mingw32)

find_program(KOR_MINGW_CC NAMES ${KOR_MINGW_TRIPLET}-gcc-posix ${KOR_MINGW_TRIPLET}-gcc REQUIRED)
find_program(KOR_MINGW_CXX NAMES ${KOR_MINGW_TRIPLET}-g++-posix ${KOR_MINGW_TRIPLET}-g++ REQUIRED)
set(CMAKE_C_COMPILER ${KOR_MINGW_CC})
set(CMAKE_CXX_COMPILER ${KOR_MINGW_CXX})
set(CMAKE_RC_COMPILER ${KOR_MINGW_TRIPLET}-windres)
find_program(CMAKE_DLLTOOL NAMES ${KOR_MINGW_TRIPLET}-dlltool REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${KOR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine when CTest starts them.
find_program(KOR_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(KOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KOR_WINE})
endif()

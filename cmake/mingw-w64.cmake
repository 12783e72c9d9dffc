# Cross-compiling for 64-bit Windows with Debian's MinGW-w64.
# The -posix compilers: the -win32 ones have no std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RQ_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RQ_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RQ_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${RQ_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW tree and from the prefix holding
# the cross-built wxWidgets and its image and XML libraries; programs that run
# during the build (msgfmt, wx-config) are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${RQ_MINGW_TRIPLET})
if(DEFINED ENV{RQ_WIN_PREFIX})
  set(RQ_WIN_PREFIX "$ENV{RQ_WIN_PREFIX}" CACHE PATH "Prefix of the cross-built libraries")
endif()
if(RQ_WIN_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${RQ_WIN_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One executable that runs on a bare Windows: the C++ runtime, libgcc and
# winpthread go inside it instead of beside it as DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")


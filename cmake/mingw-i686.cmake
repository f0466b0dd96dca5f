# SPDX-License-Identifier: MIT
# Cross build for 32-bit Windows with Debian's mingw-w64 compilers. The win32-thread
# variants are named outright so the result does not depend on which one the system's
# alternatives point at; the programs reach threads only through the platform's own
# services. Everything is linked statically so that the programs need no DLL of ours.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZAMBREL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZAMBREL_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${ZAMBREL_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${ZAMBREL_MINGW_PREFIX}-windres)
set(CMAKE_AR ${ZAMBREL_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${ZAMBREL_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${ZAMBREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# GCC 12 reports a false overlap in std::string's insert when it is inlined for 32-bit
# targets; the native build keeps the warning.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")

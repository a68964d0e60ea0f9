# Cross-building for 64-bit Windows with Debian's mingw-w64 (posix threads).
# QV_WINDOWS_DEPS names the folder the Windows dependencies were installed
# into (see build_deps.sh); tests run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QV_MINGW_PREFIX}-windres)
set(CMAKE_AR ${QV_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QV_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

# The C and C++ runtimes and every dependency are linked in: programs and
# DLLs import only from the system's DLLs (and the project's own).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

if(DEFINED ENV{QV_WINDOWS_DEPS} AND NOT QV_WINDOWS_DEPS)
  set(QV_WINDOWS_DEPS $ENV{QV_WINDOWS_DEPS})
endif()
set(QV_WINDOWS_DEPS "${QV_WINDOWS_DEPS}" CACHE PATH "Prefix of the Windows dependencies")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QV_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${QV_MINGW_PREFIX} ${QV_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs and tests start through wine, quietly, finding the project's DLLs
# in the build folder; a start that wine itself lost is tried again.
find_program(QV_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all WINEPATH=${CMAKE_BINARY_DIR}
    ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${QV_WINE})

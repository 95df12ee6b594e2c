# The part of the mingw-w64 toolchain files that does not depend on the target processor.
# The including file sets CMAKE_SYSTEM_PROCESSOR and TARNIX_MINGW_PREFIX first.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model first: tarnix-station's HTTP server and probes need std::thread and
# std::mutex, which GCC 12's win32 model lacks. The static link below takes winpthreads into
# the exe, so the programs still need no DLL. With the win32 model alone every program but
# tarnix-station is built.
find_program(CMAKE_C_COMPILER NAMES ${TARNIX_MINGW_PREFIX}-gcc-posix
    ${TARNIX_MINGW_PREFIX}-gcc-win32 ${TARNIX_MINGW_PREFIX}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${TARNIX_MINGW_PREFIX}-g++-posix
    ${TARNIX_MINGW_PREFIX}-g++-win32 ${TARNIX_MINGW_PREFIX}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${TARNIX_MINGW_PREFIX}-windres)
if(NOT CMAKE_CXX_COMPILER)
    message(FATAL_ERROR "${TARNIX_MINGW_PREFIX}-g++ not found: install g++-mingw-w64-${TARNIX_MINGW_PACKAGE_ARCH}-posix")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${TARNIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Without a static link the exe needs the compiler's runtime DLLs and, where they are missing,
# does not start at all, often without any message.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

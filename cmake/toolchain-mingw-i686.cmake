# Cross-compiles the 32-bit Windows console programs with Debian's i686 mingw-w64 compiler
# (package g++-mingw-w64-i686-posix; -win32 builds all but tarnix-station):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARNIX_MINGW_PREFIX i686-w64-mingw32)
set(TARNIX_MINGW_PACKAGE_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

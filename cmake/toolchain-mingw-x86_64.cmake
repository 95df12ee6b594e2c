# The same programs as 64-bit Windows executables (package g++-mingw-w64-x86-64-posix). The
# programs ship as 32-bit executables; this build serves machines that cannot run 32-bit
# code, where only the 64-bit Wine can run the end-to-end tests.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARNIX_MINGW_PREFIX x86_64-w64-mingw32)
set(TARNIX_MINGW_PACKAGE_ARCH x86-64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# The generated header tarnix_version.h (version, platform name, the update program's file
# name), reached through the INTERFACE target tarnix_version.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TARNIX_PLATFORM_NAME "Windows 64-bit")
elseif(WIN32)
    set(TARNIX_PLATFORM_NAME "Windows 32-bit")
else()
    set(TARNIX_PLATFORM_NAME "${CMAKE_SYSTEM_NAME}")
endif()
if(WIN32)
    set(TARNIX_PROGRAM_FILE "tarnix.exe")
else()
    set(TARNIX_PROGRAM_FILE "tarnix")
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/tarnix_version.h.in
    ${CMAKE_BINARY_DIR}/generated/tarnix_version.h @ONLY)
add_library(tarnix_version INTERFACE)
target_include_directories(tarnix_version INTERFACE ${CMAKE_BINARY_DIR}/generated)

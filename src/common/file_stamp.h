#pragma once
// The stamp of an open file (file_stamp_posix.cpp, file_stamp_win32.cpp), to notice a write
// while a program reads it: the update file of tarnix, the download of tarnix-service.

#include <cstdint>
#include <cstdio>

#include "file_change.h"

namespace tarnix {

// False when the stream has no file behind it whose stamp can be taken.
bool ReadOpenFileStamp(FILE* stream, FileStamp* stamp);

// The same for the system's own handle of an open file: a descriptor on POSIX, a HANDLE on
// Windows.
bool ReadSystemFileStamp(intptr_t systemHandle, FileStamp* stamp);

}  // namespace tarnix

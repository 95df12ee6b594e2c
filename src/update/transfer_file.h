#pragma once
// The platform's view of the open update file (transfer_file_posix.cpp,
// transfer_file_win32.cpp): its stamp, to notice a write while the transfer reads it.

#include <cstdio>

#include "file_change.h"

// False when the stream has no file behind it whose stamp can be taken.
bool ReadOpenFileStamp(FILE* stream, FileStamp* stamp);

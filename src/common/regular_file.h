#pragma once
// The update file of tarnix and of tarnix-check is read only when it is a regular file: only
// such a file has a size to show progress against and an end to reach, and fopen() of a FIFO
// would wait for a writer for ever.

#include <cstdint>
#include <cstdio>

namespace tarnix {

enum class FileRefusal {
    None,
    NotFound,             // the name could not be looked up (`error` says why)
    NotRegular,           // a FIFO, a directory, a device: not opened
    NotOpened,            // fopen() failed (`error` says why)
    NotRegularWhenOpened  // the open stream is no regular file, or its size cannot be known
};

struct RegularFile {
    FILE* stream = nullptr;  // open for reading in binary mode; null when refused
    uint64_t size = 0;       // of the open stream
    FileRefusal refusal = FileRefusal::None;
    int error = 0;  // errno of NotFound and NotOpened
};

// Opens `path` for reading when it is a regular file, else refuses it and opens nothing. The
// name is checked before opening, and the open stream again, in case the name was replaced
// in between. The caller words the refusal, and closes the stream.
RegularFile OpenRegularFile(const char* path);

}  // namespace tarnix

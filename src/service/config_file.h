#pragma once
// Read access to the primary configuration file, one implementation file per platform
// (config_file_posix.cpp, config_file_win32.cpp). The file is read block by block and never
// held whole in memory.

#include <cstdint>

#include "file_change.h"

namespace tarnix {

// The platform's open file; defined by each implementation file.
struct ConfigFile;

// A moment as calendar fields in local time: year in full, month 1..12, day 1..31,
// hour 0..23, minute 0..59.
struct CalendarTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
};

// Opens an existing file for reading; others may read it meanwhile. Returns null on
// failure with errno describing the cause (so that PrintConfigFileError names it); a
// directory is refused with EISDIR. Never waits: a FIFO without a writer opens at once (and
// IsRegularConfigFile then refuses it).
ConfigFile* OpenConfigFile(const char* path);

// True for a plain file on disk; false for a pipe, a FIFO, a device or a console.
bool IsRegularConfigFile(ConfigFile* file);

// Prints "<prefix>: <system text>" on standard error for the last failure above, as perror
// does with errno. On Windows errno is mapped from the Win32 error; where no errno fits, the
// Win32 number is printed instead ("<prefix> with error %lu.").
void PrintConfigFileError(const char* prefix);

// The file's size in bytes. False when the size cannot be obtained.
bool GetConfigFileSize(ConfigFile* file, uint64_t* size);

// Reads up to `capacity` bytes at the current position into `buffer`; *count receives the
// number read, 0 at the end of the file. False on a read error, with errno describing it.
bool ReadConfigFileBlock(ConfigFile* file, uint8_t* buffer, uint32_t capacity, uint32_t* count);

// The file's size and times, to notice a write while it is being read. False when they
// cannot be obtained.
bool GetConfigFileStamp(ConfigFile* file, FileStamp* stamp);

// Moves the reading position back to the start of the file. False on failure.
bool RewindConfigFile(ConfigFile* file);

// The file's last-write time converted to local time. False when it cannot be obtained.
bool GetConfigFileWriteTime(ConfigFile* file, CalendarTime* time);

// Closes the file and releases `file`. Accepts null.
void CloseConfigFile(ConfigFile* file);

}  // namespace tarnix

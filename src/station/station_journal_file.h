#pragma once
// The few file operations the journal needs, one file per platform
// (station_journal_file_posix.cpp, station_journal_file_win32.cpp). Each returns false or -1
// with errno set, so that the journal's messages name the system's reason.

#include <string>

namespace tarnix {

// Opened for reading and appending, created when missing: every write lands at the end whole.
// Not inherited by the tarnix processes the station starts.
int OpenJournalFile(const std::string& path);

// A new file for writing; -1 when it exists already.
int CreateNewFile(const std::string& path);

// Up to `size` bytes; 0 at the end, -1 on an error (an interrupted read is tried again).
long ReadSome(int fd, char* buffer, unsigned size);

bool WriteAllTo(int fd, const std::string& text);

// Returns once the system has written the file's data to the disk.
bool SyncToDisk(int fd);

bool CutFileAt(int fd, long long length);

// The file's length in bytes, or -1.
long long FileLength(int fd);

void CloseFile(int fd);

// The time stamp in a set-aside file's name, as this platform's file names allow it.
std::string FileNameStamp(const std::string& isoTime);

}  // namespace tarnix

#pragma once
// What tells a file that was written to while it was being sent from one that stayed as it
// was opened: its stamp, cheap to take between two reads, and a running hash of the bytes
// read, to compare with the file read again. A stamp can stay the same over a rewrite (a
// system without a change time, a modification time set back), the content cannot.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

namespace tarnix {

// The size and times of an open file, as the platform gives them. Equal stamps: nothing was
// written. Different ones: something may have been (also a touch, a rename, a new link).
struct FileStamp {
    uint64_t size = 0;
    // In the platform's finest unit (ns on POSIX systems, 100 ns on Windows).
    int64_t modified = 0;  // the last write
    int64_t changed = 0;   // the last change of content or attributes; 0 where there is none
    bool operator==(const FileStamp&) const = default;
};

// FNV-1a (64 bits) over the bytes in the order they were read, and how many they were.
struct ContentHash {
    uint64_t value = 0xCBF29CE484222325ull;
    uint64_t bytes = 0;
    bool operator==(const ContentHash&) const = default;
};

inline void AddToContentHash(ContentHash* hash, const void* data, size_t count) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < count; ++i) {
        hash->value = (hash->value ^ bytes[i]) * 0x100000001B3ull;
    }
    hash->bytes += count;
}

// An open file as the change check reads it again; each function is false when it fails.
struct FileRereader {
    std::function<bool(FileStamp* stamp)> readStamp;
    std::function<bool()> rewind;
    std::function<bool(uint8_t* buffer, size_t wanted, size_t* count)> read;
};

// The rereader of a stdio stream (ReadOpenFileStamp, fseek, fread).
FileRereader StreamRereader(FILE* stream);

// What was sent of a file so far: the file's stamp when it last held it, and its bytes.
struct SentFile {
    FileStamp stamp;
    ContentHash sent;
};

enum class ChangeCheck {
    BetweenReads,  // read again only when the stamp moved: cheap enough before every read
    AtEnd,         // read again whatever the stamp says: a stamp can stay over a rewrite
};

// True when the file no longer begins with the bytes sent (also when it can no longer be read
// that far). Between reads a stamp that is the one last seen, or none to be had, means
// nothing was written: false, nothing read. A new stamp (a touch as well as a rewrite) is kept
// in sent->stamp and the file's start read again and compared. After a comparison that found
// the bytes sent, the reading position is just after them: the caller goes on from there in
// the file as it is now.
bool FileChangedWhileSent(const FileRereader& file, SentFile* sent, ChangeCheck when);

}  // namespace tarnix

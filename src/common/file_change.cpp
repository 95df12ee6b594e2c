#include "file_change.h"

#include "file_stamp.h"

namespace tarnix {

namespace {

// Reads the file again from its start, as many bytes as `expected` counts, and compares them
// with it.
bool FileStartMatches(const FileRereader& file, const ContentHash& expected) {
    if (!file.rewind()) {
        return false;
    }
    ContentHash again;
    uint8_t buffer[4096];
    while (again.bytes < expected.bytes) {
        size_t wanted = sizeof buffer;
        if (expected.bytes - again.bytes < wanted) {
            wanted = static_cast<size_t>(expected.bytes - again.bytes);
        }
        size_t count = 0;
        if (!file.read(buffer, wanted, &count) || count == 0) {
            return false;
        }
        AddToContentHash(&again, buffer, count);
    }
    return again == expected;
}

}  // namespace

FileRereader StreamRereader(FILE* stream) {
    return {
        [stream](FileStamp* stamp) { return ReadOpenFileStamp(stream, stamp); },
        // fflush() first: a seek within the stream's buffer would otherwise give back the
        // bytes it read before (glibc keeps a buffer that holds the position sought).
        [stream] { return fflush(stream) == 0 && fseek(stream, 0, SEEK_SET) == 0; },
        [stream](uint8_t* buffer, size_t wanted, size_t* count) {
            *count = fread(buffer, 1, wanted, stream);
            return !ferror(stream);
        },
    };
}

bool FileChangedWhileSent(const FileRereader& file, SentFile* sent, ChangeCheck when) {
    if (when == ChangeCheck::BetweenReads) {
        FileStamp now;
        if (!file.readStamp(&now) || now == sent->stamp) {
            return false;
        }
        sent->stamp = now;
    }
    return !FileStartMatches(file, sent->sent);
}

}  // namespace tarnix

// The update file as tarnix reads it in record mode: the header check, then every line read
// into the line buffer and classified. The input is the whole file.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "fuzz_input.h"
#include "transfer_common.h"
#include "update_file.h"

using namespace tarnix;

namespace {

void CheckLine(const UpdateLine& line, int previousCount) {
    FUZZ_CHECK(line.length < sizeof line.text);
    FUZZ_CHECK(line.text[line.length] == '\0');
    RecordLine record = ClassifyRecordLine(line.text, line.length, previousCount);
    if (line.length < 9) {
        FUZZ_CHECK(record.type == RECORD_NONE);
        FUZZ_CHECK(record.byteCount == previousCount);
    } else {
        FUZZ_CHECK(record.type == line.text[8]);
        FUZZ_CHECK(record.byteCount == previousCount ||
                   (record.byteCount >= 0 && record.byteCount <= 0xFF));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;  // fmemopen refuses an empty buffer
    }
    FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    FUZZ_CHECK(stream != nullptr);
    UpdateHeaderCheck header = CheckUpdateHeader(stream);
    if (size < UPDATE_HEADER_SIZE) {
        FUZZ_CHECK(!header.valid);
    }
    if (header.valid) {
        FUZZ_CHECK(ComputeCrc32(data, UPDATE_HEADER_SIZE) == 0);
    }
    const size_t headerRead = std::min(size, UPDATE_HEADER_SIZE);
    UpdateLine line;
    ExpectFileSize(&line, static_cast<uint32_t>(size), static_cast<uint32_t>(headerRead));
    int byteCount = 0;
    size_t total = 0;
    LineRead read;
    while ((read = ReadUpdateLine(stream, &line)) == LineRead::Line) {
        CheckLine(line, byteCount);
        byteCount = ClassifyRecordLine(line.text, line.length, byteCount).byteCount;
        total += line.length;
        FUZZ_CHECK(ProgressPercent(static_cast<uint32_t>(total), static_cast<uint32_t>(size)) >= 0);
    }
    // The file keeps the size it had: it is read to its end, every byte after the header in
    // exactly one line.
    FUZZ_CHECK(read == LineRead::EndOfFile);
    FUZZ_CHECK(total == size - headerRead);
    fclose(stream);
    return 0;
}

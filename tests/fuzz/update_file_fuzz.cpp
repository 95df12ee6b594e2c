// The update file as tarnix reads it in record mode: the header check, then every line read
// into the line buffer and classified. The input is the whole file.

#include <cstdio>
#include <cstring>

#include "fuzz_input.h"
#include "transfer_common.h"
#include "update_file.h"

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
    // fmemopen refuses an empty buffer; an empty file is the same as one of a single NUL here.
    char empty = 0;
    void* buffer = size > 0 ? const_cast<uint8_t*>(data) : static_cast<void*>(&empty);
    FILE* stream = fmemopen(buffer, size > 0 ? size : 1, "rb");
    FUZZ_CHECK(stream != nullptr);
    UpdateHeaderCheck header = CheckUpdateHeader(stream);
    if (size < UPDATE_HEADER_SIZE) {
        FUZZ_CHECK(!header.valid);
    }
    if (header.valid) {
        FUZZ_CHECK(ComputeCrc32(data, UPDATE_HEADER_SIZE) == 0);
    }
    UpdateLine line;
    int byteCount = 0;
    size_t total = 0;
    while (ReadUpdateLine(stream, &line) == LineRead::Line) {
        CheckLine(line, byteCount);
        byteCount = ClassifyRecordLine(line.text, line.length, byteCount).byteCount;
        total += line.length;
        FUZZ_CHECK(ProgressPercent(static_cast<uint32_t>(total), static_cast<uint32_t>(size)) >= 0);
    }
    FUZZ_CHECK(total <= size);
    fclose(stream);
    return 0;
}

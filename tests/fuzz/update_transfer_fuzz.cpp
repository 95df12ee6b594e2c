// Both transfer modes over a pseudo-terminal with an arbitrary update file, the module
// acknowledging everything: the line buffer, the block counting and the progress under hostile
// files, with AddressSanitizer watching.
//
// Input: byte 0 picks the mode (bit 0: line mode) and whether the header gets a valid CRC
// (bit 1), so that record mode gets past the header check; the rest is the file.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include "fuzz_input.h"
#include "fuzz_pty.h"
#include "port.h"
#include "port_choice.h"
#include "transfer.h"
#include "update_file.h"
#include "update_outcome.h"

using namespace tarnix;

namespace {

// Every command starts with STX, sent on its own before its reply is read.
constexpr uint8_t STX_BYTE = 0x02;
constexpr uint8_t ACK_BYTE = 0x06;
// Bounds the round trips per input (one per line), so that each input stays fast.
constexpr size_t MAX_FILE = 2048;

// The module: one ACK for every STX that arrives. A STX inside a line's text earns a spare
// ACK, which only answers a later command early; no command ever waits for its reply.
void AcknowledgeEverything(const FuzzPty& pty) {
    while (WaitForProgramBytes(pty)) {
        uint8_t buffer[512];
        ssize_t n = read(pty.master, buffer, sizeof buffer);
        if (n < 0) {
            return;
        }
        std::vector<uint8_t> acks(static_cast<size_t>(std::count(buffer, buffer + n, STX_BYTE)),
                                  ACK_BYTE);
        if (!WriteAll(pty.master, acks)) {
            return;
        }
    }
}

// The one place that follows the transfers' signatures.
UpdateResult Transfer(Port& port, bool lineMode, const UpdateSource& source) {
    return lineMode ? TransferLines(port, source, 0x89) : TransferRecords(port, source, 0x89);
}

void GiveValidCrc(std::vector<uint8_t>* file) {
    if (file->size() < UPDATE_HEADER_SIZE) {
        return;
    }
    uint32_t crc = ComputeCrc32(file->data(), HEADER_CRC_OFFSET);
    for (int i = 0; i < 4; ++i) {
        (*file)[HEADER_CRC_OFFSET + i] = static_cast<uint8_t>(crc >> (8 * i));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const bool lineMode = (data[0] & 1) != 0;
    std::vector<uint8_t> file(data + 1, data + std::min(size, MAX_FILE + 1));
    if (data[0] & 2) {
        GiveValidCrc(&file);
    }
    FILE* stream = fmemopen(file.data(), file.size(), "rb");
    FUZZ_CHECK(stream != nullptr);
    UpdateSource source{stream, static_cast<uint32_t>(file.size()), "fuzz.upd"};

    FuzzPty pty;
    OpenFuzzPty(&pty);
    PortChoice choice;
    choice.devicePath = pty.name;
    PortOpening opening = OpenPort(choice, MODULE_LINE);
    FUZZ_CHECK(opening.port != nullptr);
    std::thread module(AcknowledgeEverything, std::cref(pty));
    UpdateResult result = Transfer(*opening.port, lineMode, source);
    bool completed = UpdateCompleted(result);
    StopFuzzModule(pty);
    module.join();

    FUZZ_CHECK(result.replies == result.commands);  // every command got its reply
    if (!lineMode) {
        UpdateHeaderCheck header{};
        rewind(stream);
        header = CheckUpdateHeader(stream);
        FUZZ_CHECK(header.valid || !completed);
    }
    fclose(stream);
    ClosePort(*opening.port);
    CloseFuzzPty(&pty);
    return 0;
}

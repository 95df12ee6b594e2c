// The service queries' reply handling: arbitrary reply bytes from the module, through a
// pseudo-terminal whose slave the port layer opens as it opens a real port.
//
// Input: a run of operations, each one byte (the operation, and for the parameter command its
// value) and a two-byte little-endian length, then that many reply bytes. Each reply is followed
// by a few zero bytes, enough to end any query that the bytes before left waiting (an
// information query needs at most a marker and a checksum, the status query three value
// bytes), so no read ever waits for its time-out. What a query leaves unread is met by the
// next one, as on the line. Every command discards what is waiting before it is sent (the
// parameter command purges as well), so a command's reply goes out only once its frame has
// arrived; the result byte, which no command asks for, goes out at once, in order.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "fuzz_input.h"
#include "fuzz_pty.h"
#include "module_info.h"
#include "port.h"
#include "port_choice.h"

using namespace tarnix;

namespace {

// Replies and padding stay well within the slave's input queue (4 KiB), so the module's
// writes never wait for the program.
constexpr size_t MAX_REPLY_INPUT = 1024;
constexpr size_t REPLY_PADDING = 3;

enum class Query { Velox, Flash, Status, Param, Result };
constexpr int QUERY_KINDS = 5;

struct Step {
    Query query = Query::Velox;
    int value = 0;
    std::vector<uint8_t> reply;  // padding included
    size_t trigger = 0;          // bytes the program must have sent before the reply goes out
};

size_t CommandLength(Query query) {
    switch (query) {
        case Query::Velox:
        case Query::Flash:
            return 3;  // STX '!' ETX
        case Query::Status:
            return 2;  // STX 'S'
        case Query::Param:
            return 7;  // STX '$' 00 00 p p ETX
        case Query::Result:
            return 0;
    }
    return 0;
}

std::vector<Step> PlanSteps(const uint8_t* data, size_t size) {
    std::vector<Step> steps;
    size_t offset = 0;
    size_t sent = 0;
    size_t trigger = 0;
    while (offset < size) {
        Step step;
        step.query = static_cast<Query>(data[offset] % QUERY_KINDS);
        step.value = data[offset] / QUERY_KINDS;
        size_t length = 0;
        if (offset + 1 < size) {
            length = data[offset + 1];
        }
        if (offset + 2 < size) {
            length |= static_cast<size_t>(data[offset + 2]) << 8;
        }
        offset = std::min(offset + 3, size);
        length = std::min(length, size - offset);
        step.reply.assign(data + offset, data + offset + length);
        step.reply.insert(step.reply.end(), REPLY_PADDING, 0);
        offset += length;
        sent += CommandLength(step.query);
        if (CommandLength(step.query) > 0) {
            trigger = sent;
        }
        step.trigger = trigger;
        steps.push_back(step);
    }
    return steps;
}

// The module's side: drains what the program sends and writes each reply once its trigger
// has been reached, until the run is over.
void PlayModule(const FuzzPty& pty, const std::vector<Step>& steps) {
    size_t received = 0;
    size_t next = 0;
    for (;;) {
        while (next < steps.size() && received >= steps[next].trigger) {
            if (!WriteAll(pty.master, steps[next].reply)) {
                return;
            }
            next++;
        }
        if (!WaitForProgramBytes(pty)) {
            return;
        }
        uint8_t buffer[256];
        ssize_t n = read(pty.master, buffer, sizeof buffer);
        if (n < 0) {
            return;
        }
        received += static_cast<size_t>(n);
    }
}

void RunQuery(Port& port, const Step& step) {
    InfoReply info;
    switch (step.query) {
        case Query::Velox:
            info = ReadVeloxInfo(port);
            break;
        case Query::Flash:
            info = ReadFlashInfo(port);
            break;
        case Query::Status: {
            StatusReply status = ReadStatusValue(port);
            FUZZ_CHECK(status.value >= 0 && status.value <= 0xFFFFFF);
            FUZZ_CHECK(status.answered || status.value == 0);
            return;
        }
        case Query::Param: {
            SendParameterCommand(port, step.value);
            return;
        }
        case Query::Result: {
            int result = ReadResultByte(port);
            FUZZ_CHECK(result == 0 || result == 1);
            return;
        }
    }
    // The padding ends every query, so none of them waited for its time-out.
    FUZZ_CHECK(!info.missedByte);
    FUZZ_CHECK(info.textLength <= 256);
    FUZZ_CHECK(info.framed || info.textLength == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<Step> steps = PlanSteps(data, std::min(size, MAX_REPLY_INPUT));
    FuzzPty pty;
    OpenFuzzPty(&pty);
    PortChoice choice;
    choice.devicePath = pty.name;
    PortOpening opening = OpenPort(choice, MODULE_LINE);
    FUZZ_CHECK(opening.port != nullptr);
    const auto start = std::chrono::steady_clock::now();
    std::thread module(PlayModule, std::cref(pty), std::cref(steps));
    for (const Step& step : steps) {
        RunQuery(*opening.port, step);
    }
    StopFuzzModule(pty);
    module.join();
    // A missed reply byte of the status query, the parameter command or the result byte shows
    // only in the time the run took.
    FUZZ_CHECK(std::chrono::steady_clock::now() - start < REPLY_TIMEOUT);
    ClosePort(*opening.port);
    CloseFuzzPty(&pty);
    return 0;
}

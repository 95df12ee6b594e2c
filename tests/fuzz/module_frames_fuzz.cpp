// The emulator's frame parser: arbitrary bytes from the program's side, fed through the public
// session API once whole and once in pieces. The pieces must not change what the module
// answers or records, since a pseudo-terminal delivers the bytes in pieces of any size.
//
// Input: byte 0 picks the configuration (record checks, one reply fault), byte 1 the piece
// sizes; the rest is the line.

#include <string>
#include <vector>

#include "fuzz_input.h"
#include "module_session.h"
#include "module_verdict.h"

using namespace tarnix;

namespace {

ModuleConfig ConfigFor(uint8_t choice, uint8_t faultChoice) {
    ModuleConfig config;
    config.checkRecords = (choice & 1) == 0;
    if (choice & 2) {
        auto point = static_cast<FaultPoint>(faultChoice % FAULT_POINT_COUNT);
        unsigned occurrence = 1 + (faultChoice >> 4) % 4;
        config.faults.push_back((choice & 4) ? SilentAt(point, occurrence)
                                             : RejectAt(point, occurrence, MODULE_NAK));
    }
    return config;
}

struct Outcome {
    std::vector<uint8_t> reply;
    ModuleLog log;
    std::string verdict;
};

// Feeds the bytes in pieces of 1 to `maxPiece` bytes, their sizes drawn from `pattern`; all
// at once for a `maxPiece` of 0.
void Run(const ModuleConfig& config, const uint8_t* bytes, size_t count, uint8_t pattern,
         size_t maxPiece, Outcome* outcome) {
    ModuleSession session;
    StartModuleSession(&session, &config, &outcome->log);
    size_t offset = 0;
    unsigned turn = 0;
    while (offset < count) {
        size_t piece = maxPiece == 0 ? count : 1 + ((pattern >> (turn++ % 8)) * 7u) % maxPiece;
        piece = std::min(piece, count - offset);
        FeedModuleBytes(&session, bytes + offset, piece, &outcome->reply);
        offset += piece;
    }
    FinishModuleSession(&session);
    outcome->verdict = DescribeModuleVerdict(outcome->log, nullptr);
    ModuleRunPassed(outcome->log, nullptr);
    DataLines(outcome->log);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    ModuleConfig config = ConfigFor(data[0], data[1]);
    const uint8_t* line = data + 2;
    size_t count = size - 2;

    Outcome whole;
    Run(config, line, count, 0, 0, &whole);
    Outcome pieces;
    Run(config, line, count, data[1], 17, &pieces);

    FUZZ_CHECK(whole.log.received.size() == count);
    FUZZ_CHECK(whole.reply == whole.log.sent);
    FUZZ_CHECK(pieces.reply == whole.reply);
    FUZZ_CHECK(pieces.log.frames.size() == whole.log.frames.size());
    FUZZ_CHECK(pieces.log.errors.size() == whole.log.errors.size());
    FUZZ_CHECK(pieces.verdict == whole.verdict);
    size_t frameBytes = 0;
    for (const ModuleFrame& frame : whole.log.frames) {
        frameBytes += frame.raw.size();
    }
    FUZZ_CHECK(frameBytes <= count);
    return 0;
}

#pragma once
// What record mode sends for each line it reads, decided apart from the sending: the record
// transfer carries out the plan, and tarnix-check counts with the very same plan.
//
// A Program command closes a block: when BlockSize data bytes have been sent, before an
// extended address record (so that no block spans two address segments), and at the end
// record. A record is sent whole or not at all: a line that the reader had to cut (more than
// MAX_LINE_CHARS characters before its line end) would reach the module as a cut record, and
// the rest of the line would be read as further records, so it is refused and the update
// fails there. Line mode forwards such a line piece by piece.

#include <cstdint>

#include "transfer_common.h"

namespace tarnix {

struct BlockState {
    uint32_t blockSize = 0;
    uint32_t blockSum = 0;  // data bytes sent since the last Program command
    int byteCount = 0;      // LL of the last line that carried one
};

enum class RecordKind { Data, Address, End, Other, Refused };

struct RecordPlan {
    RecordKind kind = RecordKind::Other;
    bool programBefore = false;  // the open block is programmed before the record
    bool sendData = false;       // the line goes out as a Data command
    bool programAfter = false;   // the Data command filled the block: it is programmed
};

// A line that the reader had to cut is refused.
inline bool RecordRefused(const UpdateLine& line) {
    return line.cut;
}

// The plan for one line as the reader gave it, with the block state after it (assuming the
// module accepts each command: a rejection ends the transfer anyway).
RecordPlan PlanRecord(const UpdateLine& line, BlockState* block);

}  // namespace tarnix

#pragma once
// Record mode sends a record whole or not at all: in pieces the module would get a cut record,
// and the rest of the line would be read as further records. So a record whose line the reader
// had to cut (more than MAX_LINE_CHARS characters before its line end) is refused: nothing of
// it is sent and the update fails there. Line mode forwards such a line piece by piece.
// tarnix-check judges a file by this same rule.

#include "transfer_common.h"

inline bool RecordModeRefuses(const UpdateLine& piece) {
    return piece.cut;
}

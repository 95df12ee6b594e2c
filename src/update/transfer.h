#pragma once
// The two ways of loading an update file into the module: line mode forwards every line as a
// Data command; record mode checks the header and forwards the Intel HEX records, telling the
// module when to program a block. Both print every outcome and return what the transfer did
// (update_outcome.h).
//
// What a failure leaves behind differs between the modes. Record mode sends End after any
// rejection or read error inside the loop, so that the module leaves its update state; line
// mode returns at once after a rejected or unreadable line, without End. In both, a rejected
// Start (or, in record mode, a damaged header) sends nothing more. The caller sends Finish.

#include <cstdint>
#include <cstdio>

#include "port.h"
#include "update_outcome.h"

namespace tarnix {

struct UpdateSource {
    FILE* stream = nullptr;  // open in binary mode, at the start of the file
    uint32_t size = 0;       // whole file, header included
    const char* fileName = "";
    bool progressLines = false;  // the progress figure also on standard error (outcome_line.h)
};

// Both stop at the next safe point after an interrupt (interrupts.h) as after a failure there,
// and after a hang-up of the port without sending anything more (not even End). The result
// says how the transfer ended, with its figures; it is Completed only when Start, every command
// and End were acknowledged.
UpdateResult TransferLines(Port& port, const UpdateSource& source, uint8_t modNr);
UpdateResult TransferRecords(Port& port, const UpdateSource& source, uint8_t modNr);

}  // namespace tarnix

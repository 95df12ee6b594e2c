#pragma once
// The two ways of loading an update file into the module: line mode forwards every line as a
// Data command; record mode checks the header and forwards the Intel HEX records, telling the
// module when to program a block. Both print every outcome and return whether the update
// completed: Start, every command and End acknowledged.
//
// What a failure leaves behind differs between the modes. Record mode sends End after any
// rejection or read error inside the loop, so that the module leaves its update state; line
// mode returns at once after a rejected or unreadable line, without End. In both, a rejected
// Start (or, in record mode, a damaged header) sends nothing more. The caller sends Finish.

#include <cstdint>
#include <cstdio>

struct UpdateSource {
    FILE* stream = nullptr;  // open in binary mode, at the start of the file
    uint32_t size = 0;       // whole file, header included
    const char* fileName = "";
};

// Both stop at the next safe point after an interrupt (interrupts.h) as after a failure there,
// and after a hang-up of the port without sending anything more (not even End).
bool TransferLines(const UpdateSource& source, uint8_t modNr);
bool TransferRecords(const UpdateSource& source, uint8_t modNr);

// Bytes that were waiting before an update command was sent and were discarded, so far in the
// run. Under stop-and-wait they cannot be that command's reply; a count above 0 means the
// module (or line noise) sent more than one reply to some command.
unsigned long DiscardedReplyBytes();

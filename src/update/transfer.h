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

bool TransferLines(const UpdateSource& source, uint8_t modNr);
bool TransferRecords(const UpdateSource& source, uint8_t modNr);

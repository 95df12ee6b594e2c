#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "memory_image.h"
#include "module_log.h"

namespace tarnix {

// Whether what the program sent conforms: the order of the update commands, the Intel HEX
// records of the Data lines and the fields and checksums of the service frames. The checks
// return what they find; the Advance functions move the update sequence on once a command has
// been answered, since an accepted or rejected command changes what may follow.

// Where the update sequence stands, and where its Data records land.
struct ProtocolCheckState {
    bool updateOpen = false;      // a Start was accepted and no End followed yet
    bool updateRejected = false;  // a Data or Program of the open update was not acknowledged
    bool finished = false;        // Finish arrived, and no Start has been accepted since
    uint8_t updateModNr = 0;      // ModNr of the accepted Start
    HexAddressBase hexBase;       // moved by the address records of the update's Data lines
};

// A download or timestamp is checked for its place when its command byte arrives, every other
// frame when it is complete.
Findings CheckCommandArrival(const ProtocolCheckState& checks, uint8_t command);
Findings CheckNotAfterFinish(const ProtocolCheckState& checks, uint8_t command);

Findings CheckStartOrder(const ProtocolCheckState& checks);
// Data and Program belong inside an accepted update that has seen no rejection, with its ModNr.
Findings CheckInsideUpdate(const ProtocolCheckState& checks, const ModuleFrame& frame);
Findings CheckEndOrder(const ProtocolCheckState& checks);
Findings CheckFinishOrder(const ProtocolCheckState& checks);

void AdvanceOnStart(ProtocolCheckState* checks, uint8_t modNr, bool accepted);
// After a Data or Program.
void AdvanceInsideUpdate(ProtocolCheckState* checks, bool accepted);
void AdvanceOnEnd(ProtocolCheckState* checks);
void AdvanceOnFinish(ProtocolCheckState* checks);

struct DataLineCheck {
    std::optional<HexRecord> record;  // the line is this record
    Findings findings;                // why it is none, in record mode
};

// lineNumber counts the Data lines from 1, for the message.
DataLineCheck CheckDataLine(const std::vector<uint8_t>& text, bool checkRecords,
                            unsigned lineNumber);
// The four bytes of the parameter command must be 00 00 p p.
Findings CheckParamBytes(const std::vector<uint8_t>& bytes);
Findings CheckDownloadHeader(const std::vector<uint8_t>& header);
// blockNumber counts the blocks of this download from 1, for the message.
Findings CheckDownloadBlock(const std::vector<uint8_t>& block, uint8_t checksum,
                            unsigned blockNumber);
// The payload up to and including its checksum byte.
Findings CheckTimestampChecksum(const std::vector<uint8_t>& payload);

}  // namespace tarnix

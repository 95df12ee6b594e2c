#include "module_checks.h"

#include <string>
#include <string_view>
#include <utility>

#include "module_protocol.h"

namespace tarnix {

namespace {

Findings One(ModuleErrorKind kind, std::string text) {
    return Findings{Finding{kind, std::move(text)}};
}

// "checksum 0x12 should be 0x34"
std::string ChecksumText(uint8_t got, uint8_t sum) {
    return "checksum " + ModuleHexByte(got) + " should be " + ModuleHexByte(sum);
}

}  // namespace

Findings CheckCommandArrival(const ProtocolCheckState& checks, uint8_t command) {
    if (command == MODULE_CMD_DOWNLOAD || command == MODULE_CMD_TIMESTAMP) {
        return CheckNotAfterFinish(checks, command);
    }
    return Findings{};
}

Findings CheckNotAfterFinish(const ProtocolCheckState& checks, uint8_t command) {
    if (checks.finished) {
        return One(ModuleErrorKind::Order, ModuleCommandName(command) + " after Finish");
    }
    return Findings{};
}

Findings CheckStartOrder(const ProtocolCheckState& checks) {
    if (checks.updateOpen) {
        return One(ModuleErrorKind::Order, "Start while an update is open");
    }
    return Findings{};
}

Findings CheckInsideUpdate(const ProtocolCheckState& checks, const ModuleFrame& frame) {
    Findings findings;
    std::string name = ModuleCommandName(frame.command);
    if (checks.finished) {
        findings.push_back(Finding{ModuleErrorKind::Order, name + " after Finish"});
    } else if (!checks.updateOpen) {
        findings.push_back(Finding{ModuleErrorKind::Order, name + " without an accepted Start"});
    } else if (checks.updateRejected) {
        findings.push_back(Finding{ModuleErrorKind::Order, name + " after a rejected command"});
    }
    if (checks.updateOpen && frame.modNr != checks.updateModNr) {
        findings.push_back(Finding{ModuleErrorKind::BadFrame,
                                   name + " with ModNr " + ModuleHexByte(frame.modNr) +
                                       ", Start had " + ModuleHexByte(checks.updateModNr)});
    }
    return findings;
}

Findings CheckEndOrder(const ProtocolCheckState& checks) {
    if (checks.finished) {
        return One(ModuleErrorKind::Order, "End after Finish");
    }
    if (!checks.updateOpen) {
        return One(ModuleErrorKind::Order, "End without an accepted Start");
    }
    return Findings{};
}

Findings CheckFinishOrder(const ProtocolCheckState& checks) {
    if (checks.finished) {
        return One(ModuleErrorKind::Order, "Finish after Finish");
    }
    // After a rejection the program goes straight to Finish, without End.
    if (checks.updateOpen && !checks.updateRejected) {
        return One(ModuleErrorKind::Order, "Finish while the update is open (no End)");
    }
    return Findings{};
}

void AdvanceOnStart(ProtocolCheckState* checks, uint8_t modNr, bool accepted) {
    checks->updateOpen = accepted;
    checks->updateRejected = false;
    if (accepted) {
        checks->finished = false;
        checks->updateModNr = modNr;
        checks->hexBase = HexAddressBase{};
    }
}

void AdvanceInsideUpdate(ProtocolCheckState* checks, bool accepted) {
    checks->updateRejected = checks->updateRejected || !accepted;
}

void AdvanceOnEnd(ProtocolCheckState* checks) {
    checks->updateOpen = false;
}

void AdvanceOnFinish(ProtocolCheckState* checks) {
    checks->finished = true;
    checks->updateOpen = false;
}

DataLineCheck CheckDataLine(const std::vector<uint8_t>& text, bool checkRecords,
                            unsigned lineNumber) {
    std::string_view line(reinterpret_cast<const char*>(text.data()), text.size());
    HexRecord record;
    std::string problem;
    bool badChecksum = false;
    DataLineCheck check;
    if (ParseHexRecord(line, &record, &problem, &badChecksum)) {
        check.record = std::move(record);
    } else if (checkRecords) {
        check.findings =
            One(badChecksum ? ModuleErrorKind::RecordChecksum : ModuleErrorKind::RecordFormat,
                "Data line " + std::to_string(lineNumber) + ": record " + problem + ": " +
                    ModulePrintableBytes(text, 80));
    }
    return check;
}

Findings CheckParamBytes(const std::vector<uint8_t>& bytes) {
    if (bytes[0] != 0 || bytes[1] != 0 || bytes[2] != bytes[3]) {
        return One(
            ModuleErrorKind::BadFrame,
            "parameter command bytes " + ModulePrintableBytes(bytes, 8) + " are not 00 00 p p");
    }
    return Findings{};
}

Findings CheckDownloadHeader(const std::vector<uint8_t>& header) {
    Findings findings;
    if (header[0] != 0x00 || header[1] != 0x00 || header[2] != 0x10) {
        findings.push_back(Finding{ModuleErrorKind::DownloadHeader,
                                   "download header starts " + ModuleHexByte(header[0]) + " " +
                                       ModuleHexByte(header[1]) + " " + ModuleHexByte(header[2]) +
                                       ", not 0x00 0x00 0x10"});
    }
    uint8_t sum = ModuleSumChecksum(header.data(), 7);
    if (sum != header[7]) {
        findings.push_back(Finding{ModuleErrorKind::DownloadHeader,
                                   "download header " + ChecksumText(header[7], sum)});
    }
    return findings;
}

Findings CheckDownloadBlock(const std::vector<uint8_t>& block, uint8_t checksum,
                            unsigned blockNumber) {
    uint8_t sum = ModuleSumChecksum(block.data(), block.size());
    if (sum != checksum) {
        return One(
            ModuleErrorKind::DownloadChecksum,
            "download block " + std::to_string(blockNumber) + " " + ChecksumText(checksum, sum));
    }
    return Findings{};
}

Findings CheckTimestampChecksum(const std::vector<uint8_t>& payload) {
    uint8_t sum = ModuleSumChecksum(payload.data(), payload.size() - 1);
    if (sum != payload.back()) {
        return One(ModuleErrorKind::TimestampChecksum,
                   "timestamp " + ChecksumText(payload.back(), sum));
    }
    return Findings{};
}

}  // namespace tarnix

#include "record_plan.h"

#include "update_file.h"

namespace tarnix {

namespace {

// Programs the open block, if one is open.
bool CloseOpenBlock(BlockState* block) {
    bool open = block->blockSum > 0;
    block->blockSum = 0;
    return open;
}

RecordPlan PlanDataRecord(BlockState* block) {
    RecordPlan plan{.kind = RecordKind::Data, .sendData = true};
    block->blockSum += static_cast<uint32_t>(block->byteCount);
    if (block->blockSum >= block->blockSize) {
        block->blockSum = 0;
        plan.programAfter = true;
    }
    return plan;
}

}  // namespace

RecordPlan PlanRecord(const UpdateLine& line, BlockState* block) {
    if (RecordRefused(line)) {
        return {.kind = RecordKind::Refused};
    }
    RecordLine record = ClassifyRecordLine(line.text, line.length, block->byteCount);
    block->byteCount = record.byteCount;
    switch (record.type) {
        case RECORD_DATA:
            return PlanDataRecord(block);
        case RECORD_EXTENDED_ADDRESS:
            return {.kind = RecordKind::Address,
                    .programBefore = CloseOpenBlock(block),
                    .sendData = true};
        case RECORD_END_OF_FILE:
            return {.kind = RecordKind::End, .programBefore = CloseOpenBlock(block)};
        default:
            return {};  // start addresses and other records are not forwarded
    }
}

}  // namespace tarnix

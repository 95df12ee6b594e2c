#pragma once

#include <climits>
#include <cstdint>

#include "module_config.h"

namespace tarnix {

// Line time, kept from the moments bytes are seen: the pseudo-terminal hands over a burst at
// once, so each byte is taken to start when it arrives or when the byte before it has finished,
// whichever is later. Times in nanoseconds of one monotonic clock.
struct LinePacer {
    int64_t byteNs = 0;                 // 11 bits at the configured rate; 0 when not paced
    int64_t latencyNs = 0;              // before every reply
    int64_t inboundEndNs = INT64_MIN;   // the program's last byte has wholly arrived
    int64_t outboundEndNs = INT64_MIN;  // the module's last byte has wholly arrived
};

void StartLinePacer(LinePacer* pacer, const ModuleConfig& config);
// When a byte from the program, seen at arrivalNs, has wholly arrived; the pacer moves on.
int64_t PaceInboundByte(LinePacer* pacer, int64_t arrivalNs);
// When the next reply byte, ready to go at readyNs, would have wholly arrived at the program.
int64_t NextOutboundByteEnd(const LinePacer& pacer, int64_t readyNs);
// The same, and the pacer moves on past that byte.
int64_t PaceOutboundByte(LinePacer* pacer, int64_t readyNs);

}  // namespace tarnix

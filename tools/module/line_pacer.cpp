#include <algorithm>

#include "line_pacer.h"

namespace tarnix {

namespace {

// 8N2: a start bit, 8 data bits, two stop bits.
constexpr int64_t BITS_PER_BYTE = 11;

}  // namespace

void StartLinePacer(LinePacer* pacer, const ModuleConfig& config) {
    *pacer = LinePacer{};
    pacer->byteNs = config.baud > 0 ? BITS_PER_BYTE * 1000000000 / config.baud : 0;
    pacer->latencyNs = static_cast<int64_t>(config.replyLatencyMs * 1e6);
}

int64_t PaceInboundByte(LinePacer* pacer, int64_t arrivalNs) {
    pacer->inboundEndNs = std::max(arrivalNs, pacer->inboundEndNs) + pacer->byteNs;
    return pacer->inboundEndNs;
}

int64_t NextOutboundByteEnd(const LinePacer& pacer, int64_t readyNs) {
    return std::max(readyNs, pacer.outboundEndNs) + pacer.byteNs;
}

int64_t PaceOutboundByte(LinePacer* pacer, int64_t readyNs) {
    pacer->outboundEndNs = NextOutboundByteEnd(*pacer, readyNs);
    return pacer->outboundEndNs;
}

}  // namespace tarnix

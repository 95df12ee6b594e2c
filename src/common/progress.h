#pragma once
// The progress figure both the update and the download show: done / (size / 100), in unsigned
// integer division. Because a hundredth of the size is rounded down, the quotient can pass 100
// near the end; callers that must not show more pass a cap.

#include <cstdint>

namespace tarnix {

inline constexpr long NO_PROGRESS_CAP = -1;

// Files under 100 bytes, where the divisor is 0, get the true percentage instead.
constexpr long ProgressFigure(uint32_t done, uint32_t size, long cap = NO_PROGRESS_CAP) {
    uint32_t divisor = size / 100;
    long figure = 0;
    if (divisor > 0) {
        figure = static_cast<long>(done / divisor);
    } else if (size > 0) {
        figure = static_cast<long>(static_cast<uint64_t>(done) * 100 / size);
    }
    return (cap >= 0 && figure > cap) ? cap : figure;
}

}  // namespace tarnix

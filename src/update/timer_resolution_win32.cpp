// At Windows' default timer resolution of 15.6 ms, Sleep(1) lasts up to 15.6 ms: the pause
// after each full block would cost about 2.5 s on the 160 blocks of the example update, on top
// of the time on the wire. A 1 ms resolution, asked for only while the update runs, keeps the
// pause near 1 ms. Windows drops the request when the process ends, also when it ends early.

#include <windows.h>

#include <timeapi.h>

#include "timer_resolution.h"

namespace tarnix {

namespace {

constexpr UINT PAUSE_RESOLUTION_MS = 1;
bool ResolutionRaised = false;

}  // namespace

void RaiseTimerResolution() {
    ResolutionRaised = timeBeginPeriod(PAUSE_RESOLUTION_MS) == TIMERR_NOERROR;
}

void RestoreTimerResolution() {
    if (ResolutionRaised) {
        timeEndPeriod(PAUSE_RESOLUTION_MS);
        ResolutionRaised = false;
    }
}

}  // namespace tarnix

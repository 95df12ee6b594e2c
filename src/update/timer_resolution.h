#pragma once

namespace tarnix {
// The system timer's resolution for the duration of an update run. The update pauses 1 ms
// after each full block; that pause lasts only as long as the timer lets it. One file per
// platform (timer_resolution_posix.cpp, timer_resolution_win32.cpp).

// Asks for a 1 ms timer until RestoreTimerResolution. Nothing to do where sleeps are already
// that fine.
void RaiseTimerResolution();
void RestoreTimerResolution();

}  // namespace tarnix

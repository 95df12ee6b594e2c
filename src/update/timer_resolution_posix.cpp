// nanosleep already sleeps for about the time asked for: nothing to raise.

#include "timer_resolution.h"

void RaiseTimerResolution() {}

void RestoreTimerResolution() {}

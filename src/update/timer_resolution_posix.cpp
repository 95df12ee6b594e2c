// nanosleep already sleeps for about the time asked for: nothing to raise.

#include "timer_resolution.h"

namespace tarnix {

void RaiseTimerResolution() {}

void RestoreTimerResolution() {}

}  // namespace tarnix

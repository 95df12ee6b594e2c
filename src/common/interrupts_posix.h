#pragma once

namespace tarnix {
// What the POSIX port layer needs of the interrupt handling: a descriptor that becomes readable
// when an interrupt arrives (a self-pipe), so that a poll() on the port ends at once even when
// the signal came just before poll() began. -1 when no handlers are installed.

int InterruptWakeDescriptor();

}  // namespace tarnix

// Standard handles on Windows: a port is opened as a handle of its own, never in the place of a
// missing standard handle, and the C runtime discards output to a missing one. Nothing to do.

#include <windows.h>

#include "standard_streams.h"

namespace tarnix {

void EnsureStandardDescriptors() {}

// GetConsoleMode succeeds only on a console handle: a pipe or a file makes it fail.
bool StandardInputIsInteractive() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE;
}

}  // namespace tarnix

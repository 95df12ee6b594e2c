// Standard handles on Windows: a port is opened as a handle of its own, never in the place of a
// missing standard handle, and the C runtime discards output to a missing one. Nothing to do.

#include "standard_streams.h"

void EnsureStandardDescriptors() {}

#pragma once

namespace tarnix {
// Standard input, output and error at start-up. One implementation file per platform
// (standard_streams_posix.cpp, standard_streams_win32.cpp).

// Makes sure that descriptors 0, 1 and 2 are open, on the null device where they were closed.
// Call it first thing, before any port or file is opened: a port opened while descriptor 1 is
// closed would become standard output, and every console text would go out on the line.
void EnsureStandardDescriptors();

// True when standard input is a terminal (Windows: a console), where a person can answer a key
// wait or click a message box. A pipe, a file or the null device is not: a script, a
// subprocess or tarnix-fleet must never be made to wait on it.
bool StandardInputIsInteractive();

}  // namespace tarnix

#pragma once
// Standard input, output and error at start-up. One implementation file per platform
// (standard_streams_posix.cpp, standard_streams_win32.cpp).

// Makes sure that descriptors 0, 1 and 2 are open, on the null device where they were closed.
// Call it first thing, before any port or file is opened: a port opened while descriptor 1 is
// closed would become standard output, and every console text would go out on the line.
void EnsureStandardDescriptors();

#pragma once

// The module at the far end of the serial line, played on the master side of a pseudo-terminal
// (or on a serial device). It answers every frame the moment its last byte arrives (or when a
// real line would have delivered it, when paced) and keeps a record of everything it received,
// so a test can check the bytes on the line, the protocol order and whether the memory image
// arrived whole.
//
// It shares no code with src/ on purpose, not even the byte values or the record parser: it is
// the independent peer of the programs, so a fault in their framing or parsing cannot hide in
// the tests by being repeated on both sides.
//
// This header only gathers the emulator's headers for code that wants all of them; new code
// includes the one header it uses.

#include "line_pacer.h"
#include "memory_image.h"
#include "module_checks.h"
#include "module_config.h"
#include "module_frames.h"
#include "module_log.h"
#include "module_protocol.h"
#include "module_pty.h"
#include "module_replies.h"
#include "module_session.h"
#include "module_verdict.h"

using namespace tarnix;

#pragma once

namespace tarnix {
// Exit statuses that every program of the project shares. Each program adds its own meaning of
// 0 and 1 (see its header); the rest mean the same everywhere, so that scripts and tarnix-fleet
// can read any of them alike.

inline constexpr int EXIT_PORT_NOT_OPENED = 2;
inline constexpr int EXIT_USAGE = 64;  // malformed command line; nothing was sent

// A run ended by signal n exits with 128 + n, as a shell reports it (130 for Ctrl-C).
inline constexpr int EXIT_SIGNAL_BASE = 128;
constexpr int ExitStatusForSignal(int signalNumber) {
    return EXIT_SIGNAL_BASE + signalNumber;
}

}  // namespace tarnix

#pragma once
// A module played by a script instead of the emulator, for what the emulator does not do: reply
// bytes beyond the one asked for, a line that hangs up in the middle of an update, and a look at
// the terminal after the program has closed it.

#include <cstdint>
#include <string>
#include <vector>

#include "run_against_module.h"

namespace tarnix {

struct PeerScript {
    // replies[i] is written when frame i (from 0, Finish included) has arrived. A frame beyond
    // the list is answered with ACK, Finish with nothing.
    std::vector<std::vector<uint8_t>> replies;
    int hangUpAtFrame = -1;  // when this frame has arrived, close the line instead of replying
};

struct PeerRun {
    ProgramRun run;
    std::vector<uint8_t> received;             // every byte from the program, in order
    std::vector<std::vector<uint8_t>> frames;  // the frames, STX to ETX
    bool exclusiveAfterRun = false;            // TIOCEXCL still set once the program ended
};

// Runs the program with "{port}" naming a pseudo-terminal whose other side follows `script`.
// Frames are read as STX, command, bytes up to ETX; a status query ('S') has no ETX.
PeerRun RunAgainstScriptedPeer(const ProgramLaunch& launch, const PeerScript& script);

// The command bytes of the frames, e.g. "BCCEF".
std::string FrameCommands(const PeerRun& run);

}  // namespace tarnix

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "module_checks.h"
#include "module_config.h"
#include "module_frames.h"
#include "module_log.h"
#include "module_replies.h"

namespace tarnix {

// The module between reads of the line: the frame parser, the reply counts and the protocol
// checks, each with its own state. The session feeds the bytes to the parser, files what it
// and the checks find in the log, and answers every frame the moment its last byte arrives.
// RunModule keeps one; tests may drive one directly without a pseudo-terminal.
struct ModuleSession {
    const ModuleConfig* config = nullptr;
    ModuleLog* log = nullptr;
    FrameParser parser;
    ReplyState replies;
    ProtocolCheckState checks;
    // Late replies decided but not yet due; RunModule takes them out and sends them in time.
    std::vector<DelayedReply> delayed;
};

void StartModuleSession(ModuleSession* session, const ModuleConfig* config, ModuleLog* log);
// Parses the bytes and appends the replies that are due to *reply; late replies go to
// session->delayed instead.
void FeedModuleBytes(ModuleSession* session, const uint8_t* bytes, size_t count,
                     std::vector<uint8_t>* reply);
// Records stray bytes still pending and a frame left unfinished.
void FinishModuleSession(ModuleSession* session);

}  // namespace tarnix

#pragma once

#include <string>
#include <vector>

#include "memory_image.h"
#include "module_log.h"

namespace tarnix {

// The judgement of a run from the module's record: what an update left undone, whether the run
// passed, and a few lines for people.

// What an update run left undone: "update incomplete: no End", "no Finish", "last update command
// rejected (0x15)", ... Empty when no update command (Start to Finish) arrived at all, as in a
// run of service operations.
std::vector<std::string> UpdateShortfalls(const ModuleLog& log);

// True when nothing went wrong on the line, an update run was completed (no shortfalls) and,
// given an expected image, the image matches.
bool ModuleRunPassed(const ModuleLog& log, const MemoryImage* expected);
// A few lines for people: frame counts, errors, image extent, and whether it arrived whole.
std::string DescribeModuleVerdict(const ModuleLog& log, const MemoryImage* expected);

}  // namespace tarnix

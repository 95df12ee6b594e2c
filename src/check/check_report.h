#pragma once
// How tarnix-check shows its findings: text for a person, JSON for a script.

#include <string>
#include <vector>

#include "update_check.h"

namespace tarnix {

// The report of one file, several lines, each ending in a line end. At most `maxFaults` faults
// are listed; the rest are counted.
std::string DescribeFileCheck(const FileCheck& check, const CheckOptions& options,
                              size_t maxFaults = 20);

// {"latency_ms": ..., "files": [...]}, every fault listed.
std::string FileChecksJson(const std::vector<FileCheck>& checks, const CheckOptions& options);

}  // namespace tarnix

#pragma once
// Reading files that another process may still be writing: a log that tarnix appends to while
// the fleet or the station follows it, and the file a run sends, read whole for its facts.

#include <string>

namespace tarnix {

// Appends what the file gained since `*offset` to `*text` and moves the offset on (C stdio: a
// read error while the file is written only ends this read). False when it cannot be opened.
bool ReadFileFrom(const std::string& path, long* offset, std::string* text);

// The whole file, or "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// The path made absolute and normal, or "" when the system cannot say.
std::string AbsolutePath(const std::string& path);

}  // namespace tarnix

#pragma once
// Reads a program's JSON report with Python: its strict UTF-8 decoding and JSON parser are a
// second opinion that owes nothing to our own writer.

#include <cstdlib>
#include <string>

#include "run_against_module.h"

namespace tarnix {

inline bool PythonAvailable() {
    return std::system("python3 -c pass >/dev/null 2>&1") == 0;
}

// Parses `json` as `r` and writes the bytes given by the hex string that `hexExpression`
// (e.g. r["files"][0]["file_hex"]) evaluates to. Exit status 0 only when both succeed.
inline ProgramRun BytesFromJsonHex(const std::string& json, const std::string& hexExpression) {
    ProgramLaunch launch;
    launch.program = "/usr/bin/env";
    launch.args = {"python3", "-c",
                   "import json, sys\n"
                   "r = json.loads(sys.stdin.buffer.read().decode('utf-8'))\n"
                   "sys.stdout.buffer.write(bytes.fromhex(" +
                       hexExpression + "))\n"};
    launch.stdinText = json;
    return RunProgram(launch);
}

}  // namespace tarnix

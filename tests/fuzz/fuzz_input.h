#pragma once
// Helpers the fuzz targets share: turning the fuzzer's bytes into command-line arguments.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "port_choice.h"

namespace tarnix {

// Splits the bytes at each NUL into arguments, after a program name. A command line has no
// way to carry a NUL, so this reaches every argument vector there is.
inline std::vector<std::string> SplitArguments(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments{"program"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (size > 0) {
        arguments.push_back(current);
    }
    return arguments;
}

// The argv view of the arguments, ending in a null pointer as a real argv does.
inline std::vector<const char*> ArgumentPointers(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    argv.push_back(nullptr);
    return argv;
}

// Ends the run with a finding libFuzzer reports with its input.
[[noreturn]] void FuzzCheckFailed(const char* what);

#define FUZZ_CHECK(condition)            \
    do {                                 \
        if (!(condition)) {              \
            FuzzCheckFailed(#condition); \
        }                                \
    } while (false)

// Sends standard output to /dev/null: the code under test prints its messages there, and
// libFuzzer reports on standard error.
void SilenceStandardOutput();

// A port choice is a COM number 1..8 or a path that contains '/'.
void CheckPortChoice(const PortChoice& choice);

}  // namespace tarnix

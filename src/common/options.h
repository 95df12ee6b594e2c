#pragma once
// The command lines of the bench programs (tarnix-check, tarnix-fleet): long options given as
// "--name value" or "--name=value", flags, operands, and "--" after which everything is an
// operand. "-" alone is an operand (standard input or output, where the program says so).

#include <functional>
#include <span>
#include <string>
#include <vector>

namespace tarnix {

struct OptionRule {
    const char* name;             // "--mode"
    bool takesValue = false;      // false: a flag, "--name=value" is then an unknown option
    const char* alias = nullptr;  // another spelling of the same option ("-h"), or none
};

// Called for each option in the order given, under its rule's name, with its value ("" for a
// flag). False, with *error set, refuses the command line there.
using ApplyOption =
    std::function<bool(const std::string& name, const std::string& value, std::string* error)>;

// Reads argv[1..argc-1] by `rules`: each option goes to `apply`, each operand into *operands.
// False, with *error a one-line reason, for an unknown option, an option without its value,
// an option with a value given a second time (which value was meant cannot be known), or what
// `apply` refuses. Nothing is read past the first fault.
bool ReadCommandLine(int argc, const char* const* argv, std::span<const OptionRule> rules,
                     const ApplyOption& apply, std::vector<std::string>* operands,
                     std::string* error);

// A plain decimal number, as the options' help shows them: digits, and where a fraction is
// wanted a point followed by digits ("16", "0.1"). No sign, no blank, no exponent, no hex, no
// "inf": false for anything but that.
bool ReadPlainDecimal(const std::string& text, double* value);

}  // namespace tarnix

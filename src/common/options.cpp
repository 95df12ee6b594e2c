#include "options.h"

#include <algorithm>
#include <charconv>

namespace tarnix {

namespace {

const OptionRule* FindOption(std::span<const OptionRule> rules, const std::string& name) {
    for (const OptionRule& rule : rules) {
        if (name == rule.name || (rule.alias != nullptr && name == rule.alias)) {
            return &rule;
        }
    }
    return nullptr;
}

bool IsOperand(const std::string& arg) {
    return arg.size() < 2 || arg[0] != '-';
}

// The value of the option `arg` (argv[*i]): after '=' in "--name=value", otherwise the next
// argument, which *i then moves on to. False when none is left.
bool TakeOptionValue(int argc, const char* const* argv, int* i, const std::string& arg,
                     std::string* value) {
    size_t equals = arg.find('=');
    if (equals != std::string::npos) {
        *value = arg.substr(equals + 1);
        return true;
    }
    if (*i + 1 >= argc) {
        return false;
    }
    *value = argv[++*i];
    return true;
}

// One option at argv[*i], handed to `apply`; `given` holds the options with a value seen so
// far.
bool ReadOption(int argc, const char* const* argv, int* i, std::span<const OptionRule> rules,
                const ApplyOption& apply, std::vector<std::string>* given, std::string* error) {
    std::string arg = argv[*i];
    const OptionRule* rule = FindOption(rules, arg);
    if (rule == nullptr) {
        rule = FindOption(rules, arg.substr(0, arg.find('=')));
        if (rule == nullptr || !rule->takesValue) {
            *error = "unknown option '" + arg + "'";
            return false;
        }
    }
    std::string value;
    if (rule->takesValue) {
        if (!TakeOptionValue(argc, argv, i, arg, &value)) {
            *error = "option '" + std::string(rule->name) + "' needs a value";
            return false;
        }
        if (std::find(given->begin(), given->end(), rule->name) != given->end()) {
            *error = "option '" + std::string(rule->name) + "' given more than once";
            return false;
        }
        given->push_back(rule->name);
    }
    return apply(rule->name, value, error);
}

}  // namespace

bool ReadCommandLine(int argc, const char* const* argv, std::span<const OptionRule> rules,
                     const ApplyOption& apply, std::vector<std::string>* operands,
                     std::string* error) {
    std::vector<std::string> given;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || IsOperand(arg)) {
            operands->push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (!ReadOption(argc, argv, &i, rules, apply, &given, error)) {
            return false;
        }
    }
    return true;
}

bool ReadPlainDecimal(const std::string& text, double* value) {
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    size_t point = text.find('.');
    std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? "0" : text.substr(point + 1);
    if (whole.empty() || fraction.empty() || !std::all_of(whole.begin(), whole.end(), isDigit) ||
        !std::all_of(fraction.begin(), fraction.end(), isDigit)) {
        return false;
    }
    // from_chars, unlike strtod, reads a point whatever the locale.
    double number = 0;
    auto [end, fault] =
        std::from_chars(text.data(), text.data() + text.size(), number, std::chars_format::fixed);
    if (fault != std::errc() || end != text.data() + text.size()) {
        return false;
    }
    *value = number;
    return true;
}

}  // namespace tarnix

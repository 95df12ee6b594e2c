#include "options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarnix;

namespace {

const OptionRule RULES[] = {{"--help", false, "-h"}, {"--json"}, {"--mode", true}};

struct ReadCase {
    std::vector<const char*> args;
    std::string applied;  // "name=value;" for each option, in order, then "|" and the operands
    std::string error;    // empty: accepted
};

std::string Read(std::vector<const char*> args, std::string* error) {
    args.insert(args.begin(), "program");
    std::string applied;
    auto apply = [&applied](const std::string& name, const std::string& value, std::string*) {
        applied += name + "=" + value + ";";
        return true;
    };
    std::vector<std::string> operands;
    if (!ReadCommandLine(static_cast<int>(args.size()), args.data(), RULES, apply, &operands,
                         error)) {
        return "";
    }
    applied += "|";
    for (const std::string& operand : operands) {
        applied += operand + " ";
    }
    return applied;
}

TEST(ReadCommandLine, HandsOverOptionsInOrderAndRefusesWhatItCannotRead) {
    const ReadCase cases[] = {
        {{"--mode", "1", "f", "--json"}, "--mode=1;--json=;|f ", ""},
        {{"--mode=0", "-h", "-", "--", "--json"}, "--mode=0;--help=;|- --json ", ""},
        {{"--mode="}, "--mode=;|", ""},                   // an empty value is the option's to judge
        {{"--json", "--json"}, "--json=;--json=;|", ""},  // a flag twice loses nothing
        {{"--mode", "0", "--mode", "1"}, "", "option '--mode' given more than once"},
        {{"--mode=0", "--mode=0"}, "", "option '--mode' given more than once"},
        {{"--mode"}, "", "option '--mode' needs a value"},
        {{"--json=1"}, "", "unknown option '--json=1'"},
        {{"--modes", "1"}, "", "unknown option '--modes'"},
        {{"-x"}, "", "unknown option '-x'"},
    };
    for (const ReadCase& c : cases) {
        std::string error;
        EXPECT_EQ(Read(c.args, &error), c.applied) << c.args.front();
        EXPECT_EQ(error, c.error) << c.args.front();
    }
}

TEST(ReadPlainDecimal, TakesDigitsWithAnOptionalFractionOnly) {
    const std::pair<const char*, double> good[] = {
        {"0", 0}, {"16", 16}, {"0.1", 0.1}, {"007", 7}, {"10000.25", 10000.25}};
    for (const auto& [text, expected] : good) {
        double value = -1;
        EXPECT_TRUE(ReadPlainDecimal(text, &value)) << text;
        EXPECT_DOUBLE_EQ(value, expected) << text;
    }
    for (const char* text : {"", " 1", "1 ", "+1", "-0", "0x10", "1e3", "inf", "nan", ".5", "1.",
                             "1.2.3", "1,5", "1\n"}) {
        double value = -1;
        EXPECT_FALSE(ReadPlainDecimal(text, &value)) << "'" << text << "'";
        EXPECT_EQ(value, -1) << text;
    }
}

}  // namespace

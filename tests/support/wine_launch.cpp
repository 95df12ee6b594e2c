#include "wine_launch.h"

#include <cstdlib>

namespace tarnix {

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

}  // namespace

bool ProgramsRunUnderWine() {
    return !Variable("TARNIX_TEST_WINE").empty();
}

std::string WineProgramPath(const std::string& name) {
    return Variable("TARNIX_TEST_WINE_BIN_DIR") + "/" + name + ".exe";
}

std::vector<std::string> WineCommandLine(const std::string& program,
                                         const std::vector<std::string>& args,
                                         const std::string& devicePath) {
    std::vector<std::string> command{Variable("TARNIX_TEST_WINE_RUNNER"),
                                     Variable("TARNIX_TEST_WINE")};
    if (!devicePath.empty()) {
        command.push_back("--port");
        command.push_back(devicePath);
    }
    command.push_back(program);
    for (const std::string& arg : args) {
        command.push_back(devicePath.empty() ? arg : ReplaceAll(arg, "{port}", WINE_PORT_ARGUMENT));
    }
    return command;
}

// A CR that the program itself wrote before a line end arrives as CR CR LF and keeps its CR.
// A UTF-8 umlaut would be wrong on a Windows console; it is marked so that the comparison with
// the expected text fails.
std::string NormaliseWineOutput(const std::string& text) {
    const std::string utf8 =
        "Falscher R\xC3\xBC"
        "ckgabewert";
    const std::string windows1252 =
        "Falscher R\xFC"
        "ckgabewert";
    std::string normalised = ReplaceAll(text, "\r\n", "\n");
    normalised = ReplaceAll(normalised, utf8, "Falscher R<UTF-8 umlaut>ckgabewert");
    return ReplaceAll(normalised, windows1252, utf8);
}

}  // namespace tarnix

#pragma once
// How the end-to-end tests run the Windows programs under Wine instead of the Linux ones.
// scripts/test-windows sets three variables for the test run:
//   TARNIX_TEST_WINE          the state directory of tests/wine/setup-wine (Wine mode when set)
//   TARNIX_TEST_WINE_BIN_DIR  where the .exe files are
//   TARNIX_TEST_WINE_RUNNER   tests/wine/run-under-wine
// The tests keep their expected bytes and texts; the harness hides the differences that come
// from the platform alone (the port is "COM1", line ends are CR LF, the umlaut is
// Windows-1252).

#include <string>
#include <vector>

namespace tarnix {

// What the Windows programs call the port that a test names "{port}": the runner makes COM1 to
// COM8 lead to the emulator's pseudo-terminal, and "{port}" becomes "1".
inline constexpr const char* WINE_PORT_NAME = "COM1";
inline constexpr const char* WINE_PORT_ARGUMENT = "1";

// Whether this test run drives the Windows programs under Wine.
bool ProgramsRunUnderWine();

// The Windows build of one of our programs ("tarnix" gives <bin dir>/tarnix.exe).
std::string WineProgramPath(const std::string& name);

// The command that runs `program` (a path from WineProgramPath) with `args` under Wine, with
// the serial ports leading to `devicePath` (none when empty) and "{port}" replaced.
std::vector<std::string> WineCommandLine(const std::string& program,
                                         const std::vector<std::string>& args,
                                         const std::string& devicePath);

// Console output of a Windows program as the Linux program prints it: every CR LF that the
// C runtime's text mode made of a line end becomes LF again, and the Windows-1252 umlaut of the
// one non-ASCII console text becomes its UTF-8 form.
std::string NormaliseWineOutput(const std::string& text);

// For the cases that only make sense for the Linux programs: device paths as the port, the
// console prompt that stands in for the dialog there, exclusive opening through the file
// system, the wording of the Linux error texts.
#define SKIP_UNDER_WINE(reason)       \
    do {                              \
        if (ProgramsRunUnderWine()) { \
            GTEST_SKIP() << (reason); \
        }                             \
    } while (0)

}  // namespace tarnix

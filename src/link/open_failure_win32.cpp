// A failed open on Windows: the system's text for the error in a message box.

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "open_failure.h"
#include "standard_streams.h"

namespace tarnix {

namespace {

// The stand-in for a box that cannot be shown (no desktop: a service session, a headless
// machine), so that the error does not vanish unseen. The system text ends in its own line
// end, which the console's text mode would double.
void WriteBoxTextToStandardError(const char* caption, const char* text) {
    size_t length = strlen(text);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) {
        --length;
    }
    fflush(stdout);
    fprintf(stderr, "%s: %.*s\n", caption, static_cast<int>(length), text);
    fflush(stderr);
}

}  // namespace

// The error kept with the failure, not GetLastError() again: any call in between (a console
// write, the box itself) may have replaced it. Windows names its ports by number only, and the
// system's text says all there is, so the attempt adds nothing.
void ShowOpenFailure(const char* caption, int error, const OpenAttempt& /*attempt*/) {
    DWORD code = static_cast<DWORD>(error);
    char* text = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text),
        256, nullptr);
    // The system may have no text for the code; the number still tells the user something.
    char fallback[48];
    if (text == nullptr) {
        snprintf(fallback, sizeof fallback, "Error %lu\n", static_cast<unsigned long>(code));
    }
    const char* shown = text != nullptr ? text : fallback;
    // A box waits for a click: only a person at the console can give one. A script, a
    // subprocess or tarnix-fleet gets the text on standard error instead. The box's result is
    // 0 on Windows, -1 on Wine without a display.
    if (!StandardInputIsInteractive() ||
        MessageBoxA(nullptr, shown, caption, MB_ICONINFORMATION) <= 0) {
        WriteBoxTextToStandardError(caption, shown);
    }
    LocalFree(text);
}

}  // namespace tarnix

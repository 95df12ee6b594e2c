#pragma once
// Asks the user for an existing update file. Returns its name, or an empty string when the
// user cancels. Win32: the common file-open dialog. POSIX: a prompt on the console (on
// standard error, so that standard output carries only the program's own texts) listing the
// matching files of the current directory; the answer is read from standard input.

#include <string>

namespace tarnix {

std::string ShowOpenFileDialog(const char* title, const char* pattern);

}  // namespace tarnix

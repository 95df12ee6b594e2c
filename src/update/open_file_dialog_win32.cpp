// The common file-open dialog of Windows.

#include <windows.h>

#include <commdlg.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "open_file_dialog.h"

namespace tarnix {

namespace {

constexpr size_t NAME_BUFFER_SIZE = 128;

// The original structure that every Windows version accepts: 76 bytes in a 32-bit program.
constexpr DWORD ORIGINAL_STRUCTURE_SIZE = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(sizeof(void*) != 4 || ORIGINAL_STRUCTURE_SIZE == 76);

// Description and pattern are the same text, each with its terminator, and the list ends with
// an empty entry: "*.upd\0*.upd\0\0".
std::string FilterFor(const char* pattern) {
    std::string filter = pattern;
    filter.push_back('\0');
    filter += pattern;
    filter.push_back('\0');
    filter.push_back('\0');
    return filter;
}

}  // namespace

std::string ShowOpenFileDialog(const char* title, const char* pattern) {
    char fileName[NAME_BUFFER_SIZE] = {};
    char fileTitle[NAME_BUFFER_SIZE] = {};
    snprintf(fileName, sizeof fileName, "%s", pattern);
    std::string filter = FilterFor(pattern);

    OPENFILENAMEA dialog{};
    dialog.lStructSize = ORIGINAL_STRUCTURE_SIZE;
    dialog.hwndOwner = nullptr;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = sizeof fileName;
    dialog.lpstrFileTitle = fileTitle;
    dialog.nMaxFileTitle = sizeof fileTitle;
    dialog.lpstrTitle = title;
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;

    fflush(stdout);
    if (!GetOpenFileNameA(&dialog)) {
        return "";
    }
    return fileName;
}

}  // namespace tarnix

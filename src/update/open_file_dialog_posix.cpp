// The file-open dialog as a console prompt. Like the dialog, it accepts only a file that
// exists, and an empty answer (or the end of input) cancels.

#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "open_file_dialog.h"

namespace tarnix {

namespace {

std::vector<std::string> MatchingFiles(const char* pattern) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(".", error)) {
        std::string name = entry.path().filename().string();
        if (entry.is_regular_file(error) && fnmatch(pattern, name.c_str(), 0) == 0) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool IsExistingFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Reads one answer line; false at the end of input.
bool ReadAnswer(std::string* answer) {
    answer->clear();
    int c;
    while ((c = getchar()) != EOF && c != '\n') {
        if (c != '\r') {
            answer->push_back(static_cast<char>(c));
        }
    }
    return c != EOF || !answer->empty();
}

// A listed number picks that file; anything else is taken as a path.
std::string ResolveAnswer(const std::string& answer, const std::vector<std::string>& files) {
    char* end = nullptr;
    unsigned long choice = strtoul(answer.c_str(), &end, 10);
    if (*end == '\0' && choice >= 1 && choice <= files.size()) {
        return files[choice - 1];
    }
    return answer;
}

void ShowChoices(const char* title, const char* pattern, const std::vector<std::string>& files) {
    fprintf(stderr, "\n%s\n", title);
    if (files.empty()) {
        fprintf(stderr, "  (no %s files in this directory)\n", pattern);
    }
    for (size_t i = 0; i < files.size(); ++i) {
        fprintf(stderr, "  %zu) %s\n", i + 1, files[i].c_str());
    }
}

}  // namespace

std::string ShowOpenFileDialog(const char* title, const char* pattern) {
    fflush(stdout);
    std::vector<std::string> files = MatchingFiles(pattern);
    ShowChoices(title, pattern, files);
    for (;;) {
        fprintf(stderr, "File (number or path, empty to cancel): ");
        std::string answer;
        if (!ReadAnswer(&answer) || answer.empty()) {
            fprintf(stderr, "\n");
            return "";
        }
        std::string path = ResolveAnswer(answer, files);
        if (IsExistingFile(path)) {
            return path;
        }
        fprintf(stderr, "%s: file not found. Choose an existing file.\n", path.c_str());
    }
}

}  // namespace tarnix

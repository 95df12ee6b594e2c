#include "file_read.h"

#include <cstdio>
#include <filesystem>

namespace tarnix {

bool ReadFileFrom(const std::string& path, long* offset, std::string* text) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    size_t before = text->size();
    if (fseek(file, *offset, SEEK_SET) == 0) {
        char chunk[8192];
        size_t got = 0;
        while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) {
            text->append(chunk, got);
        }
    }
    fclose(file);
    *offset += static_cast<long>(text->size() - before);
    return true;
}

std::string ReadWholeFile(const std::string& path) {
    long offset = 0;
    std::string text;
    ReadFileFrom(path, &offset, &text);
    return text;
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? std::string() : absolute.lexically_normal().string();
}

}  // namespace tarnix

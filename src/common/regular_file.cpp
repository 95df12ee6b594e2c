#include "regular_file.h"

#include <sys/stat.h>

#include <cerrno>

namespace tarnix {

RegularFile OpenRegularFile(const char* path) {
    RegularFile file;
    struct stat status {};
    if (stat(path, &status) != 0) {
        file.refusal = FileRefusal::NotFound;
        file.error = errno;
        return file;
    }
    if (!S_ISREG(status.st_mode)) {
        file.refusal = FileRefusal::NotRegular;
        return file;
    }
    FILE* stream = fopen(path, "rb");
    if (stream == nullptr) {
        file.refusal = FileRefusal::NotOpened;
        file.error = errno;
        return file;
    }
    if (fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode)) {
        fclose(stream);
        file.refusal = FileRefusal::NotRegularWhenOpened;
        return file;
    }
    file.stream = stream;
    file.size = static_cast<uint64_t>(status.st_size);
    return file;
}

}  // namespace tarnix

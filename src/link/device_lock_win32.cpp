// Windows has no lock files to agree on: CreateFile with share mode 0 opens a COM port for one
// handle only, and every other program is refused while we hold it (com_port_win32.cpp).

#include "device_lock.h"

namespace tarnix {

std::string SystemLockDirectory() {
    return "";
}

DeviceLockResult TakeDeviceLock(const std::string& /*devicePath*/, const std::string& /*lockDir*/) {
    return {};
}

void ReleaseDeviceLock(DeviceLock* lock) {
    for (char* file : lock->files) {
        file[0] = '\0';
    }
}

}  // namespace tarnix

#include "run_update.h"

#include <sys/stat.h>

#include <cstdio>

#include "com_port.h"
#include "command_line.h"
#include "framing.h"
#include "open_file_dialog.h"
#include "port_choice.h"
#include "transfer.h"

namespace {

constexpr long LINE_BAUD_RATE = 115200;

void PrintBanner() {
    printf("\n");
    printf("Tarnix Version 1.1                             %s\n", __DATE__);
    printf("Copyright (c) Kelvra GmbH. All rights reserved.\n");
    printf("\n");
}

// A directory opens in "rb" on some systems, and reading it fails later; refuse it here.
FILE* OpenUpdateFile(const char* fileName, uint32_t* size) {
    FILE* stream = fopen(fileName, "rb");
    struct stat status {};
    if (stream != nullptr && (fstat(fileno(stream), &status) != 0 || S_ISDIR(status.st_mode))) {
        fclose(stream);
        stream = nullptr;
    }
    if (stream == nullptr) {
        printf("The file '%s' was not opened\n", fileName);
        return nullptr;
    }
    // The module protocol counts in 32 bits.
    *size = static_cast<uint32_t>(status.st_size);
    return stream;
}

bool TransferFile(const RunSettings& settings) {
    PurgeComInput();
    UpdateSource source;
    source.fileName = settings.fileName.c_str();
    source.stream = OpenUpdateFile(source.fileName, &source.size);
    if (source.stream == nullptr) {
        return false;
    }
    bool completed = settings.progMode == PROG_MODE_LINES ? TransferLines(source, settings.modNr)
                                                          : TransferRecords(source, settings.modNr);
    fclose(source.stream);
    return completed;
}

// Whatever happened after the port was opened, the module is released and the port closed.
int UpdateOnOpenPort(const RunSettings& settings) {
    bool completed = !settings.fileName.empty() && TransferFile(settings);
    SendCommand(CMD_FINISH, settings.modNr);
    CloseComPort();
    return completed ? EXIT_UPDATE_COMPLETED : EXIT_UPDATE_NOT_DONE;
}

void WaitForKey() {
    printf("\n Press any key to exit.\n");
    fflush(stdout);
    getchar();
}

}  // namespace

int RunUpdateProgram(int argc, const char* const* argv) {
    PrintBanner();
    RunSettings settings = ParseArguments(argc, argv, ComDevicePathsSupported());
    if (settings.askForFile) {
        settings.fileName = ShowOpenFileDialog("Kelvra Tarnix - Open UPD-File", "*.upd");
    }
    int status = EXIT_PORT_NOT_OPENED;
    if (OpenChosenPort(settings.port, LINE_BAUD_RATE) < 0) {
        printf("COM port not opened !\n");
    } else {
        status = UpdateOnOpenPort(settings);
    }
    WaitForKey();
    return status;
}

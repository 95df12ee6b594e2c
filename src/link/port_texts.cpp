#include "port_texts.h"

#include <cstdio>
#include <string>

namespace tarnix {

namespace {

void PrintPortNote(const PortNote& note) {
    switch (note.kind) {
        case PortNoteKind::NotOpen:
            printf("COM port not opened !\n");
            break;
        case PortNoteKind::StepFailed:
            printf("%s failed with error %d.\n", note.call, note.error);
            break;
        case PortNoteKind::TimedOut:
            printf("TIMEOUT !!!\n");
            break;
        case PortNoteKind::ReadFailed:
            printf("Read on COM-port failed with error %d.\n", note.error);
            break;
    }
}

// The next step after a network port could not be opened.
const char* NetworkOpenHint(const PortOpenFailure& failure) {
    if (failure.error == 0) {
        return "";  // the server answered: the reason says what was wrong
    }
    if (failure.reason.rfind("look up ", 0) == 0) {
        return " (is the host name right?)";
    }
    return " (is the server running, and is this its port? a firewall in between?)";
}

}  // namespace

void PrintPortNotes(const PortNotes& notes) {
    for (const PortNote& note : notes) {
        PrintPortNote(note);
    }
}

void PrintPortOpened(const Port& port) {
    printf("Opened %s with %li Baud succesfully !\n", port.name.c_str(), port.line.baud);
}

void PrintOpenNotices(const PortOpening& opening) {
    if (opening.notices.empty()) {
        return;
    }
    fflush(stdout);
    for (const std::string& notice : opening.notices) {
        fprintf(stderr, "%s\n", notice.c_str());
    }
}

void PrintOpenFailure(const PortOpenFailure& failure) {
    switch (failure.kind) {
        case OpenFailureKind::Device:
            ShowOpenFailure("COM open failed", failure.error, failure.attempt);
            return;
        case OpenFailureKind::Step:
            printf("%s failed with error %d.\n", failure.call, failure.error);
            return;
        case OpenFailureKind::Network:
            fflush(stdout);
            fprintf(stderr, "COM open failed: %s: %s%s\n", failure.name.c_str(),
                    failure.reason.c_str(), NetworkOpenHint(failure));
            return;
        case OpenFailureKind::Lookup:
            fflush(stdout);
            fprintf(stderr, "COM open failed: %s: %s\n", failure.name.c_str(),
                    failure.reason.c_str());
            return;
    }
}

}  // namespace tarnix

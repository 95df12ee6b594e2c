#pragma once
// The port's console texts, the same for every program and platform: the programs print them
// where the port has something to say. The texts are part of the interface and name the Win32
// calls ("TransmitCommChar failed with error %d.") on every platform; scripts read them.

#include "port.h"

namespace tarnix {

// Each note on standard output, in order: "COM port not opened !", "<call> failed with error
// <n>.", "TIMEOUT !!!", "Read on COM-port failed with error <n>.".
void PrintPortNotes(const PortNotes& notes);

// "Opened <name> with <rate> Baud succesfully !"
void PrintPortOpened(const Port& port);

// What the open had to say besides its outcome, each on standard error (a stale lock file
// replaced, a lock directory that cannot be written); print them before the outcome.
void PrintOpenNotices(const PortOpening& opening);

// Why a port could not be opened: a device through the "COM open failed" box (POSIX: one line
// on standard error with the next step to take), a failed preparing step on standard output,
// a network port or a usb: name on standard error with the port and the reason.
void PrintOpenFailure(const PortOpenFailure& failure);

}  // namespace tarnix

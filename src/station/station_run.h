#pragma once
// The station's run: the file checked, the journal opened, the server started, then the slots
// watched until a stop request or --units: each new unit updated once, on the record.

#include "station_cli.h"

namespace tarnix {

// Runs the station as the command line asks and returns the exit status.
int RunStation(const StationCommandLine& commandLine);

}  // namespace tarnix

#pragma once
// The station on its console: on a terminal one live line per slot and a total line, redrawn
// in place; otherwise one line per unit as it ends. Pure texts; the loop prints them.

#include <string>

#include "station_board.h"

namespace tarnix {

// "/dev/serial/by-id/usb-*   unit 12 /dev/ttyUSB0  42 %  updating  3.1 s, about 4 s left".
std::string SlotLine(const SlotView& slot);

// "total: 10 completed, 1 failed, 2 updating, 120.0 units per hour".
std::string TotalLine(const BoardSnapshot& snapshot);

// "unit 12  /dev/ttyUSB0  failed: the Data command ... (exit 1, 4.2 s)".
std::string UnitEndLine(long unit, const std::string& port, const std::string& outcome,
                        const std::string& reason, int exitStatus, double seconds);

}  // namespace tarnix

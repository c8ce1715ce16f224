// Line settings (baud rate, data bits, parity, stop bits) to and from the terminal's settings,
// in the numbering of the Windows device-control block that the port's callers use.
//
// Kept apart from the port so the conversion can be checked on its own: pseudo-terminals
// (what tests open) keep the baud rate and stop bits but force 8 data bits and no parity.
#pragma once

#include <termios.h>

namespace zuz {

struct LineSettings {
    long baudRate = 9600;  // a standard rate, 50 to 4000000
    int dataBits = 8;      // 5 to 8
    int parity = 0;        // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0;      // 0 one, 1 one and a half, 2 two
};

// Writes `line` into `settings`: speed both ways, character size, parity (checking on exactly
// when parity is not none), stop bits (1 and 2 both become the long stop, which the UART
// makes 1.5 bits with 5 data bits and 2 otherwise). Nothing else changes. Returns false,
// changing nothing, when a value is outside the ranges above.
bool ApplyLineSettings(const LineSettings& line, termios* settings);

// Reads the line settings back. Baud rate -1 when the speed is not a standard one; parity 0
// when checking is off; stop bits 0 or 2.
LineSettings LineSettingsOf(const termios& settings);

}  // namespace zuz

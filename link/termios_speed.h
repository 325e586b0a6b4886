// The termios speed constant of a baud rate (B115200 for 115200), for the POSIX serial port
// and for the simulated phone's side of a pseudo-terminal; B0 for a rate termios has no
// constant for. Defined by the POSIX serial port only.
#pragma once

namespace zolt {

// speed_t, without making every includer include termios.h.
unsigned TermiosSpeed(int baud);

}  // namespace zolt

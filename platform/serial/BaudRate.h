#pragma once

// Baud rates without a B constant of termios (a terminal set to 14400 or
// 250000): set through the termios2 interface, which takes the rate as a
// number. Kept apart from the termios code because the two interfaces'
// headers cannot be included together.

namespace serial {

// Sets both directions of the open port `fd` to `baud` bits per second.
// False when the driver refuses it.
bool setBaudRateByNumber(int fd, int baud);

// The output rate the port's driver reports (-1 when it cannot be read).
int baudRateOf(int fd);

} // namespace serial

#pragma once
// Bit rates that have no Bxxx constant, set and read through the kernel's termios2 interface.
// Kept apart because <asm/termbits.h> and <termios.h> cannot meet in one file.

#include <cstdint>

namespace Serial {

// Sets input and output rate of the open tty Fd to Rate bits per second; false with errno set.
bool SetCustomBaudRate(int Fd, uint32_t Rate);
// The output rate of the tty Fd as the kernel reports it, 0 when it cannot be read.
uint32_t ReadBaudRate(int Fd);

}  // namespace Serial

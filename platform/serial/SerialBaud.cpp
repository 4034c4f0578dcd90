#include "platform/serial/SerialBaud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace Serial {

bool SetCustomBaudRate(int Fd, uint32_t Rate) {
    struct termios2 settings {};
    if (ioctl(Fd, TCGETS2, &settings) != 0) return false;
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ospeed = Rate;
    settings.c_ispeed = Rate;
    return ioctl(Fd, TCSETS2, &settings) == 0;
}

uint32_t ReadBaudRate(int Fd) {
    struct termios2 settings {};
    if (ioctl(Fd, TCGETS2, &settings) != 0) return 0;
    return settings.c_ospeed;
}

}  // namespace Serial

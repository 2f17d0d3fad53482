// Only the kernel's termios definitions are visible here; glibc's <termios.h> must stay out.
#include "serial_kernel.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

namespace tarvane {

bool SetCustomBaudRate(int fd, int rate) {
  if (rate <= 0) return false;
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
  tio.c_cflag |= BOTHER;
  // Input speed equal to output speed: clear the separate input rate field.
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD << IBSHIFT);
  tio.c_cflag |= BOTHER << IBSHIFT;
  tio.c_ispeed = static_cast<speed_t>(rate);
  tio.c_ospeed = static_cast<speed_t>(rate);
  return ioctl(fd, TCSETS2, &tio) == 0;
}

int GetOutputBaudRate(int fd) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return -1;
  return static_cast<int>(tio.c_ospeed);
}

bool GetLineErrorCount(int fd, long long& count) {
  serial_icounter_struct icount {};
  if (ioctl(fd, TIOCGICOUNT, &icount) != 0) return false;
  count = static_cast<long long>(icount.frame) + icount.parity + icount.overrun + icount.buf_overrun +
          icount.brk;
  return true;
}

}  // namespace tarvane

// serial_kernel: the few tty requests that glibc's <termios.h> does not offer: arbitrary baud rates
// (termios2 with BOTHER) and the driver's line-error counters. Kept apart because the kernel's
// termios headers clash with glibc's; this header includes neither. Stateless, safe from any thread.
#pragma once

namespace tarvane {

// Sets input and output speed of an open tty to `rate` bits per second through TCSETS2/BOTHER,
// leaving every other setting alone. False when the driver refuses.
bool SetCustomBaudRate(int fd, int rate);

// The output speed as the kernel reports it (TCGETS2), or -1.
int GetOutputBaudRate(int fd);

// The sum of the framing, parity, overrun, buffer-overrun and break counters (TIOCGICOUNT);
// false when the driver keeps no counters (pseudo-terminals, many USB adapters).
bool GetLineErrorCount(int fd, long long& count);

}  // namespace tarvane

#include "serial_termios.h"

namespace tarvane {

namespace {

struct SpeedEntry {
  int rate;
  speed_t code;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

}  // namespace

speed_t StandardSpeed(int rate) {
  for (const SpeedEntry& e : kSpeeds) {
    if (e.rate == rate) return e.code;
  }
  return B0;
}

bool MakeRawTermios(termios& t, const TLineSettings& s, bool& custom_rate) {
  if (s.BaudRate <= 0 || s.DataBits < 5 || s.DataBits > 8 || s.Parity < 0 || s.Parity > 4 ||
      s.StopBits < 0 || s.StopBits > 2) {
    return false;
  }
  cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IGNPAR | IGNCR | INLCR | ICRNL);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  // HUPCL lowers DTR and RTS at the last close, so a line used as PTT is never left keyed.
  t.c_cflag |= CREAD | CLOCAL | HUPCL;
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[s.DataBits - 5];
  switch (s.Parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;  // parity bit always 1
    case 4: t.c_cflag |= PARENB | CMSPAR; break;           // parity bit always 0
    default: break;
  }
  // The UART sends one and a half stop bits for CSTOPB with 5 data bits, and two otherwise.
  if (s.StopBits != 0) t.c_cflag |= CSTOPB;
  if (s.CtsFlow) t.c_cflag |= CRTSCTS;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;

  const speed_t code = StandardSpeed(s.BaudRate);
  custom_rate = code == B0;
  // A custom rate is set afterwards; meanwhile any valid speed keeps tcsetattr content.
  const speed_t applied = custom_rate ? B38400 : code;
  cfsetispeed(&t, applied);
  cfsetospeed(&t, applied);
  return true;
}

}  // namespace tarvane

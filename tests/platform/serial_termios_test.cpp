#include <gtest/gtest.h>

#include "serial_termios.h"

namespace {

using tarvane::MakeRawTermios;
using tarvane::TLineSettings;

termios Make(const TLineSettings& s, bool* custom = nullptr) {
  termios t {};
  t.c_iflag = IXON | IXOFF | ICRNL | INPCK;
  t.c_oflag = OPOST | ONLCR;
  t.c_lflag = ICANON | ECHO | ISIG;
  bool c = false;
  EXPECT_TRUE(MakeRawTermios(t, s, c));
  if (custom) *custom = c;
  return t;
}

// Pseudo-terminals force 8 bits and no parity, so the mapping itself is checked here.
TEST(SerialTermios, ParityAndDataBits) {
  TLineSettings s;
  struct Case {
    int parity;
    tcflag_t expected;
  } cases[] = {{0, 0},
               {1, PARENB | PARODD},
               {2, PARENB},
               {3, PARENB | CMSPAR | PARODD},
               {4, PARENB | CMSPAR}};
  for (const Case& c : cases) {
    s.Parity = c.parity;
    EXPECT_EQ(Make(s).c_cflag & (PARENB | PARODD | CMSPAR), c.expected) << c.parity;
  }
  const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  for (int bits = 5; bits <= 8; ++bits) {
    s.DataBits = bits;
    EXPECT_EQ(Make(s).c_cflag & CSIZE, sizes[bits - 5]) << bits;
  }
}

TEST(SerialTermios, RawModeAndFlowControl) {
  TLineSettings s;
  termios t = Make(s);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  s.CtsFlow = true;
  s.StopBits = 2;
  t = Make(s);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
}

TEST(SerialTermios, RatesWithoutConstantAreCustom) {
  TLineSettings s;
  bool custom = true;
  for (int rate : {110, 300, 1200, 9600, 19200, 38400, 57600, 115200}) {
    s.BaudRate = rate;
    Make(s, &custom);
    EXPECT_FALSE(custom) << rate;
  }
  for (int rate : {14400, 56000, 128000, 256000, 12345}) {
    s.BaudRate = rate;
    Make(s, &custom);
    EXPECT_TRUE(custom) << rate;
  }
}

TEST(SerialTermios, OutOfRangeSettingsAreRefused) {
  termios t {};
  bool custom = false;
  const TLineSettings good;
  for (auto bad : {+[](TLineSettings& s) { s.BaudRate = 0; }, +[](TLineSettings& s) { s.Parity = 5; },
                   +[](TLineSettings& s) { s.Parity = -1; }, +[](TLineSettings& s) { s.StopBits = 3; },
                   +[](TLineSettings& s) { s.DataBits = 9; }}) {
    TLineSettings s = good;
    bad(s);
    EXPECT_FALSE(MakeRawTermios(t, s, custom));
  }
}

}  // namespace

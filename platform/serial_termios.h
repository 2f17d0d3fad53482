// serial_termios: turns a port's line settings into a raw-mode termios. Pure functions, no state.
//
// Raw mode means every byte passes unchanged both ways: no software flow control (0x11 and 0x13 are
// data), no CR/LF translation, no echo, no signals, no input parity checking (the bytes are delivered
// as received). CLOCAL makes the port ignore the carrier line.
#pragma once

#include <termios.h>

namespace tarvane {

struct TLineSettings {
  int BaudRate = 19200;
  int DataBits = 8;       // 5..8
  int Parity = 0;         // 0 none, 1 odd, 2 even, 3 mark, 4 space
  int StopBits = 0;       // 0 one, 1 one and a half, 2 two
  bool CtsFlow = false;   // hardware handshake: RTS/CTS
};

// The B-constant for a standard rate, or B0 when the rate has none (then it is set separately
// through SetCustomBaudRate).
speed_t StandardSpeed(int rate);

// Fills `t` (starting from the device's current settings) for raw use with `s`. Sets `custom_rate`
// when the rate has no B-constant. False when a setting is out of range or the rate is 0.
bool MakeRawTermios(termios& t, const TLineSettings& s, bool& custom_rate);

}  // namespace tarvane

// Settings of the server's two rigs (TRigSettings), their defaults and limits, the texts the
// dialog shows for each index, and reading and writing the sections [RIG1] and [RIG2] of the
// settings file. Values read from the file are brought into range here, so an edited or damaged
// file can never index past a table. Plain data and functions; no shared state.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "ini_file.h"
#include "log_file.h"

namespace tarvane {

struct TRigSettings {
  int32_t RigType = 0;   // index into the rig-type list (0 = "NONE")
  int32_t Port = 0;      // port number
  int32_t BaudRate = 6;  // index into kBaudTable
  int32_t DataBits = 3;  // 0..3 for 5..8 bits
  int32_t Parity = 0;    // 0 None, 1 Odd, 2 Even, 3 Mark, 4 Space
  int32_t StopBits = 0;  // 0 "1", 1 "1.5", 2 "2"
  int32_t RtsMode = 0;   // 0 Low, 1 High, 2 Handshake
  int32_t DtrMode = 0;   // 0 Low, 1 High
  int32_t PollMs = 500;
  int32_t TimeoutMs = 4000;
  // The serial device by path ("/dev/serial/by-id/...", "/dev/ttyUSB0"); when set it is used
  // instead of the port number, which counts devices and so changes when one is plugged in.
  // Kept in the key Port in place of the number.
  std::string Device;
  bool operator==(const TRigSettings&) const = default;
};

inline constexpr std::array<int32_t, 15> kBaudTable = {110,   300,   600,   1200,   2400,
                                                       4800,  9600,  14400, 19200,  38400,
                                                       56000, 57600, 115200, 128000, 256000};
inline constexpr std::array<const char*, 4> kDataBitsTexts = {"5", "6", "7", "8"};
inline constexpr std::array<const char*, 5> kParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
inline constexpr std::array<const char*, 3> kStopBitsTexts = {"1", "1.5", "2"};
inline constexpr std::array<const char*, 3> kRtsTexts = {"Low", "High", "Handshake"};
inline constexpr std::array<const char*, 2> kDtrTexts = {"Low", "High"};
// The limits of the dialog's spin edits.
inline constexpr int32_t kPollMin = 100, kPollMax = 2000;
inline constexpr int32_t kTimeoutMin = 100, kTimeoutMax = 4000;

// "RIG1" or "RIG2".
std::string SettingsSection(int rigNumber);
// The defaults: port 0 for rig 1 and 1 for rig 2.
TRigSettings DefaultSettings(int rigNumber);

// Reads one rig's section. `typeIndex` gives the position of a rig-type name in the list
// (-1 when absent). Values out of range are replaced with an error line in the log: a rig type
// not in the list by "NONE", indexes by their defaults, poll and time-out by the nearest limit.
// `rejectedFile` gives the path of a rig file of that name that was found but not loaded for its
// errors ("" when there is none), so that the log line can name it.
TRigSettings LoadRigSettings(const TIniFile& ini, int rigNumber,
                             const std::function<int(const std::string&)>& typeIndex,
                             const TLogProc& log,
                             const std::function<std::string(const std::string&)>& rejectedFile = {});
// Erases the section and writes all ten keys (the rig type by name).
void SaveRigSettings(TIniFile& ini, int rigNumber, const TRigSettings& s, const std::string& typeName);

// "Rig=%s|Port=COM%d|Baud=%s|Data=%s|Parity=%s|Stop=%s|RTS=%s|Dtr=%s|Poll=%d|Timeout=%d", with
// the device path in place of "COM%d" when the settings name one.
std::string SettingsText(const TRigSettings& s, const std::string& typeName);

}  // namespace tarvane

// Enumerations and names of the Tarvane bus interface, shared by the server and its clients.
// RigParamX: bit n stands for rig parameter n; a set of parameters is the OR of its bits.
// RigStatusX: the status of one rig. Plain constants; safe from any thread.
#pragma once

#include <cstdint>

namespace tarvane {

enum RigParamX : int32_t {
  PM_UNKNOWN = 1,
  PM_FREQ = 2,
  PM_FREQA = 4,
  PM_FREQB = 8,
  PM_PITCH = 16,
  PM_RITOFFSET = 32,
  PM_RIT0 = 64,
  PM_VFOAA = 128,
  PM_VFOAB = 256,
  PM_VFOBA = 512,
  PM_VFOBB = 1024,
  PM_VFOA = 2048,
  PM_VFOB = 4096,
  PM_VFOEQUAL = 8192,
  PM_VFOSWAP = 16384,
  PM_SPLITON = 32768,
  PM_SPLITOFF = 65536,
  PM_RITON = 131072,
  PM_RITOFF = 262144,
  PM_XITON = 524288,
  PM_XITOFF = 1048576,
  PM_RX = 2097152,
  PM_TX = 4194304,
  PM_CW_U = 8388608,
  PM_CW_L = 16777216,
  PM_SSB_U = 33554432,
  PM_SSB_L = 67108864,
  PM_DIG_U = 134217728,
  PM_DIG_L = 268435456,
  PM_AM = 536870912,
  PM_FM = 1073741824,
};

enum RigStatusX : int32_t {
  ST_NOTCONFIGURED = 0,
  ST_DISABLED = 1,
  ST_PORTBUSY = 2,
  ST_NOTRESPONDING = 3,
  ST_ONLINE = 4,
};

// Reported by ITarvaneX.InterfaceVersion.
inline constexpr int32_t kInterfaceVersion = 257;

// Bus names, paths and interfaces.
inline constexpr const char* kBusName = "org.tarvane.TarvaneX";
inline constexpr const char* kFactoryPath = "/TarvaneX";
inline constexpr const char* kFactoryInterface = "org.tarvane.ITarvaneXFactory";
inline constexpr const char* kTarvaneXInterface = "org.tarvane.ITarvaneX";
inline constexpr const char* kEventsInterface = "org.tarvane.ITarvaneXEvents";
inline constexpr const char* kRigInterface = "org.tarvane.IRigX";
inline constexpr const char* kPortBitsInterface = "org.tarvane.IPortBits";

// Error replies: the name carries the result code's symbol, the message starts with its value.
inline constexpr const char* kErrorUnexpected = "org.tarvane.Error.E_UNEXPECTED";
inline constexpr const char* kErrorInvalidArg = "org.tarvane.Error.E_INVALIDARG";
inline constexpr uint32_t kResultUnexpected = 0x8000FFFFu;
inline constexpr uint32_t kResultInvalidArg = 0x80070057u;

}  // namespace tarvane

// ServerRig: one of the server's two rigs as the main window configures and drives it: the bus
// side (RigLink) plus enabling, the rig type's command set, the port settings, poll and
// time-out, and the 100 ms tick. The real one wraps the rig engine; tests use a fake.
// Main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "rig_link.h"

namespace tarvane {

class TRigCommands;

struct TPortSettings {
  int32_t Port = 1;
  int32_t BaudRate = 19200;  // in baud
  int32_t DataBits = 8;      // 5..8
  int32_t Parity = 0;
  int32_t StopBits = 0;
  int32_t DtrMode = 0;
  int32_t RtsMode = 0;
  std::string Device;  // a device path used instead of Port when not empty
};

class ServerRig : public RigLink {
 public:
  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool value) = 0;
  // Sets the rig type (nullptr for "NONE"); the rig announces the change to the clients.
  virtual void SetRigCommands(const TRigCommands* commands) = 0;
  virtual const TRigCommands* RigCommands() const = 0;
  virtual void SetPortSettings(const TPortSettings& settings) = 0;
  virtual TPortSettings PortSettings() const = 0;
  virtual void SetPollMs(int32_t ms) = 0;
  virtual void SetTimeoutMs(int32_t ms) = 0;
  virtual int32_t PollMs() const = 0;
  virtual int32_t TimeoutMs() const = 0;
  virtual void TimerTick() = 0;
};

}  // namespace tarvane

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace tarvane {

// Tests point the numbered serial ports at folders of their own (with links to pseudo-terminals).
inline constexpr const char* kDevRootVariable = "TARVANE_DEV_ROOT";
inline constexpr const char* kSysRootVariable = "TARVANE_SYS_ROOT";
inline std::string SerialDevRoot() {
  const char* dev = std::getenv(kDevRootVariable);
  return dev && *dev ? dev : "/dev";
}
inline std::string SerialSysRoot() {
  const char* sys = std::getenv(kSysRootVariable);
  return sys && *sys ? sys : "/sys";
}

// Where a rig reports to the bus objects. Set by the program once the server object exists;
// empty functions drop the reports. The rig calls them from the main loop: RigTypeChange at
// once from SetRigCommands, the others as posted notices, never inside the call that caused them.
struct TRigEvents {
  std::function<void(int rigNumber)> RigTypeChange;
  std::function<void(int rigNumber)> StatusChange;
  std::function<void(int rigNumber, int32_t params)> ParamsChange;
  // The reply to a client's custom command: stored in that client, then sent to it.
  std::function<void(int rigNumber, uint64_t client, const Bytes& command, const Bytes& reply)>
      CustomReply;
};

// Makes rig 1 or 2; `log` writes to the server log, `events` outlives the rig.
using TRigFactory = std::function<std::unique_ptr<ServerRig>(
    int rigNumber, std::function<void(const std::string&)> log, TRigEvents& events)>;

}  // namespace tarvane

// RigLink: what the bus objects need of one rig engine and its serial port. The server wraps each
// of its two rig engines in one; tests use a recording fake. Called on the main thread only;
// Mutex() is the engine's own re-entrant lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "rig_types.h"

namespace tarvane {

using Bytes = std::vector<uint8_t>;

class RigLink {
 public:
  virtual ~RigLink() = default;

  virtual int RigNumber() const = 0;
  virtual bool HasRigType() const = 0;
  virtual std::string RigTypeName() const = 0;  // "NONE" without a rig type
  virtual int32_t ReadableParams() const = 0;   // RigParamX bits; 0 without a rig type
  virtual int32_t WriteableParams() const = 0;
  virtual int Status() = 0;                     // RigStatusX
  virtual std::string StatusStr() = 0;

  // Stored values from the last status replies; no traffic with the radio.
  virtual int32_t Freq() const = 0;
  virtual int32_t FreqA() const = 0;
  virtual int32_t FreqB() const = 0;
  virtual int32_t RitOffset() const = 0;
  virtual int32_t Pitch() const = 0;
  virtual TRigParam Vfo() const = 0;
  virtual TRigParam Rit() const = 0;
  virtual TRigParam Xit() const = 0;
  virtual TRigParam Tx() const = 0;
  virtual TRigParam Mode() const = 0;
  virtual TRigParam GetSplit() const = 0;

  // Each setter queues a write and returns at once; out-of-group parameters are ignored.
  virtual void SetFreq(int32_t value) = 0;
  virtual void SetFreqA(int32_t value) = 0;
  virtual void SetFreqB(int32_t value) = 0;
  virtual void SetRitOffset(int32_t value) = 0;
  virtual void SetPitch(int32_t value) = 0;
  virtual void SetVfo(TRigParam param) = 0;
  virtual void SetSplit(TRigParam param) = 0;
  virtual void SetRit(TRigParam param) = 0;
  virtual void SetXit(TRigParam param) = 0;
  virtual void SetTx(TRigParam param) = 0;
  virtual void SetMode(TRigParam param) = 0;
  // Queues the write of pmRit0 (clear the RIT offset).
  virtual void ClearRit() = 0;

  // Queues a custom command for the client with this id; an empty code sends nothing. False
  // when the code is refused because the port could never send it within the time-out.
  virtual bool AddCustomCommand(uint64_t sender, const Bytes& code, const Bytes& replyEnd,
                                int32_t replyLength) = 0;

  virtual std::recursive_mutex& Mutex() = 0;

  // Modem lines of the rig's port.
  virtual bool Cts() = 0;
  virtual bool Dsr() = 0;
  virtual bool Dtr() = 0;
  virtual bool Rts() = 0;
  virtual void SetDtr(bool level) = 0;
  virtual void SetRts(bool level) = 0;
};

}  // namespace tarvane

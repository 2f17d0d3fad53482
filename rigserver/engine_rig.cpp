#include "engine_rig.h"

#include "rig_commands.h"

namespace tarvane {

namespace {

// Holds the configuration of a rig; talks to no radio.
class IdleRig : public ServerRig {
 public:
  IdleRig(int number, TRigEvents& events) : number_(number), events_(events) {}

  int RigNumber() const override { return number_; }
  bool HasRigType() const override { return commands_ != nullptr; }
  std::string RigTypeName() const override { return commands_ ? commands_->RigType : "NONE"; }
  int32_t ReadableParams() const override { return 0; }
  int32_t WriteableParams() const override { return 0; }
  int Status() override { return !commands_ ? 0 : !enabled_ ? 1 : 2; }
  std::string StatusStr() override {
    return !commands_ ? "Rig is not configured" : !enabled_ ? "Rig is disabled" : "Port is not available";
  }
  int32_t Freq() const override { return 0; }
  int32_t FreqA() const override { return 0; }
  int32_t FreqB() const override { return 0; }
  int32_t RitOffset() const override { return 0; }
  int32_t Pitch() const override { return 0; }
  TRigParam Vfo() const override { return pmNone; }
  TRigParam Rit() const override { return pmNone; }
  TRigParam Xit() const override { return pmNone; }
  TRigParam Tx() const override { return pmNone; }
  TRigParam Mode() const override { return pmNone; }
  TRigParam GetSplit() const override { return pmNone; }
  void SetFreq(int32_t) override {}
  void SetFreqA(int32_t) override {}
  void SetFreqB(int32_t) override {}
  void SetRitOffset(int32_t) override {}
  void SetPitch(int32_t) override {}
  void SetVfo(TRigParam) override {}
  void SetSplit(TRigParam) override {}
  void SetRit(TRigParam) override {}
  void SetXit(TRigParam) override {}
  void SetTx(TRigParam) override {}
  void SetMode(TRigParam) override {}
  void AddCustomCommand(uint64_t, const Bytes&, const Bytes&, int32_t) override {}
  std::recursive_mutex& Mutex() override { return mutex_; }
  bool Cts() override { return false; }
  bool Dsr() override { return false; }
  bool Dtr() override { return false; }
  bool Rts() override { return false; }
  void SetDtr(bool) override {}
  void SetRts(bool) override {}

  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool value) override {
    if (value == enabled_ || (value && !commands_)) return;
    enabled_ = value;
    if (events_.StatusChange) events_.StatusChange(number_);
  }
  void SetRigCommands(const TRigCommands* commands) override {
    commands_ = commands;
    if (events_.RigTypeChange) events_.RigTypeChange(number_);
    if (events_.StatusChange) events_.StatusChange(number_);
  }
  const TRigCommands* RigCommands() const override { return commands_; }
  void SetPortSettings(const TPortSettings& settings) override { port_ = settings; }
  TPortSettings PortSettings() const override { return port_; }
  void SetPollMs(int32_t ms) override { poll_ = ms; }
  void SetTimeoutMs(int32_t ms) override { timeout_ = ms; }
  int32_t PollMs() const override { return poll_; }
  int32_t TimeoutMs() const override { return timeout_; }
  void TimerTick() override {}

 private:
  int number_;
  TRigEvents& events_;
  const TRigCommands* commands_ = nullptr;
  bool enabled_ = false;
  TPortSettings port_;
  int32_t poll_ = 500, timeout_ = 4000;
  std::recursive_mutex mutex_;
};

}  // namespace

std::unique_ptr<ServerRig> MakeEngineRig(int rigNumber, std::function<void(const std::string&)>,
                                         TRigEvents& events) {
  return std::make_unique<IdleRig>(rigNumber, events);
}

}  // namespace tarvane

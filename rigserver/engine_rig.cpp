#include "engine_rig.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <cstdlib>

#include "rig.h"

namespace tarvane {

namespace {

// Where numbered ports are looked for: /dev and /sys, or the folders a test names.
void ApplyDeviceRoots(TAlCommPort& port) { port.SetDeviceRoots(SerialDevRoot(), SerialSysRoot()); }

// The rig engine of one rig. Its posted tasks run from the Qt event loop of the main thread;
// tasks still queued when the rig goes are dropped with its context object.
class EngineRig : public ServerRig {
 public:
  EngineRig(int number, std::function<void(const std::string&)> log, TRigEvents& events)
      : events_(events) {
    rig_.SetRigNumber(number);
    rig_.SetLog(std::move(log));
    QObject* context = &context_;
    rig_.SetDispatcher([context](std::function<void()> task) {
      QMetaObject::invokeMethod(context, std::move(task), Qt::QueuedConnection);
    });
    rig_.OnRigTypeChange = [this](int n) {
      if (events_.RigTypeChange) events_.RigTypeChange(n);
    };
    rig_.OnStatusChange = [this](int n) {
      if (events_.StatusChange) events_.StatusChange(n);
    };
    rig_.OnParamsChange = [this](int n, int32_t params) {
      if (events_.ParamsChange) events_.ParamsChange(n, params);
    };
    rig_.OnCustomReply = [this](int n, TCustomSender sender, const TByteArray& command,
                                const TByteArray& reply) {
      if (events_.CustomReply) events_.CustomReply(n, sender, command, reply);
    };
    ApplyDeviceRoots(rig_.Port());
  }

  int RigNumber() const override { return rig_.RigNumber(); }
  bool HasRigType() const override { return rig_.Commands() != nullptr; }
  std::string RigTypeName() const override {
    return rig_.Commands() ? rig_.Commands()->RigType : std::string("NONE");
  }
  int32_t ReadableParams() const override {
    return rig_.Commands() ? int32_t(rig_.Commands()->ReadableParams.Bits()) : 0;
  }
  int32_t WriteableParams() const override {
    return rig_.Commands() ? int32_t(rig_.Commands()->WriteableParams.Bits()) : 0;
  }
  int Status() override { return rig_.GetStatus(); }
  std::string StatusStr() override { return rig_.GetStatusStr(); }

  int32_t Freq() const override { return rig_.Freq(); }
  int32_t FreqA() const override { return rig_.FreqA(); }
  int32_t FreqB() const override { return rig_.FreqB(); }
  int32_t RitOffset() const override { return rig_.RitOffset(); }
  int32_t Pitch() const override { return rig_.Pitch(); }
  TRigParam Vfo() const override { return rig_.Vfo(); }
  TRigParam Rit() const override { return rig_.Rit(); }
  TRigParam Xit() const override { return rig_.Xit(); }
  TRigParam Tx() const override { return rig_.Tx(); }
  TRigParam Mode() const override { return rig_.Mode(); }
  TRigParam GetSplit() const override { return rig_.GetSplit(); }

  void SetFreq(int32_t v) override { rig_.SetFreq(v); }
  void SetFreqA(int32_t v) override { rig_.SetFreqA(v); }
  void SetFreqB(int32_t v) override { rig_.SetFreqB(v); }
  void SetRitOffset(int32_t v) override { rig_.SetRitOffset(v); }
  void SetPitch(int32_t v) override { rig_.SetPitch(v); }
  void SetVfo(TRigParam p) override { rig_.SetVfo(p); }
  void SetSplit(TRigParam p) override { rig_.SetSplit(p); }
  void SetRit(TRigParam p) override { rig_.SetRit(p); }
  void SetXit(TRigParam p) override { rig_.SetXit(p); }
  void SetTx(TRigParam p) override { rig_.SetTx(p); }
  void SetMode(TRigParam p) override { rig_.SetMode(p); }
  void ClearRit() override { rig_.ClearRit(); }
  bool AddCustomCommand(uint64_t sender, const Bytes& code, const Bytes& replyEnd,
                        int32_t replyLength) override {
    return rig_.AddCustomCommand(sender, code, replyEnd, replyLength);
  }
  std::recursive_mutex& Mutex() override { return rig_.Lock(); }

  bool Cts() override { return rig_.Port().Cts(); }
  bool Dsr() override { return rig_.Port().Dsr(); }
  bool Dtr() override { return rig_.Port().Dtr(); }
  bool Rts() override { return rig_.Port().Rts(); }
  void SetDtr(bool level) override { rig_.Port().SetDtr(level); }
  void SetRts(bool level) override { rig_.Port().SetRts(level); }

  bool Enabled() const override { return rig_.Enabled(); }
  void SetEnabled(bool value) override { rig_.SetEnabled(value); }
  void SetRigCommands(const TRigCommands* commands) override { rig_.SetRigCommands(commands); }
  const TRigCommands* RigCommands() const override { return rig_.Commands(); }
  void SetPortSettings(const TPortSettings& s) override {
    TAlCommPort& port = rig_.Port();
    port.SetPort(s.Port);
    port.SetDevicePath(s.Device);
    port.SetBaudRate(s.BaudRate);
    port.SetDataBits(s.DataBits);
    port.SetParity(s.Parity);
    port.SetStopBits(s.StopBits);
    port.SetDtrMode(s.DtrMode);
    port.SetRtsMode(s.RtsMode);
  }
  TPortSettings PortSettings() const override {
    const TAlCommPort& port = rig_.Port();
    TPortSettings s;
    s.Port = port.Port();
    s.Device = port.DevicePath();
    s.BaudRate = port.BaudRate();
    s.DataBits = port.DataBits();
    s.Parity = port.Parity();
    s.StopBits = port.StopBits();
    s.DtrMode = port.DtrMode();
    s.RtsMode = port.RtsMode();
    return s;
  }
  void SetPollMs(int32_t ms) override { rig_.SetPollMs(ms); }
  void SetTimeoutMs(int32_t ms) override { rig_.SetTimeoutMs(ms); }
  int32_t PollMs() const override { return rig_.PollMs(); }
  int32_t TimeoutMs() const override { return rig_.TimeoutMs(); }
  void TimerTick() override { rig_.TimerTick(); }

 private:
  TRigEvents& events_;
  QObject context_;  // declared before the rig: destroyed after it
  TRig rig_;
};

}  // namespace

std::unique_ptr<ServerRig> MakeEngineRig(int rigNumber, std::function<void(const std::string&)> log,
                                         TRigEvents& events) {
  return std::make_unique<EngineRig>(rigNumber, std::move(log), events);
}

}  // namespace tarvane

// FakeRig: a RigLink that stores what the tests set and records every write as text
// ("SetFreqA 7000000", "SetVfo 8"), with custom commands as "Custom <sender> <hex>".
#pragma once

#include <string>
#include <vector>

#include "rig_commands.h"
#include "server_rig.h"

namespace tarvane_test {

class FakeRig : public tarvane::ServerRig {
 public:
  explicit FakeRig(int number, tarvane::TRigEvents* events = nullptr) : number_(number), events_(events) {}

  int number_;
  bool hasType = false;
  std::string typeName = "NONE";
  int32_t readable = 0, writeable = 0;
  int status = 0;
  std::string statusStr = "Rig is not configured";
  int32_t freq = 0, freqA = 0, freqB = 0, ritOffset = 0, pitch = 0;
  tarvane::TRigParam vfo = tarvane::pmNone, split = tarvane::pmNone, rit = tarvane::pmNone,
                     xit = tarvane::pmNone, tx = tarvane::pmNone, mode = tarvane::pmNone;
  bool cts = false, dsr = false, dtr = false, rts = false;
  std::vector<std::string> writes;
  std::recursive_mutex mutex;

  void Configure(std::string name, int32_t r, int32_t w) {
    hasType = true;
    typeName = std::move(name);
    readable = r;
    writeable = w;
  }

  int RigNumber() const override { return number_; }
  bool HasRigType() const override { return hasType; }
  std::string RigTypeName() const override { return typeName; }
  int32_t ReadableParams() const override { return readable; }
  int32_t WriteableParams() const override { return writeable; }
  int Status() override { return status; }
  std::string StatusStr() override { return statusStr; }
  int32_t Freq() const override { return freq; }
  int32_t FreqA() const override { return freqA; }
  int32_t FreqB() const override { return freqB; }
  int32_t RitOffset() const override { return ritOffset; }
  int32_t Pitch() const override { return pitch; }
  tarvane::TRigParam Vfo() const override { return vfo; }
  tarvane::TRigParam Rit() const override { return rit; }
  tarvane::TRigParam Xit() const override { return xit; }
  tarvane::TRigParam Tx() const override { return tx; }
  tarvane::TRigParam Mode() const override { return mode; }
  tarvane::TRigParam GetSplit() const override { return split; }

  void Record(const char* what, long long v) { writes.push_back(std::string(what) + " " + std::to_string(v)); }
  void SetFreq(int32_t v) override { Record("SetFreq", v); }
  void SetFreqA(int32_t v) override { Record("SetFreqA", v); }
  void SetFreqB(int32_t v) override { Record("SetFreqB", v); }
  void SetRitOffset(int32_t v) override { Record("SetRitOffset", v); }
  void SetPitch(int32_t v) override { Record("SetPitch", v); }
  void SetVfo(tarvane::TRigParam p) override { Record("SetVfo", p); }
  void SetSplit(tarvane::TRigParam p) override { Record("SetSplit", p); }
  void SetRit(tarvane::TRigParam p) override { Record("SetRit", p); }
  void SetXit(tarvane::TRigParam p) override { Record("SetXit", p); }
  void SetTx(tarvane::TRigParam p) override { Record("SetTx", p); }
  void SetMode(tarvane::TRigParam p) override { Record("SetMode", p); }
  void ClearRit() override { Record("ClearRit", tarvane::pmRit0); }
  bool refuseCustom = false;
  bool AddCustomCommand(uint64_t sender, const tarvane::Bytes& code, const tarvane::Bytes& replyEnd,
                        int32_t replyLength) override {
    std::string hex;
    static const char* digits = "0123456789ABCDEF";
    for (uint8_t b : code) { hex += digits[b >> 4]; hex += digits[b & 15]; }
    std::string end(replyEnd.begin(), replyEnd.end());
    writes.push_back("Custom " + std::to_string(sender) + " " + hex + " " +
                     std::to_string(replyLength) + " [" + end + "]");
    return !refuseCustom;
  }
  std::recursive_mutex& Mutex() override { return mutex; }
  bool Cts() override { return cts; }
  bool Dsr() override { return dsr; }
  bool Dtr() override { return dtr; }
  bool Rts() override { return rts; }
  void SetDtr(bool level) override { dtr = level; }
  void SetRts(bool level) override { rts = level; }

  // The main window's side.
  tarvane::TRigEvents* events_;
  bool enabled = false;
  const tarvane::TRigCommands* commands = nullptr;
  tarvane::TPortSettings port;
  int32_t pollMs = 500, timeoutMs = 4000;
  int ticks = 0;
  std::vector<std::string> config;  // "Enabled 0", "Commands <name>", "Port 3 9600 8 ..."

  bool Enabled() const override { return enabled; }
  void SetEnabled(bool value) override {
    enabled = value;
    config.push_back(std::string("Enabled ") + (value ? "1" : "0"));
  }
  void SetRigCommands(const tarvane::TRigCommands* c) override {
    commands = c;
    config.push_back("Commands " + (c ? c->RigType : std::string("NONE")));
    if (events_ && events_->RigTypeChange) events_->RigTypeChange(number_);
  }
  const tarvane::TRigCommands* RigCommands() const override { return commands; }
  void SetPortSettings(const tarvane::TPortSettings& p) override {
    port = p;
    config.push_back("Port " + std::to_string(p.Port) + " " + std::to_string(p.BaudRate) + " " +
                     std::to_string(p.DataBits) + " " + std::to_string(p.Parity) + " " +
                     std::to_string(p.StopBits) + " " + std::to_string(p.DtrMode) + " " +
                     std::to_string(p.RtsMode) + (p.Device.empty() ? "" : " " + p.Device));
  }
  tarvane::TPortSettings PortSettings() const override { return port; }
  void SetPollMs(int32_t ms) override { pollMs = ms; }
  void SetTimeoutMs(int32_t ms) override { timeoutMs = ms; }
  int32_t PollMs() const override { return pollMs; }
  int32_t TimeoutMs() const override { return timeoutMs; }
  void TimerTick() override { ++ticks; }
};

}  // namespace tarvane_test

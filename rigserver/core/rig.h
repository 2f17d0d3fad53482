// rig: the engine of one radio. TCustomRig holds the rig type's command set (not owned; the
// rig-type list owns it), the command queue, the serial port and the last known value of every
// parameter; TRig fills in how commands are queued and how replies are read.
//
// One command is sent at a time. Init commands go out when the rig starts, the status commands
// are queued again every PollMs, and a command is given up after TimeoutMs: a reply that does not
// come is dropped with its command, a command that cannot be sent is tried again. Status replies
// are checked against their validation mask and the ranges of their values, and decoded into the
// parameters. Clients never wait for the radio: a setter only queues a write command, a getter
// returns the stored value, and changes reach the owner as notices (OnStatusChange,
// OnParamsChange, OnCustomReply).
//
// Threads: everything runs on the owner's "main" thread, the one that calls TimerTick every
// 100 ms and runs the tasks handed to the dispatcher (SetDispatcher, required before the rig is
// enabled). The port's reader thread only hands its events over through that dispatcher. Notices
// are posted: they run later, in order, from the dispatcher, never inside the call that caused
// them (OnRigTypeChange alone is called at once). Lock() is held around every change of the
// queue, the phase, the deadline, Enabled and Online, around reply processing and status reads;
// it is re-entrant.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

#include "byte_funs.h"
#include "command_queue.h"
#include "log_file.h"
#include "rig_commands.h"
#include "rig_types.h"
#include "serial_port.h"

namespace tarvane {

// The status of a rig, as clients see it (numbered as the bus's status enumeration).
enum TRigStatus : int32_t {
  rsNotConfigured = 0,  // "Rig is not configured"
  rsDisabled = 1,       // "Rig is disabled"
  rsPortBusy = 2,       // "Port is not available"
  rsNotResponding = 3,  // "Rig is not responding"
  rsOnline = 4,         // "On-line"
};

// Runs a task later on the main thread, in order of hand-over; must return at once.
using TRigDispatcher = PortDispatcher;
// The time now in milliseconds, from a clock that never goes back.
using TRigClock = std::function<int64_t()>;

class TCustomRig {
 public:
  // The deadline while no command is in flight.
  static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

  TCustomRig();
  // Stops the rig (closing the port) first; posted tasks that run later do nothing.
  virtual ~TCustomRig();
  TCustomRig(const TCustomRig&) = delete;
  TCustomRig& operator=(const TCustomRig&) = delete;

  // Wiring, done once before the rig is enabled. The dispatcher also carries the port's events.
  void SetDispatcher(TRigDispatcher dispatcher);
  void SetLog(TLogProc log) { log_ = std::move(log); }
  // Empty restores the steady clock.
  void SetClock(TRigClock clock);

  // Configuration (done while the rig is disabled, then SetEnabled(true)).
  int RigNumber() const { return rig_number_; }
  void SetRigNumber(int value) { rig_number_ = value; }
  int PollMs() const { return poll_ms_; }
  void SetPollMs(int value) { poll_ms_ = value; }
  int TimeoutMs() const { return timeout_ms_; }
  void SetTimeoutMs(int value) { timeout_ms_ = value; }
  // The port: its number or device and its line settings are set by the owner.
  TAlCommPort& Port() { return *port_; }
  const TAlCommPort& Port() const { return *port_; }
  // The rig type's command set; nullptr for "NONE".
  const TRigCommands* Commands() const { return commands_; }
  // Sets the rig type (also when unchanged): calls OnRigTypeChange, then posts a status change.
  void SetRigCommands(const TRigCommands* commands);

  bool Enabled() const { return enabled_; }
  // Starts or stops the rig and posts a status change; enabling a rig without a type does nothing.
  void SetEnabled(bool value);
  bool Online() const { return online_; }
  void Start();
  void Stop();

  // The 100 ms tick: reopens a closed port, queues the polls, times commands out.
  void TimerTick();
  // Sends the head of the queue when nothing is in flight.
  void SendNextCommand();
  // The port's events (wired in the constructor; public so their order can be followed).
  void DataSent();
  void ReplyReceived();
  void PortHangUp();

  TRigStatus GetStatus();
  std::string GetStatusStr();
  static const char* StatusText(TRigStatus status);

  std::recursive_mutex& Lock() { return lock_; }
  // The queue, for looking at it under Lock().
  const TCommandQueue& Queue() const { return *queue_; }
  int64_t Deadline() const { return deadline_; }
  int64_t NextPoll() const { return next_poll_; }

  // Stored parameters (read on the main thread without the lock).
  int32_t Freq() const { return freq_; }
  int32_t FreqA() const { return freq_a_; }
  int32_t FreqB() const { return freq_b_; }
  int32_t RitOffset() const { return rit_offset_; }
  int32_t Pitch() const { return pitch_; }
  TRigParam Vfo() const { return vfo_; }
  TRigParam Split() const { return split_; }
  TRigParam Rit() const { return rit_; }
  TRigParam Xit() const { return xit_; }
  TRigParam Tx() const { return tx_; }
  TRigParam Mode() const { return mode_; }
  // Split, or when the radio reports none, what the VFO state says (pmNone when it says nothing).
  TRigParam GetSplit() const;

  // Setters: each queues a write command (flags with the value 0) and returns at once. A flag of
  // another group than the setter's is ignored. A value that the command's field cannot hold is
  // logged ("{!}Generating command: ...") and nothing is queued.
  // SetFreq writes the frequency the operator hears: when the rig type can write VFO A and VFO B
  // each and the VFO in use is known, that VFO's command, otherwise pmFreq's.
  void SetFreq(int32_t value);
  void SetFreqA(int32_t value);
  void SetFreqB(int32_t value);
  void SetPitch(int32_t value);
  void SetRitOffset(int32_t value);
  void SetVfo(TRigParam param);
  // Without a split command of its own, split is made through the VFO state.
  void SetSplit(TRigParam param);
  void SetRit(TRigParam param);
  void SetXit(TRigParam param);
  void SetTx(TRigParam param);
  void SetMode(TRigParam param);
  // Writes pmRit0, which clears the RIT offset; SetRit takes only pmRitOn and pmRitOff.
  void ClearRit();

  // Commands of the queue, in slot order.
  virtual void AddCommands(const TRigCommandArray& list, TCommandKind kind) = 0;
  virtual void ProcessInitReply(int number, const TByteArray& reply) = 0;
  virtual void ProcessStatusReply(int number, const TByteArray& reply) = 0;
  virtual void ProcessWriteReply(TRigParam param, const TByteArray& reply) = 0;
  virtual void ProcessCustomReply(TCustomSender sender, const TByteArray& command,
                                  const TByteArray& reply) = 0;
  virtual void AddWriteCommand(TRigParam param, int32_t value) = 0;
  // Queues the client's bytes; nothing for an empty code. False (logged, nothing queued) for a
  // code that the port cannot send within the time-out at its settings: it would time out and
  // be sent again for ever, with every later command stuck behind it.
  virtual bool AddCustomCommand(TCustomSender sender, const TByteArray& code,
                                const TByteArray& replyEnd, int32_t replyLength) = 0;

  // Notices, run on the main thread through the dispatcher.
  std::function<void(int rigNumber)> OnStatusChange;
  // `params`: the changed parameters as the bus's bit set.
  std::function<void(int rigNumber, int32_t params)> OnParamsChange;
  // The reply to a client's custom command, with the command it answers.
  std::function<void(int rigNumber, TCustomSender sender, const TByteArray& command,
                     const TByteArray& reply)>
      OnCustomReply;
  // Called at once by SetRigCommands.
  std::function<void(int rigNumber)> OnRigTypeChange;

 protected:
  int64_t Now() const { return clock_(); }
  void Log(const std::string& text) const;
  void LogFmt(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));

  // Hands a task to the main thread; it does nothing once the rig is gone.
  void Post(std::function<void()> task);
  void PostSendNext();
  void PostStatusChange();
  void PostParamsChange(int32_t params);
  void PostCustomReply(TCustomSender sender, TByteArray command, TByteArray reply);
  // Follows the VFO that frequency writes go to: `reported` is a VFO flag read from the radio,
  // taken only while no VFO write waits in the queue (the reply may predate it); `written` is a
  // VFO write just queued. Both under Lock().
  void NoteReportedVfo(TRigParam reported);
  void NoteWrittenVfo(TRigParam written);
  // The rig file's command behind a queued item; nullptr for a custom command or one the rig
  // type no longer has.
  const TRigCommand* FileCommand(const TQueueItem& item) const;
  // True when `received`, left over at a receive time-out, is the reply that `item`'s command
  // expects with the echo of the command cut off its front: the radio answers, but does not
  // echo what it is sent, while the rig file counts the echo in every reply.
  bool AnswerWithoutEcho(const TQueueItem& item, const std::string& received) const;

  bool enabled_ = false;
  bool online_ = false;
  // Set by AddWriteCommand when the last value could not be encoded (nothing was queued).
  bool value_refused_ = false;
  // The missing echo has been logged; said again only after a reply came in whole.
  bool echo_off_reported_ = false;
  std::recursive_mutex lock_;
  const TRigCommands* commands_ = nullptr;
  int64_t next_poll_ = std::numeric_limits<int64_t>::min();  // the first tick polls
  int64_t deadline_ = kNever;
  std::unique_ptr<TCommandQueue> queue_;
  int32_t freq_ = 0;
  int32_t freq_a_ = 0;
  int32_t freq_b_ = 0;
  int32_t rit_offset_ = 0;
  int32_t pitch_ = 0;
  TRigParam vfo_ = pmNone;
  TRigParam split_ = pmNone;
  TRigParam rit_ = pmNone;
  TRigParam xit_ = pmNone;
  TRigParam tx_ = pmNone;
  TRigParam mode_ = pmNone;
  // The VFO in use for frequency writes: pmVfoA, pmVfoB, or pmNone while unknown.
  TRigParam vfo_in_use_ = pmNone;
  int rig_number_ = 1;
  int poll_ms_ = 500;
  int timeout_ms_ = 4000;
  std::unique_ptr<TAlCommPort> port_;

 private:
  TRigDispatcher dispatcher_;
  TLogProc log_;
  TRigClock clock_;
  // Posted tasks hold a weak reference and do nothing once the rig is destroyed.
  std::shared_ptr<char> alive_;
};

class TRig : public TCustomRig {
 public:
  TRig() = default;
  ~TRig() override;

  void AddCommands(const TRigCommandArray& list, TCommandKind kind) override;
  void ProcessInitReply(int number, const TByteArray& reply) override;
  void ProcessStatusReply(int number, const TByteArray& reply) override;
  void ProcessWriteReply(TRigParam param, const TByteArray& reply) override;
  void ProcessCustomReply(TCustomSender sender, const TByteArray& command,
                          const TByteArray& reply) override;
  void AddWriteCommand(TRigParam param, int32_t value) override;
  bool AddCustomCommand(TCustomSender sender, const TByteArray& code, const TByteArray& replyEnd,
                        int32_t replyLength) override;

 private:
  // True when the reply passes `validation` (an empty mask passes everything).
  bool ValidateReply(const TByteArray& reply, const TBitMask& validation);
  void StoreNumericParam(TRigParam param, int32_t value);
  void StoreFlagParam(TRigParam param);

  TRigParamSet changed_params_;  // collected while one status reply is read
};

}  // namespace tarvane

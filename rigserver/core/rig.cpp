#include "rig.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "value_formats.h"

namespace tarvane {

namespace {

int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The framing the port uses to tell the head's reply complete.
int FramingFor(const TQueueItem& item) {
  if (!item.ReplyEnd.empty()) return TAlCommPort::kFramingTerminator;
  if (item.ReplyLength > 0) return TAlCommPort::kFramingCount;
  return TAlCommPort::kFramingNone;
}

const char* KindName(const TQueueItem& item) {
  switch (item.Kind) {
    case ckInit:
      return "init";
    case ckWrite:
      return RigParamName(item.Param);
    case ckStatus:
      return "status";
    case ckCustom:
      return "custom";
  }
  return "";
}

bool InRange(TRigParam p, TRigParam first, TRigParam last) { return p >= first && p <= last; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// TCustomRig: life cycle

TCustomRig::TCustomRig()
    : queue_(std::make_unique<TCommandQueue>()),
      port_(std::make_unique<TAlCommPort>()),
      clock_(SteadyNowMs),
      alive_(std::make_shared<char>()) {
  port_->OnReceived = [this] { ReplyReceived(); };
  port_->OnSent = [this] { DataSent(); };
  port_->OnHangUp = [this] { PortHangUp(); };
}

TCustomRig::~TCustomRig() {
  alive_.reset();
  Stop();
  port_->Close();
}

TRig::~TRig() {
  // Closed here, while the reply handlers of this class still exist: no hand-over of the port's
  // reader can reach a half-destroyed rig.
  Stop();
  port_->Close();
}

void TCustomRig::SetDispatcher(TRigDispatcher dispatcher) {
  dispatcher_ = dispatcher;
  port_->SetDispatcher(std::move(dispatcher));
}

void TCustomRig::SetClock(TRigClock clock) { clock_ = clock ? std::move(clock) : SteadyNowMs; }

void TCustomRig::Log(const std::string& text) const {
  if (log_) log_(text);
}

void TCustomRig::LogFmt(const char* fmt, ...) const {
  if (!log_) return;
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, fmt, args);
  va_end(args);
  log_(text);
}

void TCustomRig::Post(std::function<void()> task) {
  std::weak_ptr<char> alive = alive_;
  auto guarded = [alive, task = std::move(task)] {
    if (alive.lock()) task();
  };
  if (dispatcher_) {
    dispatcher_(std::move(guarded));
  } else {
    guarded();
  }
}

void TCustomRig::PostSendNext() {
  Post([this] { SendNextCommand(); });
}

void TCustomRig::PostStatusChange() {
  Post([this] {
    if (OnStatusChange) OnStatusChange(rig_number_);
  });
}

void TCustomRig::PostParamsChange(int32_t params) {
  Post([this, params] {
    if (OnParamsChange) OnParamsChange(rig_number_, params);
  });
}

void TCustomRig::PostCustomReply(TCustomSender sender, TByteArray command, TByteArray reply) {
  Post([this, sender, command = std::move(command), reply = std::move(reply)] {
    if (OnCustomReply) OnCustomReply(rig_number_, sender, command, reply);
  });
}

void TCustomRig::SetRigCommands(const TRigCommands* commands) {
  commands_ = commands;
  if (OnRigTypeChange) OnRigTypeChange(rig_number_);
  PostStatusChange();
}

void TCustomRig::SetEnabled(bool value) {
  if (value == enabled_ || (value && !commands_)) return;
  if (value) {
    Start();
  } else {
    Stop();
  }
  PostStatusChange();
}

void TCustomRig::Start() {
  if (!commands_) return;
  LogFmt("Starting RIG%d", rig_number_);
  {
    std::lock_guard lock(lock_);
    if (enabled_) return;
    enabled_ = true;
    echo_off_reported_ = false;
    queue_->Clear();
    queue_->SetPhase(qpIdle);
    deadline_ = kNever;
    AddCommands(commands_->InitCmd, ckInit);
    AddCommands(commands_->StatusCmd, ckStatus);
    port_->Open();  // a port that is not there is tried again by the timer
  }
  SendNextCommand();
}

void TCustomRig::Stop() {
  if (!enabled_) return;
  LogFmt("Stopping RIG%d", rig_number_);
  std::lock_guard lock(lock_);
  enabled_ = false;
  online_ = false;
  queue_->Clear();
  queue_->SetPhase(qpIdle);
  port_->Close();
}

// ---------------------------------------------------------------------------------------------
// TCustomRig: the queue at work

void TCustomRig::SendNextCommand() {
  std::lock_guard lock(lock_);
  if (!port_->Active() || queue_->Phase() != qpIdle || queue_->Empty()) return;
  if (!port_->RxBuffer().empty()) {
    LogFmt("RIG%d {!}unexpected bytes in RX buffer: %s", rig_number_,
           StrToHex(port_->RxBuffer()).c_str());
    port_->PurgeRx();
  }
  const TQueueItem& head = queue_->Head();
  port_->SetReplyLength(head.ReplyLength);
  port_->SetReplyEnd(head.ReplyEnd);
  port_->SetFraming(FramingFor(head));
  LogFmt("RIG%d sending %s command: %s", rig_number_, KindName(head),
         BytesToHex(head.Code).c_str());
  queue_->SetPhase(qpSending);
  deadline_ = Now() + timeout_ms_;
  port_->Send(BytesToStr(head.Code));
}

void TCustomRig::DataSent() {
  if (port_->TxCount() > 0) return;
  LogFmt("RIG%d data sent", rig_number_);
  std::lock_guard lock(lock_);
  if (!port_->Active() || queue_->Phase() != qpSending || queue_->Empty()) return;
  if (queue_->Head().NeedsReply()) {
    queue_->SetPhase(qpWaiting);
    deadline_ = Now() + timeout_ms_;
  } else {
    queue_->DeleteHead();
    queue_->SetPhase(qpIdle);
    deadline_ = kNever;
    SendNextCommand();
  }
}

void TCustomRig::ReplyReceived() {
  std::lock_guard lock(lock_);
  TByteArray reply = StrToBytes(port_->RxBuffer());
  port_->PurgeRx();
  if (queue_->Phase() == qpWaiting) {
    // A reply of fixed length to a command of the rig file is its last ReplyLength bytes. Bytes
    // before them came in before the reply began, typically the answer of an earlier command
    // that the file says nothing about; read as part of this reply they would shift every value
    // in it. A client's own command gets all it receives, as it chose the length itself.
    const bool own = !queue_->Empty() && queue_->Head().Kind != ckCustom;
    const int32_t length = own ? queue_->Head().ReplyLength : 0;
    if (length > 0 && reply.size() > static_cast<size_t>(length)) {
      const TByteArray early(reply.begin(), reply.end() - length);
      LogFmt("{!}RIG%d unexpected data received: %s", rig_number_, BytesToHex(early).c_str());
      reply.erase(reply.begin(), reply.end() - length);
    }
    LogFmt("RIG%d reply received: %s", rig_number_, BytesToHex(reply).c_str());
    echo_off_reported_ = false;
  } else {
    LogFmt("{!}RIG%d unexpected data received: %s", rig_number_, BytesToHex(reply).c_str());
  }
  if (!port_->Active() || queue_->Phase() != qpWaiting || queue_->Empty()) return;
  // The head stays in place until its reply has been read: a handler may queue more commands.
  const TQueueItem head = queue_->Head();
  try {
    switch (head.Kind) {
      case ckInit:
        ProcessInitReply(head.Number, reply);
        break;
      case ckWrite:
        ProcessWriteReply(head.Param, reply);
        break;
      case ckStatus:
        ProcessStatusReply(head.Number, reply);
        break;
      case ckCustom:
        ProcessCustomReply(head.CustSender, head.Code, reply);
        break;
    }
  } catch (const std::exception& e) {
    LogFmt("{!}Processing reply: %s", e.what());
  }
  // Any reply is a sign of life, valid or not.
  if (!online_) {
    online_ = true;
    PostStatusChange();
  }
  queue_->DeleteHead();
  queue_->SetPhase(qpIdle);
  deadline_ = kNever;
  SendNextCommand();
}

void TCustomRig::PortHangUp() {
  // The device went away (an adapter unplugged) and the port closed itself; the timer opens it
  // again when it is back. The command in flight is sent again then.
  LogFmt("RIG%d {!}port closed: the device is gone", rig_number_);
  std::lock_guard lock(lock_);
  online_ = false;
  queue_->SetPhase(qpIdle);
  deadline_ = kNever;
  if (enabled_) PostStatusChange();
}

void TCustomRig::TimerTick() {
  {
    std::lock_guard lock(lock_);
    if (!enabled_) return;
    if (!port_->Active() && port_->Open()) {
      // Clients showing "Port is not available" learn that the port is back.
      PostStatusChange();
    }
    const int64_t now = Now();
    if (port_->Active() && now > next_poll_) {
      if (queue_->HasStatusCommands()) {
        LogFmt("RIG%d Status commands already in queue", rig_number_);
      } else if (commands_) {
        LogFmt("RIG%d Adding status commands to queue", rig_number_);
        AddCommands(commands_->StatusCmd, ckStatus);
      }
      next_poll_ = now + poll_ms_;
    }
    if (now > deadline_) {
      if (online_) {
        online_ = false;
        PostStatusChange();
      }
      switch (queue_->Phase()) {
        case qpSending:
          // The head stays and goes out again.
          LogFmt("RIG%d {!}send timeout, %d bytes still in buffer", rig_number_,
                 port_->TxCount());
          port_->PurgeTx();
          queue_->SetPhase(qpIdle);
          deadline_ = kNever;
          break;
        case qpWaiting:
          LogFmt("RIG%d {!}recv timeout. Rx Buffer: \"%s\"", rig_number_,
                 StrToHex(port_->RxBuffer()).c_str());
          if (!echo_off_reported_ && !queue_->Empty() &&
              AnswerWithoutEcho(queue_->Head(), port_->RxBuffer())) {
            // Without this line the log shows only time-outs, and the radio's answers in them.
            LogFmt("RIG%d {!}the radio's echo is off: it answers without sending the command "
                   "back first; set the radio's CI-V USB Echo Back to ON", rig_number_);
            echo_off_reported_ = true;
          }
          port_->PurgeRx();
          port_->SetFraming(TAlCommPort::kFramingNone);
          queue_->DeleteHead();
          queue_->SetPhase(qpIdle);
          deadline_ = kNever;
          break;
        case qpIdle:
          break;
      }
    }
  }
  SendNextCommand();
}

TRigStatus TCustomRig::GetStatus() {
  std::lock_guard lock(lock_);
  if (!commands_) return rsNotConfigured;
  if (!enabled_) return rsDisabled;
  if (!port_->Active()) return rsPortBusy;
  if (!online_) return rsNotResponding;
  return rsOnline;
}

std::string TCustomRig::GetStatusStr() { return StatusText(GetStatus()); }

const char* TCustomRig::StatusText(TRigStatus status) {
  switch (status) {
    case rsNotConfigured:
      return "Rig is not configured";
    case rsDisabled:
      return "Rig is disabled";
    case rsPortBusy:
      return "Port is not available";
    case rsNotResponding:
      return "Rig is not responding";
    case rsOnline:
      return "On-line";
  }
  return "";
}

namespace {

// The VFO a VFO flag puts in use (the receiving one of a pair); pmNone for A=B and swap.
TRigParam VfoInUse(TRigParam p) {
  switch (p) {
    case pmVfoA:
    case pmVfoAA:
    case pmVfoAB:
      return pmVfoA;
    case pmVfoB:
    case pmVfoBB:
    case pmVfoBA:
      return pmVfoB;
    default:
      return pmNone;
  }
}

}  // namespace

void TCustomRig::NoteReportedVfo(TRigParam reported) {
  const TRigParam in_use = VfoInUse(reported);
  if (in_use == pmNone) return;
  for (int i = 0; i < queue_->Count(); ++i) {
    const TQueueItem& item = queue_->Item(i);
    if (item.Kind == ckWrite && InRange(item.Param, pmVfoAA, pmVfoSwap)) return;
  }
  vfo_in_use_ = in_use;
}

void TCustomRig::NoteWrittenVfo(TRigParam written) {
  if (written == pmVfoSwap) {
    // The other VFO is heard from now on.
    if (vfo_in_use_ != pmNone) vfo_in_use_ = vfo_in_use_ == pmVfoA ? pmVfoB : pmVfoA;
  } else if (VfoInUse(written) != pmNone) {
    vfo_in_use_ = VfoInUse(written);
  }
}

const TRigCommand* TCustomRig::FileCommand(const TQueueItem& item) const {
  if (!commands_) return nullptr;
  const auto at = [](const TRigCommandArray& list, int32_t n) -> const TRigCommand* {
    return n >= 0 && size_t(n) < list.size() ? &list[size_t(n)] : nullptr;
  };
  switch (item.Kind) {
    case ckInit:
      return at(commands_->InitCmd, item.Number);
    case ckStatus:
      return at(commands_->StatusCmd, item.Number);
    case ckWrite:
      return item.Param < kRigParamCount ? &commands_->WriteCmd[item.Param] : nullptr;
    case ckCustom:
      break;
  }
  return nullptr;
}

bool TCustomRig::AnswerWithoutEcho(const TQueueItem& item, const std::string& received) const {
  const TRigCommand* command = FileCommand(item);
  if (!command) return false;
  const TBitMask& v = command->Validation;
  const size_t echo = item.Code.size();
  const size_t length = size_t(std::max(command->ReplyLength, 0));
  if (echo == 0 || length <= echo || v.Mask.size() != length || v.Flags.size() != length ||
      received.size() != length - echo) {
    return false;
  }
  // The expected reply must begin with the command itself (its tested bytes), and what came
  // must be the rest of it, tested bytes and all: the radio's own answer to that command.
  size_t tested = 0;
  for (size_t i = 0; i < echo; ++i) {
    if ((item.Code[i] & v.Mask[i]) != v.Flags[i]) return false;
    tested += v.Mask[i] != 0;
  }
  size_t answerTested = 0;
  for (size_t i = 0; i < received.size(); ++i) {
    if ((uint8_t(received[i]) & v.Mask[echo + i]) != v.Flags[echo + i]) return false;
    answerTested += v.Mask[echo + i] != 0;
  }
  return tested > 0 && answerTested > 0;
}

// ---------------------------------------------------------------------------------------------
// TCustomRig: parameters

TRigParam TCustomRig::GetSplit() const {
  if (split_ != pmNone) return split_;
  switch (vfo_) {
    case pmVfoAA:
    case pmVfoBB:
      return pmSplitOff;
    case pmVfoAB:
    case pmVfoBA:
      return pmSplitOn;
    default:
      return pmNone;
  }
}

void TCustomRig::SetFreq(int32_t value) {
  // A radio whose frequency command always sets VFO A would otherwise leave the VFO the operator
  // listens to where it was.
  TRigParam param = pmFreq;
  if (commands_ && commands_->WriteableParams.Contains(pmFreqA) &&
      commands_->WriteableParams.Contains(pmFreqB)) {
    std::lock_guard lock(lock_);
    if (vfo_in_use_ == pmVfoA) param = pmFreqA;
    if (vfo_in_use_ == pmVfoB) param = pmFreqB;
  }
  AddWriteCommand(param, value);
}
void TCustomRig::SetFreqA(int32_t value) { AddWriteCommand(pmFreqA, value); }
void TCustomRig::SetFreqB(int32_t value) { AddWriteCommand(pmFreqB, value); }
void TCustomRig::SetRitOffset(int32_t value) { AddWriteCommand(pmRitOffset, value); }

void TCustomRig::SetPitch(int32_t value) {
  AddWriteCommand(pmPitch, value);
  // A radio that does not report its pitch keeps the one last set, unless the value was refused
  // and so never reached the radio.
  if (commands_ && !commands_->ReadableParams.Contains(pmPitch) && !value_refused_) {
    pitch_ = value;
  }
}

void TCustomRig::SetVfo(TRigParam param) {
  if (InRange(param, pmVfoAA, pmVfoSwap)) AddWriteCommand(param, 0);
}

void TCustomRig::SetSplit(TRigParam param) {
  if (param != pmSplitOn && param != pmSplitOff) return;
  if (commands_ && commands_->WriteableParams.Contains(param)) {
    AddWriteCommand(param, 0);
    return;
  }
  if (param == pmSplitOn) {
    if (vfo_ == pmVfoAA) {
      SetVfo(pmVfoAB);
    } else if (vfo_ == pmVfoBB) {
      SetVfo(pmVfoBA);
    }
  } else {
    if (vfo_ == pmVfoAB) {
      SetVfo(pmVfoAA);
    } else if (vfo_ == pmVfoBA) {
      SetVfo(pmVfoBB);
    }
  }
}

void TCustomRig::SetRit(TRigParam param) {
  if (param == pmRitOn || param == pmRitOff) AddWriteCommand(param, 0);
}

void TCustomRig::ClearRit() { AddWriteCommand(pmRit0, 0); }

void TCustomRig::SetXit(TRigParam param) {
  if (param == pmXitOn || param == pmXitOff) AddWriteCommand(param, 0);
}

void TCustomRig::SetTx(TRigParam param) {
  if (param == pmRx || param == pmTx) AddWriteCommand(param, 0);
}

void TCustomRig::SetMode(TRigParam param) {
  if (InRange(param, pmCW_U, pmFM)) AddWriteCommand(param, 0);
}

// ---------------------------------------------------------------------------------------------
// TRig

void TRig::AddCommands(const TRigCommandArray& list, TCommandKind kind) {
  std::lock_guard lock(lock_);
  for (size_t i = 0; i < list.size(); ++i) {
    TQueueItem item;
    item.Code = list[i].Code;
    item.Kind = kind;
    item.Number = static_cast<int32_t>(i);
    item.ReplyLength = list[i].ReplyLength;
    item.ReplyEnd = BytesToStr(list[i].ReplyEnd);
    queue_->Add(std::move(item));
  }
}

bool TRig::ValidateReply(const TByteArray& reply, const TBitMask& validation) {
  if (validation.Mask.empty()) return true;
  const bool ok = reply.size() == validation.Mask.size() &&
                  validation.Flags.size() == validation.Mask.size() &&
                  BytesEqual(BytesAnd(reply, validation.Mask), validation.Flags);
  if (!ok) LogFmt("{!}RIG%d reply validation failed", rig_number_);
  return ok;
}

void TRig::ProcessInitReply(int number, const TByteArray& reply) {
  // The rig type may have been changed under a queued command; such a reply is not checked.
  if (!commands_ || number < 0 || number >= static_cast<int>(commands_->InitCmd.size())) return;
  ValidateReply(reply, commands_->InitCmd[static_cast<size_t>(number)].Validation);
}

void TRig::ProcessWriteReply(TRigParam param, const TByteArray& reply) {
  if (!commands_ || param >= kRigParamCount) return;
  ValidateReply(reply, commands_->WriteCmd[param].Validation);
}

void TRig::ProcessStatusReply(int number, const TByteArray& reply) {
  if (!commands_ || number < 0 || number >= static_cast<int>(commands_->StatusCmd.size())) return;
  const TRigCommand& command = commands_->StatusCmd[static_cast<size_t>(number)];
  changed_params_.Clear();
  if (!ValidateReply(reply, command.Validation)) return;
  const TLogProc log = [this](const std::string& text) { Log(text); };
  std::vector<std::optional<int32_t>> decoded;
  decoded.reserve(command.Values.size());
  for (const TParamValue& value : command.Values) {
    try {
      decoded.push_back(UnformatValue(reply, value, rig_number_, log));
    } catch (const std::exception&) {
      // A value that cannot be read keeps its old value; the others are still read.
      decoded.push_back(std::nullopt);
    }
  }
  // A value with a range vouches for its reply: one that cannot be read, or lies outside what
  // the radio can report, shows the bytes to be noise (a protocol without framing cannot tell
  // otherwise), and nothing of that reply is stored, its flags included.
  for (size_t i = 0; i < command.Values.size(); ++i) {
    const TParamValue& value = command.Values[i];
    if (!value.Ranged) continue;
    if (!decoded[i]) {
      LogFmt("RIG%d {!}reply discarded: %s cannot be read", rig_number_,
             RigParamName(value.Param));
      return;
    }
    if (*decoded[i] < value.Min || *decoded[i] > value.Max) {
      LogFmt("RIG%d {!}reply discarded: %s = %d is outside %d..%d", rig_number_,
             RigParamName(value.Param), *decoded[i], value.Min, value.Max);
      return;
    }
  }
  for (size_t i = 0; i < command.Values.size(); ++i) {
    if (decoded[i]) StoreNumericParam(command.Values[i].Param, *decoded[i]);
  }
  for (const TBitMask& flag : command.Flags) {
    if (flag.Mask.size() == reply.size() && flag.Flags.size() == reply.size()) {
      if (BytesEqual(BytesAnd(reply, flag.Mask), flag.Flags)) StoreFlagParam(flag.Param);
    } else {
      LogFmt("{!}RIG%d: incorrect reply length", rig_number_);
    }
  }
  if (commands_->FreqFollowsVfo) {
    if (VfoInUse(vfo_) == pmVfoA) StoreNumericParam(pmFreq, freq_a_);
    if (VfoInUse(vfo_) == pmVfoB) StoreNumericParam(pmFreq, freq_b_);
  }
  if (!changed_params_.Empty()) PostParamsChange(ParamsToInt(changed_params_));
  changed_params_.Clear();
}

void TRig::StoreNumericParam(TRigParam param, int32_t value) {
  int32_t* field = nullptr;
  switch (param) {
    case pmFreq:
      field = &freq_;
      break;
    case pmFreqA:
      field = &freq_a_;
      break;
    case pmFreqB:
      field = &freq_b_;
      break;
    case pmPitch:
      field = &pitch_;
      break;
    case pmRitOffset:
      field = &rit_offset_;
      break;
    default:
      return;
  }
  if (*field == value) return;
  *field = value;
  changed_params_.Include(param);
  LogFmt("RIG%d status changed: %s = %d", rig_number_, RigParamName(param), value);
}

void TRig::StoreFlagParam(TRigParam param) {
  TRigParam* field = nullptr;
  if (InRange(param, pmVfoAA, pmVfoSwap)) {
    field = &vfo_;
  } else if (param == pmSplitOn || param == pmSplitOff) {
    field = &split_;
  } else if (param == pmRitOn || param == pmRitOff) {
    field = &rit_;
  } else if (param == pmXitOn || param == pmXitOff) {
    field = &xit_;
  } else if (param == pmRx || param == pmTx) {
    field = &tx_;
  } else if (InRange(param, pmCW_U, pmFM)) {
    field = &mode_;
  } else {
    return;
  }
  if (field == &vfo_) NoteReportedVfo(param);
  if (*field == param) return;
  *field = param;
  changed_params_.Include(param);
  LogFmt("RIG%d status changed: %s enabled", rig_number_, RigParamName(param));
}

void TRig::ProcessCustomReply(TCustomSender sender, const TByteArray& command,
                              const TByteArray& reply) {
  PostCustomReply(sender, command, reply);
}

void TRig::AddWriteCommand(TRigParam param, int32_t value) {
  value_refused_ = false;
  LogFmt("Generating Write command for %s", RigParamName(param));
  if (!commands_ || param >= kRigParamCount) return;
  const TRigCommand& command = commands_->WriteCmd[param];
  if (command.Code.empty()) {
    LogFmt("{!}Write command not supported for %s", RigParamName(param));
    return;
  }
  TByteArray code = command.Code;
  if (command.Value.Fmt != vfNone) {
    try {
      const TLogProc log = [this](const std::string& text) { Log(text); };
      const TByteArray bytes = FormatValue(value, command.Value, rig_number_, log);
      const int64_t start = command.Value.Start;
      if (start < 0 || static_cast<int64_t>(code.size()) < start + command.Value.Len ||
          static_cast<int64_t>(bytes.size()) != command.Value.Len) {
        throw std::runtime_error("{!}Value too long");
      }
      std::copy(bytes.begin(), bytes.end(), code.begin() + start);
    } catch (const std::exception& e) {
      // Not sent: the template's value field, or what is left of a value cut to fit, would set
      // the radio to something the client never asked for.
      LogFmt("{!}Generating command: %s", e.what());
      value_refused_ = true;
      return;
    }
  }
  {
    std::lock_guard lock(lock_);
    TQueueItem item;
    item.Code = std::move(code);
    item.Kind = ckWrite;
    item.Param = param;
    item.ReplyLength = command.ReplyLength;
    item.ReplyEnd = BytesToStr(command.ReplyEnd);
    queue_->Add(std::move(item));
    NoteWrittenVfo(param);
  }
  PostSendNext();
}

bool TRig::AddCustomCommand(TCustomSender sender, const TByteArray& code,
                            const TByteArray& replyEnd, int32_t replyLength) {
  if (code.empty()) return true;
  // Characters the port sends within the time-out: a start bit, the data bits, the parity bit
  // and the stop bits (1, 1.5 or 2) each, counted here in half bits.
  const int64_t baud = port_->BaudRate();
  const int64_t halfBits = 2 * (1 + port_->DataBits() + (port_->Parity() != 0 ? 1 : 0)) +
                           (port_->StopBits() == 0 ? 2 : port_->StopBits() == 1 ? 3 : 4);
  if (timeout_ms_ > 0 && baud > 0) {
    const int64_t fits = int64_t(timeout_ms_) * baud * 2 / (1000 * halfBits);
    if (int64_t(code.size()) > fits) {
      LogFmt("RIG%d {!}custom command of %zu bytes cannot be sent within the time-out",
             rig_number_, code.size());
      return false;
    }
  }
  {
    std::lock_guard lock(lock_);
    TQueueItem item;
    item.Code = code;
    item.Kind = ckCustom;
    item.CustSender = sender;
    item.ReplyLength = replyLength;
    item.ReplyEnd = BytesToStr(replyEnd);
    queue_->Add(std::move(item));
  }
  PostSendNext();
  return true;
}

}  // namespace tarvane

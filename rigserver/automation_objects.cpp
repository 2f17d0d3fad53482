#include "automation_objects.h"

#include <QByteArray>
#include <cstdint>
#include <stdexcept>

#include "automation_server.h"
#include "rig_set_up.h"
#include "tarvane_adaptors.h"
#include "tarvane_enums.h"
#include "value_formats.h"

namespace tarvane {

namespace {

// The stored flag as a RigParamX bit: PM_UNKNOWN (bit 0) while nothing is known.
int FlagBit(TRigParam param) { return ParamToInt(param); }

// A frequency worked out from the stored values, as the bus's 32-bit integer. One beyond that range
// fails the call with a range error, as any other value conversion does; wrapped round it would
// read as a plausible but wrong (often negative) frequency.
int32_t CheckedFrequency(int64_t value) {
  if (value < INT32_MIN || value > INT32_MAX) throw ERangeError();
  return int32_t(value);
}

// A variant that holds a string (its characters as bytes) or a byte array; anything else is
// not a byte string.
bool VariantBytes(const QDBusVariant& value, Bytes& out) {
  const QVariant v = value.variant();
  QByteArray bytes;
  if (v.metaType().id() == QMetaType::QByteArray) {
    bytes = v.toByteArray();
  } else if (v.metaType().id() == QMetaType::QString) {
    bytes = v.toString().toLatin1();
  } else {
    return false;
  }
  out.assign(bytes.begin(), bytes.end());
  return true;
}

// True when a call came over the bus from another connection than the one that created the
// object (`owner`; empty for objects made inside the server). That caller gets E_INVALIDARG.
bool ForeignCaller(bool fromBus, const QDBusMessage& message, const QString& owner) {
  return fromBus && !owner.isEmpty() && message.service() != owner;
}

QString ForeignText(const QString& path) {
  return QString::asprintf("0x%08X: ", unsigned(kResultInvalidArg)) + "no object of this client at " +
         path;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TPortBits

TPortBits::TPortBits(RigLink& rig, QString path, QString owner)
    : rig_(rig), path_(std::move(path)), owner_(std::move(owner)) {
  new IPortBitsAdaptor(this);
}

bool TPortBits::Foreign() {
  if (!ForeignCaller(calledFromDBus(), calledFromDBus() ? message() : QDBusMessage(), owner_))
    return false;
  sendErrorReply(kErrorInvalidArg, ForeignText(path_));
  return true;
}

// Locking the port lines is not needed with one server process; the call succeeds.
bool TPortBits::Lock() { return !Foreign(); }
void TPortBits::Unlock() { Foreign(); }
bool TPortBits::Rts() { return !Foreign() && rig_.Rts(); }
void TPortBits::SetRts(bool Value) {
  if (!Foreign()) rig_.SetRts(Value);
}
bool TPortBits::Dtr() { return !Foreign() && rig_.Dtr(); }
void TPortBits::SetDtr(bool Value) {
  if (!Foreign()) rig_.SetDtr(Value);
}
bool TPortBits::Cts() { return !Foreign() && rig_.Cts(); }
bool TPortBits::Dsr() { return !Foreign() && rig_.Dsr(); }

// ---------------------------------------------------------------------------------------------
// TRigX

TRigX::TRigX(uint64_t owner, QString ownerName, RigLink& rig, QString path)
    : owner_(owner), ownerName_(std::move(ownerName)), rig_(rig), path_(std::move(path)),
      portBits_(std::make_unique<TPortBits>(rig, path_ + "/PortBits", ownerName_)) {
  new IRigXAdaptor(this);
}

TRigX::~TRigX() = default;

void TRigX::Fail(const char* text) {
  const QString message =
      QString::asprintf("0x%08X: ", unsigned(kResultUnexpected)) + QString::fromUtf8(text);
  if (calledFromDBus()) {
    sendErrorReply(kErrorUnexpected, message);
  } else {
    throw std::runtime_error(message.toStdString());
  }
}

bool TRigX::Foreign() {
  if (!ForeignCaller(calledFromDBus(), calledFromDBus() ? message() : QDBusMessage(), ownerName_))
    return false;
  sendErrorReply(kErrorInvalidArg, ForeignText(path_));
  return true;
}

template <class F>
auto TRigX::Safe(F&& body) -> decltype(body()) {
  if (!Foreign()) {
    try {
      return body();
    } catch (const std::exception& e) {
      Fail(e.what());
    } catch (...) {
      Fail("unknown failure");
    }
  }
  if constexpr (!std::is_void_v<decltype(body())>) return {};
}

QString TRigX::RigType() {
  return Safe([&] { return QString::fromStdString(rig_.RigTypeName()); });
}
int TRigX::ReadableParams() { return Safe([&] { return rig_.ReadableParams(); }); }
int TRigX::WriteableParams() { return Safe([&] { return rig_.WriteableParams(); }); }
// A parameter is readable when it shares a bit with the readable set, writeable likewise with
// the writeable set.
bool TRigX::IsParamReadable(int Param) {
  return Safe([&] { return (Param & rig_.ReadableParams()) != 0; });
}
bool TRigX::IsParamWriteable(int Param) {
  return Safe([&] { return (Param & rig_.WriteableParams()) != 0; });
}
int TRigX::Status() { return Safe([&] { return rig_.Status(); }); }
QString TRigX::StatusStr() {
  return Safe([&] { return QString::fromStdString(rig_.StatusStr()); });
}

int TRigX::Freq() { return Safe([&] { return rig_.Freq(); }); }
void TRigX::SetFreq(int Value) { Safe([&] { rig_.SetFreq(Value); }); }
int TRigX::FreqA() { return Safe([&] { return rig_.FreqA(); }); }
void TRigX::SetFreqA(int Value) { Safe([&] { rig_.SetFreqA(Value); }); }
int TRigX::FreqB() { return Safe([&] { return rig_.FreqB(); }); }
void TRigX::SetFreqB(int Value) { Safe([&] { rig_.SetFreqB(Value); }); }
int TRigX::RitOffset() { return Safe([&] { return rig_.RitOffset(); }); }
void TRigX::SetRitOffset(int Value) { Safe([&] { rig_.SetRitOffset(Value); }); }
int TRigX::Pitch() { return Safe([&] { return rig_.Pitch(); }); }
void TRigX::SetPitch(int Value) { Safe([&] { rig_.SetPitch(Value); }); }

int TRigX::Vfo() { return Safe([&] { return FlagBit(rig_.Vfo()); }); }
void TRigX::SetVfo(int Value) { Safe([&] { rig_.SetVfo(IntToParam(Value)); }); }
int TRigX::Split() { return Safe([&] { return FlagBit(rig_.GetSplit()); }); }
void TRigX::SetSplit(int Value) { Safe([&] { rig_.SetSplit(IntToParam(Value)); }); }
int TRigX::Rit() { return Safe([&] { return FlagBit(rig_.Rit()); }); }
void TRigX::SetRit(int Value) { Safe([&] { rig_.SetRit(IntToParam(Value)); }); }
int TRigX::Xit() { return Safe([&] { return FlagBit(rig_.Xit()); }); }
void TRigX::SetXit(int Value) { Safe([&] { rig_.SetXit(IntToParam(Value)); }); }
int TRigX::Tx() { return Safe([&] { return FlagBit(rig_.Tx()); }); }
void TRigX::SetTx(int Value) { Safe([&] { rig_.SetTx(IntToParam(Value)); }); }
int TRigX::Mode() { return Safe([&] { return FlagBit(rig_.Mode()); }); }
void TRigX::SetMode(int Value) { Safe([&] { rig_.SetMode(IntToParam(Value)); }); }

void TRigX::ClearRit() { Safe([&] { rig_.ClearRit(); }); }

void TRigX::SetSimplexMode(int Freq) {
  Safe([&] { RunSimplexSetUp(rig_, rig_.WriteableParams(), Freq); });
}

void TRigX::SetSplitMode(int RxFreq, int TxFreq) {
  Safe([&] {
    // Nothing sent is not a split set up: the client hears of it rather than transmitting on
    // its receive frequency.
    if (!RunSplitSetUp(rig_, rig_.WriteableParams(), RxFreq, TxFreq)) {
      throw std::runtime_error("the rig type has no commands for a split set-up");
    }
  });
}

int TRigX::FrequencyOfTone(int Tone) {
  return Safe([&] {
    std::lock_guard<std::recursive_mutex> lock(rig_.Mutex());
    const int mode = rig_.Mode();
    int64_t v = Tone;
    if (mode == pmCW_U || mode == pmCW_L) v = int64_t(Tone) - rig_.Pitch();
    if (mode == pmCW_L || mode == pmSSB_L) v = -v;
    return CheckedFrequency(v + rig_.Freq());
  });
}

void TRigX::SendCustomCommand(const QDBusVariant& Command, int ReplyLength,
                              const QDBusVariant& ReplyEnd) {
  Safe([&] {
    Bytes code;
    if (!VariantBytes(Command, code)) return;  // not a byte string: nothing to send
    Bytes replyEnd;
    if (!VariantBytes(ReplyEnd, replyEnd)) replyEnd.clear();
    if (!rig_.AddCustomCommand(owner_, code, replyEnd, ReplyLength)) {
      // The port could never send it before its time-out; the rig logged why.
      const QString text = QString::asprintf("0x%08X: ", unsigned(kResultInvalidArg)) +
                           "the command is too long for the port";
      if (calledFromDBus()) sendErrorReply(kErrorInvalidArg, text);
    }
  });
}

int TRigX::GetRxFrequency() {
  return Safe([&] {
    std::lock_guard<std::recursive_mutex> lock(rig_.Mutex());
    if (!rig_.HasRigType()) throw std::runtime_error("the rig has no rig type");
    const int32_t r = rig_.ReadableParams();
    const int vfo = rig_.Vfo();
    int64_t f;
    if ((r & PM_FREQA) && (vfo == pmVfoAA || vfo == pmVfoAB || vfo == pmVfoA))
      f = rig_.FreqA();
    else if ((r & PM_FREQB) && (vfo == pmVfoBA || vfo == pmVfoBB || vfo == pmVfoB))
      f = rig_.FreqB();
    else if (rig_.Tx() == pmTx && rig_.GetSplit() == pmSplitOn)
      f = 0;
    else
      f = rig_.Freq();
    if (rig_.Rit() == pmRitOn) f += rig_.RitOffset();
    return CheckedFrequency(f);
  });
}

int TRigX::GetTxFrequency() {
  return Safe([&] {
    std::lock_guard<std::recursive_mutex> lock(rig_.Mutex());
    if (!rig_.HasRigType()) throw std::runtime_error("the rig has no rig type");
    const int32_t r = rig_.ReadableParams();
    const int vfo = rig_.Vfo();
    int64_t f;
    if ((r & PM_FREQA) && (vfo == pmVfoAA || vfo == pmVfoBA))
      f = rig_.FreqA();
    else if ((r & PM_FREQB) && (vfo == pmVfoAB || vfo == pmVfoBB))
      f = rig_.FreqB();
    else
      f = rig_.Tx() == pmTx ? rig_.Freq() : 0;
    if (rig_.Xit() == pmXitOn) f += rig_.RitOffset();
    return CheckedFrequency(f);
  });
}

QDBusObjectPath TRigX::PortBits() {
  return Safe([&] { return QDBusObjectPath(portBits_->Path()); });
}

// ---------------------------------------------------------------------------------------------
// TTarvaneX

TTarvaneX::TTarvaneX(AutomationServer& server, uint64_t id, QString owner, RigLink& rig1,
                     RigLink& rig2)
    : server_(server), id_(id), owner_(std::move(owner)),
      path_(QString("%1/%2").arg(kFactoryPath).arg(id)),
      rig1_(std::make_unique<TRigX>(id, owner_, rig1, path_ + "/Rig1")),
      rig2_(std::make_unique<TRigX>(id, owner_, rig2, path_ + "/Rig2")) {
  new ITarvaneXAdaptor(this);
  new ITarvaneXEventsAdaptor(this);
}

TTarvaneX::~TTarvaneX() { Unregister(); }

bool TTarvaneX::Register(QDBusConnection connection) {
  connection_ = connection;
  const auto options = QDBusConnection::ExportAdaptors;
  registered_ = connection_.registerObject(path_, this, options) &&
                connection_.registerObject(rig1_->Path(), rig1_.get(), options) &&
                connection_.registerObject(rig2_->Path(), rig2_.get(), options) &&
                connection_.registerObject(rig1_->PortBitsObject().Path(),
                                           &rig1_->PortBitsObject(), options) &&
                connection_.registerObject(rig2_->PortBitsObject().Path(),
                                           &rig2_->PortBitsObject(), options);
  if (!registered_) {
    connection_.unregisterObject(path_, QDBusConnection::UnregisterTree);
  }
  return registered_;
}

void TTarvaneX::Unregister() {
  if (!registered_) return;
  registered_ = false;
  connection_.unregisterObject(path_, QDBusConnection::UnregisterTree);
}

bool TTarvaneX::Foreign() {
  if (!ForeignCaller(calledFromDBus(), calledFromDBus() ? message() : QDBusMessage(), owner_))
    return false;
  sendErrorReply(kErrorInvalidArg, ForeignText(path_));
  return true;
}

int TTarvaneX::InterfaceVersion() { return Foreign() ? 0 : kInterfaceVersion; }
int TTarvaneX::SoftwareVersion() { return Foreign() ? 0 : server_.SoftwareVersionNumber(); }
QDBusObjectPath TTarvaneX::Rig1() {
  return Foreign() ? QDBusObjectPath() : QDBusObjectPath(rig1_->Path());
}
QDBusObjectPath TTarvaneX::Rig2() {
  return Foreign() ? QDBusObjectPath() : QDBusObjectPath(rig2_->Path());
}
bool TTarvaneX::DialogVisible() { return !Foreign() && server_.Dialog().DialogVisible(); }

void TTarvaneX::SetDialogVisible(bool Value) {
  if (Foreign()) return;
  if (Value)
    server_.Dialog().ShowDialog();
  else
    server_.Dialog().HideDialog();
}

// The calling connection becomes this object's one event sink.
void TTarvaneX::Advise() {
  if (Foreign()) return;
  if (calledFromDBus()) sink_ = message().service();
}

void TTarvaneX::Unadvise() {
  if (Foreign()) return;
  if (!calledFromDBus() || message().service() == sink_) sink_.clear();
}

}  // namespace tarvane

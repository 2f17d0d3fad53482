// The per-client bus objects of the server: TTarvaneX (one per client, at /TarvaneX/<id>) with
// its two TRigX (/TarvaneX/<id>/Rig1, /Rig2), each with its TPortBits (.../PortBits). Every
// client's objects wrap the same two rig engines (RigLink, not owned). TTarvaneX owns its
// TRigX, a TRigX its TPortBits; the generated adaptors are Qt children of the object they
// serve. Failures inside a member become error replies carrying E_UNEXPECTED. Only the connection
// that created a client's objects may call them; any other caller gets E_INVALIDARG, so that no
// client can take another's events or drive the rigs in its name.
// Main thread only.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

#include "rig_link.h"

namespace tarvane {

class AutomationServer;
class TRigX;

class TPortBits : public QObject, protected QDBusContext {
  Q_OBJECT
 public:
  TPortBits(RigLink& rig, QString path, QString owner);
  const QString& Path() const { return path_; }

  Q_INVOKABLE bool Lock();
  Q_INVOKABLE bool Rts();
  Q_INVOKABLE void SetRts(bool Value);
  Q_INVOKABLE bool Dtr();
  Q_INVOKABLE void SetDtr(bool Value);
  Q_INVOKABLE bool Cts();
  Q_INVOKABLE bool Dsr();
  Q_INVOKABLE void Unlock();

 private:
  bool Foreign();

  RigLink& rig_;
  QString path_;
  QString owner_;
};

class TRigX : public QObject, protected QDBusContext {
  Q_OBJECT
 public:
  // `owner` is the client's id, `ownerName` the bus name of the connection that created it.
  TRigX(uint64_t owner, QString ownerName, RigLink& rig, QString path);
  ~TRigX() override;
  const QString& Path() const { return path_; }
  TPortBits& PortBitsObject() { return *portBits_; }

  Q_INVOKABLE QString RigType();
  Q_INVOKABLE int ReadableParams();
  Q_INVOKABLE int WriteableParams();
  Q_INVOKABLE bool IsParamReadable(int Param);
  Q_INVOKABLE bool IsParamWriteable(int Param);
  Q_INVOKABLE int Status();
  Q_INVOKABLE QString StatusStr();
  Q_INVOKABLE int Freq();
  Q_INVOKABLE void SetFreq(int Value);
  Q_INVOKABLE int FreqA();
  Q_INVOKABLE void SetFreqA(int Value);
  Q_INVOKABLE int FreqB();
  Q_INVOKABLE void SetFreqB(int Value);
  Q_INVOKABLE int RitOffset();
  Q_INVOKABLE void SetRitOffset(int Value);
  Q_INVOKABLE int Pitch();
  Q_INVOKABLE void SetPitch(int Value);
  Q_INVOKABLE int Vfo();
  Q_INVOKABLE void SetVfo(int Value);
  Q_INVOKABLE int Split();
  Q_INVOKABLE void SetSplit(int Value);
  Q_INVOKABLE int Rit();
  Q_INVOKABLE void SetRit(int Value);
  Q_INVOKABLE int Xit();
  Q_INVOKABLE void SetXit(int Value);
  Q_INVOKABLE int Tx();
  Q_INVOKABLE void SetTx(int Value);
  Q_INVOKABLE int Mode();
  Q_INVOKABLE void SetMode(int Value);
  Q_INVOKABLE void ClearRit();
  // The one-call set-ups (rig_set_up.h). A split set-up the rig type has no commands for fails
  // with E_UNEXPECTED, nothing sent; a simplex one that does not fit sends nothing and succeeds.
  Q_INVOKABLE void SetSimplexMode(int Freq);
  Q_INVOKABLE void SetSplitMode(int RxFreq, int TxFreq);
  Q_INVOKABLE int FrequencyOfTone(int Tone);
  Q_INVOKABLE void SendCustomCommand(const QDBusVariant& Command, int ReplyLength,
                                     const QDBusVariant& ReplyEnd);
  Q_INVOKABLE int GetRxFrequency();
  Q_INVOKABLE int GetTxFrequency();
  Q_INVOKABLE QDBusObjectPath PortBits();

 private:
  // Runs one member; an exception becomes an E_UNEXPECTED error reply.
  template <class F>
  auto Safe(F&& body) -> decltype(body());
  void Fail(const char* text);
  bool Foreign();

  uint64_t owner_;
  QString ownerName_;
  RigLink& rig_;
  QString path_;
  std::unique_ptr<TPortBits> portBits_;
};

class TTarvaneX : public QObject, protected QDBusContext {
  Q_OBJECT
 public:
  TTarvaneX(AutomationServer& server, uint64_t id, QString owner, RigLink& rig1, RigLink& rig2);
  ~TTarvaneX() override;

  // Exports this object, its rigs and their port bits on the connection.
  bool Register(QDBusConnection connection);
  void Unregister();

  uint64_t Id() const { return id_; }
  const QString& Path() const { return path_; }
  const QString& Owner() const { return owner_; }  // bus name of the creating connection
  const QString& Sink() const { return sink_; }    // bus name of the advised connection, or empty
  void ClearSink() { sink_.clear(); }
  TRigX& Rig(int rigNumber) { return rigNumber == 2 ? *rig2_ : *rig1_; }

  // The last custom command of this client and its reply (guarded by the rig's lock).
  Bytes LastCommand;
  Bytes LastReply;

  Q_INVOKABLE int InterfaceVersion();
  Q_INVOKABLE int SoftwareVersion();
  Q_INVOKABLE QDBusObjectPath Rig1();
  Q_INVOKABLE QDBusObjectPath Rig2();
  Q_INVOKABLE bool DialogVisible();
  Q_INVOKABLE void SetDialogVisible(bool Value);
  Q_INVOKABLE void Advise();
  Q_INVOKABLE void Unadvise();

 private:
  bool Foreign();

  AutomationServer& server_;
  uint64_t id_;
  QString owner_;
  QString path_;
  QString sink_;
  std::unique_ptr<TRigX> rig1_;
  std::unique_ptr<TRigX> rig2_;
  QDBusConnection connection_{QString()};
  bool registered_ = false;
};

}  // namespace tarvane

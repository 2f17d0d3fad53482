#include "rig_client_link.h"

#include <QDBusConnectionInterface>

#include "tarvane_client.h"

namespace quillmere {

namespace {

// Rig 1's object, fetched anew, its calls bounded by kRigBusTimeoutMs; null when the server fails.
std::unique_ptr<org::tarvane::IRigX> Rig1(const tarvane::TarvaneXClient& client) {
  auto rig = client.Rig(1);
  if (rig) rig->setTimeout(kRigBusTimeoutMs);
  return rig;
}

template <typename Reply>
bool Finished(Reply& reply) {
  reply.waitForFinished();
  return !reply.isError();
}

}  // namespace

TarvaneRigLink::TarvaneRigLink(QDBusConnection connection)
    : connection_(std::move(connection)), client_(std::make_unique<tarvane::TarvaneXClient>(connection_)) {
  QObject::connect(client_.get(), &tarvane::TarvaneXClient::ParamsChange, [this](int rig, int params) {
    if (OnParamsChange) OnParamsChange(rig, params);
  });
  QObject::connect(client_.get(), &tarvane::TarvaneXClient::RigTypeChange, [this](int rig) {
    if (OnRigTypeChange) OnRigTypeChange(rig);
  });
}

TarvaneRigLink::~TarvaneRigLink() = default;

bool TarvaneRigLink::Connect(std::string* error) {
  if (!connection_.isConnected()) {
    if (error) *error = "no session bus: " + connection_.lastError().message().toStdString();
    return false;
  }
  QString reason;
  bool connected = client_->Connect(&reason);
  if (!connected) {
    // A server registered a moment ago is found once the bus has read its activation files again.
    connection_.interface()->call(QStringLiteral("ReloadConfig"));
    connected = client_->Connect(&reason);
  }
  if (!connected) {
    if (error) *error = reason.toStdString();
    return false;
  }
  client_->Application()->setTimeout(kRigBusTimeoutMs);
  return true;
}

QString TarvaneRigLink::ObjectPath() const { return client_->ObjectPath(); }



void TarvaneRigLink::Disconnect() { client_->Disconnect(); }

bool TarvaneRigLink::Connected() const { return client_->Connected(); }

std::optional<int32_t> TarvaneRigLink::Read(TRigProperty property) {
  auto rig = Rig1(*client_);
  if (!rig) return std::nullopt;
  QDBusPendingReply<int> reply;
  switch (property) {
    case TRigProperty::Freq: reply = rig->Freq(); break;
    case TRigProperty::FreqA: reply = rig->FreqA(); break;
    case TRigProperty::FreqB: reply = rig->FreqB(); break;
    case TRigProperty::Pitch: reply = rig->Pitch(); break;
    case TRigProperty::RitOffset: reply = rig->RitOffset(); break;
    case TRigProperty::Vfo: reply = rig->Vfo(); break;
    case TRigProperty::Split: reply = rig->Split(); break;
    case TRigProperty::Rit: reply = rig->Rit(); break;
    case TRigProperty::Xit: reply = rig->Xit(); break;
    case TRigProperty::Tx: reply = rig->Tx(); break;
    case TRigProperty::Mode: reply = rig->Mode(); break;
  }
  if (!Finished(reply)) return std::nullopt;
  return reply.value();
}

bool TarvaneRigLink::Write(TRigProperty property, int32_t value) {
  auto rig = Rig1(*client_);
  if (!rig) return false;
  QDBusPendingReply<> reply;
  switch (property) {
    case TRigProperty::Freq: reply = rig->SetFreq(value); break;
    case TRigProperty::FreqA: reply = rig->SetFreqA(value); break;
    case TRigProperty::FreqB: reply = rig->SetFreqB(value); break;
    case TRigProperty::Pitch: reply = rig->SetPitch(value); break;
    case TRigProperty::RitOffset: reply = rig->SetRitOffset(value); break;
    case TRigProperty::Vfo: reply = rig->SetVfo(value); break;
    case TRigProperty::Split: reply = rig->SetSplit(value); break;
    case TRigProperty::Rit: reply = rig->SetRit(value); break;
    case TRigProperty::Xit: reply = rig->SetXit(value); break;
    case TRigProperty::Tx: reply = rig->SetTx(value); break;
    case TRigProperty::Mode: reply = rig->SetMode(value); break;
  }
  return Finished(reply);
}

bool TarvaneRigLink::ClearRit() {
  auto rig = Rig1(*client_);
  if (!rig) return false;
  QDBusPendingReply<> reply = rig->ClearRit();
  return Finished(reply);
}

std::optional<std::string> TarvaneRigLink::RigType() {
  auto rig = Rig1(*client_);
  if (!rig) return std::nullopt;
  QDBusPendingReply<QString> reply = rig->RigType();
  if (!Finished(reply)) return std::nullopt;
  return reply.value().toStdString();
}

bool TarvaneRigLink::SetDialogVisible(bool visible) {
  org::tarvane::ITarvaneX* app = client_->Application();
  if (app == nullptr) return false;
  QDBusPendingReply<> reply = app->SetDialogVisible(visible);
  return Finished(reply);
}

}  // namespace quillmere

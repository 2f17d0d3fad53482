#include "tarvane_client.h"

namespace tarvane {

TarvaneXClient::TarvaneXClient(QDBusConnection connection, QObject* parent)
    : QObject(parent), connection_(std::move(connection)) {}

TarvaneXClient::~TarvaneXClient() { Disconnect(); }

bool TarvaneXClient::Connect(QString* error, bool advise) {
  Disconnect();
  org::tarvane::ITarvaneXFactory factory(kBusName, kFactoryPath, connection_);
  QDBusPendingReply<QDBusObjectPath> created = factory.CreateInstance();
  created.waitForFinished();
  if (created.isError()) {
    if (error) *error = created.error().message();
    return false;
  }
  path_ = created.value().path();
  app_ = std::make_unique<org::tarvane::ITarvaneX>(kBusName, path_, connection_);
  events_ = std::make_unique<org::tarvane::ITarvaneXEvents>(kBusName, path_, connection_);
  // Subscribe to the signals before advising, so that no event sent after Advise is missed.
  connect(events_.get(), &org::tarvane::ITarvaneXEvents::VisibleChange, this, &TarvaneXClient::VisibleChange);
  connect(events_.get(), &org::tarvane::ITarvaneXEvents::RigTypeChange, this, &TarvaneXClient::RigTypeChange);
  connect(events_.get(), &org::tarvane::ITarvaneXEvents::StatusChange, this, &TarvaneXClient::StatusChange);
  connect(events_.get(), &org::tarvane::ITarvaneXEvents::ParamsChange, this, &TarvaneXClient::ParamsChange);
  connect(events_.get(), &org::tarvane::ITarvaneXEvents::CustomReply, this, &TarvaneXClient::CustomReply);
  if (advise) {
    QDBusPendingReply<> advised = events_->Advise();
    advised.waitForFinished();
    if (advised.isError()) {
      if (error) *error = advised.error().message();
      Disconnect();
      return false;
    }
  }
  return true;
}

void TarvaneXClient::Disconnect() {
  if (!app_) return;
  events_.reset();
  app_.reset();
  org::tarvane::ITarvaneXFactory factory(kBusName, kFactoryPath, connection_);
  // Errors are of no use here: a vanished server has released everything already.
  factory.Release(QDBusObjectPath(path_)).waitForFinished();
  path_.clear();
}

std::unique_ptr<org::tarvane::IRigX> TarvaneXClient::Rig(int rigNumber) const {
  if (!app_) return nullptr;
  QDBusPendingReply<QDBusObjectPath> path = rigNumber == 2 ? app_->Rig2() : app_->Rig1();
  path.waitForFinished();
  if (path.isError()) return nullptr;
  return std::make_unique<org::tarvane::IRigX>(kBusName, path.value().path(), connection_);
}

std::unique_ptr<org::tarvane::IPortBits> TarvaneXClient::PortBits(int rigNumber) const {
  auto rig = Rig(rigNumber);
  if (!rig) return nullptr;
  QDBusPendingReply<QDBusObjectPath> path = rig->PortBits();
  path.waitForFinished();
  if (path.isError()) return nullptr;
  return std::make_unique<org::tarvane::IPortBits>(kBusName, path.value().path(), connection_);
}

}  // namespace tarvane

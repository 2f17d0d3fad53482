#include "automation_server.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMetaObject>

#include "tarvane_adaptors.h"
#include "tarvane_enums.h"

namespace tarvane {

AutomationServer::AutomationServer(QDBusConnection connection, RigLink& rig1, RigLink& rig2,
                                   DialogHost& dialog, int32_t softwareVersion)
    : connection_(std::move(connection)), rig1_(rig1), rig2_(rig2), dialog_(dialog),
      softwareVersion_(softwareVersion) {
  new ITarvaneXFactoryAdaptor(this);
  watcher_.setConnection(connection_);
  watcher_.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
  connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this,
          &AutomationServer::ClientVanished);
  busCheck_.setInterval(500);
  connect(&busCheck_, &QTimer::timeout, this, [this] {
    if (!connection_.isConnected()) BusLost();
  });
}

AutomationServer::~AutomationServer() {
  clients_.clear();
  if (factoryRegistered_) connection_.unregisterObject(kFactoryPath);
}

bool AutomationServer::RegisterFactory() {
  factoryRegistered_ =
      connection_.registerObject(kFactoryPath, this, QDBusConnection::ExportAdaptors);
  if (factoryRegistered_) {
    busCheck_.start();
    if (startedByAutomation_) {
      QTimer::singleShot(startupGraceMs_, this, [this] {
        if (clients_.empty()) LastRelease();
      });
    }
  }
  return factoryRegistered_;
}

TTarvaneX* AutomationServer::FindClient(uint64_t id) const {
  for (const auto& c : clients_)
    if (c->Id() == id) return c.get();
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Factory

QDBusObjectPath AutomationServer::CreateInstance() {
  const QString owner = calledFromDBus() ? message().service() : QString();
  auto client = std::make_unique<TTarvaneX>(*this, nextId_++, owner, rig1_, rig2_);
  if (!client->Register(connection_)) {
    if (calledFromDBus())
      sendErrorReply(kErrorUnexpected,
                     QString::asprintf("0x%08X: ", unsigned(kResultUnexpected)) +
                         "cannot export the object " + client->Path());
    return QDBusObjectPath();
  }
  const QString path = client->Path();
  clients_.push_back(std::move(client));
  if (!owner.isEmpty() && !watcher_.watchedServices().contains(owner)) {
    watcher_.addWatchedService(owner);
    // The owner may have left between its call and the watch; the bus answers in order, so
    // asking now catches that case. The answer is awaited from the event loop: the main thread
    // never waits on the bus (the rigs' timer and every other client run on it).
    auto* pending = new QDBusPendingCallWatcher(
        connection_.interface()->asyncCall(QStringLiteral("NameHasOwner"), owner), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, owner](QDBusPendingCallWatcher* call) {
              const QDBusPendingReply<bool> has = *call;
              call->deleteLater();
              if (!has.isError() && !has.value()) ClientVanished(owner);
            });
  }
  return QDBusObjectPath(path);
}

void AutomationServer::Release(const QDBusObjectPath& Object) {
  for (const auto& c : clients_) {
    if (c->Path() == Object.path() &&
        (!calledFromDBus() || c->Owner().isEmpty() || c->Owner() == message().service())) {
      const uint64_t id = c->Id();
      // Answer first: releasing may end the server.
      if (calledFromDBus()) {
        setDelayedReply(true);
        connection_.send(message().createReply());
      }
      ReleaseClient(id);
      return;
    }
  }
  if (calledFromDBus())
    sendErrorReply(kErrorInvalidArg, QString::asprintf("0x%08X: ", unsigned(kResultInvalidArg)) +
                                         "no object of this client at " + Object.path());
}

void AutomationServer::ShowDialog() { dialog_.ShowDialog(); }

void AutomationServer::ReleaseClient(uint64_t id) {
  for (auto it = clients_.begin(); it != clients_.end(); ++it) {
    if ((*it)->Id() != id) continue;
    std::unique_ptr<TTarvaneX> client = std::move(*it);
    clients_.erase(it);
    const QString owner = client->Owner();
    client.reset();
    bool ownerHasMore = false;
    for (const auto& c : clients_) ownerHasMore |= c->Owner() == owner;
    if (!owner.isEmpty() && !ownerHasMore) watcher_.removeWatchedService(owner);
    if (clients_.empty()) LastRelease();
    return;
  }
}

void AutomationServer::ClientVanished(const QString& name) {
  std::vector<uint64_t> gone;
  for (const auto& c : clients_) {
    if (c->Owner() == name) gone.push_back(c->Id());
    else if (c->Sink() == name) c->ClearSink();
  }
  for (uint64_t id : gone) ReleaseClient(id);
}

// No client can reach the server any more: their objects go, and with none left the last-release
// rule decides whether the server ends (a server nobody can reach or see must not keep the
// radios' ports).
void AutomationServer::BusLost() {
  busCheck_.stop();
  std::vector<uint64_t> ids;
  for (const auto& c : clients_) ids.push_back(c->Id());
  for (uint64_t id : ids) ReleaseClient(id);  // the last one applies the rule
  if (ids.empty()) LastRelease();
}

// A server started by the bus ends with its last client; one started by hand ends only when
// its dialog is not showing.
void AutomationServer::LastRelease() {
  if (startedByAutomation_ || !dialog_.DialogVisible()) {
    if (OnQuit) OnQuit();
  }
}

// ---------------------------------------------------------------------------------------------
// Events

void AutomationServer::PostStatusChange(int rigNumber) {
  QMetaObject::invokeMethod(this, [this, rigNumber] { FireStatusChange(rigNumber); },
                            Qt::QueuedConnection);
}

void AutomationServer::PostParamsChange(int rigNumber, int32_t params) {
  QMetaObject::invokeMethod(this, [this, rigNumber, params] { FireParamsChange(rigNumber, params); },
                            Qt::QueuedConnection);
}

void AutomationServer::PostCustomReply(int rigNumber, uint64_t client) {
  QMetaObject::invokeMethod(this, [this, rigNumber, client] { FireCustomReply(rigNumber, client); },
                            Qt::QueuedConnection);
}

void AutomationServer::StoreCustomReply(int rigNumber, uint64_t client, const Bytes& command,
                                        const Bytes& reply) {
  std::lock_guard<std::recursive_mutex> lock(RigOf(rigNumber).Mutex());
  if (TTarvaneX* c = FindClient(client)) {
    c->LastCommand = command;
    c->LastReply = reply;
  }
}

void AutomationServer::SendEvent(const TTarvaneX& client, const char* name,
                                 const QVariantList& args) {
  QDBusMessage signal =
      QDBusMessage::createTargetedSignal(client.Sink(), client.Path(), kEventsInterface, name);
  signal.setArguments(args);
  connection_.send(signal);
}

void AutomationServer::FireVisibleChange() {
  for (auto it = clients_.rbegin(); it != clients_.rend(); ++it)
    if (!(*it)->Sink().isEmpty()) SendEvent(**it, "VisibleChange", {});
}

void AutomationServer::FireRigTypeChange(int rigNumber) {
  for (auto it = clients_.rbegin(); it != clients_.rend(); ++it)
    if (!(*it)->Sink().isEmpty()) SendEvent(**it, "RigTypeChange", {rigNumber});
}

void AutomationServer::FireStatusChange(int rigNumber) {
  for (auto it = clients_.rbegin(); it != clients_.rend(); ++it)
    if (!(*it)->Sink().isEmpty()) SendEvent(**it, "StatusChange", {rigNumber});
}

void AutomationServer::FireParamsChange(int rigNumber, int32_t params) {
  for (auto it = clients_.rbegin(); it != clients_.rend(); ++it)
    if (!(*it)->Sink().isEmpty()) SendEvent(**it, "ParamsChange", {rigNumber, int(params)});
}

// Only the client that sent the command hears its reply, and only while it still exists.
void AutomationServer::FireCustomReply(int rigNumber, uint64_t client) {
  TTarvaneX* c = FindClient(client);
  if (!c) return;
  std::lock_guard<std::recursive_mutex> lock(RigOf(rigNumber).Mutex());
  if (c->Sink().isEmpty()) return;
  const QByteArray command(reinterpret_cast<const char*>(c->LastCommand.data()),
                           qsizetype(c->LastCommand.size()));
  const QByteArray reply(reinterpret_cast<const char*>(c->LastReply.data()),
                         qsizetype(c->LastReply.size()));
  SendEvent(*c, "CustomReply", {rigNumber, command, reply});
}

}  // namespace tarvane

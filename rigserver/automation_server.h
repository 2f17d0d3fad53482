// AutomationServer: the server side of the bus interface. It exports the factory object at
// /TarvaneX, keeps the client list (every live TTarvaneX in creation order, owned here), releases
// the objects of a client whose connection leaves the bus, sends the events to the advised
// clients, and applies the last-release rule. When the bus itself goes away (the session ends),
// every client is gone with it and the last-release rule decides. The rig engines post their changes here; a post
// is delivered later from the event loop, as a posted window message would be.
// Main thread only (posts may come from any thread).
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "automation_objects.h"
#include "rig_link.h"

namespace tarvane {

// The settings dialog as the bus objects see it.
class DialogHost {
 public:
  virtual ~DialogHost() = default;
  virtual bool DialogVisible() const = 0;
  virtual void ShowDialog() = 0;  // show and bring to the front
  virtual void HideDialog() = 0;
};

class AutomationServer : public QObject, protected QDBusContext {
  Q_OBJECT
 public:
  AutomationServer(QDBusConnection connection, RigLink& rig1, RigLink& rig2, DialogHost& dialog,
                   int32_t softwareVersion);
  ~AutomationServer() override;

  // Exports the factory object and starts watching the connection. False when the path is taken.
  bool RegisterFactory();

  // Started by the bus: the last release ends the server whatever the dialog shows.
  void SetStartedByAutomation(bool value) { startedByAutomation_ = value; }
  bool StartedByAutomation() const { return startedByAutomation_; }
  // A server started by the bus that has no client this long after RegisterFactory ends by the
  // last-release rule: on the bus any call to the name starts the server, also one on an object
  // of an earlier run, which makes no client that could ever release.
  void SetStartupGraceMs(int ms) { startupGraceMs_ = ms; }
  // Called when the server should end (last release).
  std::function<void()> OnQuit;

  size_t ClientCount() const { return clients_.size(); }
  TTarvaneX* FindClient(uint64_t id) const;
  const std::vector<std::unique_ptr<TTarvaneX>>& Clients() const { return clients_; }
  DialogHost& Dialog() { return dialog_; }
  int32_t SoftwareVersionNumber() const { return softwareVersion_; }
  QDBusConnection& Connection() { return connection_; }

  // Posted by the rig engines; delivered from the event loop.
  void PostStatusChange(int rigNumber);
  void PostParamsChange(int rigNumber, int32_t params);
  void PostCustomReply(int rigNumber, uint64_t client);
  // Stores a custom command's reply in its client (under that rig's lock); a released client
  // is skipped.
  void StoreCustomReply(int rigNumber, uint64_t client, const Bytes& command, const Bytes& reply);

  // Fired at once to every advised client, from the last created to the first.
  void FireVisibleChange();
  void FireRigTypeChange(int rigNumber);
  void FireStatusChange(int rigNumber);
  void FireParamsChange(int rigNumber, int32_t params);
  void FireCustomReply(int rigNumber, uint64_t client);

  // ITarvaneXFactory.
  Q_INVOKABLE QDBusObjectPath CreateInstance();
  Q_INVOKABLE void Release(const QDBusObjectPath& Object);
  Q_INVOKABLE void ShowDialog();

  // Releases one client's objects, then applies the last-release rule.
  void ReleaseClient(uint64_t id);

 private:
  void ClientVanished(const QString& name);
  void BusLost();
  void LastRelease();
  void SendEvent(const TTarvaneX& client, const char* name, const QVariantList& args);
  RigLink& RigOf(int rigNumber) { return rigNumber == 2 ? rig2_ : rig1_; }

  QDBusConnection connection_;
  RigLink& rig1_;
  RigLink& rig2_;
  DialogHost& dialog_;
  int32_t softwareVersion_;
  bool startedByAutomation_ = false;
  int startupGraceMs_ = 10000;
  bool factoryRegistered_ = false;
  uint64_t nextId_ = 1;
  std::vector<std::unique_ptr<TTarvaneX>> clients_;
  QDBusServiceWatcher watcher_;
  QTimer busCheck_;  // notices the loss of the bus connection
};

}  // namespace tarvane

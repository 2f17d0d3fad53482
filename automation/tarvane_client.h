// TarvaneXClient: a client's connection to the Tarvane server on the session bus.
// Connect creates this client's application object (starting the server through bus activation
// when it is not running) and makes this connection its event sink; Disconnect releases it.
// The rig proxies are made anew on each call, as the server hands out their paths.
// Owns its proxies; lives on one thread (the thread of its QObject).
#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <memory>

#include "tarvane_enums.h"
#include "tarvane_proxies.h"

namespace tarvane {

class TarvaneXClient : public QObject {
  Q_OBJECT
 public:
  explicit TarvaneXClient(QDBusConnection connection, QObject* parent = nullptr);
  ~TarvaneXClient() override;

  // Creates the application object and advises its events. False (with the bus error's text in
  // *error) when the server cannot be reached or refuses.
  bool Connect(QString* error = nullptr, bool advise = true);
  // Releases the application object; harmless when not connected.
  void Disconnect();
  bool Connected() const { return app_ != nullptr; }
  QString ObjectPath() const { return path_; }

  // The application object's own interface; null while not connected.
  org::tarvane::ITarvaneX* Application() const { return app_.get(); }
  org::tarvane::ITarvaneXEvents* Events() const { return events_.get(); }
  // A new proxy for rig 1 or 2 (null while not connected or when the server fails).
  std::unique_ptr<org::tarvane::IRigX> Rig(int rigNumber) const;
  std::unique_ptr<org::tarvane::IPortBits> PortBits(int rigNumber) const;

 signals:
  void VisibleChange();
  void RigTypeChange(int RigNumber);
  void StatusChange(int RigNumber);
  void ParamsChange(int RigNumber, int Params);
  void CustomReply(int RigNumber, const QByteArray& Command, const QByteArray& Reply);

 private:
  QDBusConnection connection_;
  QString path_;
  std::unique_ptr<org::tarvane::ITarvaneX> app_;
  std::unique_ptr<org::tarvane::ITarvaneXEvents> events_;
};

}  // namespace tarvane

// PrivateBus: a session bus daemon of the test's own, with its own folder of activation
// .service files, started in the constructor and killed in the destructor. Also helpers that
// pump the Qt event loop for a bounded time while waiting for a reply or a condition.
#pragma once

#include <QCoreApplication>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

namespace tarvane_test {

class PrivateBus {
 public:
  // environment: extra variables for the daemon, inherited by the services it starts.
  // serviceDir: the folder of activation files (empty: one of its own).
  explicit PrivateBus(const QStringList& environment = {}, const QString& serviceDir = {});
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  bool Ok() const { return !address_.isEmpty(); }
  const QString& Address() const { return address_; }
  QString ServiceDir() const { return serviceDir_; }
  QString TempPath() const { return dir_.path(); }

 private:
  QTemporaryDir dir_;
  QProcess daemon_;
  QString address_;
  QString serviceDir_;
};

// Pumps events until cond() holds or ms pass; returns cond().
bool WaitFor(const std::function<bool()>& cond, int ms = 5000);

// Waits (pumping events) for a pending call; false on time-out.
inline bool Finish(const QDBusPendingCall& call, int ms = 5000) {
  return WaitFor([&] { return call.isFinished(); }, ms);
}

}  // namespace tarvane_test

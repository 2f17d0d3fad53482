// Timing of Tarvane's events: the time from the simulated radio's status reply carrying a new
// frequency to the ParamsChange signal arriving in each client process over the session bus,
// with one and with ten clients. Runs the built Tarvane on a private bus; prints the median,
// 90th percentile and maximum per client count, beside the floor measured in the same run (one
// round trip through the same bus daemon) and the ratio. A plain timing program, never a test.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "private_bus.h"
#include "sim_radio.h"
#include "tarvane_client.h"
#include "tarvane_enums.h"
#include "tarvane_proxies.h"

using tarvane_test::Finish;
using tarvane_test::WaitFor;

namespace {

struct Client {
  std::unique_ptr<QProcess> process;
  QString out;
  std::vector<long long> stamps;  // arrival of each ParamsChange

  void Read() {
    out += QString::fromUtf8(process->readAllStandardOutput());
    qsizetype nl;
    while ((nl = out.indexOf('\n')) >= 0) {
      const QString line = out.left(nl);
      out.remove(0, nl + 1);
      const QStringList f = line.split(' ');
      if (f.size() == 4 && f[0] == "ParamsChange") stamps.push_back(f[3].toLongLong());
      if (f.size() == 2 && f[0] == "PATH") connected = true;
    }
  }
  bool connected = false;
};

bool Run(int clients, int rounds) {
  QTemporaryDir home;
  const QString bin = QCoreApplication::applicationDirPath();
  const QString dev = home.path() + "/dev";
  tarvane_test::SimRadio sim(dev.toStdString());
  if (!sim.Ok()) return false;
  QDir(home.path()).mkpath("Rigs");
  QDir(home.path()).mkpath("services");
  {
    QFile rig(home.path() + "/Rigs/SimRig.ini");
    rig.open(QIODevice::WriteOnly);
    rig.write(tarvane_test::kSimRigFile);
    QFile ini(home.path() + "/Tarvane.ini");
    ini.open(QIODevice::WriteOnly);
    ini.write("[RIG1]\r\nRigType=SimRig\r\nPort=1\r\nPollMs=100\r\nTimeoutMs=1000\r\n");
    QFile service(home.path() + "/services/org.tarvane.TarvaneX.service");
    service.open(QIODevice::WriteOnly);
    service.write(("[D-BUS Service]\nName=org.tarvane.TarvaneX\nExec=" + bin + "/Tarvane -AUTOMATION\n").toUtf8());
  }
  tarvane_test::PrivateBus bus({"TARVANE_HOME=" + home.path(), "QT_QPA_PLATFORM=offscreen",
                                "TARVANE_DEV_ROOT=" + dev, "TARVANE_SYS_ROOT=" + dev},
                               home.path() + "/services");
  if (!bus.Ok()) return false;

  std::vector<Client> procs(static_cast<size_t>(clients));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DBUS_SESSION_BUS_ADDRESS", bus.Address());
  for (Client& c : procs) {
    c.process = std::make_unique<QProcess>();
    c.process->setProcessEnvironment(env);
    c.process->start(bin + "/tarvane_test_client", {"--stamp"});
  }
  auto readAll = [&] {
    for (Client& c : procs) c.Read();
  };
  bool ok = WaitFor([&] {
    readAll();
    return std::all_of(procs.begin(), procs.end(), [](const Client& c) { return c.connected; });
  }, 20000);

  // Objects belong to the client that made them: the bench makes its own application object and
  // asks its own rig 1 whether the radio is online.
  QDBusConnection conn = QDBusConnection::connectToBus(bus.Address(), "bench");
  std::unique_ptr<org::tarvane::IRigX> rig;
  {
    tarvane::TarvaneXClient self(conn);
    QString error;
    ok = ok && self.Connect(&error, false);
    if (!ok && !error.isEmpty()) std::printf("bench client: %s\n", qPrintable(error));
    if (ok) rig = self.Rig(1);
    ok = ok && rig != nullptr && WaitFor([&] {
      QDBusPendingReply<int> f = rig->Freq();
      return Finish(f) && !f.isError() && f.value() == sim.Freq();
    }, 20000);
    rig.reset();
  }

  std::vector<double> ms;
  for (int i = 0; ok && i < rounds; ++i) {
    readAll();
    std::vector<size_t> before;
    for (Client& c : procs) before.push_back(c.stamps.size());
    const int hz = 14000000 + 100 * (i + 1);
    sim.SetFreq(hz);
    ok = WaitFor([&] {
      readAll();
      for (size_t k = 0; k < procs.size(); ++k)
        if (procs[k].stamps.size() <= before[k]) return false;
      return true;
    }, 5000);
    const long long sent = sim.ReplyTime(hz);
    for (size_t k = 0; ok && k < procs.size(); ++k)
      ms.push_back(double(procs[k].stamps[before[k]] - sent) / 1e6);
  }

  // The reference: one message through the same bus daemon and back (a ping of the daemon),
  // what any event costs before the server and the client do anything.
  std::vector<double> floor;
  for (int i = 0; ok && i < rounds; ++i) {
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Peer", "Ping");
    const auto start = std::chrono::steady_clock::now();
    const QDBusMessage reply = conn.call(ping);
    floor.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                              start)
                        .count());
    ok = reply.type() == QDBusMessage::ReplyMessage;
  }

  for (Client& c : procs) {
    c.process->closeWriteChannel();
    if (!c.process->waitForFinished(3000)) c.process->kill();
    c.process->waitForFinished(3000);
  }
  QDBusConnection::disconnectFromBus("bench");
  if (!ok || ms.empty()) {
    std::printf("%2d client(s): failed\n", clients);
    return false;
  }
  std::sort(ms.begin(), ms.end());
  std::sort(floor.begin(), floor.end());
  const double median = ms[ms.size() / 2];
  const double reference = floor[floor.size() / 2];
  std::printf("%2d client(s), %zu events: median %.3f ms, p90 %.3f ms, max %.3f ms; "
              "bus round trip (floor) %.3f ms; ratio %.2f\n",
              clients, ms.size(), median, ms[ms.size() * 9 / 10], ms.back(), reference,
              reference > 0 ? median / reference : 0.0);
  // One line per figure for scripts/bench.sh.
  std::printf("RESULT Events/%dclient%s figure_us=%.1f floor_us=%.1f ratio=%.3f\n", clients,
              clients == 1 ? "" : "s", median * 1000, reference * 1000,
              reference > 0 ? median / reference : 0.0);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::printf("Radio reply to ParamsChange at the client, over the session bus:\n");
  const bool one = Run(1, 40);
  const bool ten = Run(10, 40);
  return one && ten ? 0 : 1;
}

// The Tarvane program on a private bus whose activation file was written by "Tarvane -REGSERVER":
// activation by the first call, clients in their own processes, release of a killed client's
// objects, the end of a bus-started server at the last release, the hand-over of a second
// start, and the log of a fresh start.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <sstream>

#include "private_bus.h"
#include "tarvane_enums.h"
#include "tarvane_proxies.h"

using namespace tarvane;  // NOLINT
using tarvane_test::Finish;
using tarvane_test::WaitFor;

namespace {

// The programs lie beside the test (the build puts every program into one folder).
QString BinDir() {
  const QString dir = qEnvironmentVariable("TARVANE_TEST_BIN");
  return dir.isEmpty() ? QCoreApplication::applicationDirPath() : dir;
}

std::string ReadAll(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool ProcessAlive(uint pid) { return pid != 0 && ::kill(pid_t(pid), 0) == 0; }

// A client process (tarvane_test_client) with its output collected line by line.
class ClientProcess {
 public:
  ClientProcess(const QString& address, const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", address);
    p_.setProcessEnvironment(env);
    p_.start(BinDir() + "/tarvane_test_client", args);
  }
  ~ClientProcess() {
    if (p_.state() != QProcess::NotRunning) {
      p_.kill();
      p_.waitForFinished(3000);
    }
  }
  QStringList Lines() {
    out_ += QString::fromUtf8(p_.readAllStandardOutput());
    return out_.split('\n', Qt::SkipEmptyParts);
  }
  // Waits for the "PATH" line and returns the path.
  QString Path() {
    QString path;
    WaitFor([&] {
      for (const QString& l : Lines())
        if (l.startsWith("PATH ")) path = l.mid(5);
      return !path.isEmpty() || p_.state() == QProcess::NotRunning;
    }, 15000);
    return path;
  }
  void Kill() {
    p_.kill();
    p_.waitForFinished(3000);
  }

 private:
  QProcess p_;
  QString out_;
};

class ServerProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(BinDir().isEmpty());
    const QString ini = home.path() + "/Tarvane.ini";
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Debug]\r\nLog=1\r\n");
    f.close();
    // Register the way a user would; the activation file is what the bus starts us from.
    QProcess reg;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TARVANE_DBUS_SERVICE_DIR", services.path());
    reg.setProcessEnvironment(env);
    reg.start(BinDir() + "/Tarvane", {"/RegServer"});
    ASSERT_TRUE(reg.waitForFinished(15000));
    ASSERT_EQ(0, reg.exitCode());
    ASSERT_TRUE(QFile::exists(services.path() + "/org.tarvane.TarvaneX.service"));

    bus = std::make_unique<tarvane_test::PrivateBus>(
        QStringList{"TARVANE_HOME=" + home.path(), "QT_QPA_PLATFORM=offscreen"}, services.path());
    ASSERT_TRUE(bus->Ok());
    conn = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(bus->Address(), "test"));
    ASSERT_TRUE(conn->isConnected());
  }

  void TearDown() override {
    // Never leave a server behind.
    if (serverPid && ProcessAlive(serverPid)) ::kill(pid_t(serverPid), SIGKILL);
    conn.reset();
    QDBusConnection::disconnectFromBus("test");
    bus.reset();
  }

  bool ServerRunning() { return conn->interface()->isServiceRegistered(kBusName).value(); }

  QString Create(bool advise = false) {
    org::tarvane::ITarvaneXFactory factory(kBusName, kFactoryPath, *conn);
    QDBusPendingReply<QDBusObjectPath> r = factory.CreateInstance();
    EXPECT_TRUE(Finish(r, 15000));
    EXPECT_FALSE(r.isError()) << r.error().message().toStdString();
    if (!serverPid) serverPid = conn->interface()->servicePid(kBusName).value();
    if (advise) {
      org::tarvane::ITarvaneXEvents events(kBusName, r.value().path(), *conn);
      QDBusPendingReply<> a = events.Advise();
      EXPECT_TRUE(Finish(a));
    }
    return r.value().path();
  }

  bool ObjectExists(const QString& path) {
    org::tarvane::ITarvaneX app(kBusName, path, *conn);
    QDBusPendingReply<int> r = app.InterfaceVersion();
    return Finish(r) && !r.isError();
  }

  QTemporaryDir home;
  QTemporaryDir services;
  std::unique_ptr<tarvane_test::PrivateBus> bus;
  std::unique_ptr<QDBusConnection> conn;
  uint serverPid = 0;
};

TEST_F(ServerProcess, ActivatedByTheFirstCallAndEndsAtTheLastRelease) {
  EXPECT_FALSE(ServerRunning());
  const QString mine = Create();
  ASSERT_TRUE(ServerRunning());
  ASSERT_NE(0u, serverPid);
  EXPECT_TRUE(ObjectExists(mine));

  ClientProcess one(bus->Address(), {});
  ClientProcess two(bus->Address(), {"--no-advise"});
  const QString onePath = one.Path(), twoPath = two.Path();
  ASSERT_FALSE(onePath.isEmpty());
  ASSERT_FALSE(twoPath.isEmpty());
  EXPECT_NE(onePath, twoPath);
  EXPECT_NE(mine, onePath);
  // The same server process serves everyone.
  EXPECT_EQ(serverPid, conn->interface()->servicePid(kBusName).value());

  // A killed client's objects are dropped; the others stay.
  one.Kill();
  EXPECT_TRUE(WaitFor([&] { return !ObjectExists(onePath); }, 10000));
  EXPECT_TRUE(ObjectExists(twoPath));
  EXPECT_TRUE(ObjectExists(mine));

  two.Kill();
  EXPECT_TRUE(WaitFor([&] { return !ObjectExists(twoPath); }, 10000));
  EXPECT_TRUE(ProcessAlive(serverPid));

  // The last release ends a server started by the bus, and the reply still arrives.
  org::tarvane::ITarvaneXFactory factory(kBusName, kFactoryPath, *conn);
  QDBusPendingReply<> r = factory.Release(QDBusObjectPath(mine));
  ASSERT_TRUE(Finish(r));
  EXPECT_FALSE(r.isError()) << r.error().message().toStdString();
  EXPECT_TRUE(WaitFor([&] { return !ServerRunning() && !ProcessAlive(serverPid); }, 10000));

  // The log of that run, line by line.
  const QString log = QString::fromStdString(ReadAll(home.path() + "/Tarvane.log"));
  const QStringList lines = log.split("\r\n", Qt::SkipEmptyParts);
  ASSERT_EQ(5, lines.size()) << log.toStdString();
  const QRegularExpression stamp("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  ");
  for (const QString& l : lines) EXPECT_TRUE(stamp.match(l).hasMatch()) << l.toStdString();
  EXPECT_EQ("Tarvane started: Version 1.0", lines[0].mid(14).toStdString());
  EXPECT_TRUE(lines[1].mid(14).startsWith("COM ports found: "));
  EXPECT_EQ("RIG 1 settings: Rig=NONE|Port=COM0|Baud=9600|Data=8|Parity=None|Stop=1|RTS=Low|Dtr=Low|Poll=500|Timeout=4000",
            lines[2].mid(14).toStdString());
  EXPECT_EQ("RIG 2 settings: Rig=NONE|Port=COM1|Baud=9600|Data=8|Parity=None|Stop=1|RTS=Low|Dtr=Low|Poll=500|Timeout=4000",
            lines[3].mid(14).toStdString());
  EXPECT_EQ("Tarvane stopped", lines[4].mid(14).toStdString());
}

TEST_F(ServerProcess, ASecondStartShowsTheFirstOnesDialogAndEnds) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DBUS_SESSION_BUS_ADDRESS", bus->Address());
  env.insert("TARVANE_HOME", home.path());
  env.insert("QT_QPA_PLATFORM", "offscreen");
  QProcess first;
  first.setProcessEnvironment(env);
  first.start(BinDir() + "/Tarvane");
  ASSERT_TRUE(first.waitForStarted(5000));
  ASSERT_TRUE(WaitFor([&] { return ServerRunning(); }, 15000));

  const QString path = Create(true);
  org::tarvane::ITarvaneX app(kBusName, path, *conn);
  org::tarvane::ITarvaneXEvents events(kBusName, path, *conn);
  QSignalSpy visible(&events, &org::tarvane::ITarvaneXEvents::VisibleChange);
  auto dialogVisible = [&] {
    QDBusPendingReply<bool> r = app.DialogVisible();
    return Finish(r) && !r.isError() && r.value();
  };
  EXPECT_TRUE(dialogVisible());  // started by hand: the dialog shows
  QDBusPendingReply<> hide = app.SetDialogVisible(false);
  ASSERT_TRUE(Finish(hide));
  EXPECT_FALSE(dialogVisible());
  EXPECT_TRUE(WaitFor([&] { return visible.size() == 1; }));

  QProcess second;
  second.setProcessEnvironment(env);
  second.start(BinDir() + "/Tarvane");
  ASSERT_TRUE(second.waitForFinished(15000));
  EXPECT_EQ(0, second.exitCode());
  EXPECT_TRUE(WaitFor([&] { return visible.size() == 2; }));
  EXPECT_TRUE(dialogVisible());
  EXPECT_EQ(serverPid, conn->interface()->servicePid(kBusName).value());

  // Started by hand with its dialog showing, it outlives its last client.
  org::tarvane::ITarvaneXFactory factory(kBusName, kFactoryPath, *conn);
  QDBusPendingReply<> r = factory.Release(QDBusObjectPath(path));
  ASSERT_TRUE(Finish(r));
  WaitFor([] { return false; }, 300);
  EXPECT_EQ(QProcess::Running, first.state());
  first.terminate();
  if (!first.waitForFinished(5000)) {
    first.kill();
    first.waitForFinished(5000);
  }
}

}  // namespace

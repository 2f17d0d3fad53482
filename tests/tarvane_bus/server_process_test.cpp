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

#include "five_byte_radio.h"
#include "private_bus.h"
#include "sim_radio.h"
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

    // The user's data folder of the test, with a rig file of the user's own.
    ASSERT_TRUE(QDir(home.path()).mkpath("xdg/Tarvane/Rigs"));
    QFile mine(home.path() + "/xdg/Tarvane/Rigs/Mine.ini");
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
    mine.write("[pmTx]\nCommand=(TX;)\n");
    mine.close();
    bus = std::make_unique<tarvane_test::PrivateBus>(
        QStringList{"TARVANE_HOME=" + home.path(), "QT_QPA_PLATFORM=offscreen",
                    "TARVANE_DEV_ROOT=" + DevRoot(), "TARVANE_SYS_ROOT=" + DevRoot(),
                    "XDG_DATA_HOME=" + home.path() + "/xdg"},
        services.path());
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

  // The serial devices the server sees: none unless a test puts a radio there.
  QString DevRoot() const { return home.path() + "/dev"; }

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

  // Another client's object refuses our call but is there.
  bool ObjectExists(const QString& path) {
    org::tarvane::ITarvaneX app(kBusName, path, *conn);
    QDBusPendingReply<int> r = app.InterfaceVersion();
    return Finish(r) && (!r.isError() || r.error().name() == kErrorInvalidArg);
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

  // The log of that run, line by line. With TARVANE_HOME naming another folder, the rig files
  // beside the program are still loaded, with the user's own from the user's data folder.
  const QString log = QString::fromStdString(ReadAll(home.path() + "/Tarvane.log"));
  QStringList lines = log.split("\r\n", Qt::SkipEmptyParts);
  const QRegularExpression stamp("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  ");
  for (const QString& l : lines) EXPECT_TRUE(stamp.match(l).hasMatch()) << l.toStdString();
  QStringList loaded, expected = QDir(BinDir() + "/Rigs").entryList({"*.ini"}, QDir::Files);
  ASSERT_GE(expected.size(), 12);
  expected << "Mine.ini";
  for (qsizetype i = lines.size() - 1; i >= 0; --i) {
    const QString text = lines[i].mid(14);
    if (!text.startsWith("Loading commands from \"")) continue;
    loaded << text.mid(23).chopped(1);
    lines.removeAt(i);
  }
  loaded.sort();
  expected.sort();
  EXPECT_EQ(expected, loaded);
  ASSERT_EQ(5, lines.size()) << log.toStdString();
  EXPECT_EQ("Tarvane started: Version 1.0", lines[0].mid(14).toStdString());
  EXPECT_EQ("COM ports found: ", lines[1].mid(14).toStdString());
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

TEST_F(ServerProcess, ClientsFollowTheSimulatedRadio) {
  tarvane_test::SimRadio sim(DevRoot().toStdString());
  ASSERT_TRUE(sim.Ok());
  ASSERT_TRUE(QDir(home.path()).mkpath("Rigs"));
  {
    QFile rig(home.path() + "/Rigs/SimRig.ini");
    ASSERT_TRUE(rig.open(QIODevice::WriteOnly));
    rig.write(tarvane_test::kSimRigFile);
    QFile ini(home.path() + "/Tarvane.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Debug]\r\nLog=1\r\n[RIG1]\r\nRigType=SimRig\r\nPort=1\r\nPollMs=100\r\nTimeoutMs=1000\r\n");
  }
  const QString a = Create(true);
  org::tarvane::ITarvaneXEvents aEvents(kBusName, a, *conn);
  QSignalSpy aParams(&aEvents, &org::tarvane::ITarvaneXEvents::ParamsChange);
  QSignalSpy aCustom(&aEvents, &org::tarvane::ITarvaneXEvents::CustomReply);
  // A second client that never subscribes.
  QDBusConnection bconn = QDBusConnection::connectToBus(bus->Address(), "quiet");
  org::tarvane::ITarvaneXFactory bFactory(kBusName, kFactoryPath, bconn);
  QDBusPendingReply<QDBusObjectPath> b = bFactory.CreateInstance();
  ASSERT_TRUE(Finish(b));
  org::tarvane::ITarvaneXEvents bEvents(kBusName, b.value().path(), bconn);
  QSignalSpy bParams(&bEvents, &org::tarvane::ITarvaneXEvents::ParamsChange);

  org::tarvane::IRigX rig(kBusName, a + "/Rig1", *conn);
  org::tarvane::IRigX bRig(kBusName, b.value().path() + "/Rig1", bconn);
  auto freq = [&](org::tarvane::IRigX& r) {
    QDBusPendingReply<int> f = r.Freq();
    return Finish(f) && !f.isError() ? f.value() : -1;
  };
  auto status = [&] {
    QDBusPendingReply<int> st = rig.Status();
    return Finish(st) && !st.isError() ? st.value() : -1;
  };
  ASSERT_TRUE(WaitFor([&] { return status() == ST_ONLINE && freq(rig) == 14074000; }, 15000))
      << ReadAll(home.path() + "/Tarvane.log");
  QDBusPendingReply<QString> type = rig.RigType();
  ASSERT_TRUE(Finish(type));
  EXPECT_EQ("SimRig", type.value().toStdString());
  QDBusPendingReply<QString> text = rig.StatusStr();
  ASSERT_TRUE(Finish(text));
  EXPECT_EQ("On-line", text.value().toStdString());

  // The server stores a value before its queued ParamsChange goes out, so the signal of the first
  // reading may still be on its way after Freq() returned that reading. The server handles the two
  // calls above after that signal was sent, and the bus keeps its order: once their replies are in,
  // delivering the events already posted here hands the spy every earlier signal.
  QCoreApplication::sendPostedEvents();
  aParams.clear();

  // The radio moves: the subscribed client hears ParamsChange(1, PM_FREQ) and reads the new value.
  sim.SetFreq(7050000);
  ASSERT_TRUE(WaitFor([&] {
    for (const auto& args : aParams)
      if (args[0].toInt() == 1 && args[1].toInt() == PM_FREQ) return true;
    return false;
  }, 10000));
  EXPECT_EQ(7050000, freq(rig));
  EXPECT_EQ(7050000, freq(bRig));
  EXPECT_EQ(0, bParams.size());

  // A write returns at once; the radio gets the command and the next poll brings the value back.
  QDBusPendingReply<> w = rig.SetFreq(14200000);
  ASSERT_TRUE(Finish(w));
  EXPECT_FALSE(w.isError());
  EXPECT_TRUE(WaitFor([&] { return sim.Received("FA00014200000;"); }, 10000));
  EXPECT_TRUE(WaitFor([&] { return freq(rig) == 14200000; }, 10000));

  // A custom command from another client process: only that client hears the reply.
  ClientProcess c(bus->Address(), {"--custom", "1", "ID;", "0", ";"});
  ASSERT_FALSE(c.Path().isEmpty());
  EXPECT_TRUE(WaitFor([&] { return c.Lines().contains("CustomReply 1 49443B 49443034323B"); }, 10000))
      << c.Lines().join("|").toStdString();
  EXPECT_TRUE(sim.Received("ID;"));
  WaitFor([] { return false; }, 200);
  EXPECT_EQ(0, aCustom.size());
  QDBusConnection::disconnectFromBus("quiet");
}

// A radio of the 5-byte family named by its device path, with a rig file delivered beside the
// program while TARVANE_HOME names another folder: a client keys and unkeys it two hundred times
// as fast as the bus allows, with polls going on, and never hears of or reads a frequency or mode
// the radio does not have.
TEST_F(ServerProcess, PttTogglesNeverShowAClientAWrongFrequency) {
  const QString device = home.path() + "/serial/by-id/usb-Test_CAT_Cable-if00-port0";
  radiosim::TFiveByteRadio sim(device.toStdString());
  ASSERT_TRUE(sim.Ok());
  sim.SetFreq(0, 14074000);
  {
    QFile ini(home.path() + "/Tarvane.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Debug]\r\nLog=1\r\n[RIG1]\r\nRigType=FT-817\r\nPort=" + device.toUtf8() +
              "\r\nPollMs=100\r\nTimeoutMs=1000\r\n");
  }
  const QString path = Create(true);
  org::tarvane::ITarvaneXEvents events(kBusName, path, *conn);
  QSignalSpy params(&events, &org::tarvane::ITarvaneXEvents::ParamsChange);
  org::tarvane::IRigX rig(kBusName, path + "/Rig1", *conn);
  auto get = [](QDBusPendingReply<int> r) { return Finish(r) && !r.isError() ? r.value() : -1; };
  ASSERT_TRUE(WaitFor([&] { return get(rig.Status()) == ST_ONLINE && get(rig.Tx()) == PM_RX; }, 15000))
      << ReadAll(home.path() + "/Tarvane.log");
  EXPECT_EQ(14074000, get(rig.Freq()));
  EXPECT_EQ(PM_SSB_U, get(rig.Mode()));
  QCoreApplication::sendPostedEvents();
  params.clear();

  std::vector<int> wrong;
  for (int i = 0; i < 200; ++i) {
    QDBusPendingReply<> r = rig.SetTx(i % 2 == 0 ? PM_TX : PM_RX);
    ASSERT_TRUE(Finish(r));
    ASSERT_FALSE(r.isError());
    if (i % 5 == 0) {
      const int f = get(rig.Freq());
      if (f != 14074000) wrong.push_back(f);
    }
  }
  // Every command reaches the radio, the last one unkeys it, and the next poll reports that.
  auto keyed = [&] {
    int n = 0;
    for (const std::string& c : sim.Received()) n += c[4] == '\x08' || c[4] == '\x88';
    return n;
  };
  EXPECT_TRUE(WaitFor([&] { return keyed() == 200 && !sim.Transmitting() && get(rig.Tx()) == PM_RX; },
                      15000));
  EXPECT_EQ(std::vector<int>{}, wrong);
  EXPECT_EQ(14074000, get(rig.Freq()));
  EXPECT_EQ(PM_SSB_U, get(rig.Mode()));
  const int keying = PM_TX | PM_RX;
  for (const auto& args : params) EXPECT_EQ(0, args[1].toInt() & ~keying) << args[1].toInt();
  const std::string log = ReadAll(home.path() + "/Tarvane.log");
  EXPECT_EQ(std::string::npos, log.find("{!}")) << log;
}

}  // namespace

// The main window against the real rig server on a private bus, started by the bus from an
// activation file, with a simulated radio of the two-letter text family on a pseudo-terminal
// (the delivered TS-2000 description): the radio moves and the labels and band follow, RIT adds
// its offset, a sweep is announced once, the step and mode buttons reach the radio, manual
// operation leaves and takes the server's object, and a server that is stopped and started
// again leaves the labels alone until the reconnect button brings it back.
#include <QAction>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <csignal>
#include <memory>

#include "ascii_radio.h"
#include "private_bus.h"
#include "rig_client_link.h"
#include "tarvane_client.h"
#include "tarvane_enums.h"
#include "window_fixture.h"

using namespace quillmere_test;
using tarvane_test::Finish;
using tarvane_test::WaitFor;

namespace {

constexpr const char* kConnectionName = "quillmere-rig-server-test";

}  // namespace

class RigServerTest : public TWindowTest {
 protected:
  void SetUp() override {
    const QString bin = qEnvironmentVariable("QM_TEST_BIN_DIR");
    radio = std::make_unique<radiosim::TAsciiRadio>((server.path() + "/dev/radio").toStdString(),
                                                    radiosim::TAsciiDialect::kKenwood);
    ASSERT_TRUE(radio->Ok());
    radio->SetFreq(0, 14074000);
    QDir(server.path()).mkpath("services");
    WriteServerFile("Tarvane.ini", "[RIG1]\r\nRigType=TS-2000\r\nPort=" + server.path() + "/dev/radio" +
                                       "\r\nPollMs=100\r\nTimeoutMs=1000\r\n");
    WriteServerFile("services/org.tarvane.TarvaneX.service",
                    "[D-BUS Service]\nName=org.tarvane.TarvaneX\nExec=" + bin + "/Tarvane -AUTOMATION\n");
    bus = std::make_unique<tarvane_test::PrivateBus>(
        QStringList{"TARVANE_HOME=" + server.path(), "QT_QPA_PLATFORM=offscreen"}, server.path() + "/services");
    ASSERT_TRUE(bus->Ok());
    conn = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(bus->Address(), kConnectionName));
    ASSERT_TRUE(conn->isConnected());
    auto rig = std::make_unique<TarvaneRigLink>(*conn);
    link = rig.get();
    UseRig(std::move(rig));
    Start();
    started_ = true;
    ASSERT_TRUE(Form().RigConnected());
    // The radio's frequency reaches the labels: read by start-up (in its general form) when the
    // server had polled the radio by then, else with the first report.
    ASSERT_TRUE(WaitFor([&] { return Text("Label4") == "14.07400" || Text("Label4") == "14.074"; }, 20000))
        << Text("Label4").toStdString();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Form().StatusText(6), "TS-2000");
    fakes.voice->Clear();
  }
  void TearDown() override {
    // The window lets go of its server object while the bus is still there.
    if (started_) CloseAndDestroy();
    if (const uint pid = ServerPid()) ::kill(pid_t(pid), SIGKILL);
    conn.reset();
    QDBusConnection::disconnectFromBus(kConnectionName);
    bus.reset();
  }

  void WriteServerFile(const QString& name, const QString& text) {
    QFile f(server.path() + "/" + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.toUtf8());
  }
  QString Text(const char* name) { return Find<QLabel>(name)->text(); }
  QString Band() { return Find<QLineEdit>("LogEdit7")->text(); }
  uint ServerPid() {
    if (!conn || !conn->interface()->isServiceRegistered(tarvane::kBusName).value()) return 0;
    return conn->interface()->servicePid(tarvane::kBusName).value();
  }
  // The application object at `path` is there on the server.
  bool ObjectExists(const QString& path) {
    org::tarvane::ITarvaneX app(tarvane::kBusName, path, *conn);
    QDBusPendingReply<int> r = app.InterfaceVersion();
    return Finish(r) && !r.isError();
  }
  // Moves the radio and waits for the frequency label to show `shown`.
  bool Move(long long hz, char mode, const char* shown) {
    radio->SetMode(mode);
    radio->SetFreq(0, hz);
    return WaitFor([&] { return Text("Label4") == shown; }, 5000);
  }

  QTemporaryDir server;
  std::unique_ptr<radiosim::TAsciiRadio> radio;
  std::unique_ptr<tarvane_test::PrivateBus> bus;
  std::unique_ptr<QDBusConnection> conn;
  TarvaneRigLink* link = nullptr;
  bool started_ = false;
};

TEST_F(RigServerTest, TheLabelsAndBandFollowTheRadio) {
  struct Case {
    long long hz;
    char mode;
    const char *shown, *modeText, *band;  // band "-": unchanged
  } cases[] = {
      {7030000, '3', "7.03000", "CW", "40"},
      {50500000, '4', "50.50000", "FM", "6"},      // beyond the 6 m row read at start-up
      {1240000000, '4', "1240.00000", "FM", "23"},  // below the 23 cm row read at start-up
      {5300000, '1', "5.30000", "LSB", "-"},
      {21200000, '9', "21.20000", "RTTY-R", "15"},
      {14074000, '2', "14.07400", "USB", "20"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    const QString before = Band();
    ASSERT_TRUE(Move(c.hz, c.mode, c.shown)) << Text("Label4").toStdString();
    ASSERT_TRUE(WaitFor([&] { return Text("Label5") == c.modeText; }, 5000)) << Text("Label5").toStdString();
    EXPECT_EQ(Text("Label36"), c.modeText);
    EXPECT_EQ(Text("Label35"), c.shown);
    EXPECT_EQ(Text("Label49"), c.shown);
    EXPECT_EQ(Find<QLineEdit>("Edit21")->text(), c.shown);
    EXPECT_EQ(Band(), std::string(c.band) == "-" ? before : QString(c.band));
  }

  // RIT switched on through the window reaches the radio; its offset is added to what is shown.
  radio->SetRitOffset(-250);
  Form().SetRigParam(tarvane::PM_RITON);
  ASSERT_TRUE(WaitFor([&] { return radio->Rit(); }, 5000));
  EXPECT_TRUE(WaitFor([&] { return Text("Label4") == "14.07375"; }, 5000)) << Text("Label4").toStdString();
  Form().SetRigParam(tarvane::PM_RIT0);
  EXPECT_TRUE(WaitFor([&] { return radio->RitOffset() == 0; }, 5000));
  EXPECT_TRUE(WaitFor([&] { return Text("Label4") == "14.07400"; }, 5000)) << Text("Label4").toStdString();
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());
}

TEST_F(RigServerTest, ATuningSweepIsAnnouncedOnceWithTheFinalFrequency) {
  ASSERT_TRUE(Form().SpeechOn());
  Find<QCheckBox>("CheckBox15")->setChecked(true);
  ASSERT_TRUE(Move(14075000, '2', "14.07500"));
  ASSERT_TRUE(Move(14076000, '2', "14.07600"));
  ASSERT_TRUE(Move(14077000, '2', "14.07700"));
  ASSERT_TRUE(WaitFor([&] { return !fakes.voice->Spoken().empty(); }, 5000));
  QTest::qWait(300);
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"14.07700 mega hertz. "});
}

TEST_F(RigServerTest, StepAndModeButtonsReachTheRadio) {
  Find<QSlider>("TrackBar3")->setValue(3);
  Find<QPushButton>("BitBtn8")->click();
  EXPECT_TRUE(WaitFor([&] { return radio->Freq(0) == 14075000; }, 5000)) << radio->Freq(0);
  EXPECT_TRUE(WaitFor([&] { return Text("Label4") == "14.07500"; }, 5000));
  Find<QSlider>("TrackBar3")->setValue(6);
  Find<QPushButton>("BitBtn7")->click();
  EXPECT_TRUE(WaitFor([&] { return radio->Freq(0) == 13975000; }, 5000)) << radio->Freq(0);
  EXPECT_TRUE(WaitFor([&] { return Text("Label4") == "13.97500" && Band() == "20"; }, 5000));

  const std::pair<const char*, char> buttons[] = {{"Button29", '3'}, {"Button31", '1'}, {"Button32", '4'}, {"Button30", '2'}};
  for (const auto& [name, code] : buttons) {
    Find<QPushButton>(name)->click();
    EXPECT_TRUE(WaitFor([&] { return radio->Mode() == code; }, 5000)) << name << " " << radio->Mode();
  }
  EXPECT_TRUE(radio->Refused().empty());

  // The server's settings window opens for the menu item.
  Find<QAction>("COM1")->trigger();
  tarvane::TarvaneXClient other(*conn);
  ASSERT_TRUE(other.Connect(nullptr, false));
  QDBusPendingReply<bool> visible = other.Application()->DialogVisible();
  ASSERT_TRUE(Finish(visible));
  EXPECT_TRUE(visible.value());
  EXPECT_TRUE(fakes.voice->Spoken().empty());
}

TEST_F(RigServerTest, ManualOperationReleasesTheServerObjectAndTakesOneOnLeaving) {
  // Another client keeps the server running, so object paths are never used twice.
  tarvane::TarvaneXClient other(*conn);
  ASSERT_TRUE(other.Connect(nullptr, false));
  const QString before = link->ObjectPath();
  ASSERT_FALSE(before.isEmpty());
  Find<QAction>("ManualOperation1")->trigger();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"manual rig operation mode engaged. "});
  EXPECT_EQ(Text("Label4"), "14.1");
  EXPECT_EQ(Text("Label5"), "USB");
  EXPECT_TRUE(link->ObjectPath().isEmpty());
  EXPECT_FALSE(ObjectExists(before));
  QComboBox* bands = Find<QComboBox>("BandCB");
  bands->setCurrentIndex(bands->findText("6"));
  emit bands->activated(bands->currentIndex());
  EXPECT_EQ(Text("Label4"), "50.125");
  EXPECT_EQ(Band(), "6");

  // The radio's moves do not reach the labels while the window works without it.
  radio->SetFreq(0, 7050000);
  QTest::qWait(500);
  EXPECT_EQ(Text("Label4"), "50.125");

  Find<QAction>("ManualOperation1")->trigger();
  const QString after = link->ObjectPath();
  ASSERT_FALSE(after.isEmpty());
  EXPECT_NE(after, before);
  EXPECT_TRUE(ObjectExists(after));
  EXPECT_FALSE(ObjectExists(before));
  EXPECT_TRUE(Move(7051000, '3', "7.05100"));
  EXPECT_EQ(Text("Label5"), "CW");
  EXPECT_EQ(Band(), "40");
}

TEST_F(RigServerTest, AStoppedServerLeavesTheLabelsAndTheReconnectBringsItBack) {
  const uint pid = ServerPid();
  ASSERT_NE(pid, 0u);
  ::kill(pid_t(pid), SIGKILL);
  ASSERT_TRUE(WaitFor([&] { return ServerPid() == 0; }, 10000));
  const QString shown = Text("Label4");
  radio->SetFreq(0, 7074000);
  QTest::qWait(500);
  EXPECT_EQ(Text("Label4"), shown);
  EXPECT_EQ(Text("Label5"), "USB");

  // A step to a server that is gone: nothing sent, no box, said once.
  Find<QPushButton>("BitBtn8")->click();
  Find<QPushButton>("BitBtn8")->click();
  Find<QPushButton>("Button21")->click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(radio->Freq(0), 7074000);
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"The rig server or the radio is not answering. "});
  EXPECT_EQ(Text("Label4"), shown);

  // The reconnect starts the server again and shows the radio's frequency; reports follow again.
  Find<QPushButton>("Button33")->click();
  ASSERT_TRUE(WaitFor([&] { return Text("Label4") == "7.074" || Text("Label4") == "7.07400"; }, 20000))
      << Text("Label4").toStdString();
  EXPECT_NE(ServerPid(), 0u);
  EXPECT_TRUE(Move(7075500, '3', "7.07550"));
  EXPECT_EQ(Band(), "40");
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());
}

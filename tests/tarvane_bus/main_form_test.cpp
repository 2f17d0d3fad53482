// The settings dialog and start-up of the server's main window, with fake rigs, offscreen:
// the log of a fresh start, applying settings, the port box, OK and Cancel, tabs, close rules.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabBar>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "automation_server.h"
#include "fake_rig.h"
#include "main_form.h"
#include "private_bus.h"

using namespace tarvane;  // NOLINT
using tarvane_test::FakeRig;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Log lines without their time stamps; every line must carry one.
std::vector<std::string> LogTexts(const std::string& path) {
  std::vector<std::string> texts;
  const QString text = QString::fromStdString(ReadAll(path));
  const QRegularExpression stamp("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  ");
  for (const QString& line : text.split("\r\n", Qt::SkipEmptyParts)) {
    EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
    texts.push_back(line.mid(14).toStdString());
  }
  return texts;
}

const char* kRigFile =
    "[INIT]\nCommand=(ID;)\nReplyEnd=(;)\n"
    "[pmFreq]\nCommand=(FA00000000000;)\nValue=2|11|vfText|1|0\n"
    "[STATUS1]\nCommand=(FA;)\nReplyEnd=(;)\nValue1=2|11|vfText|1|0|pmFreq\n";

class MainForm : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = home.path().toStdString();
    QDir(home.path()).mkpath("Rigs");
    WriteAll(folder + "/Rigs/FT-Test.ini", kRigFile);
  }

  std::unique_ptr<TMainForm> Create(std::vector<std::string> ports = {"COM1", "COM3"}) {
    TMainFormOptions o;
    o.ProgramFolder = folder;
    if (!machinePorts) o.ListPorts = [ports] { return ports; };
    o.VersionMajor = 1;
    o.VersionMinor = 0;
    o.Quit = [this] { ++quits; };
    o.RigFactory = [this](int n, std::function<void(const std::string&)>, TRigEvents& events) {
      auto rig = std::make_unique<FakeRig>(n, &events);
      (n == 1 ? rig1 : rig2) = rig.get();
      return rig;
    };
    return std::make_unique<TMainForm>(o);
  }

  template <class T>
  T* Find(TMainForm& form, const char* name) {
    T* w = form.findChild<T*>(name);
    EXPECT_NE(nullptr, w) << name;
    return w;
  }

  QTemporaryDir home;
  std::string folder;
  bool machinePorts = false;  // list the serial devices found under TARVANE_DEV_ROOT
  FakeRig* rig1 = nullptr;
  FakeRig* rig2 = nullptr;
  int quits = 0;
};

TEST_F(MainForm, FreshStartLogsAndConfiguresBothRigs) {
  WriteAll(folder + "/Tarvane.ini", "[Debug]\nLog=1\n");
  {
    auto form = Create();
    EXPECT_EQ((std::vector<std::string>{"Enabled 0", "Commands NONE", "Port 0 9600 8 0 0 0 0", "Enabled 1"}),
              rig1->config);
    EXPECT_EQ("Port 1 9600 8 0 0 0 0", rig2->config[2]);
    EXPECT_EQ(500, rig1->pollMs);
    EXPECT_EQ(4000, rig2->timeoutMs);
    EXPECT_FALSE(form->isVisible());
  }
  EXPECT_EQ((std::vector<std::string>{
                "Tarvane started: Version 1.0",
                "COM ports found: COM1,COM3",
                "Loading commands from \"FT-Test.ini\"",
                "RIG 1 settings: Rig=NONE|Port=COM0|Baud=9600|Data=8|Parity=None|Stop=1|RTS=Low|Dtr=Low|Poll=500|Timeout=4000",
                "RIG 2 settings: Rig=NONE|Port=COM1|Baud=9600|Data=8|Parity=None|Stop=1|RTS=Low|Dtr=Low|Poll=500|Timeout=4000",
                "Tarvane stopped"}),
            LogTexts(folder + "/Tarvane.log"));
}

TEST_F(MainForm, NoLogWithoutTheDebugKey) {
  { auto form = Create(); }
  EXPECT_FALSE(QFile::exists(QString::fromStdString(folder + "/Tarvane.log")));
}

TEST_F(MainForm, SettingsFromTheFileAreAppliedAndDamagedValuesLogged) {
  WriteAll(folder + "/Tarvane.ini",
           "[Debug]\nLog=2\n[RIG1]\nRigType=ft-test\nPort=3\nBaudRate=99\nDataBits=2\nPollMs=1000\n"
           "[RIG2]\nRigType=Gone\n");
  {
    auto form = Create();
    ASSERT_NE(nullptr, rig1->commands);
    EXPECT_EQ("FT-Test", rig1->commands->RigType);
    EXPECT_EQ("Port 3 9600 7 0 0 0 0", rig1->config[2]);
    EXPECT_EQ(1000, rig1->pollMs);
    EXPECT_EQ(nullptr, rig2->commands);  // a type that is not loaded gives NONE
  }
  const auto texts = LogTexts(folder + "/Tarvane.log");
  EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(),
                                   "{!}Settings [RIG1]: BaudRate=99 is out of range, 6 used"));
  EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(),
                                   "{!}Settings [RIG2]: RigType=Gone is not found, NONE used"));
  EXPECT_NE(texts.end(),
            std::find(texts.begin(), texts.end(),
                      "RIG 1 settings: Rig=FT-Test|Port=COM3|Baud=9600|Data=7|Parity=None|Stop=1|RTS=Low|Dtr=Low|Poll=1000|Timeout=4000"));
}

// A configured rig file that is there but has errors is not reported as missing: the line names
// the file, whose error lines the log holds just before.
TEST_F(MainForm, RigFileWithErrorsIsLoggedAsNotLoaded) {
  WriteAll(folder + "/Rigs/IC-Bad.ini", "[pmFreq]\nCommand=(FA;)\n");
  WriteAll(folder + "/Tarvane.ini", "[Debug]\nLog=1\n[RIG1]\nRigType=ic-bad\n");
  {
    auto form = Create();
    EXPECT_EQ(nullptr, rig1->commands);
  }
  // The error lines are one log entry of several lines, so the log is searched as it stands.
  const std::string log = ReadAll(folder + "/Tarvane.log");
  const size_t errors = log.find("Errors:\r\n[pmFreq].Value:  Value is missing");
  const std::string head = "{!}Settings [RIG1]: RigType=ic-bad is not loaded: \"";
  const std::string tail = "/Rigs/IC-Bad.ini\" has the errors listed above, NONE used\r\n";
  const size_t line = log.find(head);
  ASSERT_NE(std::string::npos, errors) << log;
  ASSERT_NE(std::string::npos, line) << log;
  EXPECT_LT(errors, line);
  const size_t end = log.find("\r\n", line);
  EXPECT_EQ(tail, log.substr(end + 2 - tail.size(), tail.size())) << log;
  EXPECT_EQ(std::string::npos, log.find("RigType=ic-bad is not found"));
}

TEST_F(MainForm, ShowFillsFromTheRigsAndKeepsAnAbsentPort) {
  auto form = Create();
  auto* port = Find<QComboBox>(*form, "PortBox");
  auto* type = Find<QComboBox>(*form, "RigTypeBox");
  ASSERT_TRUE(port && type);
  EXPECT_EQ(QStringList({"NONE", "FT-Test"}),
            QStringList({type->itemText(0), type->itemText(1)}));
  form->ShowDialog();
  EXPECT_TRUE(form->DialogVisible());
  // Rig 1 is on port 0, which this machine does not have.
  EXPECT_EQ("COM0 (not present)", port->currentText().toStdString());
  EXPECT_EQ(3, port->count());
  EXPECT_EQ("Rig type", type->accessibleName().toStdString());

  // OK keeps the configured port instead of silently taking the first one.
  Find<QPushButton>(*form, "OkButton")->click();
  EXPECT_FALSE(form->DialogVisible());
  EXPECT_EQ("Port 0 9600 8 0 0 0 0", rig1->config.back() == "Enabled 1" ? rig1->config[rig1->config.size() - 2]
                                                                       : rig1->config.back());
  const std::string ini = ReadAll(folder + "/Tarvane.ini");
  EXPECT_NE(std::string::npos, ini.find("[RIG1]")) << ini;
  EXPECT_NE(std::string::npos, ini.find("[RIG2]")) << ini;  // OK writes both sections
  EXPECT_NE(std::string::npos, ini.find("Port=0"));
}

TEST_F(MainForm, TabsKeepEachRigsControlsAndOkAppliesBoth) {
  auto form = Create();
  form->ShowDialog();
  auto* tabs = Find<QTabBar>(*form, "TabControl1");
  auto* port = Find<QComboBox>(*form, "PortBox");
  auto* baud = Find<QComboBox>(*form, "BaudRateBox");
  auto* poll = Find<QSpinBox>(*form, "PollSpinEdit");
  auto* type = Find<QComboBox>(*form, "RigTypeBox");
  ASSERT_TRUE(tabs && port && baud && poll && type);
  EXPECT_EQ(QStringList({"RIG 1", "RIG 2", "About"}),
            QStringList({tabs->tabText(0), tabs->tabText(1), tabs->tabText(2)}));

  type->setCurrentIndex(1);
  port->setCurrentText("COM3");
  baud->setCurrentIndex(12);
  tabs->setCurrentIndex(1);  // leaving RIG 1 stores its controls
  EXPECT_EQ("COM1", port->currentText().toStdString());  // rig 2 is on port 1
  poll->setValue(2500);  // beyond the spin edit's limit
  EXPECT_EQ(2000, poll->value());
  tabs->setCurrentIndex(2);
  EXPECT_TRUE(Find<QWidget>(*form, "AboutPanel")->isVisibleTo(form.get()));
  EXPECT_FALSE(Find<QWidget>(*form, "SettingsPanel")->isVisibleTo(form.get()));
  EXPECT_EQ("Version 1.0", Find<QLabel>(*form, "VersionLabel")->text().toStdString());
  tabs->setCurrentIndex(0);
  EXPECT_EQ("COM3", port->currentText().toStdString());
  EXPECT_EQ(12, baud->currentIndex());

  Find<QPushButton>(*form, "OkButton")->click();
  EXPECT_EQ("FT-Test", rig1->commands ? rig1->commands->RigType : "");
  EXPECT_EQ(3, rig1->port.Port);
  EXPECT_EQ(115200, rig1->port.BaudRate);
  EXPECT_EQ(2000, rig2->pollMs);
  TIniFile ini(folder + "/Tarvane.ini");
  EXPECT_EQ("FT-Test", ini.ReadString("RIG1", "RigType", ""));
  EXPECT_EQ(12, ini.ReadInteger("RIG1", "BaudRate", -1));
  EXPECT_EQ(2000, ini.ReadInteger("RIG2", "PollMs", -1));
}

// Ports by device path: the dialog lists the machine's serial devices by their stable names, shows
// a numbered port of an older settings file as the device it stands for (saved by name on OK),
// keeps a configured device that is unplugged, and the paths survive a restart.
TEST_F(MainForm, DevicePathsRoundTripThroughTheDialog) {
  const std::string dev = folder + "/dev";
  QDir().mkpath(QString::fromStdString(dev + "/serial/by-id"));
  WriteAll(dev + "/ttyUSB0", "");
  WriteAll(dev + "/ttyUSB1", "");
  const std::string byId = dev + "/serial/by-id/usb-Radio_Maker_CAT-if00-port0";
  std::filesystem::create_symlink("../../ttyUSB1", byId);
  setenv(kDevRootVariable, dev.c_str(), 1);
  setenv(kSysRootVariable, (folder + "/sys").c_str(), 1);
  struct Restore {
    ~Restore() {
      unsetenv(kDevRootVariable);
      unsetenv(kSysRootVariable);
    }
  } restore;
  machinePorts = true;
  const std::string gone = "/dev/serial/by-id/usb-Unplugged-if00-port0";
  WriteAll(folder + "/Tarvane.ini", "[Debug]\nLog=1\n[RIG1]\nPort=2\n[RIG2]\nPort=" + gone + "\n");
  {
    auto form = Create();
    EXPECT_EQ("Port 2 9600 8 0 0 0 0", rig1->config[2]);
    EXPECT_EQ("Port 1 9600 8 0 0 0 0 " + gone, rig2->config[2]);
    form->ShowDialog();
    auto* port = Find<QComboBox>(*form, "PortBox");
    auto* tabs = Find<QTabBar>(*form, "TabControl1");
    ASSERT_TRUE(port && tabs);
    EXPECT_EQ(QStringList({QString::fromStdString(dev + "/ttyUSB0"), QString::fromStdString(byId)}),
              QStringList({port->itemText(0), port->itemText(1)}));
    EXPECT_EQ(byId, port->currentText().toStdString());  // port 2, by its stable name
    tabs->setCurrentIndex(1);
    EXPECT_EQ(gone + " (not present)", port->currentText().toStdString());
    EXPECT_EQ(3, port->count());
    tabs->setCurrentIndex(0);
    EXPECT_EQ(2, port->count());  // the unplugged device belongs to rig 2's tab only
    Find<QPushButton>(*form, "OkButton")->click();
    EXPECT_EQ(byId, rig1->port.Device);
    EXPECT_EQ(gone, rig2->port.Device);
  }
  TIniFile ini(folder + "/Tarvane.ini");
  EXPECT_EQ(byId, ini.ReadString("RIG1", "Port", ""));
  EXPECT_EQ(gone, ini.ReadString("RIG2", "Port", ""));
  const auto texts = LogTexts(folder + "/Tarvane.log");
  EXPECT_EQ("COM ports found: " + dev + "/ttyUSB0," + byId, texts[1]);
  EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(),
                                   "RIG 1 settings: Rig=NONE|Port=" + byId +
                                       "|Baud=9600|Data=8|Parity=None|Stop=1|RTS=Low|Dtr=Low|Poll=500|Timeout=4000"));

  // Another adapter plugged in ahead of it changes the numbers, not the name.
  WriteAll(dev + "/ttyACM0", "");
  std::filesystem::remove(dev + "/ttyUSB0");
  auto form = Create();
  EXPECT_EQ("Port 0 9600 8 0 0 0 0 " + byId, rig1->config[2]);
  form->ShowDialog();
  EXPECT_EQ(byId, Find<QComboBox>(*form, "PortBox")->currentText().toStdString());
}

TEST_F(MainForm, CancelStoresNothing) {
  auto form = Create();
  form->ShowDialog();
  Find<QComboBox>(*form, "BaudRateBox")->setCurrentIndex(0);
  const size_t before = rig1->config.size();
  Find<QPushButton>(*form, "CancelButton")->click();
  EXPECT_FALSE(form->DialogVisible());
  EXPECT_EQ(before, rig1->config.size());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(folder + "/Tarvane.ini")));
  // Shown again, the dialog reads the rigs afresh.
  form->ShowDialog();
  EXPECT_EQ(6, Find<QComboBox>(*form, "BaudRateBox")->currentIndex());
}

TEST_F(MainForm, ClosingOnlyHidesWhileClientsHoldObjects) {
  tarvane_test::PrivateBus bus;
  ASSERT_TRUE(bus.Ok());
  auto form = Create();
  {
    QDBusConnection conn = QDBusConnection::connectToBus(bus.Address(), "form-server");
    AutomationServer server(conn, *rig1, *rig2, *form, 0x10000);
    server.OnQuit = [this] { ++quits; };
    form->SetServer(&server);
    server.CreateInstance();
    form->ShowDialog();
    form->close();
    EXPECT_FALSE(form->DialogVisible());
    EXPECT_EQ(0, quits);

    server.ReleaseClient(server.Clients().front()->Id());
    EXPECT_EQ(1, quits);  // the dialog was hidden, so the last release ends the program
    form->ShowDialog();
    form->close();
    EXPECT_EQ(2, quits);
    form->SetServer(nullptr);
  }
  QDBusConnection::disconnectFromBus("form-server");
}

}  // namespace

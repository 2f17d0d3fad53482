// Settings file sections [RIG1]/[RIG2]: defaults, round trip, range checks with their log lines,
// the settings text; and the command-line switches with the bus activation file.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "server_registration.h"
#include "server_settings.h"

using namespace tarvane;  // NOLINT

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

int TypeIndex(const std::string& name) {
  if (name == "NONE") return 0;
  if (name == "FT-Test" || name == "ft-test") return 1;
  return -1;
}

TEST(ServerSettings, MissingFileGivesTheDefaults) {
  QTemporaryDir dir;
  TIniFile ini(dir.path().toStdString() + "/Tarvane.ini");
  std::vector<std::string> lines;
  const TRigSettings one = LoadRigSettings(ini, 1, TypeIndex, [&](const std::string& l) { lines.push_back(l); });
  const TRigSettings two = LoadRigSettings(ini, 2, TypeIndex, [&](const std::string& l) { lines.push_back(l); });
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(DefaultSettings(1), one);
  EXPECT_EQ(0, one.Port);
  EXPECT_EQ(1, two.Port);
  EXPECT_EQ("Rig=NONE|Port=COM0|Baud=9600|Data=8|Parity=None|Stop=1|RTS=Low|Dtr=Low|Poll=500|Timeout=4000",
            SettingsText(one, "NONE"));
  EXPECT_EQ("Rig=NONE|Port=COM1|Baud=9600|Data=8|Parity=None|Stop=1|RTS=Low|Dtr=Low|Poll=500|Timeout=4000",
            SettingsText(two, "NONE"));
}

TEST(ServerSettings, SaveRewritesBothSectionsAndReadsBack) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/Tarvane.ini";
  WriteAll(path, "[Debug]\r\nLog=2\r\n[RIG1]\r\nRigType=NONE\r\nStale=1\r\n");
  TRigSettings a{1, 3, 12, 2, 2, 1, 2, 1, 250, 1500, ""};
  TRigSettings b = DefaultSettings(2);
  {
    TIniFile ini(path);
    SaveRigSettings(ini, 1, a, "FT-Test");
    SaveRigSettings(ini, 2, b, "NONE");
    ini.UpdateFile();
  }
  const std::string text = ReadAll(path);
  EXPECT_NE(std::string::npos, text.find("[Debug]\r\nLog=2\r\n"));
  EXPECT_EQ(std::string::npos, text.find("Stale"));  // the section was erased first
  EXPECT_NE(std::string::npos, text.find("RigType=FT-Test"));
  TIniFile ini(path);
  EXPECT_EQ(a, LoadRigSettings(ini, 1, TypeIndex, {}));
  EXPECT_EQ(b, LoadRigSettings(ini, 2, TypeIndex, {}));
  EXPECT_EQ(2, ini.ReadInteger("Debug", "Log", 0));
  EXPECT_EQ("Rig=FT-Test|Port=COM3|Baud=115200|Data=7|Parity=Even|Stop=1.5|RTS=Handshake|Dtr=High|Poll=250|Timeout=1500",
            SettingsText(a, "FT-Test"));
}

TEST(ServerSettings, SavedValuesWinOverADuplicateSection) {
  // A hand-edited file with the section twice: what OK saves must be what the next start reads.
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/Tarvane.ini";
  WriteAll(path, "[RIG1]\r\nPort=3\r\n[Debug]\r\nLog=1\r\n[rig1]\r\nPort=4\r\nPollMs=900\r\n");
  TRigSettings a = DefaultSettings(1);
  a.Port = 7;
  {
    TIniFile ini(path);
    SaveRigSettings(ini, 1, a, "NONE");
    ini.UpdateFile();
  }
  TIniFile ini(path);
  EXPECT_EQ(a, LoadRigSettings(ini, 1, TypeIndex, {})) << ReadAll(path);
  EXPECT_EQ(1, ini.ReadInteger("Debug", "Log", 0));
}

TEST(ServerSettings, OutOfRangeValuesAreReplacedWithAnErrorLine) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/Tarvane.ini";
  WriteAll(path,
           "[rig2]\nRigType=Unknown\nPort=-4\nBaudRate=15\nDataBits=-1\nParity=5\nStopBits=3\n"
           "RtsMode=9\nDtrMode=2\nPollMs=50\nTimeoutMs=99999\n");
  TIniFile ini(path);
  std::vector<std::string> lines;
  const TRigSettings s = LoadRigSettings(ini, 2, TypeIndex, [&](const std::string& l) { lines.push_back(l); });
  EXPECT_EQ(0, s.RigType);  // a type that is not loaded gives NONE
  EXPECT_EQ(1, s.Port);
  EXPECT_EQ(6, s.BaudRate);
  EXPECT_EQ(3, s.DataBits);
  EXPECT_EQ(0, s.Parity);
  EXPECT_EQ(0, s.StopBits);
  EXPECT_EQ(0, s.RtsMode);
  EXPECT_EQ(0, s.DtrMode);
  EXPECT_EQ(kPollMin, s.PollMs);
  EXPECT_EQ(kTimeoutMax, s.TimeoutMs);
  ASSERT_EQ(10u, lines.size());
  EXPECT_EQ("{!}Settings [RIG2]: RigType=Unknown is not found, NONE used", lines[0]);
  EXPECT_EQ("{!}Settings [RIG2]: Port=-4 is out of range, 1 used", lines[1]);
  EXPECT_EQ("{!}Settings [RIG2]: BaudRate=15 is out of range, 6 used", lines[2]);
  EXPECT_EQ("{!}Settings [RIG2]: TimeoutMs=99999 is out of range, 4000 used", lines[9]);
  // The text never reads past a table.
  EXPECT_EQ("Rig=NONE|Port=COM1|Baud=9600|Data=8|Parity=None|Stop=1|RTS=Low|Dtr=Low|Poll=100|Timeout=4000",
            SettingsText(s, "NONE"));
}

// The port is kept as a number (older files, port n = the n-th serial device) or as a device
// path, which stays with the device however many others are plugged in.
TEST(ServerSettings, PortByNumberOrDevicePath) {
  struct Row {
    std::string text;
    int32_t port;
    std::string device;
    std::string shown;     // in the settings text
    std::string complaint;
  };
  const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  const Row rows[] = {
      {"3", 3, "", "COM3", ""},
      {byId, 0, byId, byId, ""},
      {"/dev/ttyUSB0", 0, "/dev/ttyUSB0", "/dev/ttyUSB0", ""},
      {"", 0, "", "COM0", ""},
      {"ttyUSB0", 0, "", "COM0",
       "{!}Settings [RIG1]: Port=ttyUSB0 is neither a port number nor a device path, 0 used"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/Tarvane.ini";
    WriteAll(path, "[RIG1]\nPort=" + row.text + "\n");
    std::vector<std::string> lines;
    TRigSettings s;
    {
      TIniFile ini(path);
      s = LoadRigSettings(ini, 1, TypeIndex, [&](const std::string& l) { lines.push_back(l); });
    }
    EXPECT_EQ(row.port, s.Port);
    EXPECT_EQ(row.device, s.Device);
    EXPECT_EQ(row.complaint.empty() ? std::vector<std::string>{}
                                    : std::vector<std::string>{row.complaint},
              lines);
    EXPECT_EQ("Rig=NONE|Port=" + row.shown +
                  "|Baud=9600|Data=8|Parity=None|Stop=1|RTS=Low|Dtr=Low|Poll=500|Timeout=4000",
              SettingsText(s, "NONE"));
    // Saved and read again, it is the same.
    {
      TIniFile ini(path);
      SaveRigSettings(ini, 1, s, "NONE");
      ini.UpdateFile();
    }
    EXPECT_NE(std::string::npos, ReadAll(path).find("Port=" + (row.device.empty() ? std::to_string(row.port) : row.device)));
    TIniFile ini(path);
    EXPECT_EQ(s, LoadRigSettings(ini, 1, TypeIndex, {}));
  }
}

TEST(ServerSettings, EdgesOfTheRangesAreKept) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/Tarvane.ini";
  WriteAll(path, "[RIG1]\nRigType=ft-test\nBaudRate=14\nDataBits=0\nParity=4\nStopBits=2\nRtsMode=2\n"
                 "DtrMode=1\nPollMs=2000\nTimeoutMs=100\nPort=0x10\n");
  TIniFile ini(path);
  int complaints = 0;
  const TRigSettings s = LoadRigSettings(ini, 1, TypeIndex, [&](const std::string&) { ++complaints; });
  EXPECT_EQ(0, complaints);
  EXPECT_EQ((TRigSettings{1, 16, 14, 0, 4, 2, 2, 1, 2000, 100, ""}), s);
}

TEST(ServerSwitches, PrefixesAndCase) {
  EXPECT_TRUE(ParseServerSwitches({"/regserver"}).RegServer);
  EXPECT_TRUE(ParseServerSwitches({"-RegServer"}).RegServer);
  EXPECT_TRUE(ParseServerSwitches({"-UNREGSERVER"}).UnregServer);
  EXPECT_TRUE(ParseServerSwitches({"-Embedding"}).Automation);
  EXPECT_TRUE(ParseServerSwitches({"/automation"}).Automation);
  const TServerSwitches none = ParseServerSwitches({"regserver", "--regserver", "-", "-automationx"});
  EXPECT_FALSE(none.RegServer || none.UnregServer || none.Automation);
}

TEST(ServerSwitches, RegisterWritesTheActivationFileAndUnregisterRemovesIt) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString() + "/a/b";
  std::string error;
  ASSERT_TRUE(RegisterServer(folder, "/opt/my rigs/Tarvane", &error)) << error;
  EXPECT_EQ("[D-BUS Service]\nName=org.tarvane.TarvaneX\nExec=\"/opt/my rigs/Tarvane\" -AUTOMATION\n",
            ReadAll(ServiceFilePath(folder)));
  ASSERT_TRUE(RegisterServer(folder, "/usr/bin/Tarvane", &error));
  EXPECT_EQ("[D-BUS Service]\nName=org.tarvane.TarvaneX\nExec=/usr/bin/Tarvane -AUTOMATION\n",
            ReadAll(ServiceFilePath(folder)));
  EXPECT_TRUE(UnregisterServer(folder, &error));
  EXPECT_FALSE(std::ifstream(ServiceFilePath(folder)).good());
  EXPECT_TRUE(UnregisterServer(folder, &error));  // nothing to remove is fine
}

}  // namespace

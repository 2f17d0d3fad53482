#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "serial_devices.h"

namespace fs = std::filesystem;
using tarvane::ListSerialDevices;
using tarvane::SerialDevicePath;

namespace {

class SerialDevices : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("serial_devices_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "dev" / "serial" / "by-id");
    fs::create_directories(root_ / "sys");
  }
  void TearDown() override { fs::remove_all(root_); }

  void Node(const std::string& name) { std::ofstream(dev() / name).put('x'); }
  void UartType(const std::string& name, int type) {
    fs::create_directories(sys() / "class" / "tty" / name);
    std::ofstream(sys() / "class" / "tty" / name / "type") << type << "\n";
  }
  void ById(const std::string& name, const std::string& target) {
    fs::create_symlink(target, dev() / "serial" / "by-id" / name);
  }
  std::vector<std::string> Paths() {
    std::vector<std::string> out;
    for (const auto& d : ListSerialDevices(dev(), sys())) out.push_back(d.Path);
    return out;
  }
  fs::path dev() const { return root_ / "dev"; }
  fs::path sys() const { return root_ / "sys"; }
  std::string P(const std::string& name) const { return (dev() / name).string(); }

  fs::path root_;
};

TEST_F(SerialDevices, FamiliesInOrderAndNumbersNumerically) {
  for (const char* n : {"ttyUSB1", "ttyACM0", "ttyS10", "ttyS2", "ttyS0", "ttyUSB0", "ttyUSB10"}) {
    Node(n);
  }
  // Names that only look alike are no serial ports of ours.
  for (const char* n : {"tty0", "tty", "ttyUSB", "ttyUSBx", "ttyS1a", "console", "ttyACM-1"}) Node(n);
  fs::create_directory(dev() / "ttyS7");
  EXPECT_EQ(Paths(), (std::vector<std::string>{P("ttyS0"), P("ttyS2"), P("ttyS10"), P("ttyUSB0"),
                                               P("ttyUSB1"), P("ttyUSB10"), P("ttyACM0")}));
}

TEST_F(SerialDevices, PhantomUartsAreLeftOut) {
  Node("ttyS0");
  Node("ttyS1");
  Node("ttyS2");
  UartType("ttyS0", 4);
  UartType("ttyS1", 0);  // no UART behind it
  // ttyS2 has no type file: kept, as nothing says it is a phantom.
  EXPECT_EQ(Paths(), (std::vector<std::string>{P("ttyS0"), P("ttyS2")}));
}

TEST_F(SerialDevices, ByIdLinksAreResolvedOnce) {
  Node("ttyUSB0");
  Node("ttyUSB1");
  Node("ttyXRUSB0");  // only known through its by-id link
  ById("usb-Maker_B-if00", "../../ttyUSB1");
  ById("usb-Maker_A-if00", "../../ttyUSB1");  // a second name of the same device
  ById("usb-Other-if00", "../../ttyXRUSB0");
  ById("usb-Other2-if00", "../../ttyXRUSB0");
  ById("usb-Gone-if00", "../../ttyUSB9");  // dangling: unplugged
  const auto devices = ListSerialDevices(dev(), sys());
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[0].Path, P("ttyUSB0"));
  EXPECT_EQ(devices[0].ById, "");
  EXPECT_EQ(devices[1].Path, P("ttyUSB1"));
  EXPECT_EQ(devices[1].ById, (dev() / "serial" / "by-id" / "usb-Maker_A-if00").string());
  EXPECT_EQ(devices[2].Path, fs::canonical(dev() / "ttyXRUSB0").string());
  EXPECT_EQ(devices[2].ById, (dev() / "serial" / "by-id" / "usb-Other-if00").string());
}

TEST_F(SerialDevices, PortNumbersCountFromOne) {
  Node("ttyUSB0");
  Node("ttyACM3");
  EXPECT_EQ(SerialDevicePath(0, dev(), sys()), "");
  EXPECT_EQ(SerialDevicePath(-1, dev(), sys()), "");
  EXPECT_EQ(SerialDevicePath(1, dev(), sys()), P("ttyUSB0"));
  EXPECT_EQ(SerialDevicePath(2, dev(), sys()), P("ttyACM3"));
  EXPECT_EQ(SerialDevicePath(3, dev(), sys()), "");
}

TEST_F(SerialDevices, MissingRootGivesNoPorts) {
  EXPECT_TRUE(ListSerialDevices(root_ / "nowhere", sys()).empty());
  EXPECT_TRUE(ListSerialDevices(dev(), sys()).empty());
}

}  // namespace

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "serial_kernel.h"
#include "serial_port.h"
#include "serial_test_support.h"

namespace {

using namespace serial_test;
using namespace std::string_literals;
using tarvane::TAlCommPort;

std::string AllByteValues() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  return bytes;
}

class SerialPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    port.SetDevicePath(pty.path());
    port.SetDispatcher(loop.Dispatcher());
    port.OnReceived = [this] { replies.push_back(port.RxBuffer()); };
    port.OnSent = [this] { ++sent; };
    port.OnHangUp = [this] { ++hang_ups; };
  }
  bool Run(const std::function<bool()>& done) { return loop.RunUntil(done); }

  PtyPair pty;
  MainLoop loop;  // outlives the port, which may still post while closing
  TAlCommPort port;
  std::vector<std::string> replies;
  int sent = 0;
  int hang_ups = 0;
};

TEST_F(SerialPort, DefaultsAndClampedDataBits) {
  TAlCommPort p;
  EXPECT_EQ(p.Port(), 1);
  EXPECT_EQ(p.BaudRate(), 19200);
  EXPECT_EQ(p.DataBits(), 8);
  EXPECT_EQ(p.Parity(), 0);
  EXPECT_EQ(p.StopBits(), 0);
  EXPECT_EQ(p.DtrMode(), TAlCommPort::kLineLow);
  EXPECT_EQ(p.RtsMode(), TAlCommPort::kLineLow);
  EXPECT_FALSE(p.Active());
  p.SetDataBits(9);
  EXPECT_EQ(p.DataBits(), 8);
  p.SetDataBits(4);
  EXPECT_EQ(p.DataBits(), 5);
  p.SetBaudRate(-5);
  EXPECT_EQ(p.BaudRate(), 0);
}

TEST_F(SerialPort, FramingByCountWaitsForEnoughBytes) {
  ASSERT_TRUE(port.Open());
  port.SetFraming(TAlCommPort::kFramingCount);
  port.SetReplyLength(5);
  pty.Write("abc");
  ASSERT_TRUE(Run([&] { return port.RxBuffer() == "abc"; }));
  EXPECT_TRUE(replies.empty());
  pty.Write("defg");
  ASSERT_TRUE(Run([&] { return !replies.empty(); }));
  EXPECT_EQ(replies, std::vector<std::string>{"abcdefg"});
  EXPECT_EQ(port.RxBuffer(), "");
}

TEST_F(SerialPort, FramingByTerminatorFindsItInAnyChunk) {
  ASSERT_TRUE(port.Open());
  port.SetFraming(TAlCommPort::kFramingTerminator);
  port.SetReplyEnd(";");
  pty.Write("FA0001");
  ASSERT_TRUE(Run([&] { return port.RxBuffer() == "FA0001"; }));
  pty.Write("4250");
  ASSERT_TRUE(Run([&] { return port.RxBuffer() == "FA00014250"; }));
  EXPECT_TRUE(replies.empty());
  pty.Write(";");
  ASSERT_TRUE(Run([&] { return replies.size() == 1; }));
  EXPECT_EQ(replies[0], "FA00014250;");

  // The terminator need not end the chunk, and may be several bytes long.
  port.SetReplyEnd("\r\n");
  pty.Write("IF\r");
  ASSERT_TRUE(Run([&] { return port.RxBuffer() == "IF\r"; }));
  pty.Write("\nxx");
  ASSERT_TRUE(Run([&] { return replies.size() == 2; }));
  EXPECT_EQ(replies[1], "IF\r\nxx");
}

TEST_F(SerialPort, FramingNoneReportsEveryChunk) {
  ASSERT_TRUE(port.Open());
  pty.Write("a");
  ASSERT_TRUE(Run([&] { return replies.size() == 1; }));
  pty.Write("bc");
  ASSERT_TRUE(Run([&] { return replies.size() == 2; }));
  EXPECT_EQ(replies, (std::vector<std::string>{"a", "bc"}));
}

TEST_F(SerialPort, EveryByteValuePassesUnchangedBothWays) {
  ASSERT_TRUE(port.Open());
  const std::string bytes = AllByteValues() + "\x11\x13\r\n\r\x00\xff\x13"s;
  port.Send(bytes);
  EXPECT_EQ(pty.Read(bytes.size()), bytes);
  ASSERT_TRUE(Run([&] { return sent == 1; }));
  EXPECT_EQ(port.TxCount(), 0);

  // XOFF from the radio must not stop the port's output.
  port.SetFraming(TAlCommPort::kFramingCount);
  port.SetReplyLength(static_cast<int>(bytes.size()));
  pty.Write(bytes);
  ASSERT_TRUE(Run([&] { return replies.size() == 1; }));
  EXPECT_EQ(replies[0], bytes);
  port.Send("\x11\x13\r");
  EXPECT_EQ(pty.Read(3), "\x11\x13\r");
}

TEST_F(SerialPort, OneSentNoticePerEmptiedQueue) {
  ASSERT_TRUE(port.Open());
  port.Send("");  // nothing to send, nothing to report
  port.Send("PS;");
  EXPECT_EQ(pty.Read(3), "PS;");
  ASSERT_TRUE(Run([&] { return sent == 1; }));
  loop.RunFor(100ms);
  EXPECT_EQ(sent, 1);
  // A large block fills the pseudo-terminal; the notice waits until the radio has read it all.
  const std::string block(200000, 'x');
  port.Send(block);
  loop.RunFor(100ms);
  EXPECT_EQ(sent, 1);
  EXPECT_GT(port.TxCount(), 0);
  EXPECT_EQ(pty.Read(block.size(), 10000ms).size(), block.size());
  ASSERT_TRUE(Run([&] { return sent == 2; }));
}

TEST_F(SerialPort, SettingsReachTheDevice) {
  port.SetBaudRate(4800);
  port.SetStopBits(2);
  port.SetRtsMode(TAlCommPort::kLineHandshake);
  ASSERT_TRUE(port.Open());
  termios t {};
  ASSERT_EQ(::tcgetattr(pty.slave(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B4800));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_TRUE(t.c_cflag & CREAD);
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  port.Close();

  // Rates without a B-constant go through the arbitrary-rate interface, both ways.
  port.SetBaudRate(14400);
  port.SetStopBits(0);
  port.SetRtsMode(TAlCommPort::kLineLow);
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(tarvane::GetOutputBaudRate(pty.slave()), 14400);
  ASSERT_EQ(::tcgetattr(pty.slave(), &t), 0);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  pty.Write("ok");
  ASSERT_TRUE(Run([&] { return replies.size() == 1; }));
  port.Close();

  port.SetBaudRate(9600);
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(tarvane::GetOutputBaudRate(pty.slave()), 9600);
}

TEST_F(SerialPort, InvalidSettingsLeaveThePortClosed) {
  port.SetParity(5);
  EXPECT_FALSE(port.Open());
  EXPECT_FALSE(port.Active());
  port.SetParity(4);
  port.SetStopBits(3);
  EXPECT_FALSE(port.Open());
  port.SetStopBits(1);
  port.SetBaudRate(0);
  EXPECT_FALSE(port.Open());
  port.SetBaudRate(256000);
  EXPECT_TRUE(port.Open());
}

TEST_F(SerialPort, MissingDeviceStaysClosedQuietly) {
  port.SetDevicePath("/nonexistent/ttyUSB7");
  EXPECT_FALSE(port.Open());
  port.SetDevicePath("/dev/null");  // not a tty
  EXPECT_FALSE(port.Open());
  port.SetActive(true);
  EXPECT_FALSE(port.Active());
  // Calls on a closed port do nothing.
  port.Send("x");
  port.PurgeRx();
  port.PurgeTx();
  EXPECT_EQ(port.TxCount(), 0);
  EXPECT_FALSE(port.Cts());
  EXPECT_FALSE(port.Dsr());
  port.Close();
}

TEST_F(SerialPort, NumberedPortIsFoundUnderTheDeviceRoot) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("serial_port_root_" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "sys");
  fs::create_symlink(pty.path(), root / "ttyUSB0");
  port.SetDevicePath("");
  port.SetDeviceRoots(root, root / "sys");
  port.SetPort(2);
  EXPECT_FALSE(port.Open());
  port.SetPort(1);
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(port.OpenedPath(), (root / "ttyUSB0").string());
  pty.Write("x");
  EXPECT_TRUE(Run([&] { return replies.size() == 1; }));
  port.Close();
  fs::remove_all(root);
}

TEST_F(SerialPort, SecondOpenOfTheDeviceIsRefused) {
  ASSERT_TRUE(port.Open());
  EXPECT_TRUE(port.Open());  // opening an open port changes nothing
  TAlCommPort other;
  other.SetDevicePath(pty.path());
  EXPECT_FALSE(other.Open());
  port.Close();
  EXPECT_TRUE(other.Open());
  EXPECT_FALSE(port.Open());
}

TEST_F(SerialPort, ReopenAfterClose) {
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(port.Open()) << round;
    pty.Write("r");
    ASSERT_TRUE(Run([&] { return static_cast<int>(replies.size()) == round + 1; })) << round;
    port.Send("s");
    EXPECT_EQ(pty.Read(1), "s");
    ASSERT_TRUE(Run([&] { return sent == round + 1; }));
    port.Close();
    EXPECT_FALSE(port.Active());
  }
}

TEST_F(SerialPort, CloseFromInsideAHandler) {
  port.OnReceived = [this] {
    replies.push_back(port.RxBuffer());
    port.Close();
  };
  ASSERT_TRUE(port.Open());
  pty.Write("x");
  ASSERT_TRUE(Run([&] { return !replies.empty(); }));
  EXPECT_FALSE(port.Active());
  EXPECT_EQ(port.RxBuffer(), "");
  // And the port opens again from a handler.
  port.OnReceived = [this] {
    replies.push_back(port.RxBuffer());
    port.Close();
    port.Open();
  };
  ASSERT_TRUE(port.Open());
  pty.Write("y");
  ASSERT_TRUE(Run([&] { return replies.size() == 2; }));
  EXPECT_TRUE(port.Active());
  pty.Write("z");
  ASSERT_TRUE(Run([&] { return replies.size() == 3; }));
  EXPECT_EQ(replies, (std::vector<std::string>{"x", "y", "z"}));
}

TEST_F(SerialPort, CloseWhileAHandOverWaitsDoesNotBlock) {
  ASSERT_TRUE(port.Open());
  pty.Write("late");
  ASSERT_TRUE(loop.WaitForTask());  // the reader now waits for the main thread
  port.Close();
  EXPECT_FALSE(port.Active());
  loop.RunFor(50ms);  // the stale hand-over runs and does nothing
  EXPECT_TRUE(replies.empty());
}

TEST_F(SerialPort, PurgeDropsBytesReadBeforeIt) {
  ASSERT_TRUE(port.Open());
  pty.Write("stale");
  ASSERT_TRUE(loop.WaitForTask());
  port.PurgeRx();
  loop.RunFor(50ms);
  EXPECT_TRUE(replies.empty());
  EXPECT_EQ(port.RxBuffer(), "");
  pty.Write("fresh");
  ASSERT_TRUE(Run([&] { return !replies.empty(); }));
  EXPECT_EQ(replies, std::vector<std::string>{"fresh"});
}

TEST_F(SerialPort, HangUpClosesThePortOnceWithoutSpinning) {
  ASSERT_TRUE(port.Open());
  pty.Write("last");
  ASSERT_TRUE(Run([&] { return !replies.empty(); }));
  pty.CloseMaster();
  ASSERT_TRUE(Run([&] { return hang_ups == 1; }));
  EXPECT_FALSE(port.Active());
  const int posted = loop.Posted();
  const std::clock_t cpu = std::clock();
  loop.RunFor(300ms);
  EXPECT_EQ(loop.Posted(), posted);
  EXPECT_EQ(hang_ups, 1);
  EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 10);
  // The device is gone; opening again fails quietly until it comes back.
  EXPECT_FALSE(port.Open());
}

TEST_F(SerialPort, HandlersOnTheReaderThreadWithoutDispatcher) {
  port.SetDispatcher(nullptr);
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::string> got;
  std::atomic<bool> closed{false};
  std::thread::id reader;
  port.OnReceived = [&] {
    std::lock_guard lock(m);
    got.push_back(port.RxBuffer());
    reader = std::this_thread::get_id();
    if (got.size() == 2) {
      port.Close();  // from the reader thread itself
      closed = true;
    }
    cv.notify_all();
  };
  ASSERT_TRUE(port.Open());
  pty.Write("1");
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return got.size() == 1; }));
  }
  pty.Write("2");
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return closed.load(); }));
    EXPECT_NE(reader, std::this_thread::get_id());
  }
  EXPECT_FALSE(port.Active());
  ASSERT_TRUE(port.Open());  // joins the retired reader, starts a new one
  port.Close();
}

TEST_F(SerialPort, HangUpWithoutDispatcherClosesOnTheReaderThread) {
  port.SetDispatcher(nullptr);
  std::atomic<int> hung{0};
  port.OnHangUp = [&] { ++hung; };
  ASSERT_TRUE(port.Open());
  pty.CloseMaster();
  const auto give_up = std::chrono::steady_clock::now() + 10s;
  while (hung == 0 && std::chrono::steady_clock::now() < give_up) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(hung.load(), 1);
  EXPECT_FALSE(port.Active());
}

TEST_F(SerialPort, ModemLinesFollowTheModes) {
  FakeModemLines lines;
  port.SetModemLines(&lines);
  port.SetDtrMode(TAlCommPort::kLineHigh);
  port.SetRtsMode(TAlCommPort::kLineLow);
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(lines.raised & TIOCM_DTR, TIOCM_DTR);
  EXPECT_EQ(lines.raised & TIOCM_RTS, 0);
  // Dtr/Rts report the level last set, not the mode's.
  EXPECT_FALSE(port.Dtr());
  port.SetRts(true);
  EXPECT_TRUE(port.Rts());
  EXPECT_EQ(lines.raised & TIOCM_RTS, TIOCM_RTS);
  port.SetDtr(false);
  EXPECT_EQ(lines.raised & TIOCM_DTR, 0);

  lines.inputs = TIOCM_CTS;
  EXPECT_TRUE(port.Cts());
  EXPECT_FALSE(port.Dsr());
  lines.inputs = TIOCM_DSR;
  EXPECT_FALSE(port.Cts());
  EXPECT_TRUE(port.Dsr());
  port.Close();

  // A handshake line belongs to the driver: setting it changes nothing.
  port.SetRtsMode(TAlCommPort::kLineHandshake);
  ASSERT_TRUE(port.Open());
  const size_t changes = lines.changes.size();
  const bool rts_before = port.Rts();
  port.SetRts(!rts_before);
  EXPECT_EQ(port.Rts(), rts_before);
  EXPECT_EQ(lines.changes.size(), changes);
  port.Close();

  // While closed the level is only remembered.
  port.SetRtsMode(TAlCommPort::kLineLow);
  port.SetDtr(true);
  EXPECT_TRUE(port.Dtr());
  EXPECT_EQ(lines.changes.size(), changes);
  EXPECT_FALSE(port.Cts());
}

}  // namespace

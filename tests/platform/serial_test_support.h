// Test support for the serial port: a pseudo-terminal pair standing in for the cable to a radio, a
// main loop that runs the port's hand-overs on the test thread, and recording modem lines.
#pragma once

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "serial_port.h"

namespace serial_test {

using namespace std::chrono_literals;

// The port opens the slave side by its path; the test plays the radio on the master side. The test
// keeps its own slave descriptor open to read the line settings the port applied.
class PtyPair {
 public:
  PtyPair() {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    path_ = name;
    termios t {};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
  }
  ~PtyPair() {
    CloseMaster();
    if (slave_ >= 0) ::close(slave_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0; }
  const std::string& path() const { return path_; }
  int slave() const { return slave_; }

  void Write(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(master_, bytes.data(), bytes.size());
      if (n <= 0) return;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
  }
  // Reads until `count` bytes came or `timeout` passed.
  std::string Read(size_t count, std::chrono::milliseconds timeout = 10000ms) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buf[512];
      const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
  // The radio's end of the cable is pulled out.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// The owner's thread: tasks posted by the port run here when the test pumps.
class MainLoop {
 public:
  tarvane::PortDispatcher Dispatcher() {
    return [this](std::function<void()> task) {
      {
        std::lock_guard lock(m_);
        tasks_.push_back(std::move(task));
        ++posted_;
      }
      cv_.notify_all();
    };
  }
  // Runs tasks until `done` holds or `timeout` passes; true when `done` held.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10000ms) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      std::function<void()> task;
      {
        std::unique_lock lock(m_);
        if (!cv_.wait_until(lock, end, [&] { return !tasks_.empty(); })) return done();
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
    return true;
  }
  void RunFor(std::chrono::milliseconds span) {
    RunUntil([] { return false; }, span);
  }
  // Waits (without running anything) until a task is queued.
  bool WaitForTask(std::chrono::milliseconds timeout = 10000ms) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, timeout, [&] { return !tasks_.empty(); });
  }
  int Posted() {
    std::lock_guard lock(m_);
    return posted_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
  int posted_ = 0;
};

// Modem lines of a simulated adapter: remembers every change, answers reads from `inputs`.
class FakeModemLines : public tarvane::IModemLines {
 public:
  bool Get(int, int& bits) override {
    bits = inputs | raised;
    return true;
  }
  bool Set(int, int bits, bool on) override {
    changes.emplace_back(bits, on);
    raised = on ? (raised | bits) : (raised & ~bits);
    return true;
  }
  int inputs = 0;
  int raised = 0;
  std::vector<std::pair<int, bool>> changes;
};

}  // namespace serial_test

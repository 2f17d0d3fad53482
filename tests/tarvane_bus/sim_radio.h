// SimRadio: a simulated radio on a pseudo-terminal pair, for the server tests and the benchmark.
// Its protocol (every command ends in ';'): "FA;" answers "FA" + 11-digit frequency + ";",
// "FAnnnnnnnnnnn;" tunes without an answer, "ID;" answers "ID042;". Its port appears as
// <dev root>/ttyUSB0, a link to the terminal's far end, so it is the server's port 1 when the
// server is pointed at that folder. Every command received is kept; the time each reply went
// out is kept too. Thread-safe.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvane_test {

class SimRadio {
 public:
  explicit SimRadio(const std::string& devRoot) {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    std::filesystem::create_directories(devRoot);
    link_ = devRoot + "/ttyUSB0";
    std::filesystem::remove(link_);
    std::filesystem::create_symlink(name, link_);
    thread_ = std::thread([this] { Run(); });
  }
  ~SimRadio() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }

  bool Ok() const { return master_ >= 0; }
  void SetFreq(int hz) { freq_ = hz; }
  int Freq() const { return freq_; }
  std::vector<std::string> Commands() {
    std::lock_guard<std::mutex> lock(m_);
    return commands_;
  }
  bool Received(const std::string& command) {
    std::lock_guard<std::mutex> lock(m_);
    for (const auto& c : commands_)
      if (c == command) return true;
    return false;
  }
  // Steady-clock time (ns) of the first frequency reply that carried `hz`, 0 if none.
  int64_t ReplyTime(int hz) {
    std::lock_guard<std::mutex> lock(m_);
    for (const auto& r : replies_)
      if (r.first == hz) return r.second;
    return 0;
  }

 private:
  void Run() {
    std::string pending;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buf[256];
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      pending.append(buf, size_t(n));
      for (size_t end; (end = pending.find(';')) != std::string::npos;) {
        const std::string cmd = pending.substr(0, end + 1);
        pending.erase(0, end + 1);
        Answer(cmd);
      }
    }
  }

  void Answer(const std::string& cmd) {
    {
      std::lock_guard<std::mutex> lock(m_);
      commands_.push_back(cmd);
    }
    if (cmd == "FA;") {
      const int hz = freq_;
      char reply[32];
      std::snprintf(reply, sizeof reply, "FA%011d;", hz);
      const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now().time_since_epoch()).count();
      if (write(master_, reply, 14) == 14) {
        std::lock_guard<std::mutex> lock(m_);
        replies_.emplace_back(hz, now);
      }
    } else if (cmd == "ID;") {
      (void)!write(master_, "ID042;", 6);
    } else if (cmd.size() == 14 && cmd.compare(0, 2, "FA") == 0) {
      freq_ = std::atoi(cmd.substr(2, 11).c_str());
    }
  }

  int master_ = -1, slave_ = -1;
  std::string link_;
  std::atomic<bool> stop_{false};
  std::atomic<int> freq_{14074000};
  std::mutex m_;
  std::vector<std::string> commands_;
  std::vector<std::pair<int, int64_t>> replies_;
  std::thread thread_;
};

// The description file of the simulated radio.
inline const char* kSimRigFile =
    "[pmFreq]\nCommand=(FA00000000000;)\nValue=2|11|vfText|1|0\n"
    "[STATUS1]\nCommand=(FA;)\nReplyEnd=(;)\nValue1=2|11|vfText|1|0|pmFreq\n";

}  // namespace tarvane_test

// TPtyRadio: what the simulated radios of every protocol family share: the far side of a
// pseudo-terminal pair, read and answered on the radio's own thread, and reached by the server
// through a symbolic link, as a device is through its name under /dev/serial/by-id.
//
// A family derives from it, answers in Consume (called on the radio's thread with every byte not
// yet used) and guards its own state with m_. The derived class's destructor calls Stop() first,
// so the thread never runs into a half-destroyed radio.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace radiosim {

// Opens a pseudo-terminal pair, raw on the far (slave) side and non-blocking on the radio's
// (master) side, and points `link` at it in place of whatever it named. False, with both ends
// left at -1, when no pair can be had.
inline bool OpenRadioPty(int& master, int& slave, const std::filesystem::path& link) {
  master = slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    master = slave = -1;
    return false;
  }
  termios t{};
  ::tcgetattr(slave, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(slave, TCSANOW, &t);
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  char name[128] = {};
  ::ptsname_r(master, name, sizeof name);
  std::error_code ec;
  std::filesystem::remove(link, ec);
  std::filesystem::create_symlink(name, link, ec);
  return true;
}

// Writes all of `bytes` to the non-blocking `fd`, waiting while the line is full; gives up
// quietly when the other side is gone.
inline void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
      return;
    }
  }
}

class TPtyRadio {
 public:
  explicit TPtyRadio(std::filesystem::path link) : link_(std::move(link)) {
    std::error_code ec;
    std::filesystem::create_directories(link_.parent_path(), ec);
    OpenRadioPty(master_, slave_, link_);
  }
  virtual ~TPtyRadio() {
    Stop();
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);  // kept open so the master never sees a hang-up of its own
    std::error_code ec;
    std::filesystem::remove(link_, ec);
  }
  TPtyRadio(const TPtyRadio&) = delete;
  TPtyRadio& operator=(const TPtyRadio&) = delete;

  bool Ok() const { return master_ >= 0; }
  const std::filesystem::path& Link() const { return link_; }

  // The commands received so far, as the family splits them.
  std::vector<std::string> Received() {
    std::lock_guard l(m_);
    return received_;
  }
  bool WaitReceived(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock l(m_);
    return cv_.wait_for(l, timeout, [&] { return received_.size() >= n; });
  }

 protected:
  // Starts answering; the derived constructor calls it once its state is ready.
  void Start() {
    if (master_ >= 0) thread_ = std::thread([this] { Run(); });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  // Bytes as they arrive, before Consume sees them (an echoing bus answers them at once).
  virtual void Arrived(const std::string& /*chunk*/) {}
  // Takes every complete command off the front of `pending` and answers it.
  virtual void Consume(std::string& pending) = 0;

  // Writes bytes to the line as they stand.
  void Send(const std::string& bytes) { WriteAll(master_, bytes); }
  // Records a command; called with m_ held.
  void Note(std::string command) {
    received_.push_back(std::move(command));
    cv_.notify_all();
  }

  std::mutex m_;

 private:
  void Run() {
    std::string pending;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      char buf[512];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) continue;
      const std::string chunk(buf, static_cast<size_t>(n));
      Arrived(chunk);
      pending += chunk;
      Consume(pending);
    }
  }

  std::filesystem::path link_;
  int master_ = -1;
  int slave_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::condition_variable cv_;
  std::vector<std::string> received_;
};

// Packed BCD helpers of the binary families: `digits` decimal digits of `value`, two a byte,
// most significant first; and back.
inline std::string BcdBig(long long value, int bytes) {
  std::string out(static_cast<size_t>(bytes), '\0');
  for (int i = bytes - 1; i >= 0; --i) {
    const int pair = static_cast<int>(value % 100);
    value /= 100;
    out[static_cast<size_t>(i)] = static_cast<char>(((pair / 10) << 4) | (pair % 10));
  }
  return out;
}
inline long long FromBcdBig(const std::string& bytes) {
  long long v = 0;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    v = v * 100 + (b >> 4) * 10 + (b & 0x0F);
  }
  return v;
}
inline std::string Reversed(std::string s) { return std::string(s.rbegin(), s.rend()); }

}  // namespace radiosim

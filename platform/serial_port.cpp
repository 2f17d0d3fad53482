#include "serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "serial_devices.h"
#include "serial_kernel.h"
#include "serial_termios.h"

namespace tarvane {

namespace {

class SystemLines final : public IModemLines {
 public:
  bool Get(int fd, int& bits) override { return ::ioctl(fd, TIOCMGET, &bits) == 0; }
  bool Set(int fd, int bits, bool on) override {
    return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
  }
};

// Longest wait between two looks at the driver's output queue while it drains; a line held by the
// handshake is checked this often, never more.
constexpr int kMaxDrainWaitMs = 50;
// Most bytes taken from the driver before they are handed over.
constexpr size_t kMaxChunk = 65536;

int OutputQueued(int fd) {
  int queued = 0;
  return ::ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : 0;
}

// How long the bytes still in the driver's queue take at this rate (11 bit times a byte at most).
int DrainWaitMs(int fd, int baud) {
  const int queued = OutputQueued(fd);
  if (queued <= 0) return 0;
  const long long ms = static_cast<long long>(queued) * 11 * 1000 / std::max(baud, 1);
  return static_cast<int>(std::clamp<long long>(ms, 1, kMaxDrainWaitMs));
}

// Reads what the driver holds. A read of 0 or an error other than "nothing there" (EIO when an
// adapter is unplugged or the other side of a pseudo-terminal closed) means the line is gone.
void ReadAvailable(int fd, std::string& chunk, bool& hang_up) {
  char buf[4096];
  while (chunk.size() < kMaxChunk) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      chunk.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno != EAGAIN) hang_up = true;
    return;
  }
}

}  // namespace

IModemLines& SystemModemLines() {
  static SystemLines lines;
  return lines;
}

// State shared by the port, its reader thread and the hand-overs in flight. There is one per open, so
// a thread or a task left from an earlier open never acts on a later one.
struct PortLink {
  int fd = -1;    // the port's handle; the reader stops using it once `stop` is set
  int wake = -1;  // eventfd through which Send and Close wake the reader (owned)
  int baud = 0;
  std::mutex m;
  std::condition_variable cv;
  // Guarded by m:
  bool stop = false;
  std::string tx;               // bytes the driver has not taken yet
  bool awaiting_empty = false;  // OnSent is due once everything has left
  std::uint64_t rx_epoch = 0;   // bumped by PurgeRx: bytes read before a purge are dropped

  PortLink() = default;
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;
  ~PortLink() {
    if (wake >= 0) ::close(wake);
  }
  void Wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake, &one, sizeof one);
  }
};

// The reader thread of one open. It polls the device and the wake-up eventfd, reads incoming bytes,
// writes queued ones, notices when the output has drained, and hands each event to the port on the
// main thread. It uses only its PortLink and the arguments it was started with, never the
// TPortThread object, so a thread whose port was closed from its own hand-over can finish freely.
class TPortThread {
 public:
  TPortThread(TAlCommPort* port, std::shared_ptr<PortLink> link, PortDispatcher dispatcher)
      : thread_(&TPortThread::Execute, port, std::move(link), std::move(dispatcher)) {}
  TPortThread(const TPortThread&) = delete;
  TPortThread& operator=(const TPortThread&) = delete;
  // Joins, unless this is the thread itself (a port destroyed from its own handler, which the
  // header forbids); then the thread is left to end on its own.
  ~TPortThread() {
    if (!thread_.joinable()) return;
    if (IsCurrent()) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }
  bool IsCurrent() const { return thread_.get_id() == std::this_thread::get_id(); }

 private:
  enum class Slot { kPending, kRunning, kDone };

  static void Execute(TAlCommPort* port, std::shared_ptr<PortLink> link, PortDispatcher dispatcher);
  static bool HandOver(const std::shared_ptr<PortLink>& link, const PortDispatcher& dispatcher,
                       std::function<void()> work);

  std::thread thread_;
};

// Runs `work` on the main thread and waits until it has run or the port is closing. A task still
// queued when the port closes is marked done, so it does nothing if it runs later. False when the
// port is closing: the reader must then leave at once, without touching the device.
bool TPortThread::HandOver(const std::shared_ptr<PortLink>& link, const PortDispatcher& dispatcher,
                           std::function<void()> work) {
  auto slot = std::make_shared<Slot>(Slot::kPending);
  auto task = [link, slot, work = std::move(work)] {
    {
      std::lock_guard lock(link->m);
      if (link->stop || *slot != Slot::kPending) return;
      *slot = Slot::kRunning;
    }
    // Marked done however the handler leaves, so the reader never waits for ever.
    struct Finish {
      PortLink& link;
      Slot& slot;
      ~Finish() {
        {
          std::lock_guard lock(link.m);
          slot = Slot::kDone;
        }
        link.cv.notify_all();
      }
    } finish{*link, *slot};
    work();
  };
  if (dispatcher) {
    try {
      dispatcher(std::move(task));
    } catch (...) {
      // Nowhere to run it: wait for the close like for a dropped task.
    }
  } else {
    // Handlers on this thread: an exception ends the handler, and the loop goes on.
    try {
      task();
    } catch (...) {
    }
  }
  std::unique_lock lock(link->m);
  link->cv.wait(lock, [&] { return *slot == Slot::kDone || link->stop; });
  if (*slot == Slot::kPending) *slot = Slot::kDone;
  return !link->stop;
}

void TPortThread::Execute(TAlCommPort* port, std::shared_ptr<PortLink> link,
                          PortDispatcher dispatcher) {
  const int fd = link->fd;
  const PortLink* id = link.get();
  long long errors_seen = 0;
  const bool counts_errors = GetLineErrorCount(fd, errors_seen);
  for (;;) {
    pollfd fds[2] = {{link->wake, POLLIN, 0}, {fd, POLLIN, 0}};
    int timeout = -1;
    {
      std::lock_guard lock(link->m);
      if (link->stop) return;
      if (!link->tx.empty()) {
        fds[1].events |= POLLOUT;
      } else if (link->awaiting_empty) {
        timeout = DrainWaitMs(fd, link->baud);
      }
    }
    bool hang_up = false;
    if (::poll(fds, 2, timeout) < 0 && errno != EINTR) {
      hang_up = true;  // nothing sensible left to wait on; never retry in a loop
    }
    if (fds[0].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] ssize_t n = ::read(link->wake, &count, sizeof count);
    }
    // POLLHUP, POLLERR and POLLNVAL stay signalled: act on them once and end the thread.
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) hang_up = true;

    std::string chunk;
    std::uint64_t epoch = 0;
    bool drain = false;
    {
      std::lock_guard lock(link->m);
      if (link->stop) return;
      epoch = link->rx_epoch;
      if (!link->tx.empty() && (fds[1].revents & POLLOUT)) {
        while (!link->tx.empty()) {
          const ssize_t n = ::write(fd, link->tx.data(), link->tx.size());
          if (n > 0) {
            link->tx.erase(0, static_cast<size_t>(n));
          } else if (n < 0 && errno == EINTR) {
            continue;
          } else {
            if (n == 0 || errno != EAGAIN) hang_up = true;
            break;
          }
        }
      }
      drain = link->tx.empty() && link->awaiting_empty && OutputQueued(fd) <= 0;
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) ReadAvailable(fd, chunk, hang_up);

    bool sent = false;
    if (drain && !hang_up) {
      // The driver's queue is empty; this only waits for the UART's last characters.
      ::tcdrain(fd);
      std::lock_guard lock(link->m);
      if (link->stop) return;
      if (link->tx.empty() && link->awaiting_empty) {
        link->awaiting_empty = false;
        sent = true;
      }
    }
    bool line_error = false;
    long long errors_now = 0;
    if (counts_errors && GetLineErrorCount(fd, errors_now) && errors_now != errors_seen) {
      line_error = errors_now > errors_seen;
      errors_seen = errors_now;
    }

    // The order of one wake-up: line errors, transmit empty, received bytes, then a hang-up.
    if (line_error && !HandOver(link, dispatcher, [port, id] { port->LineError(id); })) return;
    if (sent && !HandOver(link, dispatcher, [port, id] { port->TransmitEmpty(id); })) return;
    if (!chunk.empty() &&
        !HandOver(link, dispatcher, [port, id, epoch, chunk = std::move(chunk)] {
          port->ReceiveStep(id, epoch, chunk);
        })) {
      return;
    }
    if (hang_up) {
      HandOver(link, dispatcher, [port, id] { port->HangUp(id); });
      return;
    }
  }
}

TAlCommPort::TAlCommPort() : modem_lines_(&SystemModemLines()) {}

TAlCommPort::~TAlCommPort() {
  Close();
  retired_.clear();
}

void TAlCommPort::SetDeviceRoots(std::filesystem::path dev_root, std::filesystem::path sys_root) {
  dev_root_ = std::move(dev_root);
  sys_root_ = std::move(sys_root);
}

void TAlCommPort::SetDataBits(int value) { data_bits_ = std::clamp(value, 5, 8); }

void TAlCommPort::SetModemLines(IModemLines* lines) {
  modem_lines_ = lines ? lines : &SystemModemLines();
}

void TAlCommPort::SetActive(bool value) {
  if (value) {
    Open();
  } else {
    Close();
  }
}

bool TAlCommPort::Open() {
  if (Active()) return true;
  ReapRetiredThreads();
  const std::string path =
      device_path_.empty() ? SerialDevicePath(port_, dev_root_, sys_root_) : device_path_;
  if (path.empty()) return false;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;

  auto saved = std::make_unique<termios>();
  bool exclusive = false;
  bool changed = false;
  auto fail = [&] {
    if (changed) ::tcsetattr(fd, TCSANOW, saved.get());
    if (exclusive) ::ioctl(fd, TIOCNXCL);
    ::close(fd);  // also drops the lock
    return false;
  };
  if (::tcgetattr(fd, saved.get()) != 0) return fail();
  // The lock refuses a second user in this or any other program that locks too (even root, whom
  // TIOCEXCL does not stop); TIOCEXCL refuses programs that simply open the device.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail();
  exclusive = ::ioctl(fd, TIOCEXCL) == 0;

  TLineSettings settings;
  settings.BaudRate = baud_rate_;
  settings.DataBits = data_bits_;
  settings.Parity = parity_;
  settings.StopBits = stop_bits_;
  settings.CtsFlow = dtr_mode_ == kLineHandshake || rts_mode_ == kLineHandshake;
  termios t = *saved;
  bool custom_rate = false;
  if (!MakeRawTermios(t, settings, custom_rate)) return fail();
  changed = true;
  if (::tcsetattr(fd, TCSANOW, &t) != 0) return fail();
  if (custom_rate && !SetCustomBaudRate(fd, baud_rate_)) return fail();

  auto link = std::make_shared<PortLink>();
  link->fd = fd;
  link->baud = baud_rate_;
  link->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (link->wake < 0) return fail();

  fd_ = fd;
  opened_path_ = path;
  saved_termios_ = std::move(saved);
  link_ = link;
  ApplyLineModes();
  try {
    thread_ = std::make_unique<TPortThread>(this, link_, dispatcher_);
  } catch (const std::system_error&) {
    saved = std::move(saved_termios_);
    fd_ = -1;
    link_.reset();
    return fail();
  }
  return true;
}

void TAlCommPort::ApplyLineModes() {
  // Linux raises DTR and RTS at open; set them as the modes say. A handshake DTR stays raised while
  // the port is open (the kernel has no DTR/DSR flow control), a handshake RTS belongs to the driver.
  modem_lines_->Set(fd_, TIOCM_DTR, dtr_mode_ == kLineHigh || dtr_mode_ == kLineHandshake);
  if (rts_mode_ != kLineHandshake) modem_lines_->Set(fd_, TIOCM_RTS, rts_mode_ == kLineHigh);
}

void TAlCommPort::Close() {
  if (!Active()) {
    ReapRetiredThreads();
    return;
  }
  // The reader goes first, so no hand-over can arrive while the port is being taken down.
  StopThread();
  PurgeRx();
  PurgeTx();
  if (saved_termios_) ::tcsetattr(fd_, TCSANOW, saved_termios_.get());
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
  saved_termios_.reset();
  link_.reset();
}

void TAlCommPort::StopThread() {
  if (!thread_) return;
  {
    std::lock_guard lock(link_->m);
    link_->stop = true;
  }
  link_->cv.notify_all();
  link_->Wake();
  if (thread_->IsCurrent()) {
    // Closed from a handler running on the reader itself: it leaves once the handler returns.
    retired_.push_back(std::move(thread_));
  } else {
    thread_.reset();  // joins
  }
  ReapRetiredThreads();
}

void TAlCommPort::ReapRetiredThreads() {
  std::erase_if(retired_, [](const std::unique_ptr<TPortThread>& t) { return !t->IsCurrent(); });
}

void TAlCommPort::Send(std::string_view bytes) {
  if (!link_ || bytes.empty()) return;
  {
    std::lock_guard lock(link_->m);
    link_->tx.append(bytes);
    link_->awaiting_empty = true;
  }
  link_->Wake();
}

void TAlCommPort::PurgeRx() {
  rx_buffer_.clear();
  if (!link_) return;
  std::lock_guard lock(link_->m);
  ::tcflush(fd_, TCIFLUSH);
  ++link_->rx_epoch;
}

void TAlCommPort::PurgeTx() {
  if (!link_) return;
  std::lock_guard lock(link_->m);
  link_->tx.clear();
  link_->awaiting_empty = false;
  ::tcflush(fd_, TCOFLUSH);
}

int TAlCommPort::TxCount() const {
  if (!link_) return 0;
  size_t queued = 0;
  {
    std::lock_guard lock(link_->m);
    queued = link_->tx.size();
  }
  return static_cast<int>(queued) + OutputQueued(fd_);
}

bool TAlCommPort::Cts() const {
  int bits = 0;
  return Active() && modem_lines_->Get(fd_, bits) && (bits & TIOCM_CTS) != 0;
}

bool TAlCommPort::Dsr() const {
  int bits = 0;
  return Active() && modem_lines_->Get(fd_, bits) && (bits & TIOCM_DSR) != 0;
}

void TAlCommPort::SetDtr(bool level) {
  if (dtr_mode_ == kLineHandshake) return;
  if (Active()) modem_lines_->Set(fd_, TIOCM_DTR, level);
  dtr_state_ = level;
}

void TAlCommPort::SetRts(bool level) {
  if (rts_mode_ == kLineHandshake) return;
  if (Active()) modem_lines_->Set(fd_, TIOCM_RTS, level);
  rts_state_ = level;
}

void TAlCommPort::ReceiveStep(const PortLink* link, std::uint64_t rx_epoch,
                              const std::string& chunk) {
  if (link != link_.get()) return;
  {
    std::lock_guard lock(link_->m);
    if (rx_epoch != link_->rx_epoch) return;  // read before a purge
  }
  rx_buffer_ += chunk;
  bool complete = false;
  switch (framing_) {
    case kFramingNone:
      complete = true;
      break;
    case kFramingCount:
      complete = static_cast<long long>(rx_buffer_.size()) >= reply_length_;
      break;
    case kFramingTerminator:
      // An empty terminator is never found, as a reply cannot be told complete by it.
      complete = !reply_end_.empty() && rx_buffer_.find(reply_end_) != std::string::npos;
      break;
    default:
      break;
  }
  if (!complete) return;
  if (OnReceived) OnReceived();
  rx_buffer_.clear();
}

void TAlCommPort::LineError(const PortLink* link) {
  if (link == link_.get() && OnError) OnError();
}

void TAlCommPort::TransmitEmpty(const PortLink* link) {
  if (link == link_.get() && OnSent) OnSent();
}

void TAlCommPort::HangUp(const PortLink* link) {
  if (link != link_.get()) return;
  Close();
  if (OnHangUp) OnHangUp();
}

}  // namespace tarvane

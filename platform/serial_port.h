// serial_port: TAlCommPort, one serial port of a rig, and TPortThread, its reader thread.
//
// TAlCommPort owns the device handle (a POSIX tty in raw mode, used exclusively), the reader thread
// of the current open and the receive buffer. Incoming bytes are collected in RxBuffer() and a reply is
// reported through OnReceived when it is complete by the framing the rig engine sets (count,
// terminator or none); OnSent reports that the output queue ran empty; OnHangUp reports that the
// device went away (the port is closed by then and may be opened again later).
//
// Threads: the owner calls every member from one thread, its "main" thread. The reader thread never
// touches the port's state itself: each event is handed to the dispatcher, which runs it on the main
// thread, and the reader waits until it has run, so events keep their order and the handlers need no
// lock. Closing the port (also from inside a handler) wakes the reader and joins it; it never waits
// for a hand-over that has not run yet. Without a dispatcher the handlers run on the reader thread,
// and the owner must then not use the port concurrently with them. Do not destroy the port from inside
// one of its own handlers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct termios;

namespace tarvane {

// Hands a task to the owner's thread. It must only queue the task and return at once (the port waits
// for the task itself, in a way that a close can interrupt); it may also run the task at once on the
// calling thread, or drop it. A task that runs after its port was closed does nothing.
using PortDispatcher = std::function<void(std::function<void()>)>;

// The modem lines of an open device, as TIOCM_* bits. The real implementation uses the tty ioctls;
// tests substitute a fake, since pseudo-terminals have no modem lines.
class IModemLines {
 public:
  virtual ~IModemLines() = default;
  // Reads the lines into `bits`; false when the device has none.
  virtual bool Get(int fd, int& bits) = 0;
  // Raises (`on`) or lowers the lines in `bits`; false when the device has none.
  virtual bool Set(int fd, int bits, bool on) = 0;
};

// The modem lines through TIOCMGET, TIOCMBIS and TIOCMBIC; shared, stateless.
IModemLines& SystemModemLines();

class TPortThread;
struct PortLink;

class TAlCommPort {
 public:
  // Framing of a reply.
  static constexpr int kFramingNone = 0;
  static constexpr int kFramingCount = 1;
  static constexpr int kFramingTerminator = 2;
  // RtsMode / DtrMode.
  static constexpr int kLineLow = 0;
  static constexpr int kLineHigh = 1;
  static constexpr int kLineHandshake = 2;

  TAlCommPort();
  ~TAlCommPort();
  TAlCommPort(const TAlCommPort&) = delete;
  TAlCommPort& operator=(const TAlCommPort&) = delete;

  // Settings; they take effect at the next open.
  int Port() const { return port_; }
  void SetPort(int value) { port_ = value; }
  // An explicit device path; when not empty it is opened instead of the numbered port.
  const std::string& DevicePath() const { return device_path_; }
  void SetDevicePath(std::string value) { device_path_ = std::move(value); }
  // Where numbered ports are looked for ("/dev" and "/sys" unless a test says otherwise).
  void SetDeviceRoots(std::filesystem::path dev_root, std::filesystem::path sys_root);
  int BaudRate() const { return baud_rate_; }
  void SetBaudRate(int value) { baud_rate_ = value < 0 ? 0 : value; }
  int DataBits() const { return data_bits_; }
  void SetDataBits(int value);
  int Parity() const { return parity_; }  // 0 none, 1 odd, 2 even, 3 mark, 4 space
  void SetParity(int value) { parity_ = value; }
  int StopBits() const { return stop_bits_; }  // 0 one, 1 one and a half, 2 two
  void SetStopBits(int value) { stop_bits_ = value; }
  int DtrMode() const { return dtr_mode_; }
  void SetDtrMode(int value) { dtr_mode_ = value; }
  int RtsMode() const { return rts_mode_; }
  void SetRtsMode(int value) { rts_mode_ = value; }

  // The dispatcher and the modem lines used from the next open on. No dispatcher: events are handled
  // on the reader thread. `lines` is not owned; nullptr restores the system's.
  void SetDispatcher(PortDispatcher dispatcher) { dispatcher_ = std::move(dispatcher); }
  void SetModemLines(IModemLines* lines);

  // Opening fails quietly (the port stays closed) when the device is missing, is not a tty, is in use
  // or refuses the settings.
  bool Active() const { return fd_ >= 0; }
  void SetActive(bool value);
  bool Open();
  void Close();
  // The device that the current (or last) open used.
  const std::string& OpenedPath() const { return opened_path_; }

  // Queues bytes for sending and returns at once; OnSent follows when the output queue is empty.
  void Send(std::string_view bytes);
  void PurgeRx();
  void PurgeTx();
  // Bytes not yet sent: those still queued here and those in the driver's output queue.
  int TxCount() const;

  // Modem lines. Cts/Dsr read the live lines (false when closed or not available); Dtr/Rts give the
  // level last set, and setting them does nothing while that line's mode is handshake.
  bool Cts() const;
  bool Dsr() const;
  bool Dtr() const { return dtr_state_; }
  bool Rts() const { return rts_state_; }
  void SetDtr(bool level);
  void SetRts(bool level);

  // Reply framing, set by the rig engine for the command in flight.
  int Framing() const { return framing_; }
  void SetFraming(int value) { framing_ = value; }
  int ReplyLength() const { return reply_length_; }
  void SetReplyLength(int value) { reply_length_ = value; }
  const std::string& ReplyEnd() const { return reply_end_; }
  void SetReplyEnd(std::string value) { reply_end_ = std::move(value); }
  // The bytes received so far; OnReceived reads the complete reply here.
  const std::string& RxBuffer() const { return rx_buffer_; }

  // Events, run on the main thread (through the dispatcher).
  std::function<void()> OnReceived;  // a reply is complete; it is in RxBuffer()
  std::function<void()> OnError;     // the line reported framing, parity, overrun or break errors
  std::function<void()> OnSent;      // the output queue ran empty
  std::function<void()> OnHangUp;    // the device went away; the port is closed already

 private:
  friend class TPortThread;

  // Called on the main thread by the reader's hand-overs; `link` tells a stale hand-over.
  void ReceiveStep(const PortLink* link, std::uint64_t rx_epoch, const std::string& chunk);
  void LineError(const PortLink* link);
  void TransmitEmpty(const PortLink* link);
  void HangUp(const PortLink* link);
  bool ApplySettings();
  void ApplyLineModes();
  void StopThread();
  void ReapRetiredThreads();

  int port_ = 1;
  std::string device_path_;
  std::filesystem::path dev_root_ = "/dev";
  std::filesystem::path sys_root_ = "/sys";
  int baud_rate_ = 19200;
  int data_bits_ = 8;
  int parity_ = 0;
  int stop_bits_ = 0;
  int dtr_mode_ = kLineLow;
  int rts_mode_ = kLineLow;
  bool dtr_state_ = false;
  bool rts_state_ = false;
  PortDispatcher dispatcher_;
  IModemLines* modem_lines_;

  int fd_ = -1;
  std::string opened_path_;
  std::unique_ptr<termios> saved_termios_;
  std::shared_ptr<PortLink> link_;
  std::unique_ptr<TPortThread> thread_;
  // Reader threads whose port was closed from inside their own hand-over; joined later.
  std::vector<std::unique_ptr<TPortThread>> retired_;

  std::string rx_buffer_;
  int framing_ = kFramingNone;
  int reply_length_ = 0;
  std::string reply_end_;
};

}  // namespace tarvane

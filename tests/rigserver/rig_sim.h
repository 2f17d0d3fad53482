// Test harness for the rig engine: a main-thread task loop standing in for the server's event
// loop, and a simulated radio on a pseudo-terminal pair.
//
// The simulated radio speaks a small text protocol of our own: every command ends in ';'.
//   AI0;            nothing back                 ID;          "ID042;"
//   IF;             "IF" + 11-digit frequency + mode digit + VFO digit + ";"
//   RB;             "RB" + 5-digit RIT offset + ";"
//   FAnnnnnnnnnnn;  sets the frequency           MDn; FRn;    set mode and VFO digits
//   RT1;            RIT on, echoed back
// or, switched to binary frames, a fixed five-byte protocol of our own: four parameter bytes and an
// opcode, no terminator.
//   p p p p 01      sets the frequency: 8 BCD digits of tens of hertz, most significant first
//   00 00 00 00 03  answers 4 BCD bytes of the frequency (as above) and the mode byte
//   m 00 00 00 07   sets the mode byte
// The commands received are recorded as they stand (without ';' in the text protocol).
// Its port is reached through a symbolic link (like a by-id name), so that pulling the far side
// and plugging a new one in shows the port going away and coming back under the same name.
//
// Faults are injected into the replies, one per reply in the order queued (InjectFault):
// silence (the reply is never sent), garbage (other bytes instead), a split reply (sent in
// chunks with a pause between, as a slow line or a USB adapter delivers it), and replies that are
// too short or too long.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "main_loop.h"
#include "pty_radio.h"

namespace rigtest {

enum class TSimFault {
  kSilence,  // the reply is dropped
  kGarbage,  // these bytes go out instead of the reply
  kSplit,    // the reply goes out in chunks of `size` bytes, `gap` apart
  kShort,    // the reply loses its last `size` bytes
  kLong,     // the reply gets `bytes` appended
};

struct TSimFaultSpec {
  TSimFault Fault = TSimFault::kSilence;
  std::string Bytes;
  size_t Size = 1;
  std::chrono::milliseconds Gap{20};
};

using TTestMainLoop = radiosim::TTestMainLoop;

class TSimRadio {
 public:
  explicit TSimRadio(std::filesystem::path link) : link_(std::move(link)) { Plug(); }
  ~TSimRadio() { Unplug(); }
  TSimRadio(const TSimRadio&) = delete;
  TSimRadio& operator=(const TSimRadio&) = delete;

  const std::filesystem::path& Link() const { return link_; }

  // Connects a new far side and points the link at it.
  void Plug() {
    int master = -1;
    int slave = -1;
    if (!radiosim::OpenRadioPty(master, slave, link_)) return;
    master_ = master;
    slave_ = slave;  // kept open so the master never sees a hang-up of its own
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
  }

  // Pulls the far side out: the port sees a hang-up and the link no longer leads anywhere.
  void Unplug() {
    if (master_ < 0) return;
    stop_ = true;
    thread_.join();
    ::close(master_);
    ::close(slave_);
    master_ = slave_ = -1;
    std::error_code ec;
    std::filesystem::remove(link_, ec);
  }

  // Radio state.
  void SetFreq(long long hz) { std::lock_guard l(m_); freq_ = hz; }
  long long Freq() { std::lock_guard l(m_); return freq_; }
  void SetModeDigit(int d) { std::lock_guard l(m_); mode_ = d; }
  int ModeDigit() { std::lock_guard l(m_); return mode_; }
  void SetVfoDigit(int d) { std::lock_guard l(m_); vfo_ = d; }
  int VfoDigit() { std::lock_guard l(m_); return vfo_; }
  void SetRitOffset(int hz) { std::lock_guard l(m_); rit_ = hz; }
  bool RitOn() { std::lock_guard l(m_); return rit_on_; }

  // Switches to the fixed five-byte binary protocol (see the top of this file); set before the
  // first command arrives.
  void SetBinaryFrames(bool on) { binary_ = on; }

  // While muted, replies are held back instead of sent; Release sends them.
  void SetMuted(bool muted) { std::lock_guard l(m_); muted_ = muted; }
  std::vector<std::string> Held() { std::lock_guard l(m_); return held_; }
  void ReleaseHeld() {
    std::vector<std::string> held;
    {
      std::lock_guard l(m_);
      held.swap(held_);
    }
    for (const std::string& r : held) Write(r);
  }
  // Sends the oldest held reply only.
  void ReleaseFirstHeld() {
    std::string first;
    {
      std::lock_guard l(m_);
      if (held_.empty()) return;
      first = held_.front();
      held_.erase(held_.begin());
    }
    Write(first);
  }
  // The next replies suffer these faults, one each, in order.
  void InjectFault(TSimFaultSpec spec) { std::lock_guard l(m_); faults_.push_back(std::move(spec)); }
  void InjectFault(TSimFault fault) { InjectFault(TSimFaultSpec{fault, {}, 1, {}}); }
  size_t FaultsLeft() { std::lock_guard l(m_); return faults_.size(); }
  // The steady-clock time just before the last reply's first byte was written, and how many
  // replies went out.
  std::chrono::steady_clock::time_point LastReplyTime() { std::lock_guard l(m_); return last_reply_; }
  size_t RepliesSent() { std::lock_guard l(m_); return replies_sent_; }

  // The next reply to "IF;" is this text instead.
  void OverrideNextStatus(std::string reply) { std::lock_guard l(m_); override_ = std::move(reply); }

  // Bytes written to the port as they stand.
  void Write(const std::string& bytes) { radiosim::WriteAll(master_, bytes); }

  // The commands received so far, without their ';'.
  std::vector<std::string> Received() { std::lock_guard l(m_); return received_; }
  // Waits (bounded) until `n` commands were received.
  bool WaitReceived(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock l(m_);
    return cv_.wait_for(l, timeout, [&] { return received_.size() >= n; });
  }

 private:
  void Run() {
    std::string pending;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      char buf[256];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) continue;
      pending.append(buf, static_cast<size_t>(n));
      if (binary_) {
        while (pending.size() >= kFrameSize) {
          const std::string frame = pending.substr(0, kFrameSize);
          pending.erase(0, kFrameSize);
          AnswerFrame(frame);
        }
        continue;
      }
      size_t end;
      while ((end = pending.find(';')) != std::string::npos) {
        const std::string command = pending.substr(0, end);
        pending.erase(0, end + 1);
        Answer(command);
      }
    }
  }

  void Answer(const std::string& command) {
    std::string reply;
    {
      std::lock_guard l(m_);
      received_.push_back(command);
      char text[64];
      if (command == "ID") {
        reply = "ID042;";
      } else if (command == "IF") {
        std::snprintf(text, sizeof text, "IF%011lld%d%d;", freq_, mode_, vfo_);
        reply = text;
        if (!override_.empty()) {
          reply = std::move(override_);
          override_.clear();
        }
      } else if (command == "RB") {
        std::snprintf(text, sizeof text, "RB%05d;", rit_);
        reply = text;
      } else if (command.rfind("FA", 0) == 0) {
        freq_ = std::stoll(command.substr(2));
      } else if (command.rfind("MD", 0) == 0 && command.size() == 3) {
        mode_ = command[2] - '0';
      } else if (command.rfind("FR", 0) == 0 && command.size() == 3) {
        vfo_ = command[2] - '0';
      } else if (command == "RT1") {
        rit_on_ = true;
        reply = "RT1;";
      }
    }
    Reply(std::move(reply));
  }

  // A frame of the fixed five-byte binary protocol.
  void AnswerFrame(const std::string& frame) {
    std::string reply;
    {
      std::lock_guard l(m_);
      received_.push_back(frame);
      auto bcd = [&](int i) {
        const auto b = static_cast<uint8_t>(frame[static_cast<size_t>(i)]);
        return (b >> 4) * 10 + (b & 0x0F);
      };
      switch (static_cast<uint8_t>(frame[4])) {
        case 0x01:
          freq_ = 10LL * (((bcd(0) * 100 + bcd(1)) * 100 + bcd(2)) * 100 + bcd(3));
          break;
        case 0x03: {
          long long tens = freq_ / 10;
          reply.assign(5, '\0');
          for (int i = 3; i >= 0; --i) {
            const int pair = static_cast<int>(tens % 100);
            tens /= 100;
            reply[static_cast<size_t>(i)] = static_cast<char>(((pair / 10) << 4) | (pair % 10));
          }
          reply[4] = static_cast<char>(mode_);
          break;
        }
        case 0x07:
          mode_ = static_cast<uint8_t>(frame[0]);
          break;
        default:
          break;
      }
    }
    Reply(std::move(reply));
  }

  // Sends a reply (nothing for an empty one), held back while muted, with the next fault.
  void Reply(std::string reply) {
    TSimFaultSpec fault;
    bool has_fault = false;
    {
      std::lock_guard l(m_);
      if (!reply.empty() && muted_) {
        held_.push_back(reply);
        reply.clear();
      }
      if (!reply.empty() && !faults_.empty()) {
        fault = std::move(faults_.front());
        faults_.pop_front();
        has_fault = true;
      }
    }
    cv_.notify_all();
    if (reply.empty()) return;
    if (has_fault) {
      switch (fault.Fault) {
        case TSimFault::kSilence:
          return;
        case TSimFault::kGarbage:
          reply = fault.Bytes;
          break;
        case TSimFault::kShort:
          reply.resize(reply.size() - std::min(reply.size(), fault.Size));
          break;
        case TSimFault::kLong:
          reply += fault.Bytes;
          break;
        case TSimFault::kSplit: {
          NoteReply();
          const size_t size = std::max<size_t>(fault.Size, 1);
          for (size_t at = 0; at < reply.size(); at += size) {
            if (at > 0) std::this_thread::sleep_for(fault.Gap);
            Write(reply.substr(at, size));
          }
          return;
        }
      }
    }
    NoteReply();
    Write(reply);
  }

  void NoteReply() {
    std::lock_guard l(m_);
    last_reply_ = std::chrono::steady_clock::now();
    ++replies_sent_;
  }

  std::filesystem::path link_;
  int master_ = -1;
  int slave_ = -1;
  static constexpr size_t kFrameSize = 5;
  std::atomic<bool> stop_{false};
  std::atomic<bool> binary_{false};
  std::thread thread_;

  std::mutex m_;
  std::condition_variable cv_;
  long long freq_ = 14250000;
  int mode_ = 1;
  int vfo_ = 0;
  int rit_ = 0;
  bool rit_on_ = false;
  bool muted_ = false;
  std::string override_;
  std::deque<TSimFaultSpec> faults_;
  std::chrono::steady_clock::time_point last_reply_{};
  size_t replies_sent_ = 0;
  std::vector<std::string> held_;
  std::vector<std::string> received_;
};

}  // namespace rigtest

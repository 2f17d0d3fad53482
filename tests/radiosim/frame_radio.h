// TFrameRadio: a simulated radio of the addressed binary family, as the maker's command reference
// describes it. Frames are FE FE <to> <from> <command> [<sub-command>] [<data>] FD. The line is a
// bus shared by sender and receiver, so every byte the controller sends comes straight back as
// an echo (unless the model has its echo switched off, as a radio's own USB port can have it);
// a frame addressed to this radio is then answered from its address to the sender:
// reads with the command, sub-command and data, settings with FB (done) or FA (refused). Frames
// for other addresses get nothing but their echo.
//
// Commands: 03 frequency, 04 mode and filter, 05 set frequency, 06 set mode [filter], 07 00/01
// VFO A/B, 07 A0 A=B, 07 B0 exchange (main and sub on a radio without VFO A/B), 0F split (read, 00, 01), 1C 00 transmit (read, 00, 01),
// 21 00 RIT offset (two BCD bytes least significant first, then the sign 00/01), 21 01 RIT,
// 21 02 XIT, 25 00/01 frequency of the selected/other VFO, 26 00 mode, data mode and filter of
// the selected VFO. A model has only some of them (TFrameModel); the others are refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pty_radio.h"

namespace radiosim {

struct TFrameModel {
  uint8_t Address = 0x94;
  bool ModeWithData = true;  // 25 and 26
  bool Rit = true;           // 21 00 and 21 01
  bool Xit = true;           // 21 02
  bool Transmit = true;      // 1C 00
  bool VfoAB = true;         // 07 00, 01, A0, B0
  bool Exchange = false;     // 07 B0 alone, without VfoAB
  bool Echo = true;          // every byte received goes back out at once
};

class TFrameRadio : public TPtyRadio {
 public:
  TFrameRadio(std::filesystem::path link, TFrameModel model)
      : TPtyRadio(std::move(link)), model_(model) {
    Start();
  }
  ~TFrameRadio() override { Stop(); }

  long long Freq(int vfo) { std::lock_guard l(m_); return freq_[vfo]; }
  void SetFreq(int vfo, long long hz) { std::lock_guard l(m_); freq_[vfo] = hz; }
  int Vfo() { std::lock_guard l(m_); return vfo_; }
  void SelectVfo(int vfo) { std::lock_guard l(m_); vfo_ = vfo; }
  // Mode code and data mode (0 off, 1 to 3).
  uint8_t Mode() { std::lock_guard l(m_); return mode_; }
  uint8_t Data() { std::lock_guard l(m_); return data_; }
  void SetMode(uint8_t mode, uint8_t data) { std::lock_guard l(m_); mode_ = mode; data_ = data; }
  bool Split() { std::lock_guard l(m_); return split_; }
  bool Rit() { std::lock_guard l(m_); return rit_; }
  bool Xit() { std::lock_guard l(m_); return xit_; }
  int RitOffset() { std::lock_guard l(m_); return offset_; }
  void SetRitOffset(int hz) { std::lock_guard l(m_); offset_ = hz; }
  bool Transmitting() { std::lock_guard l(m_); return transmitting_; }
  // Frames answered FA, and frames for other addresses.
  int Refused() { std::lock_guard l(m_); return refused_; }
  int NotForUs() { std::lock_guard l(m_); return not_for_us_; }

 private:
  void Arrived(const std::string& chunk) override {
    if (model_.Echo) Send(chunk);
  }

  void Consume(std::string& pending) override {
    for (;;) {
      const size_t start = pending.find("\xFE\xFE");
      if (start == std::string::npos) {
        pending.clear();
        return;
      }
      const size_t end = pending.find('\xFD', start);
      if (end == std::string::npos) {
        pending.erase(0, start);
        return;
      }
      const std::string frame = pending.substr(start, end + 1 - start);
      pending.erase(0, end + 1);
      std::string reply;
      {
        std::lock_guard l(m_);
        Note(frame);
        if (frame.size() < 6) continue;
        if (static_cast<uint8_t>(frame[2]) != model_.Address) {
          ++not_for_us_;
          continue;
        }
        const std::string body = frame.substr(4, frame.size() - 5);
        std::string answer = Answer(body);
        if (answer == kNo) ++refused_;
        reply = std::string("\xFE\xFE", 2) + frame[3] + frame[2] + answer + "\xFD";
      }
      Send(reply);
    }
  }

  static inline const std::string kYes = "\xFB";
  static inline const std::string kNo = "\xFA";

  static uint8_t B(const std::string& s, size_t i) {
    return i < s.size() ? static_cast<uint8_t>(s[i]) : 0xFF;
  }

  std::string FreqBytes(long long hz) const { return Reversed(BcdBig(hz, 5)); }

  // The answer's body to a frame's body (command and what follows it); called with m_ held.
  std::string Answer(const std::string& b) {
    const uint8_t cmd = B(b, 0);
    const std::string args = b.substr(1);
    switch (cmd) {
      case 0x03:
        return args.empty() ? "\x03" + FreqBytes(freq_[vfo_]) : kNo;
      case 0x04:
        return args.empty() ? std::string("\x04", 1) + char(mode_) + char(filter_) : kNo;
      case 0x05:
        if (args.size() != 5) return kNo;
        freq_[vfo_] = FromBcdBig(Reversed(args));
        return kYes;
      case 0x06:
        if (args.empty() || args.size() > 2) return kNo;
        mode_ = B(args, 0);
        data_ = 0;
        if (args.size() == 2) filter_ = B(args, 1);
        return kYes;
      case 0x07:
        if (model_.Exchange && args.size() == 1 && B(args, 0) == 0xB0) {
          std::swap(freq_[0], freq_[1]);
          return kYes;
        }
        if (!model_.VfoAB || args.size() != 1) return kNo;
        switch (B(args, 0)) {
          case 0x00: vfo_ = 0; return kYes;
          case 0x01: vfo_ = 1; return kYes;
          case 0xA0: freq_[1] = freq_[0]; return kYes;
          case 0xB0: std::swap(freq_[0], freq_[1]); return kYes;
          default: return kNo;
        }
      case 0x0F:
        if (args.empty()) return std::string("\x0F", 1) + char(split_ ? 1 : 0);
        if (args.size() != 1 || B(args, 0) > 1) return kNo;
        split_ = B(args, 0) == 1;
        return kYes;
      case 0x1C:
        if (!model_.Transmit || B(args, 0) != 0x00) return kNo;
        if (args.size() == 1) return std::string("\x1C\x00", 2) + char(transmitting_ ? 1 : 0);
        if (args.size() != 2 || B(args, 1) > 1) return kNo;
        transmitting_ = B(args, 1) == 1;
        return kYes;
      case 0x21:
        return Rit(args);
      case 0x25:
        if (!model_.ModeWithData || args.empty() || B(args, 0) > 1) return kNo;
        if (args.size() == 1) return "\x25" + args + FreqBytes(freq_[vfo_ ^ B(args, 0)]);
        if (args.size() != 6) return kNo;
        freq_[vfo_ ^ B(args, 0)] = FromBcdBig(Reversed(args.substr(1)));
        return kYes;
      case 0x26:
        if (!model_.ModeWithData || B(args, 0) != 0x00) return kNo;
        if (args.size() == 1) {
          return std::string("\x26\x00", 2) + char(mode_) + char(data_) + char(filter_);
        }
        if (args.size() != 4 || B(args, 2) > 3 || B(args, 3) < 1 || B(args, 3) > 3) return kNo;
        mode_ = B(args, 1);
        data_ = B(args, 2);
        filter_ = B(args, 3);
        return kYes;
      default:
        return kNo;
    }
  }

  std::string Rit(const std::string& args) {
    const uint8_t sub = B(args, 0);
    if (sub == 0x02 ? !model_.Xit : !model_.Rit) return kNo;
    bool* flag = sub == 0x01 ? &rit_ : sub == 0x02 ? &xit_ : nullptr;
    if (flag) {
      if (args.size() == 1) return std::string("\x21", 1) + char(sub) + char(*flag ? 1 : 0);
      if (args.size() != 2 || B(args, 1) > 1) return kNo;
      *flag = B(args, 1) == 1;
      return kYes;
    }
    if (sub != 0x00) return kNo;
    if (args.size() == 1) {
      const int magnitude = offset_ < 0 ? -offset_ : offset_;
      return std::string("\x21\x00", 2) + Reversed(BcdBig(magnitude, 2)) +
             char(offset_ < 0 ? 1 : 0);
    }
    if (args.size() != 4 || B(args, 3) > 1) return kNo;
    const int magnitude = static_cast<int>(FromBcdBig(Reversed(args.substr(1, 2))));
    offset_ = B(args, 3) == 1 ? -magnitude : magnitude;
    return kYes;
  }

  const TFrameModel model_;
  long long freq_[2] = {14250000, 7050000};
  int vfo_ = 0;
  uint8_t mode_ = 0x01;
  uint8_t data_ = 0;
  uint8_t filter_ = 0x01;
  bool split_ = false;
  bool rit_ = false;
  bool xit_ = false;
  int offset_ = 0;
  bool transmitting_ = false;
  int refused_ = 0;
  int not_for_us_ = 0;
};

}  // namespace radiosim

// TFiveByteRadio: a simulated radio of the fixed 5-byte family, as the maker's command reference
// describes it. Every command is four parameter bytes and an opcode, no terminator:
//   01  set the frequency (4 BCD bytes of tens of Hz, most significant first)
//   03  read frequency and mode: the 4 frequency bytes, then the mode byte
//   07  set the mode (first byte)            81  switch between VFO A and VFO B
//   08  key the transmitter                  88  unkey it
//   02  split on                             82  split off
//   05  clarifier on                         85  clarifier off
//   F5  clarifier offset (first byte the sign, 00 plus; last two BCD tens of Hz)
//   F7  transmitter status: FF while receiving, bit 7 clear while transmitting
// Keying, unkeying, split on/off and clarifier on/off answer one byte, 00 when done and F0 when
// it already was so; nothing else is answered. The mode byte is reported as set (bit 7 is the
// narrow filter). SetAnswersPtt(false) silences the keying answers (for a rig file
// that expects none).
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "pty_radio.h"

namespace radiosim {

class TFiveByteRadio : public TPtyRadio {
 public:
  explicit TFiveByteRadio(std::filesystem::path link) : TPtyRadio(std::move(link)) { Start(); }
  ~TFiveByteRadio() override { Stop(); }

  long long Freq(int vfo) { std::lock_guard l(m_); return freq_[vfo]; }
  void SetFreq(int vfo, long long hz) { std::lock_guard l(m_); freq_[vfo] = hz; }
  int Vfo() { std::lock_guard l(m_); return vfo_; }
  void SelectVfo(int vfo) { std::lock_guard l(m_); vfo_ = vfo; }
  uint8_t Mode() { std::lock_guard l(m_); return mode_; }
  void SetMode(uint8_t mode) { std::lock_guard l(m_); mode_ = mode; }
  bool Split() { std::lock_guard l(m_); return split_; }
  bool Clarifier() { std::lock_guard l(m_); return clarifier_; }
  int ClarifierOffset() { std::lock_guard l(m_); return offset_; }
  void SetClarifierOffset(int hz) { std::lock_guard l(m_); offset_ = hz; }
  bool Transmitting() { std::lock_guard l(m_); return transmitting_; }
  void SetAnswersPtt(bool on) { std::lock_guard l(m_); answers_ptt_ = on; }
  // The next read of frequency and mode (03) is answered with `bytes` instead, as line noise
  // of the reply's length would be read.
  void ReplaceNextRead(std::string bytes) { std::lock_guard l(m_); next_read_ = std::move(bytes); }
  // Commands with an opcode the radio does not know.
  int Unknown() { std::lock_guard l(m_); return unknown_; }

 private:
  void Consume(std::string& pending) override {
    while (pending.size() >= 5) {
      const std::string command = pending.substr(0, 5);
      pending.erase(0, 5);
      std::string reply;
      {
        std::lock_guard l(m_);
        Note(command);
        reply = Answer(command);
      }
      if (!reply.empty()) Send(reply);
    }
  }

  // The answer of a toggle: 00 when it changed the state, F0 when the state already was so.
  static std::string Toggle(bool& state, bool to) {
    const bool was = state;
    state = to;
    return std::string(1, was == to ? '\xF0' : '\x00');
  }

  std::string Answer(const std::string& c) {
    const auto p1 = static_cast<uint8_t>(c[0]);
    switch (static_cast<uint8_t>(c[4])) {
      case 0x01:
        freq_[vfo_] = FromBcdBig(c.substr(0, 4)) * 10;
        return "";
      case 0x03:
        if (!next_read_.empty()) return std::exchange(next_read_, std::string());
        return BcdBig(freq_[vfo_] / 10, 4) + char(mode_);
      case 0x07:
        mode_ = p1;
        return "";
      case 0x81:
        vfo_ = 1 - vfo_;
        return "";
      case 0x08:
      case 0x88: {
        const std::string r = Toggle(transmitting_, c[4] == 0x08);
        return answers_ptt_ ? r : "";
      }
      case 0x02:
      case 0x82:
        return Toggle(split_, c[4] == 0x02);
      case 0x05:
      case 0x85:
        return Toggle(clarifier_, c[4] == 0x05);
      case 0xF5: {
        const int tens = static_cast<int>(FromBcdBig(c.substr(2, 2)));
        offset_ = (p1 == 0 ? 1 : -1) * tens * 10;
        return "";
      }
      case 0xF7:
        return std::string(1, transmitting_ ? (split_ ? '\x00' : '\x20') : '\xFF');
      default:
        ++unknown_;
        return "";
    }
  }

  long long freq_[2] = {14250000, 7050000};
  int vfo_ = 0;
  uint8_t mode_ = 0x01;
  bool split_ = false;
  bool clarifier_ = false;
  int offset_ = 0;
  bool transmitting_ = false;
  bool answers_ptt_ = true;
  int unknown_ = 0;
  std::string next_read_;
};

}  // namespace radiosim

// TAsciiRadio: a simulated radio of the two-letter text family, in one of its three dialects, as
// the makers' command references describe them. Every command ends in ';'; a read is the bare
// command and the answer repeats it with the value; settings are not answered; a command the
// radio does not take is answered "?;" (and counted).
//
//   kKenwood   FA/FB with 11 digits; IF of 38 characters; MDn; FRn picks the receiving VFO (and
//              the transmitting one with it), FTn the transmitting one; TX or TX0 keys, RX unkeys.
//   kElecraft  as kKenwood, but the radio receives on VFO A only: FR is refused, FT1/FT0 switch
//              split on and off; TX keys.
//   kYaesu     FA/FB with 9 digits; IF of 28 characters, whose frequency is VFO A's whichever
//              VFO is in use; MD0x; VSn picks the VFO in use, STn split (transmitting on the
//              other VFO), AB copies A to B, SV exchanges them; TX1 keys, TX0 unkeys, TX reads.
//              A model may lack VS, ST, or RT/XT (TAsciiModel), and may have FT3/FT2 for split
//              instead (transmitting on VFO B / A, read back as FT1 / FT0).
// All: AI0; RT0/RT1 (RIT), XT0/XT1 (XIT), RC (offset cleared).
#pragma once

#include <cstdio>
#include <string>

#include "pty_radio.h"

namespace radiosim {

enum class TAsciiDialect { kKenwood, kElecraft, kYaesu };

// The commands a model of the dialect has beyond the common ones.
struct TAsciiModel {
  bool Vs = true;        // VS (kYaesu)
  bool St = true;        // ST (kYaesu)
  bool RitXit = true;    // RT, XT
  bool FtSplit = false;  // FT2/FT3 and FT (kYaesu)
};

class TAsciiRadio : public TPtyRadio {
 public:
  TAsciiRadio(std::filesystem::path link, TAsciiDialect dialect, TAsciiModel model = {})
      : TPtyRadio(std::move(link)), dialect_(dialect), model_(model) {
    Start();
  }
  ~TAsciiRadio() override { Stop(); }

  // The radio's state, in its own terms: VFO 0 is A, 1 is B; the mode is the radio's code.
  long long Freq(int vfo) { std::lock_guard l(m_); return freq_[vfo]; }
  void SetFreq(int vfo, long long hz) { std::lock_guard l(m_); freq_[vfo] = hz; }
  int RxVfo() { std::lock_guard l(m_); return rx_; }
  int TxVfo() { std::lock_guard l(m_); return tx_; }
  // As the operator would on the front panel.
  void SelectVfos(int rx, int tx) { std::lock_guard l(m_); rx_ = rx; tx_ = tx; }
  char Mode() { std::lock_guard l(m_); return mode_; }
  void SetMode(char code) { std::lock_guard l(m_); mode_ = code; }
  bool Rit() { std::lock_guard l(m_); return rit_; }
  bool Xit() { std::lock_guard l(m_); return xit_; }
  int RitOffset() { std::lock_guard l(m_); return offset_; }
  void SetRitOffset(int hz) { std::lock_guard l(m_); offset_ = hz; }
  bool Transmitting() { std::lock_guard l(m_); return transmitting_; }
  bool Split() { std::lock_guard l(m_); return rx_ != tx_; }
  // Commands answered "?;".
  std::vector<std::string> Refused() { std::lock_guard l(m_); return refused_; }

 private:
  void Consume(std::string& pending) override {
    size_t end;
    while ((end = pending.find(';')) != std::string::npos) {
      const std::string command = pending.substr(0, end);
      pending.erase(0, end + 1);
      std::string reply;
      {
        std::lock_guard l(m_);
        Note(command);
        reply = Answer(command);
        if (reply == "?;") refused_.push_back(command);
      }
      if (!reply.empty()) Send(reply);
    }
  }

  bool Yaesu() const { return dialect_ == TAsciiDialect::kYaesu; }
  int Digits() const { return Yaesu() ? 9 : 11; }

  static bool AllDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
  }
  static bool IsModeCode(char c, bool yaesu) {
    return yaesu ? std::string("123456789ABCDE").find(c) != std::string::npos
                 : std::string("12345679").find(c) != std::string::npos;
  }

  std::string FreqText(long long hz) const {
    char text[32];
    std::snprintf(text, sizeof text, "%0*lld", Digits(), hz);
    return text;
  }

  std::string InfoReply() const {
    const int heard = transmitting_ ? tx_ : rx_;
    char offset[16];
    std::snprintf(offset, sizeof offset, "%+05d", offset_);
    const std::string rit(1, rit_ ? '1' : '0'), xit(1, xit_ ? '1' : '0');
    if (Yaesu()) {
      return "IF001" + FreqText(freq_[0]) + offset + rit + xit + std::string(1, mode_) +
             "0000" "0;";
    }
    const std::string memory = dialect_ == TAsciiDialect::kElecraft ? " 00" : "000";
    return "IF" + FreqText(freq_[heard]) + "     " + offset + rit + xit + memory +
           (transmitting_ ? "1" : "0") + std::string(1, mode_) + std::to_string(rx_) + "0" +
           (rx_ != tx_ ? "1" : "0") + "0000;";
  }

  // Called with m_ held.
  std::string Answer(const std::string& c) {
    const std::string name = c.substr(0, 2);
    const std::string arg = c.size() > 2 ? c.substr(2) : std::string();
    if (c == "AI0") return "";
    if (c == "IF") return InfoReply();
    if (name == "FA" || name == "FB") {
      const int vfo = name == "FA" ? 0 : 1;
      if (arg.empty()) return name + FreqText(freq_[vfo]) + ";";
      if (static_cast<int>(arg.size()) != Digits() || !AllDigits(arg)) return "?;";
      freq_[vfo] = std::stoll(arg);
      return "";
    }
    if (name == "MD") {
      if (Yaesu()) {
        if (arg == "0") return "MD0" + std::string(1, mode_) + ";";
        if (arg.size() != 2 || arg[0] != '0' || !IsModeCode(arg[1], true)) return "?;";
        mode_ = arg[1];
        return "";
      }
      if (arg.empty()) return "MD" + std::string(1, mode_) + ";";
      if (arg.size() != 1 || !IsModeCode(arg[0], false)) return "?;";
      mode_ = arg[0];
      return "";
    }
    if (model_.RitXit && (c == "RT0" || c == "RT1")) { rit_ = c[2] == '1'; return ""; }
    if (model_.RitXit && (c == "XT0" || c == "XT1")) { xit_ = c[2] == '1'; return ""; }
    if (c == "RC") { offset_ = 0; return ""; }
    switch (dialect_) {
      case TAsciiDialect::kKenwood:
        if (c == "FR0" || c == "FR1") { rx_ = tx_ = c[2] - '0'; return ""; }
        if (c == "FT0" || c == "FT1") { tx_ = c[2] - '0'; return ""; }
        if (c == "TX" || c == "TX0") { transmitting_ = true; return ""; }
        if (c == "RX") { transmitting_ = false; return ""; }
        break;
      case TAsciiDialect::kElecraft:
        if (c == "FT0" || c == "FT1") { tx_ = c[2] - '0'; return ""; }
        if (c == "TX") { transmitting_ = true; return ""; }
        if (c == "RX") { transmitting_ = false; return ""; }
        break;
      case TAsciiDialect::kYaesu: {
        const bool split = rx_ != tx_;
        if (model_.Vs) {
          if (c == "VS") return "VS" + std::to_string(rx_) + ";";
          if (c == "VS0" || c == "VS1") {
            rx_ = c[2] - '0';
            tx_ = split ? 1 - rx_ : rx_;
            return "";
          }
        }
        if (model_.St) {
          if (c == "ST") return std::string("ST") + (split ? "1" : "0") + ";";
          if (c == "ST0" || c == "ST1") { tx_ = c[2] == '1' ? 1 - rx_ : rx_; return ""; }
        }
        if (model_.FtSplit) {
          if (c == "FT") return "FT" + std::to_string(tx_) + ";";
          if (c == "FT2" || c == "FT3") { tx_ = c[2] - '2'; return ""; }
        }
        if (c == "AB") { freq_[1] = freq_[0]; return ""; }
        if (c == "BA") { freq_[0] = freq_[1]; return ""; }
        if (c == "SV") { std::swap(freq_[0], freq_[1]); return ""; }
        if (c == "TX") return std::string("TX") + (transmitting_ ? "1" : "0") + ";";
        if (c == "TX0" || c == "TX1") { transmitting_ = c[2] == '1'; return ""; }
        break;
      }
    }
    return "?;";
  }

  const TAsciiDialect dialect_;
  const TAsciiModel model_;
  long long freq_[2] = {14250000, 7050000};
  int rx_ = 0;
  int tx_ = 0;
  char mode_ = '2';
  bool rit_ = false;
  bool xit_ = false;
  int offset_ = 0;
  bool transmitting_ = false;
  std::vector<std::string> refused_;
};

}  // namespace radiosim

// CaptureVoice: a voice that speaks nothing and records every call, for tests. Calls() holds one
// line per call in order ("Speak <text>", "Skip", "Pause", "Resume", "Rate 3", "Volume 40",
// "Voice <name>", "Disconnect"); Spoken() the texts given to Speak; Queue() the texts spoken since
// the last Skip (what a real voice would still have to say); Priorities() the priority of each
// text of Spoken(), and Echoes() the texts spoken at SpeechPriority::Text. FailWith() makes every later call
// fail with that reason until it is called with an empty one.
//
// One owner; used from one thread.
#pragma once

#include <string>
#include <vector>

#include "voice.h"

namespace quillmere {

class CaptureVoice : public Voice {
 public:
  bool Speak(const std::string& text, SpeechPriority priority) override;
  bool Skip() override;
  bool Pause() override;
  bool Resume() override;
  bool Paused() const override { return paused_; }
  bool SetRate(int rate) override;
  bool SetVolume(int volume) override;
  bool GetVoices(std::vector<TVoiceInfo>& voices) override;
  bool SetVoice(const TVoiceInfo& voice) override;
  void Disconnect() override;
  std::string LastError() const override { return failure_; }

  const std::vector<std::string>& Calls() const { return calls_; }
  const std::vector<std::string>& Spoken() const { return spoken_; }
  const std::vector<std::string>& Queue() const { return queue_; }
  const std::vector<SpeechPriority>& Priorities() const { return priorities_; }
  std::vector<std::string> Echoes() const;
  void Clear();

  // The voices GetVoices reports.
  void SetVoiceList(std::vector<TVoiceInfo> voices) { voices_ = std::move(voices); }
  const TVoiceInfo& CurrentVoice() const { return current_; }
  int Rate() const { return rate_; }
  int Volume() const { return volume_; }
  void FailWith(std::string reason) { failure_ = std::move(reason); }

 private:
  bool Record(const std::string& call);

  std::vector<std::string> calls_, spoken_, queue_;
  std::vector<SpeechPriority> priorities_;
  std::vector<TVoiceInfo> voices_;
  TVoiceInfo current_;
  std::string failure_;
  bool paused_ = false;
  int rate_ = 0;
  int volume_ = 100;
};

}  // namespace quillmere

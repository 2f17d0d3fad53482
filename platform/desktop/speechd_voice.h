// SpeechDispatcherVoice: the logbook's voice through speech-dispatcher, the speech service that
// Linux screen readers use (libspeechd; the service is started on demand by the library).
//
// The connection is opened on first use and kept; a failed call closes it, so the next call
// tries afresh. A screen reader speaks through the same service (at its priority "message"), so
// the phrases use the service's priorities to take turns with it: SpeechPriority::Message goes
// at "message" (queued in the order of the calls, behind or before the screen reader's messages,
// never cut off), SpeechPriority::Text at "text" (cancelled by the next "text" and by every
// "message", of this client or another, and spoken only once no message waits). A text phrase
// made of several parts (spelled and plain) goes at "message": at "text" its parts would cut
// each other off. Skip cancels this client's queue and the phrase being spoken. Spelled parts go out with the service's spelling mode switched on for
// that phrase only. Rate -10..10 maps to the service's -100..100, volume 0..100 to -100..100.
// The address is the service's default (SPEECHD_ADDRESS when set, else the user's socket).
//
// One owner; used from one thread (the connection is opened in single-threaded mode).
#pragma once

#include <string>
#include <vector>

#include "voice.h"

namespace quillmere {

class SpeechDispatcherVoice : public Voice {
 public:
  explicit SpeechDispatcherVoice(std::string clientName = "Quillmere");
  ~SpeechDispatcherVoice() override;
  SpeechDispatcherVoice(const SpeechDispatcherVoice&) = delete;
  SpeechDispatcherVoice& operator=(const SpeechDispatcherVoice&) = delete;

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
  std::string LastError() const override { return error_; }

  // The service's ranges for the logbook's values.
  static int ServiceRate(int rate);
  static int ServiceVolume(int volume);

 private:
  bool Open();
  // Records the failure of `what`, closes the connection and returns false.
  bool Fail(const std::string& what);
  // Applies the remembered voice, rate and volume to a new connection.
  bool Restore();

  std::string clientName_;
  // The library's connection (its type is an unnamed struct and cannot be declared here).
  void* connection_ = nullptr;
  std::string error_;
  bool paused_ = false;
  int rate_ = 0;
  int volume_ = 100;
  bool haveVoice_ = false;
  TVoiceInfo voice_;
};

}  // namespace quillmere

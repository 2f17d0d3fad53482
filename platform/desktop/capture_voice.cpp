#include "capture_voice.h"

namespace quillmere {

bool CaptureVoice::Record(const std::string& call) {
  calls_.push_back(failure_.empty() ? call : call + " (failed)");
  return failure_.empty();
}

void CaptureVoice::Clear() {
  calls_.clear();
  spoken_.clear();
  queue_.clear();
  priorities_.clear();
}

bool CaptureVoice::Speak(const std::string& text, SpeechPriority priority) {
  if (!Record("Speak " + text)) return false;
  spoken_.push_back(text);
  priorities_.push_back(priority);
  queue_.push_back(text);
  return true;
}

std::vector<std::string> CaptureVoice::Echoes() const {
  std::vector<std::string> echoes;
  for (size_t i = 0; i < spoken_.size(); ++i)
    if (priorities_[i] == SpeechPriority::Text) echoes.push_back(spoken_[i]);
  return echoes;
}

bool CaptureVoice::Skip() {
  if (!Record("Skip")) return false;
  queue_.clear();
  return true;
}

bool CaptureVoice::Pause() {
  if (!Record("Pause")) return false;
  paused_ = true;
  return true;
}

bool CaptureVoice::Resume() {
  if (!Record("Resume")) return false;
  paused_ = false;
  return true;
}

bool CaptureVoice::SetRate(int rate) {
  if (!Record("Rate " + std::to_string(rate))) return false;
  rate_ = rate;
  return true;
}

bool CaptureVoice::SetVolume(int volume) {
  if (!Record("Volume " + std::to_string(volume))) return false;
  volume_ = volume;
  return true;
}

bool CaptureVoice::GetVoices(std::vector<TVoiceInfo>& voices) {
  voices.clear();
  if (!Record("GetVoices")) return false;
  voices = voices_;
  return true;
}

bool CaptureVoice::SetVoice(const TVoiceInfo& voice) {
  if (!Record("Voice " + voice.Name)) return false;
  current_ = voice;
  return true;
}

void CaptureVoice::Disconnect() {
  calls_.push_back("Disconnect");
  paused_ = false;
}

}  // namespace quillmere

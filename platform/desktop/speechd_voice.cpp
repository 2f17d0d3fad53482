#include "speechd_voice.h"

#include <libspeechd.h>

#include <algorithm>
#include <cstdlib>

#include "speech_markup.h"

namespace quillmere {

namespace {

SPDConnection* C(void* connection) { return static_cast<SPDConnection*>(connection); }

}  // namespace

SpeechDispatcherVoice::SpeechDispatcherVoice(std::string clientName) : clientName_(std::move(clientName)) {}

SpeechDispatcherVoice::~SpeechDispatcherVoice() { Disconnect(); }

int SpeechDispatcherVoice::ServiceRate(int rate) { return std::clamp(rate, -10, 10) * 10; }
int SpeechDispatcherVoice::ServiceVolume(int volume) { return std::clamp(volume, 0, 100) * 2 - 100; }

void SpeechDispatcherVoice::Disconnect() {
  if (connection_ != nullptr) spd_close(C(connection_));
  connection_ = nullptr;
  paused_ = false;
}

bool SpeechDispatcherVoice::Fail(const std::string& what) {
  error_ = what;
  Disconnect();
  return false;
}

bool SpeechDispatcherVoice::Open() {
  if (connection_ != nullptr) return true;
  char* error = nullptr;
  SPDConnectionAddress* address = spd_get_default_address(&error);
  if (address == nullptr) {
    error_ = std::string("no speech-dispatcher address") + (error != nullptr ? std::string(": ") + error : "");
    std::free(error);
    return false;
  }
  connection_ = spd_open2(clientName_.c_str(), "main", nullptr, SPD_MODE_SINGLE, address, 1, &error);
  SPDConnectionAddress__free(address);
  if (connection_ == nullptr) {
    error_ = std::string("speech-dispatcher cannot be reached") + (error != nullptr ? std::string(": ") + error : "");
    std::free(error);
    return false;
  }
  std::free(error);
  return Restore();
}

bool SpeechDispatcherVoice::Restore() {
  if (haveVoice_) {
    if (!voice_.Module.empty() && spd_set_output_module(C(connection_), voice_.Module.c_str()) != 0)
      return Fail("speech-dispatcher refused the speech engine " + voice_.Module);
    if (spd_set_synthesis_voice(C(connection_), voice_.Name.c_str()) != 0)
      return Fail("speech-dispatcher refused the voice " + voice_.Name);
  }
  if (spd_set_voice_rate(C(connection_), ServiceRate(rate_)) != 0) return Fail("speech-dispatcher refused the rate");
  if (spd_set_volume(C(connection_), ServiceVolume(volume_)) != 0) return Fail("speech-dispatcher refused the volume");
  return true;
}

bool SpeechDispatcherVoice::Speak(const std::string& text, SpeechPriority priority) {
  if (!Open()) return false;
  const std::vector<TSpeechPart> parts = SplitSpeechMarkup(text);
  const SPDPriority level = priority == SpeechPriority::Text && parts.size() <= 1 ? SPD_TEXT : SPD_MESSAGE;
  for (const TSpeechPart& part : parts) {
    if (part.Spelled && spd_set_spelling(C(connection_), SPD_SPELL_ON) != 0)
      return Fail("speech-dispatcher refused to spell");
    // The settings travel with each message, so switching spelling off again at once is safe.
    const int queued = spd_say(C(connection_), level, part.Text.c_str());
    if (part.Spelled && spd_set_spelling(C(connection_), SPD_SPELL_OFF) != 0)
      return Fail("speech-dispatcher refused to stop spelling");
    if (queued < 0) return Fail("speech-dispatcher did not take the text");
  }
  return true;
}

bool SpeechDispatcherVoice::Skip() {
  if (!Open()) return false;
  if (spd_cancel(C(connection_)) != 0) return Fail("speech-dispatcher did not cancel");
  return true;
}

bool SpeechDispatcherVoice::Pause() {
  if (!Open()) return false;
  if (spd_pause(C(connection_)) != 0) return Fail("speech-dispatcher did not pause");
  paused_ = true;
  return true;
}

bool SpeechDispatcherVoice::Resume() {
  if (!Open()) return false;
  if (spd_resume(C(connection_)) != 0) return Fail("speech-dispatcher did not resume");
  paused_ = false;
  return true;
}

bool SpeechDispatcherVoice::SetRate(int rate) {
  rate_ = std::clamp(rate, -10, 10);
  if (!Open()) return false;
  if (spd_set_voice_rate(C(connection_), ServiceRate(rate_)) != 0) return Fail("speech-dispatcher refused the rate");
  return true;
}

bool SpeechDispatcherVoice::SetVolume(int volume) {
  volume_ = std::clamp(volume, 0, 100);
  if (!Open()) return false;
  if (spd_set_volume(C(connection_), ServiceVolume(volume_)) != 0) return Fail("speech-dispatcher refused the volume");
  return true;
}

bool SpeechDispatcherVoice::GetVoices(std::vector<TVoiceInfo>& voices) {
  voices.clear();
  if (!Open()) return false;
  char** modules = spd_list_modules(C(connection_));
  if (modules == nullptr) return Fail("speech-dispatcher did not list its speech engines");
  char* current = spd_get_output_module(C(connection_));
  for (char** m = modules; *m != nullptr; ++m) {
    if (spd_set_output_module(C(connection_), *m) != 0) continue;
    SPDVoice** list = spd_list_synthesis_voices(C(connection_));
    if (list == nullptr) continue;  // an engine without voices of its own
    for (SPDVoice** v = list; *v != nullptr; ++v) {
      TVoiceInfo info;
      info.Name = (*v)->name != nullptr ? (*v)->name : "";
      info.Language = (*v)->language != nullptr ? (*v)->language : "";
      info.Variant = (*v)->variant != nullptr ? (*v)->variant : "";
      info.Module = *m;
      voices.push_back(info);
    }
    free_spd_voices(list);
  }
  free_spd_modules(modules);
  // Back to the engine in use before the listing.
  const std::string restore = haveVoice_ ? voice_.Module : (current != nullptr ? current : "");
  std::free(current);
  if (!restore.empty() && spd_set_output_module(C(connection_), restore.c_str()) != 0)
    return Fail("speech-dispatcher refused the speech engine " + restore);
  if (haveVoice_ && spd_set_synthesis_voice(C(connection_), voice_.Name.c_str()) != 0)
    return Fail("speech-dispatcher refused the voice " + voice_.Name);
  return true;
}

bool SpeechDispatcherVoice::SetVoice(const TVoiceInfo& voice) {
  voice_ = voice;
  haveVoice_ = true;
  if (!Open()) return false;
  if (!voice.Module.empty() && spd_set_output_module(C(connection_), voice.Module.c_str()) != 0)
    return Fail("speech-dispatcher refused the speech engine " + voice.Module);
  if (spd_set_synthesis_voice(C(connection_), voice.Name.c_str()) != 0)
    return Fail("speech-dispatcher refused the voice " + voice.Name);
  return true;
}

}  // namespace quillmere

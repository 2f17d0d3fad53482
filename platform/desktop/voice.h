// voice: the logbook's text-to-speech voice, the members the logbook uses and nothing more.
//
// Speak is asynchronous: it queues the text behind what is already queued and returns at once;
// phrases are spoken one after the other in the order of the calls. Each phrase carries a
// priority (SpeechPriority): a screen reader may speak through the same service, and the
// priority says which of the two gives way. A text that starts with
// "<SPELL>" is markup: what lies between "<SPELL>" and "</SPELL>" is spelled letter by letter and
// the tags are not spoken. Skip stops the phrase being spoken and empties the queue. Rate runs
// from -10 to 10 (0 normal), Volume from 0 to 100. A false result means the call failed; LastError
// then says why. Backends: SpeechDispatcherVoice (the desktop's speech service) and CaptureVoice
// (records the calls, for tests).
//
// One owner; used from one thread.
#pragma once

#include <string>
#include <vector>

namespace quillmere {

// How a phrase stands beside a screen reader that speaks through the same service.
enum class SpeechPriority {
  // A result or warning only the program knows (a duplicate contact, "contact logged. ", a
  // refusal, an announcement, a read-out asked for): heard whole, in order with the program's
  // other messages and the screen reader's.
  Message,
  // What repeats what a screen reader also says (a focus prompt, a typed key, a hint under the
  // mouse, the cell under a grid's cursor): cut short by the next such phrase and by any
  // message, the screen reader's included, so the two never talk over each other.
  Text,
};

struct TVoiceInfo {
  std::string Name;      // the voice's own name
  std::string Language;  // language code, e.g. "en-US"
  std::string Variant;   // the voice's variant, empty or "none" when it has none
  std::string Module;    // the speech engine that provides it
  bool operator==(const TVoiceInfo&) const = default;
};

// The text a voice list shows: "Name (Language, Module/Variant)", without an empty part.
std::string VoiceDescription(const TVoiceInfo& voice);

class Voice {
 public:
  virtual ~Voice() = default;

  virtual bool Speak(const std::string& text, SpeechPriority priority) = 0;
  virtual bool Skip() = 0;
  virtual bool Pause() = 0;
  virtual bool Resume() = 0;
  // Between Pause and Resume.
  virtual bool Paused() const = 0;
  virtual bool SetRate(int rate) = 0;
  virtual bool SetVolume(int volume) = 0;
  // Every voice of every engine the service offers.
  virtual bool GetVoices(std::vector<TVoiceInfo>& voices) = 0;
  virtual bool SetVoice(const TVoiceInfo& voice) = 0;
  // Lets go of the speech service; the next call connects again.
  virtual void Disconnect() = 0;
  virtual std::string LastError() const = 0;
};

}  // namespace quillmere

// sound: plays a sound file (the band-limit warning's "ding.wav"). Play starts the sound and
// returns at once; false (with LastError) when it cannot be played. CanberraSound plays through
// the desktop's event-sound service; tests hand in a recording sound. One owner; one thread.
#pragma once

#include <string>

namespace quillmere {

class Sound {
 public:
  virtual ~Sound() = default;
  virtual bool Play(const std::string& path) = 0;
  virtual std::string LastError() const = 0;
};

}  // namespace quillmere

#include "services.h"

#include "canberra_sound.h"
#include "speechd_voice.h"

namespace quillmere {

TServices SystemServices() {
  TServices s;
  s.voice = std::make_unique<SpeechDispatcherVoice>();
  s.rig = std::make_unique<TarvaneRigLink>();
  s.dialogs = std::make_unique<QtDialogs>();
  s.files = std::make_unique<QtFileChooser>();
  s.clock = std::make_unique<SystemClock>();
  s.sound = std::make_unique<CanberraSound>();
  s.launcher = std::make_unique<DesktopLauncher>();
  return s;
}

}  // namespace quillmere

// TServices: every outside service the logbook's windows use, handed to the main window in one
// object so that tests build the windows with recording fakes and no display, sound card, speech
// service or radio. SystemServices() gives the real ones: speech-dispatcher, the rig server on
// the session bus, Qt message boxes and file dialogs, the machine's clock, libcanberra sounds and
// the desktop's launcher.
//
// Owned by the main window for its whole life; main thread only.
#pragma once

#include <memory>

#include "clock_time.h"
#include "dialogs.h"
#include "file_chooser.h"
#include "launcher.h"
#include "rig_client_link.h"
#include "sound.h"
#include "voice.h"

namespace quillmere {

struct TServices {
  std::unique_ptr<Voice> voice;
  std::unique_ptr<RigLink> rig;
  std::unique_ptr<Dialogs> dialogs;
  std::unique_ptr<FileChooser> files;
  std::unique_ptr<Clock> clock;
  std::unique_ptr<Sound> sound;
  std::unique_ptr<Launcher> launcher;
};

TServices SystemServices();

}  // namespace quillmere

#include "canberra_sound.h"

#include <canberra.h>

namespace quillmere {

namespace {

// Every sound of this context plays under one id, so that the context can tell whether it still
// plays.
constexpr uint32_t kSoundId = 1;

}  // namespace

CanberraSound::~CanberraSound() {
  if (context_ != nullptr) ca_context_destroy(context_);
}

bool CanberraSound::Play(const std::string& path) {
  if (context_ == nullptr) {
    const int rc = ca_context_create(&context_);
    if (rc != CA_SUCCESS) {
      context_ = nullptr;
      error_ = std::string("no sound service: ") + ca_strerror(rc);
      return false;
    }
    ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "Quillmere", nullptr);
  }
  // A sound still playing is not started again over itself: a radio tuned out of the band, back
  // in and out again while the warning sounds gives one warning, not two on top of each other.
  int playing = 0;
  if (ca_context_playing(context_, kSoundId, &playing) == CA_SUCCESS && playing != 0) return true;
  const int rc = ca_context_play(context_, kSoundId, CA_PROP_MEDIA_FILENAME, path.c_str(), nullptr);
  if (rc != CA_SUCCESS) {
    error_ = "cannot play " + path + ": " + ca_strerror(rc);
    return false;
  }
  return true;
}

}  // namespace quillmere

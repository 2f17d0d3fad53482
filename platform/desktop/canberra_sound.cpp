#include "canberra_sound.h"

#include <canberra.h>

namespace quillmere {

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
  const int rc = ca_context_play(context_, 0, CA_PROP_MEDIA_FILENAME, path.c_str(), nullptr);
  if (rc != CA_SUCCESS) {
    error_ = "cannot play " + path + ": " + ca_strerror(rc);
    return false;
  }
  return true;
}

}  // namespace quillmere

// CanberraSound: plays sound files through libcanberra (the desktop's event sounds, over the
// user's sound server). Play returns at once; while a sound of this object still plays, Play
// starts no other one over it. The context is made on first use. One owner; used from one thread.
#pragma once

#include <string>

#include "sound.h"

struct ca_context;

namespace quillmere {

class CanberraSound : public Sound {
 public:
  CanberraSound() = default;
  ~CanberraSound() override;
  CanberraSound(const CanberraSound&) = delete;
  CanberraSound& operator=(const CanberraSound&) = delete;

  bool Play(const std::string& path) override;
  std::string LastError() const override { return error_; }

 private:
  ca_context* context_ = nullptr;
  std::string error_;
};

}  // namespace quillmere

#include "base/hx6_encrxm.h"

#include <cstdint>
#include <cstring>

int ScrambleBuffer(std::string_view key, const void* source, void* destination, size_t count,
                   int mode) {
  const auto* in = static_cast<const uint8_t*>(source);
  auto* out = static_cast<uint8_t*>(destination);
  if (key.empty()) {
    if (in != out && count > 0) std::memmove(out, in, count);
    return 0;
  }
  size_t j = 0;
  for (size_t i = 0; i < count; ++i) {
    const auto mask = static_cast<uint8_t>((i & 0xFF) | static_cast<uint8_t>(key[j]));
    out[i] = static_cast<uint8_t>(mask ^ in[i]);
    if (++j == key.size()) j = 0;
  }
  return mode != 0 ? 1 : -1;
}

// byteorder: the one place where the engine turns file bytes into numbers and back.
//
// Table, dBase memo and most index headers are little-endian; FoxPro memo headers, sort keys and
// CDX interior entries are big-endian. Every reader and writer of those formats goes through these
// helpers rather than shifting bytes itself. All functions work on unaligned byte pointers.
#pragma once

#include <cstdint>
#include <cstring>

inline uint16_t DecodeLE16(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
inline uint32_t DecodeLE32(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}
inline uint64_t DecodeLE64(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return static_cast<uint64_t>(DecodeLE32(b)) | (static_cast<uint64_t>(DecodeLE32(b + 4)) << 32);
}
inline uint16_t DecodeBE16(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}
inline uint32_t DecodeBE32(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
         (static_cast<uint32_t>(b[2]) << 8) | static_cast<uint32_t>(b[3]);
}
inline uint64_t DecodeBE64(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return (static_cast<uint64_t>(DecodeBE32(b)) << 32) | static_cast<uint64_t>(DecodeBE32(b + 4));
}

inline void EncodeLE16(void* p, uint16_t v) {
  auto* b = static_cast<uint8_t*>(p);
  b[0] = static_cast<uint8_t>(v);
  b[1] = static_cast<uint8_t>(v >> 8);
}
inline void EncodeLE32(void* p, uint32_t v) {
  auto* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void EncodeLE64(void* p, uint64_t v) {
  auto* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void EncodeBE16(void* p, uint16_t v) {
  auto* b = static_cast<uint8_t*>(p);
  b[0] = static_cast<uint8_t>(v >> 8);
  b[1] = static_cast<uint8_t>(v);
}
inline void EncodeBE32(void* p, uint32_t v) {
  auto* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
inline void EncodeBE64(void* p, uint64_t v) {
  auto* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (8 * (7 - i)));
}

// IEEE doubles in machine order (the engine's float variants and binary fields).
inline double DecodeDouble(const void* p) {
  double d;
  std::memcpy(&d, p, sizeof d);
  return d;
}
inline void EncodeDouble(void* p, double d) { std::memcpy(p, &d, sizeof d); }

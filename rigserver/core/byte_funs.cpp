#include "byte_funs.h"

#include <algorithm>

namespace tarvane {

bool BytesEqual(const TByteArray& a, const TByteArray& b) { return a == b; }

TByteArray BytesAnd(const TByteArray& a, const TByteArray& b) {
  const size_t n = std::min(a.size(), b.size());
  TByteArray out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(a[i] & b[i]);
  return out;
}

void ReverseBytes(TByteArray& a) { std::reverse(a.begin(), a.end()); }

std::string BytesToStr(const TByteArray& a) { return std::string(a.begin(), a.end()); }

TByteArray StrToBytes(std::string_view s) { return TByteArray(s.begin(), s.end()); }

std::string StrToHex(std::string_view s) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size() * 2);
  for (const char c : s) {
    const auto b = static_cast<uint8_t>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

std::string BytesToHex(const TByteArray& a) { return StrToHex(BytesToStr(a)); }

}  // namespace tarvane

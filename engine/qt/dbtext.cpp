#include "dbtext.h"

namespace {

// Unicode of the bytes 0x80-0x9F in code page 1252; 0 where the code page defines none.
constexpr char16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

QString FromEngineText(std::string_view text) {
  QString out;
  out.reserve(static_cast<qsizetype>(text.size()));
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80] != 0) {
      out.append(QChar(kHigh[b - 0x80]));
    } else {
      out.append(QChar(static_cast<char16_t>(b)));
    }
  }
  return out;
}

std::string ToEngineText(const QString& text) {
  std::string out;
  out.reserve(static_cast<size_t>(text.size()));
  for (QChar ch : text) {
    const char16_t u = ch.unicode();
    if (u < 0x100 && !(u >= 0x80 && u <= 0x9F && kHigh[u - 0x80] != 0)) {
      out += static_cast<char>(u);
      continue;
    }
    char byte = '?';
    for (int i = 0; i < 32; ++i) {
      if (kHigh[i] == u) {
        byte = static_cast<char>(0x80 + i);
        break;
      }
    }
    out += byte;
  }
  return out;
}

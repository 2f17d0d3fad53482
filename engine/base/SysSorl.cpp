// SysSorl text services: fixed CP1252 case mapping and comparison, substring search, the wildcard
// test of filters, and CP1252 <-> CP437 conversion. The file primitives live in SysSorlFile.cpp.
#include "base/SysSorl.h"

#include <locale.h>
#include <wchar.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

using ByteTable = std::array<unsigned char, 256>;

ByteTable MakeUpperTable() {
  ByteTable t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>(i);
  for (int c = 'a'; c <= 'z'; ++c) t[c] = static_cast<unsigned char>(c - 0x20);
  for (int c = 0xE0; c <= 0xFE; ++c)
    if (c != 0xF7) t[c] = static_cast<unsigned char>(c - 0x20);
  t[0x9A] = 0x8A;  // s caron
  t[0x9C] = 0x8C;  // oe
  t[0x9E] = 0x8E;  // z caron
  t[0xFF] = 0x9F;  // y diaeresis
  return t;
}

ByteTable MakeLowerTable() {
  ByteTable t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>(i);
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = static_cast<unsigned char>(c + 0x20);
  for (int c = 0xC0; c <= 0xDE; ++c)
    if (c != 0xD7) t[c] = static_cast<unsigned char>(c + 0x20);
  t[0x8A] = 0x9A;
  t[0x8C] = 0x9C;
  t[0x8E] = 0x9E;
  t[0x9F] = 0xFF;
  return t;
}

const ByteTable kUpper = MakeUpperTable();
const ByteTable kLower = MakeLowerTable();

// CP1252 bytes 0x80-0xFF in CP437. Characters CP437 lacks become their unaccented letter or a
// look-alike, else "?".
constexpr unsigned char kAnsiToOem[128] = {
    0x3F, 0x3F, 0x3F, 0x9F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x53, 0x3F, 0x3F, 0x3F, 0x5A, 0x3F,
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x20, 0x3F, 0x73, 0x3F, 0x3F, 0x3F, 0x7A, 0x59,
    0xFF, 0xAD, 0x9B, 0x9C, 0x3F, 0x9D, 0x3F, 0x3F, 0x20, 0x3F, 0xA6, 0xAE, 0xAA, 0x3F, 0x3F, 0x20,
    0xF8, 0xF1, 0xFD, 0x33, 0x20, 0xE6, 0x3F, 0xFA, 0x20, 0x31, 0xA7, 0xAF, 0xAC, 0xAB, 0x3F, 0xA8,
    0x41, 0x41, 0x41, 0x41, 0x8E, 0x8F, 0x92, 0x80, 0x45, 0x90, 0x45, 0x45, 0x49, 0x49, 0x49, 0x49,
    0x3F, 0xA5, 0x4F, 0x4F, 0x4F, 0x4F, 0x99, 0x3F, 0x3F, 0x55, 0x55, 0x55, 0x9A, 0x59, 0x3F, 0xE1,
    0x85, 0xA0, 0x83, 0x61, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    0x3F, 0xA4, 0x95, 0xA2, 0x93, 0x6F, 0x94, 0xF6, 0x3F, 0x97, 0xA3, 0x96, 0x81, 0x79, 0x3F, 0x98,
};

// CP437 bytes 0x80-0xFF in CP1252. Box-drawing characters become "-", "|" or "+"; Greek letters and
// other symbols CP1252 lacks become "?".
constexpr unsigned char kOemToAnsi[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xA2, 0xA3, 0xA5, 0x3F, 0x83,
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA, 0xBF, 0x3F, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,
    0x3F, 0x3F, 0x3F, 0x7C, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x7C, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B,
    0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2B, 0x2B,
    0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0xDF, 0x3F, 0x3F, 0x3F, 0x3F, 0xB5, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0xB1, 0x3F, 0x3F, 0x3F, 0x3F, 0xF7, 0x3F, 0xB0, 0x3F, 0xB7, 0x3F, 0x6E, 0xB2, 0x3F, 0xA0,
};

inline unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

int Sign(int v) { return (v > 0) - (v < 0); }

// Case-insensitive order: upper-cased bytes, then length.
int CompareFolded(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const int d = kUpper[Byte(a[i])] - kUpper[Byte(b[i])];
    if (d != 0) return d;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// Case-sensitive order: case-insensitive first; texts equal apart from case are decided at their
// first differing byte, a lower-case letter sorting before its capital.
int CompareCased(std::string_view a, std::string_view b) {
  const int folded = CompareFolded(a, b);
  if (folded != 0) return folded;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = Byte(a[i]);
    const unsigned char y = Byte(b[i]);
    if (x == y) continue;
    const bool xLower = kUpper[x] != x;
    const bool yLower = kUpper[y] != y;
    if (xLower != yLower) return xLower ? -1 : 1;
    return x < y ? -1 : 1;
  }
  return 0;
}

std::string MapBytes(std::string_view text, const ByteTable& table) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(table[Byte(c)]);
  return out;
}

void Convert(const char* source, char* destination, size_t count, const unsigned char* high) {
  if (source == nullptr || destination == nullptr) return;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char c = Byte(source[i]);
    destination[i] = static_cast<char>(c < 0x80 ? c : high[c - 0x80]);
  }
}

// CP1252 0x80-0x9F in Unicode; the five unassigned positions stay C1 controls. 0xA0-0xFF are the
// same code points as the bytes.
constexpr wchar_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::wstring Widen(std::string_view text) {
  std::wstring out(text.size(), L'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = Byte(text[i]);
    out[i] = c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : static_cast<wchar_t>(c);
  }
  return out;
}

// The collation locale of the text comparisons, or null for the fixed rule; chosen once from the
// environment unless SysSetCollationLocale chooses another.
std::mutex gCollationGuard;
std::atomic<locale_t> gCollation{nullptr};
std::atomic<bool> gCollationChosen{false};

bool IsPlainCLocale(const char* name) {
  return name == nullptr || *name == '\0' || std::strcmp(name, "C") == 0 ||
         std::strcmp(name, "POSIX") == 0 || std::strncmp(name, "C.", 2) == 0;
}

bool ChooseCollation(const char* name, bool fromEnvironment) {
  locale_t chosen = nullptr;
  if (fromEnvironment) {
    const char* env = nullptr;
    for (const char* variable : {"LC_ALL", "LC_COLLATE", "LANG"}) {
      env = std::getenv(variable);
      if (env != nullptr && *env != '\0') break;
    }
    if (!IsPlainCLocale(env))
      chosen = newlocale(LC_COLLATE_MASK, env, static_cast<locale_t>(nullptr));
  } else if (name != nullptr && std::strcmp(name, "C") != 0 && std::strcmp(name, "POSIX") != 0) {
    chosen = newlocale(LC_COLLATE_MASK, name, static_cast<locale_t>(nullptr));
  }
  // The locale replaced is kept, never freed: another thread may still be comparing with it.
  static auto* retired = new std::vector<locale_t>();
  if (locale_t old = gCollation.exchange(chosen); old != nullptr) retired->push_back(old);
  gCollationChosen.store(true);
  return chosen != nullptr;
}

locale_t Collation() {
  if (!gCollationChosen.load()) {
    std::lock_guard<std::mutex> guard(gCollationGuard);
    if (!gCollationChosen.load()) ChooseCollation(nullptr, true);
  }
  return gCollation.load();
}

// The locale's order of two texts; texts it finds equal but that differ in their bytes are
// ordered by `fallback`, so only identical texts (or, ignoring case, texts equal apart from case)
// compare equal.
int Collate(std::string_view a, std::string_view b,
            int (*fallback)(std::string_view, std::string_view)) {
  const locale_t locale = Collation();
  if (locale != nullptr) {
    // The library's comparison stops at a zero byte; such texts are left to the fixed rule.
    if (a.find('\0') == std::string_view::npos && b.find('\0') == std::string_view::npos) {
      const int r = wcscoll_l(Widen(a).c_str(), Widen(b).c_str(), locale);
      if (r != 0) return r;
    }
  }
  return fallback(a, b);
}

}  // namespace

bool SysSetCollationLocale(const char* name) {
  std::lock_guard<std::mutex> guard(gCollationGuard);
  return ChooseCollation(name, name == nullptr);
}

int SysCompareStr(std::string_view a, std::string_view b) { return Collate(a, b, CompareCased); }

int SysCompareText(std::string_view a, std::string_view b) {
  if (Collation() == nullptr) return CompareFolded(a, b);
  const std::string upperA = MapBytes(a, kUpper);
  const std::string upperB = MapBytes(b, kUpper);
  return Collate(upperA, upperB, CompareFolded);
}

int SysPos(std::string_view sub, std::string_view text) {
  if (sub.empty()) return 0;
  const size_t at = text.find(sub);
  return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

int SysWildMatch(std::string_view pattern, std::string_view text) {
  if (pattern.empty()) return 0;
  bool leadingStar = false;
  if (pattern.front() == '*') {
    if (pattern.size() == 1) return 1;
    pattern.remove_prefix(1);
    leadingStar = true;
  }
  if (pattern.back() == '*') {
    if (pattern.size() == 1) return 1;
    pattern.remove_suffix(1);
  }
  // The length test applies to the body without its stars: "W1A*" matches "W1A". A pattern of
  // stars alone matched above, an empty text included.
  if (pattern.size() > text.size()) return 0;
  std::string work(text);
  if (!leadingStar) {
    // "?" stands for any character at its own position counted from the start of the text.
    for (size_t i = 0; i < pattern.size(); ++i)
      if (pattern[i] == '?') work[i] = '?';
  }
  return SysPos(pattern, work);
}

std::string SysLowerCase(std::string_view text) { return MapBytes(text, kLower); }

std::string SysUpperCase(std::string_view text) { return MapBytes(text, kUpper); }

int SysStrComp(const char* a, const char* b) {
  return Sign(SysCompareStr(a ? a : "", b ? b : ""));
}

int SysStrIComp(const char* a, const char* b) {
  return Sign(SysCompareText(a ? a : "", b ? b : ""));
}

std::string SysFloatToFixed(double value, int decimals) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (decimals < 0) decimals = 0;
  // The value to 15 significant digits, as the number's text form holds it: "d.dddddddddddddde+x".
  char buffer[40];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                     std::chars_format::scientific, 14);
  char digits[15];
  digits[0] = buffer[0];
  std::memcpy(digits + 1, buffer + 2, 14);
  const char* exponentText = std::find(buffer, written.ptr, 'e') + 1;
  if (exponentText < written.ptr && *exponentText == '+') ++exponentText;
  int exponent = 0;
  std::from_chars(exponentText, written.ptr, exponent);

  // The digits of value * 10^decimals, rounded at the last kept digit with halves away from zero.
  const long keep = static_cast<long>(exponent) + 1 + decimals;
  std::vector<char> scaled;
  if (keep >= 15) {
    scaled.assign(digits, digits + 15);
    scaled.resize(static_cast<size_t>(keep), '0');
  } else if (keep >= 0) {
    scaled.assign(digits, digits + keep);
    if (digits[keep] >= '5') {
      long i = keep - 1;
      while (i >= 0 && scaled[static_cast<size_t>(i)] == '9') scaled[static_cast<size_t>(i--)] = '0';
      if (i < 0) {
        scaled.insert(scaled.begin(), '1');
      } else {
        ++scaled[static_cast<size_t>(i)];
      }
    }
  }
  const size_t places = static_cast<size_t>(decimals);
  if (scaled.size() < places + 1) scaled.insert(scaled.begin(), places + 1 - scaled.size(), '0');
  const size_t wholeDigits = scaled.size() - places;
  size_t first = 0;
  while (first + 1 < wholeDigits && scaled[first] == '0') ++first;
  const bool zero = std::all_of(scaled.begin(), scaled.end(), [](char c) { return c == '0'; });

  std::string out;
  out.reserve(scaled.size() + 2);
  if (value < 0 && !zero) out.push_back('-');  // a value that rounds to zero shows no sign
  out.append(scaled.data() + first, wholeDigits - first);
  if (places > 0) {
    out.push_back('.');
    out.append(scaled.data() + wholeDigits, places);
  }
  return out;
}

void SysAnsiToOem(const char* source, char* destination, size_t count) {
  Convert(source, destination, count, kAnsiToOem);
}

void SysOemToAnsi(const char* source, char* destination, size_t count) {
  Convert(source, destination, count, kOemToAnsi);
}

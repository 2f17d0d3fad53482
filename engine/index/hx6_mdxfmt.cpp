#include "index/hx6_mdxfmt.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "base/byteorder.h"

namespace mdx {

namespace {

// Largest page geometry accepted in a file: 32 blocks (16384-byte pages).
constexpr int kMostBlocksPerPage = 32;

// The text at `at`, up to its NUL within `room` bytes; false when there is no NUL.
bool ReadZ(const uint8_t* at, int room, std::string& out) {
  const void* nul = std::memchr(at, 0, static_cast<size_t>(room));
  if (!nul) return false;
  out.assign(reinterpret_cast<const char*>(at),
             static_cast<size_t>(static_cast<const uint8_t*>(nul) - at));
  return true;
}

// The decimal digits and exponent of |value| after the rounding the packed form takes: at most
// 16 significant digits and at most 15 after the point. The digits carry no leading or trailing
// zeros (none at all for zero); value = 0.digits x 10^exponent.
void DecimalDigits(double value, std::string& digits, int& exponent) {
  digits.clear();
  exponent = 0;
  const double a = std::fabs(value);
  if (!(a > 0.0)) return;  // zero and NaN
  if (std::isinf(a)) {
    digits = "1";
    exponent = 400;  // clamped by the caller
    return;
  }
  char buffer[400];
  // 16 significant digits first: d.ddddddddddddddde+XX.
  auto r = std::to_chars(buffer, buffer + sizeof buffer, a, std::chars_format::scientific, 15);
  std::string text(buffer, r.ptr);
  const size_t e = text.find('e');
  int power = std::atoi(text.c_str() + e + 1);
  std::string mantissa = text.substr(0, 1) + text.substr(2, e - 2);
  exponent = power + 1;
  if (exponent < 1) {
    // Below 1 the 15 places after the point are the limit: round there instead.
    r = std::to_chars(buffer, buffer + sizeof buffer, a, std::chars_format::fixed, 15);
    text.assign(buffer, r.ptr);
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction = text.substr(point + 1);
    if (whole != "0") {
      mantissa = whole + fraction;  // rounded up to 1
      exponent = static_cast<int>(whole.size());
    } else {
      const size_t first = fraction.find_first_not_of('0');
      if (first == std::string::npos) return;  // rounds to zero
      mantissa = fraction.substr(first);
      exponent = -static_cast<int>(first);
    }
  }
  const size_t last = mantissa.find_last_not_of('0');
  digits = last == std::string::npos ? std::string() : mantissa.substr(0, last + 1);
  if (digits.empty()) exponent = 0;
}

}  // namespace

int ItemLength(int keyLength) { return (keyLength + 4 + 3) / 4 * 4; }

int MaxKeys(int pageLength, int itemLength) {
  return itemLength > 0 ? (pageLength - kPageEntries) / itemLength - 1 : 0;
}

int MaxFilterExpression(int pageLength) { return pageLength - kTagFilterExpr - 1; }

bool ReadFileHeader(const uint8_t* block, int64_t fileSize, FileHeader& out) {
  out.blocksPerPage = DecodeLE16(block + kHdrBlocksPerPage);
  out.pageLength = DecodeLE16(block + kHdrPageLength);
  out.tagEntries = block[kHdrTagEntries];
  out.tagCount = DecodeLE16(block + kHdrTagCount);
  out.nextFree = static_cast<int32_t>(DecodeLE32(block + kHdrNextFree));
  if (out.blocksPerPage < 1 || out.blocksPerPage > kMostBlocksPerPage) return false;
  if (out.pageLength != out.blocksPerPage * kBlockSize) return false;
  if (out.HeaderLength() > fileSize) return false;
  return out.tagCount <= out.Capacity();
}

void PutDate(uint8_t* at, int year, int month, int day) {
  at[0] = static_cast<uint8_t>(year % 100);
  at[1] = static_cast<uint8_t>(month);
  at[2] = static_cast<uint8_t>(day);
}

void PutDataName(uint8_t* header, std::string_view name) {
  std::memset(header + kHdrDataName, 0, kDataNameBytes);
  std::memcpy(header + kHdrDataName, name.data(), std::min<size_t>(name.size(), kDataNameBytes - 1));
}

void WriteNewFileHeader(uint8_t* area, std::string_view dataName, int year, int month, int day) {
  std::memset(area, 0, kHeaderLength);
  area[kHdrVersion] = kVersion;
  PutDate(area + kHdrDate, year, month, day);
  PutDataName(area, dataName);
  EncodeLE16(area + kHdrBlocksPerPage, kBlocksPerPage);
  EncodeLE16(area + kHdrPageLength, kPageLength);
  area[kHdrProduction] = 1;
  area[kHdrTagEntries] = kTagEntries;
  EncodeLE16(area + kHdrEntryLength, kEntryLength);
  EncodeLE16(area + kHdrTagCount, 0);
  EncodeLE32(area + kHdrNextFree, kHeaderLength / kBlockSize);
  PutDate(area + kHdrUpdateDate, year, month, day);
}

TagEntry ReadTagEntry(const uint8_t* area, int i) {
  const uint8_t* e = area + kTagTable + kEntryLength * i;
  TagEntry t;
  t.headerBlock = static_cast<int32_t>(DecodeLE32(e + kEntHeaderBlock));
  const auto* name = reinterpret_cast<const char*>(e + kEntName);
  t.name.assign(name, strnlen(name, kEntNameBytes));
  t.keyType = static_cast<char>(e[kEntKeyType]);
  return t;
}

void WriteTagTable(uint8_t* area, const TagEntry* entries, int count, int clearUpTo) {
  EncodeLE16(area + kHdrTagCount, static_cast<uint16_t>(count));
  area[kHdrFirstTag] = count > 0 ? 1 : 0;
  for (int i = 1; i <= count; ++i) {
    uint8_t* e = area + kTagTable + kEntryLength * i;
    const TagEntry& t = entries[i - 1];
    std::memset(e, 0, kEntryLength);
    EncodeLE32(e + kEntHeaderBlock, static_cast<uint32_t>(t.headerBlock));
    std::memcpy(e + kEntName, t.name.data(), std::min<size_t>(t.name.size(), kMaxTagName));
    e[kEntNext] = static_cast<uint8_t>(i < count ? i + 1 : 0);
    e[kEntMark] = 2;
    e[kEntKeyType] = static_cast<uint8_t>(t.keyType);
  }
  for (int i = count + 1; i <= clearUpTo; ++i)
    std::memset(area + kTagTable + kEntryLength * i, 0, kEntryLength);
}

bool ReadTagHeader(const uint8_t* page, int pageLength, TagHeader& out) {
  out.root = static_cast<int32_t>(DecodeLE32(page + kTagRoot));
  out.keyType = static_cast<char>(page[kTagKeyType]);
  out.keyLength = static_cast<int16_t>(DecodeLE16(page + kTagKeyLength));
  out.itemLength = DecodeLE16(page + kTagItemLength);
  out.unique = page[kTagUnique] != 0;
  out.descending = (page[kTagKeyFormat] & kFormatDescending) != 0;
  out.firstBlock = static_cast<int32_t>(DecodeLE32(page + kTagFirstBlock));
  out.newestBlock = static_cast<int32_t>(DecodeLE32(page + kTagNewestBlock));
  switch (out.keyType) {
    case 'C':
      if (out.keyLength < 1) return false;
      break;
    case 'D':
      if (out.keyLength != kDateKeyLength) return false;
      break;
    case 'N':
      if (out.keyLength != kNumberKeyLength) return false;
      break;
    default:
      return false;
  }
  if (out.itemLength < out.keyLength + 4 || out.itemLength % 4 != 0) return false;
  out.maxKeys = MaxKeys(pageLength, out.itemLength);
  // A page must take at least two keys, or the tree could not branch.
  if (out.maxKeys < 2) return false;
  const int stored = DecodeLE16(page + kTagMaxKeys);
  if (stored >= 2 && stored < out.maxKeys) out.maxKeys = stored;
  if (!ReadZ(page + kTagKeyExpr, kTagKeyExprBytes, out.keyExpression) || out.keyExpression.empty())
    return false;
  out.filterExpression.clear();
  if (page[kTagHasFilter] == 1 &&
      !ReadZ(page + kTagFilterExpr, pageLength - kTagFilterExpr, out.filterExpression))
    return false;
  return true;
}

void WriteTagHeader(uint8_t* page, int pageLength, const TagHeader& in) {
  std::memset(page, 0, static_cast<size_t>(pageLength));
  EncodeLE32(page + kTagRoot, static_cast<uint32_t>(in.root));
  page[kTagKeyFormat] = static_cast<uint8_t>(kFormatBase | (in.unique ? kFormatUnique : 0) |
                                             (in.descending ? kFormatDescending : 0));
  page[kTagKeyType] = static_cast<uint8_t>(in.keyType);
  EncodeLE16(page + kTagKeyLength, static_cast<uint16_t>(in.keyLength));
  EncodeLE16(page + kTagMaxKeys, static_cast<uint16_t>(in.maxKeys));
  EncodeLE16(page + kTagItemLength, static_cast<uint16_t>(in.itemLength));
  page[kTagUnique] = in.unique ? kFormatUnique : 0;
  std::memcpy(page + kTagKeyExpr, in.keyExpression.data(),
              std::min<size_t>(in.keyExpression.size(), kMaxKeyExpression));
  page[kTagHasFilter] = in.filterExpression.empty() ? 0 : 1;
  page[kTagMark] = 1;
  EncodeLE32(page + kTagFirstBlock, static_cast<uint32_t>(in.firstBlock));
  EncodeLE32(page + kTagNewestBlock, static_cast<uint32_t>(in.newestBlock));
  if (!in.filterExpression.empty())
    std::memcpy(page + kTagFilterExpr, in.filterExpression.data(),
                std::min<size_t>(in.filterExpression.size(),
                                 static_cast<size_t>(MaxFilterExpression(pageLength))));
}

void EncodeNumber(double value, uint8_t* out) {
  std::memset(out, 0, kNumberKeyLength);
  std::string digits;
  int exponent;
  DecimalDigits(value, digits, exponent);
  out[0] = 0x34;
  out[1] = 1;
  if (digits.empty()) return;
  if (exponent > 15) {
    digits.assign(15, '9');
    exponent = 15;
  }
  if (digits.size() % 2) digits += '0';
  const int bytes = static_cast<int>(digits.size() / 2);
  for (int i = 0; i < bytes; ++i)
    out[2 + i] = static_cast<uint8_t>(((digits[2 * i] - '0') << 4) | (digits[2 * i + 1] - '0'));
  out[0] = static_cast<uint8_t>(0x34 + exponent);
  out[1] = static_cast<uint8_t>(bytes * 8 + 1);
  if (value < 0) out[1] |= 0x80;
}

double DecodeNumber(const uint8_t* in) {
  int bytes = (in[1] & 0x7F) / 8;
  if (bytes > kNumberKeyLength - 2) bytes = kNumberKeyLength - 2;
  if (bytes == 0) return 0.0;
  // digits x 10^(exponent - digit count), read by the library so that it rounds once.
  std::string text;
  for (int i = 0; i < bytes; ++i) {
    const int hi = in[2 + i] >> 4, lo = in[2 + i] & 0x0F;
    text += static_cast<char>('0' + (hi > 9 ? 0 : hi));
    text += static_cast<char>('0' + (lo > 9 ? 0 : lo));
  }
  const int exponent = static_cast<int>(in[0]) - 0x34;
  text += 'e' + std::to_string(exponent - 2 * bytes);
  double value = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return (in[1] & 0x80) ? -value : value;
}

double StoredNumber(double value) {
  uint8_t b[kNumberKeyLength];
  EncodeNumber(value, b);
  return DecodeNumber(b);
}

}  // namespace mdx

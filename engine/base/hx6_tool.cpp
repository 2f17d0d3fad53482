#include "base/hx6_tool.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/SysSorl.h"
#include "base/byteorder.h"
#include "base/hx6_date.h"
#include "base/hx6_glbl.h"

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

// A whole number nearest to `value` (halves to even), or false when there is none in range.
bool RoundToInt32(double value, int32_t& out) {
  if (!std::isfinite(value)) return false;
  const double r = std::nearbyint(value);
  if (r < std::numeric_limits<int32_t>::min() || r > std::numeric_limits<int32_t>::max())
    return false;
  out = static_cast<int32_t>(r);
  return true;
}

// A text number in the C locale: blanks around it, an optional sign, digits with an optional
// point, an optional exponent. Anything else raises EConvertError.
double TextToFloat(std::string_view text) {
  const std::string original(text);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  std::string body(text);
  bool negative = false;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
    negative = body[0] == '-';
    body.erase(0, 1);
  }
  size_t i = 0;
  size_t mantissaDigits = 0;
  while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++mantissaDigits;
  if (i < body.size() && body[i] == '.') {
    ++i;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++mantissaDigits;
  }
  bool valid = mantissaDigits > 0;
  if (valid && i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
    size_t exponentDigits = 0;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++exponentDigits;
    valid = exponentDigits > 0;
  }
  valid = valid && i == body.size();
  double value = 0;
  if (valid) {
    const auto result = std::from_chars(body.data(), body.data() + body.size(), value);
    // Out-of-range magnitudes are refused like malformed text.
    valid = result.ec == std::errc() && result.ptr == body.data() + body.size();
  }
  if (!valid) {
    std::string message = "'";
    message.append(original).append("' is not a valid floating point value");
    throw EConvertError(message);
  }
  return negative ? -value : value;
}

// Fifteen significant digits, fixed notation unless the exponent is large, "E" exponents without
// "+" or leading zeros: 1.5, 100, 0.1, 1E300, 2.5E-7.
std::string FloatToText(double value) {
  if (value == 0) return "0";
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::general, 15);
  std::string text(buffer, result.ptr);
  const size_t e = text.find('e');
  if (e == std::string::npos) return text;
  std::string mantissa = text.substr(0, e);
  std::string exponent = text.substr(e + 1);
  std::string sign;
  if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
    if (exponent[0] == '-') sign = "-";
    exponent.erase(0, 1);
  }
  while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
  return mantissa + "E" + sign + exponent;
}

}  // namespace

// ---- ThxVariant -------------------------------------------------------------------------------

ThxVariant::ThxVariant(uint16_t initialCapacity) {
  if (initialCapacity != 0) {
    data_ = std::make_unique<uint8_t[]>(initialCapacity);
    capacity_ = initialCapacity;
  }
}

ThxVariant::ThxVariant(const ThxVariant& other) { Assign(&other); }

ThxVariant& ThxVariant::operator=(const ThxVariant& other) {
  if (this != &other) Assign(&other);
  return *this;
}

bool ThxVariant::Assign(const ThxVariant* other) {
  if (other == nullptr) return false;
  if (other == this) return true;
  Clear();
  if (other->capacity_ > 0) {
    data_ = std::make_unique<uint8_t[]>(static_cast<size_t>(other->capacity_));
    std::memcpy(data_.get(), other->data_.get(), static_cast<size_t>(other->capacity_));
    capacity_ = other->capacity_;
  }
  length_ = other->length_;
  type_ = other->type_;
  return true;
}

void ThxVariant::Clear() {
  data_.reset();
  capacity_ = 0;
  length_ = 0;
  type_ = vtNone;
}

void ThxVariant::SetCapacity(int n) {
  if (n < 0) n = 0;
  if (n > capacity_) {
    auto bigger = std::make_unique<uint8_t[]>(static_cast<size_t>(n));
    if (data_ && capacity_ > 0) std::memcpy(bigger.get(), data_.get(), static_cast<size_t>(capacity_));
    data_ = std::move(bigger);
    capacity_ = n;
    type_ = vtNone;
  }
  length_ = n;
}

void ThxVariant::PutString(std::string_view text) {
  SetCapacity(static_cast<int>(text.size()));
  if (!text.empty()) std::memcpy(data_.get(), text.data(), text.size());
  type_ = vtText;
}

void ThxVariant::PutFloat(double value) {
  SetCapacity(8);
  EncodeDouble(data_.get(), value);
  type_ = vtFloat;
}

void ThxVariant::PutDate(int32_t day) {
  SetCapacity(4);
  std::memcpy(data_.get(), &day, 4);
  type_ = vtDate;
}

void ThxVariant::PutBoolean(bool value) {
  SetCapacity(1);
  data_[0] = value ? 1 : 0;
  type_ = vtBoolean;
}

void ThxVariant::PutBinary(const void* buffer, int count) {
  if (buffer == nullptr || count < 0) count = 0;
  SetCapacity(count);
  if (count > 0) std::memcpy(data_.get(), buffer, static_cast<size_t>(count));
  type_ = vtBinary;
}

void ThxVariant::Append(const void* buffer, int count) {
  if (buffer == nullptr || count <= 0) return;
  const int old = length_;
  // The source may lie inside our own buffer, which SetCapacity may replace.
  std::unique_ptr<uint8_t[]> copy;
  const uint8_t* source = static_cast<const uint8_t*>(buffer);
  if (data_ && source >= data_.get() && source < data_.get() + capacity_) {
    copy = std::make_unique<uint8_t[]>(static_cast<size_t>(count));
    std::memcpy(copy.get(), source, static_cast<size_t>(count));
    source = copy.get();
  }
  SetCapacity(old + count);
  std::memcpy(data_.get() + old, source, static_cast<size_t>(count));
  type_ = vtBinary;
}

void ThxVariant::UpperCase() {
  if (type_ != vtText || IsEmpty()) return;
  const std::string upper = SysUpperCase(
      std::string_view(reinterpret_cast<const char*>(data_.get()), static_cast<size_t>(length_)));
  std::memcpy(data_.get(), upper.data(), upper.size());
}

void ThxVariant::PadRight(int n) {
  if (type_ != vtText || n <= length_) return;
  const int old = length_;
  SetCapacity(n);
  std::memset(data_.get() + old, ' ', static_cast<size_t>(n - old));
  type_ = vtText;
}

void ThxVariant::TrimRight() {
  if (type_ != vtText) return;
  while (length_ > 0 && data_[static_cast<size_t>(length_ - 1)] == ' ') --length_;
}

void ThxVariant::ReadPrefix(void* out, int n) const {
  std::memset(out, 0, static_cast<size_t>(n));
  const int have = IsEmpty() ? 0 : (length_ < n ? length_ : n);
  if (have > 0) std::memcpy(out, data_.get(), static_cast<size_t>(have));
}

bool ThxVariant::GetBoolean() const {
  if (IsEmpty()) return false;
  switch (type_) {
    case vtText:
      return IsTrueLetter(static_cast<char>(data_[0]));
    case vtFloat: {
      const double r = std::nearbyint(GetFloat());
      return !std::isnan(r) && r != 0;
    }
    case vtBoolean:
    case vtBinary:
      return data_[0] != 0;
    default:
      return false;
  }
}

int32_t ThxVariant::GetDate() const {
  if (IsEmpty()) return 0;
  switch (type_) {
    case vtText:
      return DBFDate().CTOD(GetString());
    case vtFloat: {
      int32_t day = 0;
      if (!RoundToInt32(GetFloat(), day)) return 0;
      // Through the stored text form, so a number that is no date gives the empty date.
      return DBFDate().CTOD(DBFDate().DTOS(day));
    }
    case vtDate:
    case vtBinary: {
      int32_t day;
      ReadPrefix(&day, 4);
      return day;
    }
    default:
      return 0;
  }
}

double ThxVariant::GetFloat() const {
  if (IsEmpty()) return 0;
  switch (type_) {
    case vtText:
      return TextToFloat(
          std::string_view(reinterpret_cast<const char*>(data_.get()), static_cast<size_t>(length_)));
    case vtFloat:
    case vtBinary: {
      uint8_t bytes[8];
      ReadPrefix(bytes, 8);
      return DecodeDouble(bytes);
    }
    case vtDate: {
      int32_t day;
      ReadPrefix(&day, 4);
      return day;
    }
    case vtBoolean:
      return data_[0] != 0 ? 1.0 : 0.0;
    default:
      return 0;
  }
}

std::string ThxVariant::GetString() const {
  if (IsEmpty()) return std::string();
  switch (type_) {
    case vtText:
    case vtBinary:
      return std::string(reinterpret_cast<const char*>(data_.get()), static_cast<size_t>(length_));
    case vtFloat:
      return FloatToText(GetFloat());
    case vtDate:
      return DBFDate().DTOC(GetDate());
    case vtBoolean:
      return data_[0] != 0 ? std::string(1, kTrueLetters[0]) : std::string(1, kFalseLetters[0]);
    default:
      return std::string();
  }
}

char* ThxVariant::GetStrZ(char* buffer, size_t size) const {
  if (buffer == nullptr || size == 0) return buffer;
  const std::string text = GetString();
  const size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return buffer;
}

int ThxVariant::Compare(const ThxVariant* other, int& position, const uint8_t* collation,
                        int partial) const {
  return DoCompare(other, position, collation, partial, false);
}

int ThxVariant::CompareRaw(const ThxVariant* other, int& position, const uint8_t* collation,
                           int partial) const {
  return DoCompare(other, position, collation, partial, true);
}

int ThxVariant::DoCompare(const ThxVariant* other, int& position, const uint8_t* collation,
                          int partial, bool raw) const {
  auto effective = [raw](ThxVarType t) { return raw && t == vtFloat ? vtBinary : t; };
  const ThxVarType selfType = effective(type_);
  position = 0;
  if (selfType == vtNone) return other == nullptr || other->length_ < 1 ? 0 : -1;
  if (other == nullptr) return 1;

  const ThxVarType otherType = effective(other->type_);
  ThxVarType type = selfType;
  if (selfType != otherType) {
    if (selfType == vtBinary) type = otherType;
    else if (otherType != vtBinary) throw ESorrelError(smVariantMismatch);
  }

  const bool selfEmpty = IsEmpty();
  const bool otherEmpty = other->IsEmpty();
  if (selfEmpty || otherEmpty) return selfEmpty == otherEmpty ? 0 : (selfEmpty ? -1 : 1);

  switch (type) {
    case vtFloat: {
      uint8_t a[8], b[8];
      ReadPrefix(a, 8);
      other->ReadPrefix(b, 8);
      const double x = DecodeDouble(a);
      const double y = DecodeDouble(b);
      return x < y ? -1 : (x > y ? 1 : 0);
    }
    case vtDate: {
      int32_t x, y;
      ReadPrefix(&x, 4);
      other->ReadPrefix(&y, 4);
      return x < y ? -1 : (x > y ? 1 : 0);
    }
    case vtBoolean: {
      const uint8_t x = data_[0];
      const uint8_t y = other->data_[0];
      if (x == y) return 0;
      return x != 0 ? 1 : -1;
    }
    case vtText:
    case vtBinary: {
      const bool text = type == vtText;
      const uint8_t* table = text ? collation : nullptr;
      const int n = length_ < other->length_ ? length_ : other->length_;
      const uint8_t* a = data_.get();
      const uint8_t* b = other->data_.get();
      for (int i = 0; i < n; ++i) {
        position = i + 1;
        const int x = table ? table[a[i]] : a[i];
        const int y = table ? table[b[i]] : b[i];
        if (x != y) return x < y ? -1 : 1;
      }
      position = n + 1;
      const int difference = length_ - other->length_;
      if (text && difference < 0 && position > length_) return Sign(partial);
      return Sign(difference);
    }
    default:
      return 0;
  }
}

// ---- ThxHugeSet -------------------------------------------------------------------------------

void ThxHugeSet::ClearAll() {
  for (auto& page : pages_) std::memset(page.get(), 0, kPageBytes);
  highest_ = -1;
}

void ThxHugeSet::SetBit(int32_t index, int operation) {
  if (index < 0) return;
  const size_t page = static_cast<size_t>(index / kBitsPerPage);
  while (pages_.size() <= page) pages_.push_back(std::make_unique<uint8_t[]>(kPageBytes));
  uint8_t& byte = pages_[page][static_cast<size_t>((index / 8) % kPageBytes)];
  const uint8_t mask = static_cast<uint8_t>(1u << (index % 8));
  switch (operation) {
    case opClear: byte = static_cast<uint8_t>(byte & ~mask); break;
    case opSet: byte = static_cast<uint8_t>(byte | mask); break;
    case opToggle: byte = static_cast<uint8_t>(byte ^ mask); break;
    default: break;
  }
  if (index > highest_) highest_ = index;
}

bool ThxHugeSet::TestBit(int32_t index) const {
  if (index > highest_ || index < 0) return false;
  const size_t page = static_cast<size_t>(index / kBitsPerPage);
  const uint8_t byte = pages_[page][static_cast<size_t>((index / 8) % kPageBytes)];
  return (byte & (1u << (index % 8))) != 0;
}

int32_t ThxHugeSet::NextSetBit(int32_t from, int32_t last) const {
  const int64_t end = std::min(last, highest_);  // pages exist up to the highest index
  for (int64_t i = std::max(from, 0); i <= end;) {
    const uint8_t* page = pages_[static_cast<size_t>(i / kBitsPerPage)].get();
    const unsigned bits = page[static_cast<size_t>((i / 8) % kPageBytes)] >> (i % 8);
    if (bits != 0) {
      const int64_t found = i + std::countr_zero(bits);
      return found <= end ? static_cast<int32_t>(found) : -1;
    }
    i = (i / 8 + 1) * 8;  // the next byte's first bit
  }
  return -1;
}

int32_t ThxHugeSet::PriorSetBit(int32_t from) const {
  for (int64_t i = std::min(from, highest_); i >= 0;) {
    const uint8_t* page = pages_[static_cast<size_t>(i / kBitsPerPage)].get();
    const unsigned bits = page[static_cast<size_t>((i / 8) % kPageBytes)] & ((2u << (i % 8)) - 1);
    if (bits != 0) return static_cast<int32_t>((i / 8) * 8 + std::bit_width(bits) - 1);
    i = (i / 8) * 8 - 1;  // the previous byte's last bit
  }
  return -1;
}

// ---- file-name helpers ------------------------------------------------------------------------

namespace {

// Where the directory part of a name ends: the last slash or backslash (names stored by Windows
// installations use the backslash), or the colon of a drive letter ("C:LOG.DBF"); npos when none.
size_t DirectoryEnd(std::string_view name) {
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) return slash;
  if (name.size() >= 2 && name[1] == ':') return 1;
  return std::string_view::npos;
}

}  // namespace

std::string DefaultFileExt(std::string_view name, std::string_view extension) {
  const size_t end = DirectoryEnd(name);
  const size_t dot = name.rfind('.');
  const bool hasExtension =
      dot != std::string_view::npos && (end == std::string_view::npos || dot > end);
  std::string result(name);
  if (!hasExtension) result += extension;
  return result;
}

std::string StripFileExt(std::string_view path) {
  const size_t end = DirectoryEnd(path);
  if (end != std::string_view::npos) path.remove_prefix(end + 1);
  const size_t dot = path.rfind('.');
  if (dot != std::string_view::npos) path = path.substr(0, dot);
  return std::string(path);
}

void StrPadChar(char* buffer, char c, size_t length) {
  if (buffer == nullptr) return;
  size_t end = std::strlen(buffer);
  while (end < length) buffer[end++] = c;
  buffer[end] = '\0';
}

// Field objects: conversions between the native buffer forms and the typed accessors.
#include "dataset/dbfield.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "dataset/dbset.h"
#include "base/hx6_date.h"

namespace {

// Days from 1 January of year 1 (day 1) to 30 December 1899 (date-time 0).
constexpr int32_t kDateDelta = 693594;
constexpr double kMSecsPerDay = 86400000.0;

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string FormatFloat(double value) {
  char buffer[64];
  // Fifteen significant digits, plain notation up to 15 digits before the point.
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  return std::string(buffer, result.ptr);
}

bool ParseInteger(std::string_view text, int64_t& value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ParseFloat(std::string_view text, double& value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size() &&
         std::isfinite(value);
}

std::string FormatDateTime(TDateTime value, bool withTime) {
  std::string text = DBFDate().DTOC(DateTimeToJulian(value));
  if (!withTime) return text;
  const double msecs = std::round(std::fabs(value - std::trunc(value)) * kMSecsPerDay);
  if (msecs == 0) return text;
  const auto seconds = static_cast<int64_t>(msecs / 1000);
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, " %02d:%02d:%02d", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text + buffer;
}

// A date text (yyyymmdd or the short date form), optionally followed by "hh:nn[:ss]".
bool ParseDateTime(std::string_view text, TDateTime& value) {
  text = Trim(text);
  std::string_view datePart = text;
  std::string_view timePart;
  const size_t blank = text.find(' ');
  if (blank != std::string_view::npos) {
    datePart = text.substr(0, blank);
    timePart = Trim(text.substr(blank + 1));
  }
  int32_t julian = 0;
  try {
    julian = DBFDate().CTOD(datePart);
  } catch (const EConvertError&) {
    return false;
  }
  if (julian == 0) return false;
  double fraction = 0;
  if (!timePart.empty()) {
    int parts[3] = {0, 0, 0};
    int n = 0;
    while (!timePart.empty() && n < 3) {
      const size_t colon = timePart.find(':');
      const std::string_view item = timePart.substr(0, colon);
      int64_t v = 0;
      if (!ParseInteger(item, v) || v < 0 || v > 59 || (n == 0 && v > 23)) return false;
      parts[n++] = static_cast<int>(v);
      if (colon == std::string_view::npos) break;
      timePart.remove_prefix(colon + 1);
    }
    fraction = (parts[0] * 3600 + parts[1] * 60 + parts[2]) / 86400.0;
  }
  value = JulianToDateTime(julian) + fraction;
  return true;
}

template <class T>
T ReadAs(const std::vector<char>& native) {
  T value{};
  std::memcpy(&value, native.data(), sizeof value);
  return value;
}

}  // namespace

std::string_view FieldTypeName(TFieldType type) {
  switch (type) {
    case TFieldType::ftString: return "String";
    case TFieldType::ftSmallint: return "SmallInt";
    case TFieldType::ftInteger: return "Integer";
    case TFieldType::ftLargeint: return "LargeInt";
    case TFieldType::ftBoolean: return "Boolean";
    case TFieldType::ftFloat: return "Float";
    case TFieldType::ftCurrency: return "Currency";
    case TFieldType::ftDate: return "Date";
    case TFieldType::ftDateTime: return "DateTime";
    case TFieldType::ftMemo: return "Memo";
    case TFieldType::ftBlob: return "Blob";
    default: return "Unknown";
  }
}

int32_t DateTimeToNativeDate(TDateTime value) {
  return static_cast<int32_t>(std::trunc(value)) + kDateDelta;
}

TDateTime NativeDateToDateTime(int32_t days) { return static_cast<double>(days - kDateDelta); }

double DateTimeToNativeMSecs(TDateTime value) {
  const double days = std::trunc(value) + kDateDelta;
  return days * kMSecsPerDay + std::round(std::fabs(value - std::trunc(value)) * kMSecsPerDay);
}

TDateTime NativeMSecsToDateTime(double msecs) {
  const double days = std::floor(msecs / kMSecsPerDay);
  const double time = (msecs - days * kMSecsPerDay) / kMSecsPerDay;
  const double date = days - kDateDelta;
  return date >= 0 ? date + time : date - time;
}

TDateTime JulianToDateTime(int32_t julian) {
  return julian == 0 ? 0.0 : static_cast<double>(julian - DBFDate().JulianOffset());
}

int32_t DateTimeToJulian(TDateTime value) {
  return static_cast<int32_t>(std::trunc(value)) + DBFDate().JulianOffset();
}

// ---- TVarValue ----

bool TVarValue::AsBoolean() const {
  switch (GetKind()) {
    case Kind::Boolean: return std::get<bool>(v_);
    case Kind::Integer: return std::get<int64_t>(v_) != 0;
    case Kind::Float: return std::get<double>(v_) != 0;
    case Kind::Text: {
      const std::string& t = std::get<std::string>(v_);
      return !t.empty() && (t[0] == 'T' || t[0] == 't' || t[0] == 'Y' || t[0] == 'y');
    }
    case Kind::DateTime: return std::get<Date>(v_).value != 0;
    default: return false;
  }
}

int64_t TVarValue::AsInteger() const {
  switch (GetKind()) {
    case Kind::Boolean: return std::get<bool>(v_) ? 1 : 0;
    case Kind::Integer: return std::get<int64_t>(v_);
    case Kind::Float:
    case Kind::DateTime: return static_cast<int64_t>(std::llround(AsFloat()));
    case Kind::Text: {
      int64_t v = 0;
      if (!ParseInteger(std::get<std::string>(v_), v)) {
        throw EDatabaseError("'" + std::get<std::string>(v_) + "' is not a valid integer value");
      }
      return v;
    }
    default: return 0;
  }
}

double TVarValue::AsFloat() const {
  switch (GetKind()) {
    case Kind::Boolean: return std::get<bool>(v_) ? 1 : 0;
    case Kind::Integer: return static_cast<double>(std::get<int64_t>(v_));
    case Kind::Float: return std::get<double>(v_);
    case Kind::DateTime: return std::get<Date>(v_).value;
    case Kind::Text: {
      double v = 0;
      if (!ParseFloat(std::get<std::string>(v_), v)) {
        throw EDatabaseError("'" + std::get<std::string>(v_) + "' is not a valid floating point value");
      }
      return v;
    }
    default: return 0;
  }
}

TDateTime TVarValue::AsDateTime() const {
  if (GetKind() == Kind::Text) {
    TDateTime v = 0;
    if (!ParseDateTime(std::get<std::string>(v_), v)) {
      throw EDatabaseError("'" + std::get<std::string>(v_) + "' is not a valid date");
    }
    return v;
  }
  return AsFloat();
}

std::string TVarValue::AsString() const {
  switch (GetKind()) {
    case Kind::Boolean: return std::get<bool>(v_) ? "True" : "False";
    case Kind::Integer: return std::to_string(std::get<int64_t>(v_));
    case Kind::Float: return FormatFloat(std::get<double>(v_));
    case Kind::Text: return std::get<std::string>(v_);
    case Kind::DateTime: return FormatDateTime(std::get<Date>(v_).value, true);
    default: return {};
  }
}

bool TVarValue::operator==(const TVarValue& other) const {
  if (GetKind() != other.GetKind()) return false;
  switch (GetKind()) {
    case Kind::Null: return true;
    case Kind::DateTime: return std::get<Date>(v_).value == std::get<Date>(other.v_).value;
    default: return v_ == other.v_;
  }
}

// ---- TFieldDefs, TFields, TIndexDefs ----

TFieldDef& TFieldDefs::Add(std::string name, TFieldType type, int size, bool required) {
  TFieldDef def;
  def.Name = std::move(name);
  def.DataType = type;
  def.Size = size;
  def.Required = required;
  def.FieldNo = Count() + 1;
  items_.push_back(std::move(def));
  return items_.back();
}

const TFieldDef* TFieldDefs::Find(std::string_view name) const {
  for (const TFieldDef& def : items_) {
    if (EqualsIgnoreCase(def.Name, name)) return &def;
  }
  return nullptr;
}

TField* TFields::Add(std::unique_ptr<TField> field) {
  items_.push_back(std::move(field));
  return items_.back().get();
}

TField* TFields::FindField(std::string_view name) const {
  name = Trim(name);
  for (const auto& field : items_) {
    if (EqualsIgnoreCase(field->FieldName(), name)) return field.get();
  }
  return nullptr;
}

TIndexDef& TIndexDefs::Add(std::string name, std::string fields, uint8_t options) {
  items_.push_back(TIndexDef{std::move(name), std::move(fields), options});
  return items_.back();
}

const TIndexDef* TIndexDefs::Find(std::string_view name) const {
  for (const TIndexDef& def : items_) {
    if (EqualsIgnoreCase(def.Name, name)) return &def;
  }
  return nullptr;
}

std::vector<std::string> SplitFieldNames(std::string_view names) {
  std::vector<std::string> result;
  while (!names.empty()) {
    const size_t semi = names.find(';');
    const std::string_view item = Trim(names.substr(0, semi));
    if (!item.empty()) result.emplace_back(item);
    if (semi == std::string_view::npos) break;
    names.remove_prefix(semi + 1);
  }
  return result;
}

// ---- TField ----

TField::TField(TDataSet* dataSet, std::string fieldName, TFieldType type, int size, TFieldKind kind)
    : dataSet_(dataSet),
      fieldName_(std::move(fieldName)),
      dataType_(type),
      size_(type == TFieldType::ftString ? size : 0),
      fieldKind_(kind),
      transliterate_(type == TFieldType::ftString || type == TFieldType::ftMemo) {}

int TField::DataSize() const {
  switch (dataType_) {
    case TFieldType::ftString: return size_ + 1;
    case TFieldType::ftSmallint:
    case TFieldType::ftBoolean: return 2;
    case TFieldType::ftInteger:
    case TFieldType::ftDate:
    case TFieldType::ftMemo:
    case TFieldType::ftBlob: return 4;
    case TFieldType::ftLargeint:
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftDateTime: return 8;
    default: return 0;
  }
}

bool TField::IsIndexField() const { return dataSet_ != nullptr && dataSet_->GetIsIndexField(const_cast<TField*>(this)); }

bool TField::CanModify() const {
  if (readOnly_ || dataSet_ == nullptr) return false;
  if (fieldKind_ != TFieldKind::fkData && dataSet_->State() != TDataSetState::dsCalcFields) {
    return fieldKind_ == TFieldKind::fkInternalCalc;
  }
  return dataSet_->CanModify();
}

bool TField::GetData(void* buffer) const {
  if (validating_ != nullptr || validatingNull_) {
    if (validatingNull_) return false;
    std::memcpy(buffer, validating_, static_cast<size_t>(DataSize()));
    return true;
  }
  if (dataSet_ == nullptr) return false;
  return dataSet_->GetFieldData(const_cast<TField*>(this), buffer);
}

void TField::SetData(const void* buffer) {
  if (dataSet_ == nullptr) return;
  dataSet_->SetFieldData(this, buffer);
}

void TField::Validate(const void* buffer) {
  if (!OnValidate) return;
  const void* const savedValue = validating_;
  const bool savedNull = validatingNull_;
  validating_ = buffer;
  validatingNull_ = buffer == nullptr;
  struct Restore {
    TField& f;
    const void* value;
    bool isNull;
    ~Restore() {
      f.validating_ = value;
      f.validatingNull_ = isNull;
    }
  } restore{*this, savedValue, savedNull};
  OnValidate(*this);
}

void TField::Change() {
  if (OnChange) OnChange(*this);
}

std::vector<char> TField::Native() const {
  std::vector<char> buffer(static_cast<size_t>(DataSize()) + 1, '\0');
  if (buffer.size() <= 1) return {};
  if (!GetData(buffer.data())) return {};
  return buffer;
}

bool TField::IsNull() const { return Native().empty(); }

void TField::RaiseRange(double value, double low, double high) const {
  DatabaseError(dbtext::kFieldRangeError,
                {FormatFloat(value), DisplayName(), FormatFloat(low), FormatFloat(high)});
}

void TField::RaiseInvalid(const char* what, std::string_view text) const {
  DatabaseError(what, {text, DisplayName()});
}

std::string TField::ReadBlob() const {
  auto stream = dataSet_ != nullptr ? dataSet_->CreateBlobStream(const_cast<TField*>(this), TBlobStreamMode::bmRead)
                                    : nullptr;
  if (!stream) DatabaseError(dbtext::kNoBlobStream, {DisplayName()});
  std::string text;
  char chunk[4096];
  for (;;) {
    const int64_t n = stream->Read(chunk, sizeof chunk);
    if (n <= 0) break;
    text.append(chunk, static_cast<size_t>(n));
  }
  return text;
}

void TField::WriteBlob(std::string_view text) {
  auto stream = dataSet_ != nullptr ? dataSet_->CreateBlobStream(this, TBlobStreamMode::bmWrite) : nullptr;
  if (!stream) DatabaseError(dbtext::kNoBlobStream, {DisplayName()});
  if (!text.empty()) stream->Write(text.data(), static_cast<int64_t>(text.size()));
  // The value must reach the record now: a failure left to the stream's destructor would be lost.
  stream->Flush();
}

std::string TField::AsString() const {
  if (dataType_ == TFieldType::ftMemo || dataType_ == TFieldType::ftBlob) {
    return IsNull() ? std::string() : ReadBlob();
  }
  const std::vector<char> native = Native();
  if (native.empty()) return {};
  switch (dataType_) {
    case TFieldType::ftString:
      return std::string(native.data(), strnlen(native.data(), static_cast<size_t>(size_)));
    case TFieldType::ftSmallint: return std::to_string(ReadAs<int16_t>(native));
    case TFieldType::ftInteger: return std::to_string(ReadAs<int32_t>(native));
    case TFieldType::ftLargeint: return std::to_string(ReadAs<int64_t>(native));
    case TFieldType::ftBoolean: return ReadAs<int16_t>(native) != 0 ? "True" : "False";
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency: return FormatFloat(ReadAs<double>(native));
    case TFieldType::ftDate: return FormatDateTime(NativeDateToDateTime(ReadAs<int32_t>(native)), false);
    case TFieldType::ftDateTime: return FormatDateTime(NativeMSecsToDateTime(ReadAs<double>(native)), true);
    default: return {};
  }
}

void TField::SetAsString(std::string_view text) {
  switch (dataType_) {
    case TFieldType::ftString: {
      std::vector<char> buffer(static_cast<size_t>(size_) + 1, '\0');
      std::memcpy(buffer.data(), text.data(), std::min(text.size(), static_cast<size_t>(size_)));
      SetData(buffer.data());
      return;
    }
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint: {
      if (Trim(text).empty()) {
        Clear();
        return;
      }
      int64_t v = 0;
      if (!ParseInteger(text, v)) RaiseInvalid(dbtext::kInvalidIntegerValue, text);
      SetAsLargeInt(v);
      return;
    }
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency: {
      if (Trim(text).empty()) {
        Clear();
        return;
      }
      double v = 0;
      if (!ParseFloat(text, v)) RaiseInvalid(dbtext::kInvalidFloatValue, text);
      SetAsFloat(v);
      return;
    }
    case TFieldType::ftBoolean: {
      const std::string_view t = Trim(text);
      if (t.empty()) {
        Clear();
        return;
      }
      if (EqualsIgnoreCase(t, std::string_view("True").substr(0, t.size()))) {
        SetAsBoolean(true);
      } else if (EqualsIgnoreCase(t, std::string_view("False").substr(0, t.size()))) {
        SetAsBoolean(false);
      } else {
        RaiseInvalid(dbtext::kInvalidBoolValue, text);
      }
      return;
    }
    case TFieldType::ftDate:
    case TFieldType::ftDateTime: {
      if (Trim(text).empty()) {
        Clear();
        return;
      }
      TDateTime v = 0;
      if (!ParseDateTime(text, v)) RaiseInvalid(dbtext::kInvalidDateValue, text);
      SetAsDateTime(v);
      return;
    }
    case TFieldType::ftMemo:
    case TFieldType::ftBlob:
      WriteBlob(text);
      return;
    default:
      return;
  }
}

int64_t TField::AsLargeInt() const {
  switch (dataType_) {
    case TFieldType::ftString: {
      const std::string text = AsString();
      if (Trim(text).empty()) return 0;
      int64_t v = 0;
      if (!ParseInteger(text, v)) RaiseInvalid(dbtext::kInvalidIntegerValue, text);
      return v;
    }
    case TFieldType::ftMemo:
    case TFieldType::ftBlob: return 0;
    default: break;
  }
  const std::vector<char> native = Native();
  if (native.empty()) return 0;
  switch (dataType_) {
    case TFieldType::ftSmallint: return ReadAs<int16_t>(native);
    case TFieldType::ftInteger: return ReadAs<int32_t>(native);
    case TFieldType::ftLargeint: return ReadAs<int64_t>(native);
    case TFieldType::ftBoolean: return ReadAs<int16_t>(native) != 0 ? 1 : 0;
    default: {
      const double v = AsFloat();
      // 2^63 is the first value a 64-bit integer cannot hold.
      if (!(v > -9223372036854775808.0 && v < 9223372036854775808.0)) {
        RaiseRange(v, -9223372036854775808.0, 9223372036854775807.0);
      }
      return std::llround(v);
    }
  }
}

int32_t TField::AsInteger() const {
  const int64_t v = AsLargeInt();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
    RaiseRange(static_cast<double>(v), std::numeric_limits<int32_t>::min(),
               std::numeric_limits<int32_t>::max());
  }
  return static_cast<int32_t>(v);
}

void TField::SetNativeInteger(int64_t value) {
  switch (dataType_) {
    case TFieldType::ftSmallint: {
      if (value < -32768 || value > 32767) RaiseRange(static_cast<double>(value), -32768, 32767);
      const auto v = static_cast<int16_t>(value);
      SetData(&v);
      return;
    }
    case TFieldType::ftInteger: {
      if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
        RaiseRange(static_cast<double>(value), std::numeric_limits<int32_t>::min(),
                   std::numeric_limits<int32_t>::max());
      }
      const auto v = static_cast<int32_t>(value);
      SetData(&v);
      return;
    }
    default: {
      SetData(&value);
      return;
    }
  }
}

void TField::SetAsLargeInt(int64_t value) {
  switch (dataType_) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint: SetNativeInteger(value); return;
    case TFieldType::ftBoolean: SetAsBoolean(value != 0); return;
    case TFieldType::ftString: SetAsString(std::to_string(value)); return;
    default: SetAsFloat(static_cast<double>(value)); return;
  }
}

void TField::SetAsInteger(int32_t value) { SetAsLargeInt(value); }

double TField::AsFloat() const {
  switch (dataType_) {
    case TFieldType::ftString: {
      const std::string text = AsString();
      if (Trim(text).empty()) return 0;
      double v = 0;
      if (!ParseFloat(text, v)) RaiseInvalid(dbtext::kInvalidFloatValue, text);
      return v;
    }
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency: {
      const std::vector<char> native = Native();
      return native.empty() ? 0 : ReadAs<double>(native);
    }
    case TFieldType::ftDate:
    case TFieldType::ftDateTime: return AsDateTime();
    case TFieldType::ftMemo:
    case TFieldType::ftBlob: return 0;
    default: return static_cast<double>(AsLargeInt());
  }
}

void TField::SetAsFloat(double value) {
  switch (dataType_) {
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency: SetData(&value); return;
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint:
      if (!(value > -9223372036854775808.0 && value < 9223372036854775808.0)) {
        RaiseRange(value, -9223372036854775808.0, 9223372036854775807.0);
      }
      SetNativeInteger(std::llround(value));
      return;
    case TFieldType::ftBoolean: SetAsBoolean(value != 0); return;
    case TFieldType::ftDate:
    case TFieldType::ftDateTime: SetAsDateTime(value); return;
    default: SetAsString(FormatFloat(value)); return;
  }
}

bool TField::AsBoolean() const {
  switch (dataType_) {
    case TFieldType::ftString: {
      const std::string text = AsString();
      return !text.empty() && (text[0] == 'T' || text[0] == 't' || text[0] == 'Y' || text[0] == 'y');
    }
    case TFieldType::ftBoolean: {
      const std::vector<char> native = Native();
      return !native.empty() && ReadAs<int16_t>(native) != 0;
    }
    case TFieldType::ftMemo:
    case TFieldType::ftBlob: return false;
    default: return AsFloat() != 0;
  }
}

void TField::SetAsBoolean(bool value) {
  switch (dataType_) {
    case TFieldType::ftBoolean: {
      const int16_t v = value ? 1 : 0;
      SetData(&v);
      return;
    }
    case TFieldType::ftString: SetAsString(value ? "T" : "F"); return;
    default: SetAsLargeInt(value ? 1 : 0); return;
  }
}

TDateTime TField::AsDateTime() const {
  switch (dataType_) {
    case TFieldType::ftDate: {
      const std::vector<char> native = Native();
      return native.empty() ? 0 : NativeDateToDateTime(ReadAs<int32_t>(native));
    }
    case TFieldType::ftDateTime: {
      const std::vector<char> native = Native();
      return native.empty() ? 0 : NativeMSecsToDateTime(ReadAs<double>(native));
    }
    case TFieldType::ftString: {
      const std::string text = AsString();
      if (Trim(text).empty()) return 0;
      TDateTime v = 0;
      if (!ParseDateTime(text, v)) RaiseInvalid(dbtext::kInvalidDateValue, text);
      return v;
    }
    default: return AsFloat();
  }
}

void TField::SetAsDateTime(TDateTime value) {
  switch (dataType_) {
    case TFieldType::ftDate: {
      const int32_t v = DateTimeToNativeDate(value);
      SetData(&v);
      return;
    }
    case TFieldType::ftDateTime: {
      const double v = DateTimeToNativeMSecs(value);
      SetData(&v);
      return;
    }
    case TFieldType::ftString: SetAsString(FormatDateTime(value, true)); return;
    default: SetAsFloat(value); return;
  }
}

TVarValue TField::Value() const {
  if (IsNull()) return {};
  switch (dataType_) {
    case TFieldType::ftString:
    case TFieldType::ftMemo:
    case TFieldType::ftBlob: return TVarValue(AsString());
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint: return TVarValue(AsLargeInt());
    case TFieldType::ftBoolean: return TVarValue(AsBoolean());
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency: return TVarValue(AsFloat());
    case TFieldType::ftDate:
    case TFieldType::ftDateTime: return TVarValue::FromDateTime(AsDateTime());
    default: return {};
  }
}

void TField::SetValue(const TVarValue& value) {
  switch (value.GetKind()) {
    case TVarValue::Kind::Null: Clear(); return;
    case TVarValue::Kind::Boolean: SetAsBoolean(value.AsBoolean()); return;
    case TVarValue::Kind::Integer: SetAsLargeInt(value.AsInteger()); return;
    case TVarValue::Kind::Float: SetAsFloat(value.AsFloat()); return;
    case TVarValue::Kind::Text: SetAsString(value.AsString()); return;
    case TVarValue::Kind::DateTime: SetAsDateTime(value.AsDateTime()); return;
  }
}

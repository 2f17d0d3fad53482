// The dataset component's field values: native forms read from and written to the record bytes of
// the buffers through the table's typed field access.
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "dataset/Sorl6db.h"
#include "base/hx6_date.h"

namespace {

// Day count of the date-time native form (1 January of year 1 = 1) from the engine's day number.
constexpr int32_t kJulianOfDayZero = 1721425;
// Whole numbers up to 2^53 pass through a double without loss.
constexpr int64_t kExactDoubleLimit = int64_t{1} << 53;

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::string_view Trim(std::string_view text) {
  text = TrimRight(text);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return text;
}

[[noreturn]] void RangeError(const TField* field, int64_t value, int64_t low, int64_t high) {
  DatabaseError(dbtext::kFieldRangeError, {std::to_string(value), field->DisplayName(),
                                           std::to_string(low), std::to_string(high)});
}

}  // namespace

char* TSorrelDataSet::ActiveRecordBuffer() {
  switch (State()) {
    case TDataSetState::dsBrowse: return IsEmpty() ? nullptr : ActiveBuffer();
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
    case TDataSetState::dsNewValue: return ActiveBuffer();
    case TDataSetState::dsSetKey: return setKeyBuffer_.empty() ? nullptr : setKeyBuffer_.data();
    case TDataSetState::dsCalcFields: return CalcBuffer();
    case TDataSetState::dsFilter: return handler_ ? handler_->RecordBuffer() : nullptr;
    case TDataSetState::dsOldValue:
      if (recordLocked_ != 0 && handler_) return handler_->SavedRecord();
      return ActiveBuffer();
    default: return nullptr;
  }
}

bool TSorrelDataSet::GetFieldData(TField* field, void* buffer) {
  if (!handler_) return false;
  if (State() == TDataSetState::dsBrowse && IsEmpty()) return false;
  char* const record = ActiveRecordBuffer();
  if (record == nullptr) return false;
  std::vector<char> scratch;
  if (buffer == nullptr) {
    scratch.assign(static_cast<size_t>(field->DataSize()) + 1, '\0');
    buffer = scratch.data();
  }
  if (field->FieldNo() < 1) {
    switch (State()) {
      case TDataSetState::dsBrowse:
      case TDataSetState::dsEdit:
      case TDataSetState::dsInsert:
      case TDataSetState::dsCalcFields: {
        const char* value = record + recordLength_ + field->Offset();
        if (value[0] == 0) return false;
        std::memcpy(buffer, value + 1, static_cast<size_t>(field->DataSize()));
        return true;
      }
      default: return false;
    }
  }
  THandlerBuffer point(*this, record);
  std::memset(buffer, 0, static_cast<size_t>(field->DataSize()));
  bool hasValue = true;
  ReadDataField(field, buffer, hasValue);
  return hasValue;
}

void TSorrelDataSet::ReadDataField(TField* field, void* out, bool& hasValue) {
  DBFObject& h = *handler_;
  const int n = field->FieldNo();
  switch (field->DataType()) {
    case TFieldType::ftString: {
      const std::string raw = h.GetString(n);
      const std::string_view text = TrimRight(raw);
      const size_t length = std::min(text.size(), static_cast<size_t>(field->Size()));
      std::memcpy(out, text.data(), length);
      static_cast<char*>(out)[length] = '\0';
      hasValue = length > 0;
      return;
    }
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint: {
      // Read the digits themselves where they form a whole number: a double holds only 53 bits.
      const std::string raw = h.GetString(n);
      const std::string_view text = Trim(raw);
      int64_t value = 0;
      const char* end = text.data() + text.size();
      const auto parsed = std::from_chars(text.data(), end, value);
      if (h.FieldType(n) == 'I' || text.empty() || parsed.ec != std::errc() || parsed.ptr != end) {
        const double number = std::round(h.GetFloat(n));
        if (!(number > -9223372036854775808.0 && number < 9223372036854775808.0)) {
          DatabaseError(dbtext::kFieldRangeError,
                        {std::string(text), field->DisplayName(), "-9223372036854775808",
                         "9223372036854775807"});
        }
        value = static_cast<int64_t>(number);
      }
      if (field->DataType() == TFieldType::ftSmallint) {
        if (value < INT16_MIN || value > INT16_MAX) RangeError(field, value, INT16_MIN, INT16_MAX);
        const auto v = static_cast<int16_t>(value);
        std::memcpy(out, &v, sizeof v);
      } else if (field->DataType() == TFieldType::ftInteger) {
        // A ten-digit field read as a 32-bit integer: refuse what does not fit, never wrap.
        if (value < INT32_MIN || value > INT32_MAX) RangeError(field, value, INT32_MIN, INT32_MAX);
        const auto v = static_cast<int32_t>(value);
        std::memcpy(out, &v, sizeof v);
      } else {
        std::memcpy(out, &value, sizeof value);
      }
      return;
    }
    case TFieldType::ftBoolean: {
      const int16_t v = h.GetLogical(n) ? 1 : 0;
      std::memcpy(out, &v, sizeof v);
      return;
    }
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency: {
      const double v = h.GetFloat(n);
      std::memcpy(out, &v, sizeof v);
      return;
    }
    case TFieldType::ftDate: {
      const std::string raw = h.GetString(n);
      const std::string_view text = TrimRight(raw);
      hasValue = false;
      if (text.size() != 8 || text == "00000000") return;
      // A field holding something other than a calendar date reads as blank: a grid painting
      // the row must not fail on it.
      int parts[3] = {0, 0, 0};
      const int widths[3] = {4, 2, 2};
      size_t at = 0;
      for (int i = 0; i < 3; ++i) {
        const char* from = text.data() + at;
        const auto r = std::from_chars(from, from + widths[i], parts[i]);
        if (r.ec != std::errc() || r.ptr != from + widths[i]) return;
        at += static_cast<size_t>(widths[i]);
      }
      const int32_t julian = DBFDate().EncodeDate(parts[0], parts[1], parts[2]);
      if (julian == 0) return;
      const int32_t days = julian - kJulianOfDayZero;
      std::memcpy(out, &days, sizeof days);
      hasValue = true;
      return;
    }
    case TFieldType::ftDateTime: {
      const double v = h.GetFloat(n);
      std::memcpy(out, &v, sizeof v);
      hasValue = v != 0;
      return;
    }
    case TFieldType::ftMemo:
    case TFieldType::ftBlob: {
      const uint32_t block = h.MemoBlock(n);
      std::memcpy(out, &block, sizeof block);
      hasValue = block != 0;
      return;
    }
    default:
      hasValue = false;
      return;
  }
}

void TSorrelDataSet::SetFieldData(TField* field, const void* buffer) {
  const TDataSetState state = State();
  switch (state) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
    case TDataSetState::dsSetKey:
    case TDataSetState::dsCalcFields:
    case TDataSetState::dsFilter:
    case TDataSetState::dsNewValue: break;
    default: throw EDatabaseError(smNotInEditMode);
  }
  if (state == TDataSetState::dsSetKey && !field->IsIndexField()) {
    DatabaseError(dbtext::kNotIndexField, {field->DisplayName()});
  }
  char* const record = ActiveRecordBuffer();
  if (record == nullptr) return;
  if (field->FieldNo() < 1) {
    char* value = record + recordLength_ + field->Offset();
    value[0] = buffer != nullptr ? 1 : 0;
    if (buffer != nullptr) std::memcpy(value + 1, buffer, static_cast<size_t>(field->DataSize()));
  } else {
    if (state == TDataSetState::dsCalcFields) throw EDatabaseError(smNotInEditMode);
    if (field->ReadOnly() && state != TDataSetState::dsSetKey && state != TDataSetState::dsFilter) {
      DatabaseError(dbtext::kFieldReadOnly, {field->DisplayName()});
    }
    field->Validate(buffer);
    if (field->FieldKind() != TFieldKind::fkInternalCalc) {
      THandlerBuffer point(*this, record);
      WriteDataField(field, buffer);
    }
  }
  if (state != TDataSetState::dsCalcFields && state != TDataSetState::dsFilter &&
      state != TDataSetState::dsNewValue) {
    DataEvent(TDataEvent::deFieldChange, reinterpret_cast<intptr_t>(field));
  }
}

void TSorrelDataSet::WriteDataField(TField* field, const void* in) {
  DBFObject& h = *handler_;
  const int n = field->FieldNo();
  switch (field->DataType()) {
    case TFieldType::ftString:
      h.PutString(n, in != nullptr ? std::string_view(static_cast<const char*>(in),
                                                      strnlen(static_cast<const char*>(in),
                                                              static_cast<size_t>(field->Size())))
                                   : std::string_view());
      return;
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint: {
      if (in == nullptr) {
        h.PutString(n, "");
        return;
      }
      int64_t value = 0;
      if (field->DataType() == TFieldType::ftSmallint) {
        int16_t v = 0;
        std::memcpy(&v, in, sizeof v);
        value = v;
      } else if (field->DataType() == TFieldType::ftInteger) {
        int32_t v = 0;
        std::memcpy(&v, in, sizeof v);
        value = v;
      } else {
        std::memcpy(&value, in, sizeof value);
      }
      if ((value > -kExactDoubleLimit && value < kExactDoubleLimit) || h.FieldType(n) == 'I') {
        h.PutFloat(n, static_cast<double>(value));
        return;
      }
      // Beyond 53 bits the digits go in as text, checked against the width as PutFloat would.
      const std::string text = std::to_string(value);
      if (static_cast<int>(text.size()) > h.FieldLength(n)) {
        throw ESorrelError(smNumericTooBig, {field->FieldName() + " - " + text});
      }
      h.PutString(n, text);
      return;
    }
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftDateTime: {
      if (in == nullptr) {
        h.PutString(n, "");
        return;
      }
      double v = 0;
      std::memcpy(&v, in, sizeof v);
      h.PutFloat(n, v);
      return;
    }
    case TFieldType::ftBoolean: {
      if (in == nullptr) {
        h.PutString(n, "");
        return;
      }
      int16_t v = 0;
      std::memcpy(&v, in, sizeof v);
      h.PutLogical(n, v != 0);
      return;
    }
    case TFieldType::ftDate: {
      if (in == nullptr) {
        h.PutString(n, "        ");
        return;
      }
      int32_t days = 0;
      std::memcpy(&days, in, sizeof days);
      h.PutDate(n, days + kJulianOfDayZero);
      return;
    }
    default:
      // Memo and binary fields are written through their blob stream.
      return;
  }
}

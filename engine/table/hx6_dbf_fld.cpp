#include "table/hx6_dbf_fld.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "base/SysSorl.h"
#include "base/byteorder.h"
#include "base/hx6_date.h"
#include "base/hx6_glbl.h"
#include "table/hx6_memo.h"
#include "expr/hx6_sql.h"
#include "base/hx6_tool.h"

namespace {

std::string TrimRight(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  return std::string(text.substr(0, end));
}

std::string TrimLeft(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size() && text[begin] == ' ') ++begin;
  return std::string(text.substr(begin));
}

// `value` with `decimals` digits after the point, in the C locale whatever the process's locale,
// halves rounded away from zero like every fixed-decimal text of the engine (2.675 -> "2.68").
std::string FormatFixed(double value, int decimals) { return SysFloatToFixed(value, decimals); }

// A memo block number as the field's text gives it: blank, zero or anything that is not a whole
// number means no memo.
uint32_t ParseBlock(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && text[begin] == ' ') ++begin;
  while (end > begin && text[end - 1] == ' ') --end;
  uint32_t block = 0;
  auto [ptr, ec] = std::from_chars(text.data() + begin, text.data() + end, block);
  if (ec != std::errc() || ptr != text.data() + end) return 0;
  return block;
}

}  // namespace

HXO_dBaseFld::HXO_dBaseFld(std::string_view path, bool shared, bool readWrite,
                           std::string_view password)
    : HXO_dBaseDBF(path, shared, readWrite, password) {
  // The table has checked that every field lies inside the record (and, for an encrypted table,
  // that the lengths add up to the record length, which tells a wrong key).
  fieldList_.reserve(static_cast<size_t>(FieldCount()));
  for (int n = 1; n <= FieldCount(); ++n)
    fieldList_.push_back(std::make_unique<ThxDBFFields>(this, FieldInfo(n)));
  changed_.assign(static_cast<size_t>(FieldCount()) + 1, 0);
  RegisterExpressions();
}

HXO_dBaseFld::~HXO_dBaseFld() = default;

const ThxFieldInfo* HXO_dBaseFld::Info(int number) const {
  if (number < 1 || number > FieldCount()) return nullptr;
  return &FieldInfo(number);
}

const ThxDBFFields* HXO_dBaseFld::Field(int number) const {
  if (number < 1 || number > FieldListCount()) return nullptr;
  return fieldList_[static_cast<size_t>(number - 1)].get();
}

int HXO_dBaseFld::FieldNumber(std::string_view name) const {
  std::string wanted(name.substr(0, 11));
  while (!wanted.empty() && wanted.back() == ' ') wanted.pop_back();
  for (int n = 1; n <= FieldCount(); ++n)
    if (SysStrIComp(wanted.c_str(), FieldInfo(n).name.c_str()) == 0) return n;
  return 0;
}

int HXO_dBaseFld::RequireField(std::string_view name) const {
  const int n = FieldNumber(name);
  if (n == 0) throw ESorrelError(smNoFieldName, {Name() + "->" + std::string(name)});
  return n;
}

std::string HXO_dBaseFld::BaseName() const { return StripFileExt(Name()); }

bool HXO_dBaseFld::IsBinary30(char type) const {
  if (Version() != kDbfVersionFoxBacklink) return false;
  return type == 'B' || type == 'I' || type == 'G' || type == 'M' || type == 'T' || type == 'Y';
}

void HXO_dBaseFld::ReadBinary(const ThxFieldInfo& f, void* out, int size) {
  std::memset(out, 0, static_cast<size_t>(size));
  std::memcpy(out, FieldBytes(f), static_cast<size_t>(std::min(size, f.length)));
}

void HXO_dBaseFld::WriteBinary(const ThxFieldInfo& f, const void* in, int size) {
  // A field narrower than its type (a damaged descriptor) takes only what fits.
  std::memcpy(FieldBytes(f), in, static_cast<size_t>(std::min(size, f.length)));
}

void HXO_dBaseFld::MarkChanged(int number) {
  changed_[static_cast<size_t>(number)] = 1;
  changed_[0] = 1;
}

bool HXO_dBaseFld::FieldChanged(int number) const {
  if (number < 1 || number > FieldCount()) return false;
  return changed_[static_cast<size_t>(number)] != 0;
}

void HXO_dBaseFld::ClearChangedFlags() { std::fill(changed_.begin(), changed_.end(), 0); }

void HXO_dBaseFld::StatusNotify(int code, int32_t record) {
  if (code == kStatusBeforeRead) pendingMemos_.clear();  // the edit is dropped unwritten
  if (code == kStatusAfterRead) ClearChangedFlags();
  if (code == kStatusAfterWrite) SettleMemoReleases(record);
  HXO_dBaseDBF::StatusNotify(code, record);
}

uint8_t* HXO_dBaseFld::FieldDescriptor(std::string_view name) {
  const int n = RequireField(name);
  return Descriptors() + static_cast<size_t>(n - 1) * kDbfDescriptorSize;
}

void HXO_dBaseFld::BlankRecord() {
  std::memset(RecordBuffer(), ' ', static_cast<size_t>(RecordLength()));
  for (int n = 1; n <= FieldCount(); ++n) {
    const char type = FieldInfo(n).type;
    if (type == 'N' || type == 'F' || IsBinary30(type)) PutFloat(n, 0.0);
  }
  std::fill(changed_.begin(), changed_.end(), 1);
  SetAppending(true);
  StatusNotify(kStatusBlank, RecNo());
}

// ---------------------------------------------------------------------------------------------
// Texts

std::string HXO_dBaseFld::GetString(std::string_view name) { return GetString(RequireField(name)); }

std::string HXO_dBaseFld::GetString(int number) {
  const ThxFieldInfo* f = Info(number);
  if (f == nullptr) return {};
  return std::string(FieldBytes(*f), static_cast<size_t>(f->length));
}

bool HXO_dBaseFld::PutString(std::string_view name, std::string_view text) {
  return PutString(RequireField(name), text);
}

bool HXO_dBaseFld::PutString(int number, std::string_view text) {
  const ThxFieldInfo* f = Info(number);
  if (f == nullptr) return false;
  char* field = FieldBytes(*f);
  const size_t length = static_cast<size_t>(f->length);
  std::memset(field, ' ', length);
  const std::string_view cut = text.substr(0, std::min(text.size(), length));
  const bool leftAligned = f->type == 'C' || f->type == 'D' || f->type == 'L';
  std::memcpy(field + (leftAligned ? 0 : length - cut.size()), cut.data(), cut.size());
  MarkChanged(number);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Dates

int32_t HXO_dBaseFld::GetDate(std::string_view name) { return GetDate(RequireField(name)); }

int32_t HXO_dBaseFld::GetDate(int number) {
  const ThxFieldInfo* f = Info(number);
  if (f == nullptr) return 0;
  const std::string text = GetString(number);
  try {
    return DBFDate().CTOD(text);
  } catch (const EConvertError&) {
    throw ESorrelError(smInvalidDate, {BaseName() + "->" + f->name + " (" + text + ")"});
  }
}

bool HXO_dBaseFld::PutDate(std::string_view name, int32_t day) {
  return PutDate(RequireField(name), day);
}

bool HXO_dBaseFld::PutDate(int number, int32_t day) {
  const ThxFieldInfo* f = Info(number);
  if (f == nullptr || f->type != 'D') return false;
  if (day == -1) throw ESorrelError(smInvalidValueForField, {"Date", f->name});
  return PutString(number, DBFDate().DTOS(day));
}

// ---------------------------------------------------------------------------------------------
// Logicals

bool HXO_dBaseFld::GetLogical(std::string_view name) { return GetLogical(RequireField(name)); }

bool HXO_dBaseFld::GetLogical(int number) {
  const std::string text = GetString(number);
  return !text.empty() && kTrueLetters.find(text) != std::string_view::npos;
}

bool HXO_dBaseFld::PutLogical(std::string_view name, bool value) {
  return PutLogical(RequireField(name), value);
}

bool HXO_dBaseFld::PutLogical(int number, bool value) {
  const ThxFieldInfo* f = Info(number);
  if (f == nullptr) return false;
  if (f->type != 'L') throw ESorrelError(smInvalidValueForField, {"Logical", f->name});
  return PutString(number, value ? "T" : "F");
}

// ---------------------------------------------------------------------------------------------
// Numbers

double HXO_dBaseFld::GetFloat(std::string_view name) { return GetFloat(RequireField(name)); }

double HXO_dBaseFld::GetFloat(int number) {
  const ThxFieldInfo* f = Info(number);
  if (f == nullptr) return 0.0;
  if (IsBinary30(f->type)) {
    uint8_t bytes[8];
    ReadBinary(*f, bytes, 8);
    switch (f->type) {
      case 'B':
        return DecodeDouble(bytes);
      case 'T': {
        const auto day = static_cast<int32_t>(DecodeLE32(bytes));
        const auto ms = static_cast<int32_t>(DecodeLE32(bytes + 4));
        if (day == 0 && ms == 0) return 0.0;  // the empty date-time
        return (static_cast<double>(day) - kDateTimeJulianBase) * kMillisecondsPerDay + ms;
      }
      case 'Y':
        return static_cast<double>(static_cast<int64_t>(DecodeLE64(bytes))) / 10000.0;
      default:  // I, G, M
        if (std::memcmp(bytes, "    ", 4) == 0) return 0.0;
        return static_cast<double>(static_cast<int32_t>(DecodeLE32(bytes)));
    }
  }
  // Read in place: a numeric filter or key reads this once per record.
  return NumberOfText(FieldView(number), *f);
}

double HXO_dBaseFld::FloatIn(const char* record, int number) const {
  const ThxFieldInfo* f = Info(number);
  if (f == nullptr) return 0.0;
  return NumberOfText(std::string_view(record + f->offset, static_cast<size_t>(f->length)), *f);
}

double HXO_dBaseFld::NumberOfText(std::string_view text, const ThxFieldInfo& field) const {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return 0.0;
  double value = 0.0;
  if (!ExpTextToFloat(text, value))
    throw ESorrelError(smInvalidNumeric,
                       {BaseName() + "->" + field.name + " (" + std::string(text) + ")"});
  return value;
}

int32_t HXO_dBaseFld::DateIn(const char* record, int number) const {
  const ThxFieldInfo* f = Info(number);
  if (f == nullptr) return 0;
  const std::string text(record + f->offset, static_cast<size_t>(f->length));
  try {
    return DBFDate().CTOD(text);
  } catch (const EConvertError&) {
    throw ESorrelError(smInvalidDate, {BaseName() + "->" + f->name + " (" + text + ")"});
  }
}

bool HXO_dBaseFld::LogicalIn(const char* record, int number) const {
  const ThxFieldInfo* f = Info(number);
  if (f == nullptr) return false;
  const std::string text(record + f->offset, static_cast<size_t>(f->length));
  return !text.empty() && kTrueLetters.find(text) != std::string_view::npos;
}

bool HXO_dBaseFld::PutFloat(std::string_view name, double value) {
  return PutFloat(RequireField(name), value);
}

bool HXO_dBaseFld::PutFloat(int number, double value) {
  const ThxFieldInfo* f = Info(number);
  if (f == nullptr) return false;
  const char type = f->type;
  const bool binary = IsBinary30(type);
  if (!(type == 'B' || type == 'F' || type == 'G' || type == 'M' || type == 'N' || binary))
    throw ESorrelError(smFieldIncorrectType, {f->name});
  // Infinity and not-a-number have no place in a table; no other program reads them back.
  if (!std::isfinite(value)) throw ESorrelError(smInvalidValueForField, {"Number", f->name});
  auto tooBig = [&]() {
    return ESorrelError(smNumericTooBig,
                        {f->name + " - " + FormatFixed(value, type == 'Y' ? 4 : 0)});
  };
  if (binary) {
    uint8_t bytes[8] = {};
    int size = 4;
    switch (type) {
      case 'B':
        EncodeDouble(bytes, value);
        size = 8;
        break;
      case 'T': {
        size = 8;
        if (value != 0.0) {
          const double days = std::floor(value / kMillisecondsPerDay);
          const double day = days + kDateTimeJulianBase;
          if (day < 1 || day > INT32_MAX) throw tooBig();
          double ms = std::round(value - days * kMillisecondsPerDay);
          double whole = day;
          if (ms >= kMillisecondsPerDay) {  // rounded up into the next day
            ms -= kMillisecondsPerDay;
            whole += 1;
          }
          EncodeLE32(bytes, static_cast<uint32_t>(static_cast<int32_t>(whole)));
          EncodeLE32(bytes + 4, static_cast<uint32_t>(static_cast<int32_t>(ms)));
        }
        break;
      }
      case 'Y': {
        size = 8;
        const double amount = std::round(value * 10000.0);
        if (std::fabs(amount) >= 9.2e18) throw tooBig();
        EncodeLE64(bytes, static_cast<uint64_t>(static_cast<int64_t>(amount)));
        break;
      }
      default: {  // I, G, M
        const double whole = std::round(value);
        if (whole < INT32_MIN || whole > INT32_MAX) throw tooBig();
        EncodeLE32(bytes, static_cast<uint32_t>(static_cast<int32_t>(whole)));
        break;
      }
    }
    WriteBinary(*f, bytes, size);
    MarkChanged(number);
    return true;
  }
  const std::string text = FormatFixed(value, f->decimals);
  if (text.size() > static_cast<size_t>(f->length))
    throw ESorrelError(smNumericTooBig, {f->name + " - " + text});
  return PutString(number, text);
}

// ---------------------------------------------------------------------------------------------
// Conversions from and to text

bool HXO_dBaseFld::PutText(std::string_view name, std::string_view text) {
  return PutText(RequireField(name), text);
}

bool HXO_dBaseFld::PutText(int number, std::string_view text) {
  const ThxFieldInfo* f = Info(number);
  if (f == nullptr) return false;
  switch (f->type) {
    case 'D': {
      int32_t day = 0;
      try {
        day = DBFDate().CTOD(text);
      } catch (const EConvertError&) {
        throw ESorrelError(smInvalidValueForField, {"Date", f->name});
      }
      return PutDate(number, day);
    }
    case 'L': {
      if (text.empty()) return PutString(number, "F");
      if (IsTrueLetter(text[0])) return PutString(number, "T");
      if (IsFalseLetter(text[0])) return PutString(number, "F");
      double value = 0.0;
      if (!ExpTextToFloat(text, value))
        throw ESorrelError(smInvalidValueForField, {"Logical", f->name});
      return PutString(number, value != 0.0 ? "T" : "F");
    }
    case 'M':
      PutMemo(number, text);
      return true;
    case 'N': {
      double value = 0.0;
      if (!TrimRight(text).empty() && !ExpTextToFloat(text, value))
        throw ESorrelError(smInvalidValueForField, {"Number", f->name});
      return PutFloat(number, value);
    }
    default:
      return PutString(number, text);
  }
}

std::string HXO_dBaseFld::GetDisplayText(std::string_view name) {
  return GetDisplayText(RequireField(name));
}

std::string HXO_dBaseFld::GetDisplayText(int number) {
  const ThxFieldInfo* f = Info(number);
  if (f == nullptr) return {};
  const std::string text = TrimRight(GetString(number));
  switch (f->type) {
    case 'B': {
      const bool present = IsBinary30('B') ? GetFloat(number) != 0.0 : MemoBlock(number) > 0;
      return present ? "--BINARY--" : "--binary--";
    }
    case 'G':
      return MemoBlock(number) > 0 ? "-GENERAL--" : "-general--";
    case 'D':
      return DBFDate().DTOC(GetDate(number));
    case 'F':
    case 'N':
      if (text.empty()) return TrimLeft(FormatFixed(0.0, f->decimals));
      return TrimLeft(text);
    case 'M':
      return GetMemo(number);
    default:
      return text;
  }
}

// ---------------------------------------------------------------------------------------------
// Deletion mark

void HXO_dBaseFld::DeleteRecord() {
  if (IsDeleted()) return;
  RecordBuffer()[0] = kRecordDeleted;
  MarkRecordChanged();
  UpdateRecord(RecNo());
}

void HXO_dBaseFld::RecallRecord() {
  if (!IsDeleted()) return;
  RecordBuffer()[0] = kRecordLive;
  MarkRecordChanged();
  UpdateRecord(RecNo());
}

// ---------------------------------------------------------------------------------------------
// Descriptor values

int HXO_dBaseFld::FieldDecimals(int number) {
  const ThxFieldInfo* f = Info(number);
  return f == nullptr ? 0 : f->decimals;
}

int HXO_dBaseFld::FieldLength(int number) {
  const ThxFieldInfo* f = Info(number);
  return f == nullptr ? 0 : f->length;
}

int HXO_dBaseFld::FieldOffset(int number) {
  const ThxFieldInfo* f = Info(number);
  return f == nullptr ? 0 : f->offset;
}

std::string HXO_dBaseFld::FieldName(int number) {
  const ThxFieldInfo* f = Info(number);
  return f == nullptr ? std::string() : f->name;
}

char HXO_dBaseFld::FieldType(int number) {
  const ThxFieldInfo* f = Info(number);
  return f == nullptr ? '\0' : f->type;
}

// ---------------------------------------------------------------------------------------------
// Memo fields

uint32_t HXO_dBaseFld::MemoBlock(std::string_view name) { return MemoBlock(RequireField(name)); }

uint32_t HXO_dBaseFld::MemoBlock(int number) {
  const ThxFieldInfo* f = Info(number);
  if (f == nullptr) return 0;
  if (Version() == kDbfVersionFoxBacklink) {
    if (f->type != 'G' && f->type != 'M') return 0;
    uint8_t bytes[4];
    ReadBinary(*f, bytes, 4);
    if (std::memcmp(bytes, "    ", 4) == 0) return 0;
    const auto block = static_cast<int32_t>(DecodeLE32(bytes));
    return block > 0 ? static_cast<uint32_t>(block) : 0;
  }
  return ParseBlock(std::string_view(FieldBytes(*f), static_cast<size_t>(f->length)));
}

void HXO_dBaseFld::SetMemoBlock(const ThxFieldInfo& f, uint32_t block) {
  if (Version() == kDbfVersionFoxBacklink) {
    uint8_t bytes[4];
    EncodeLE32(bytes, block);
    WriteBinary(f, bytes, 4);
    MarkChanged(f.number);
    return;
  }
  const std::string text = std::to_string(block);
  if (text.size() > static_cast<size_t>(f.length))
    throw ESorrelError(smNumericTooBig, {f.name + " - " + text});
  PutString(f.number, text);
}

std::string HXO_dBaseFld::GetMemo(std::string_view name) { return GetMemo(RequireField(name)); }

std::string HXO_dBaseFld::GetMemo(int number) {
  const uint32_t block = MemoBlock(number);
  if (block == 0) return {};
  HXobjMemo* memo = MemoFile();
  if (memo == nullptr) return {};
  return memo->ReadText(block);
}

uint32_t HXO_dBaseFld::MemoLength(int number) {
  const uint32_t block = MemoBlock(number);
  if (block == 0) return 0;
  HXobjMemo* memo = MemoFile();
  return memo == nullptr ? 0 : memo->DataLength(block);
}

void HXO_dBaseFld::PutMemo(std::string_view name, std::string_view text) {
  PutMemo(RequireField(name), text);
}

void HXO_dBaseFld::PutMemo(int number, std::string_view text) {
  const ThxFieldInfo* f = Info(number);
  if (f == nullptr) return;
  HXobjMemo* memo = MemoFile();
  // A table without a memo file cannot keep the text; dropping it silently would lose it.
  if (memo == nullptr) {
    std::string memoName = Name();
    const size_t slash = memoName.find_last_of('/');
    const size_t dot = memoName.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
      memoName.resize(dot);
    const bool fox = Version() == kDbfVersionFoxBacklink || Version() == kDbfVersionFoxMemo;
    throw ESorrelError(smFileNotFound, {memoName.append(fox ? ".fpt" : ".dbt")});
  }
  const uint32_t current = MemoBlock(number);
  uint32_t block = 0;
  // The record on disk still points at the old memo until it is written, and an edit may yet be
  // cancelled: the new text takes fresh blocks and never overwrites the old memo. dBase IV gives
  // the old run back once the record is written (SettleMemoReleases); dBase III and FoxPro never
  // reuse a replaced memo's blocks. A text written before in this same edit is on no record yet
  // and may be replaced at once.
  PendingMemo* pending = nullptr;
  for (PendingMemo& p : pendingMemos_)
    if (p.field == number && p.record == RecNo() && p.newBlock == current && current != 0)
      pending = &p;
  if (pending != nullptr) {
    block = memo->WriteText(text, current);
    pending->newBlock = block;
  } else {
    block = memo->WriteText(text, 0);
    pendingMemos_.push_back({number, RecNo(), current, block});
  }
  SetMemoBlock(*f, block);
}

void HXO_dBaseFld::SettleMemoReleases(int32_t) {
  std::vector<PendingMemo> pending;
  pending.swap(pendingMemos_);
  if (pending.empty()) return;
  HXobjMemo* memo = MemoFile();
  if (memo == nullptr) return;
  for (const PendingMemo& p : pending) {
    const ThxFieldInfo& f = FieldInfo(p.field);
    // Only the record the text was written for, holding the new block now and the old one in the
    // copy last read from disk, gives its old run back; anything else (a copy appended as a new
    // record, an edit dropped for another) keeps the old run, which costs space but no memo.
    if (p.record != RecNo() || p.oldBlock == 0 || p.oldBlock == p.newBlock) continue;
    if (MemoBlock(p.field) != p.newBlock) continue;
    const char* saved = SavedRecord() + f.offset;
    uint32_t savedBlock = 0;
    if (Version() == kDbfVersionFoxBacklink) {
      uint8_t bytes[4] = {};
      std::memcpy(bytes, saved, static_cast<size_t>(std::min(4, f.length)));
      savedBlock = DecodeLE32(bytes);
    } else {
      savedBlock = ParseBlock(std::string_view(saved, static_cast<size_t>(f.length)));
    }
    if (savedBlock != p.oldBlock) continue;
    try {
      memo->Release(p.oldBlock);
    } catch (const ESorrelException&) {
      // The record is written; a run that cannot be given back now only stays unused.
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Scratch records for searches

void HXO_dBaseFld::LoadFieldValues(char* buffer, std::string_view fieldNames,
                                   const std::vector<std::optional<std::string>>& values) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= fieldNames.size()) {
    size_t end = fieldNames.find(';', start);
    if (end == std::string_view::npos) end = fieldNames.size();
    std::string name = TrimLeft(TrimRight(fieldNames.substr(start, end - start)));
    if (!name.empty()) names.push_back(std::move(name));
    start = end + 1;
  }
  struct Restore {
    HXO_dBaseFld* table;
    char* previous;
    ~Restore() { table->SetRecordBuffer(previous); }
  } restore{this, SetRecordBuffer(buffer)};
  BlankRecord();
  for (size_t i = 0; i < names.size(); ++i) {
    const std::optional<std::string>* value = nullptr;
    if (values.size() == 1)
      value = &values[0];
    else if (i < values.size())
      value = &values[i];
    PutText(names[i], value != nullptr && value->has_value() ? std::string_view(**value)
                                                             : std::string_view());
  }
}

// dbfield: the field side of the dataset core: values, field definitions, field objects and index
// definitions.
//
// A TFieldDef describes one column as the cursor reports it (name, type, size, number). A TField
// is the object through which code and data-aware controls read and write that column of the
// active record: typed accessors (text, 32- and 64-bit integer, float, Boolean, date-time, value,
// null, clear) convert between the field's native buffer form and the asked type; writes run the
// field's validation (OnValidate) and then go to the data set's SetFieldData. Data fields map to
// the cursor's columns; calculated and lookup fields live in the calculated-fields part of each
// record buffer and are filled by the data set's calculation step.
//
// Native buffer forms (what GetFieldData/SetFieldData exchange):
//   string              Size() + 1 bytes, zero-terminated text
//   small integer       int16        integer      int32        large integer   int64
//   Boolean             int16 (0 false, else true)
//   float, currency     double
//   date                int32 day count, 1 January of year 1 = 1
//   date-time           double milliseconds, 1 January of year 1 at midnight = 86400000
//   memo, blob          uint32 memo block number (the content is read through a blob stream)
//
// Ownership: a data set owns its TFields (TFields list) and its TFieldDefs; a field keeps a plain
// pointer to its data set. Thread-safety: none; one thread uses a data set and its fields.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class TDataSet;
class TField;

enum class TFieldType : uint8_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftLargeint,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftDate,
  ftDateTime,
  ftMemo,
  ftBlob,
};

enum class TFieldKind : uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc };

// The type's name as error texts show it ("String", "Integer", ...).
std::string_view FieldTypeName(TFieldType type);

// Days since 30 December 1899; the fraction is the time of day.
using TDateTime = double;

// Conversions between the date-time value and the native date and date-time forms.
int32_t DateTimeToNativeDate(TDateTime value);
TDateTime NativeDateToDateTime(int32_t days);
double DateTimeToNativeMSecs(TDateTime value);
TDateTime NativeMSecsToDateTime(double msecs);
// The engine's Julian day number and the date-time value (0 = empty date maps to 0).
TDateTime JulianToDateTime(int32_t julian);
int32_t DateTimeToJulian(TDateTime value);

// A field or search value: null, logical, whole number, number, text or date-time.
class TVarValue {
 public:
  struct Date {
    TDateTime value;
    bool operator==(const Date&) const = default;
  };
  enum class Kind : uint8_t { Null, Boolean, Integer, Float, Text, DateTime };

  TVarValue() = default;
  TVarValue(bool value) : v_(value) {}
  TVarValue(int value) : v_(static_cast<int64_t>(value)) {}
  TVarValue(int64_t value) : v_(value) {}
  TVarValue(double value) : v_(value) {}
  TVarValue(std::string value) : v_(std::move(value)) {}
  TVarValue(std::string_view value) : v_(std::string(value)) {}
  TVarValue(const char* value) : v_(std::string(value)) {}
  static TVarValue FromDateTime(TDateTime value) { return TVarValue(Date{value}); }

  Kind GetKind() const { return static_cast<Kind>(v_.index()); }
  bool IsNull() const { return v_.index() == 0; }
  bool AsBoolean() const;
  int64_t AsInteger() const;
  double AsFloat() const;
  TDateTime AsDateTime() const;
  // Text of the value (C locale for numbers; "True"/"False"; a date-time in the short date form);
  // empty for null.
  std::string AsString() const;

  bool operator==(const TVarValue& other) const;

 private:
  explicit TVarValue(Date d) : v_(d) {}
  std::variant<std::monostate, bool, int64_t, double, std::string, Date> v_;
};

// One column as the cursor describes it.
struct TFieldDef {
  std::string Name;
  TFieldType DataType = TFieldType::ftUnknown;
  int Size = 0;  // text length for strings, else 0
  bool Required = false;
  int FieldNo = 0;  // from 1
};

class TFieldDefs {
 public:
  void Clear() { items_.clear(); }
  TFieldDef& Add(std::string name, TFieldType type, int size = 0, bool required = false);
  int Count() const { return static_cast<int>(items_.size()); }
  const TFieldDef& Items(int index) const { return items_.at(static_cast<size_t>(index)); }
  // The definition of that name (case ignored), or null.
  const TFieldDef* Find(std::string_view name) const;
  bool Updated() const { return updated_; }
  void SetUpdated(bool on) { updated_ = on; }

 private:
  std::vector<TFieldDef> items_;
  bool updated_ = false;
};

// A blob stream as the data set hands it out for memo and binary fields.
enum class TBlobStreamMode : uint8_t { bmRead, bmWrite, bmReadWrite };
enum class TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

class TBlobStream {
 public:
  virtual ~TBlobStream() = default;
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  // Stores what was written, raising the errors a destructor would have to swallow.
  virtual void Flush() {}
};

class TField {
 public:
  TField(TDataSet* dataSet, std::string fieldName, TFieldType type, int size = 0,
         TFieldKind kind = TFieldKind::fkData);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;
  virtual ~TField() = default;

  TDataSet* DataSet() const { return dataSet_; }
  const std::string& FieldName() const { return fieldName_; }
  TFieldType DataType() const { return dataType_; }
  int Size() const { return size_; }
  TFieldKind FieldKind() const { return fieldKind_; }
  // Calculated or lookup: held behind the record in the calculated-fields area.
  bool Calculated() const {
    return fieldKind_ == TFieldKind::fkCalculated || fieldKind_ == TFieldKind::fkLookup;
  }
  bool Lookup() const { return fieldKind_ == TFieldKind::fkLookup; }
  // Column number from 1 for data fields; below 1 for calculated and lookup fields.
  int FieldNo() const { return fieldNo_; }
  void SetFieldNo(int number) { fieldNo_ = number; }
  // Offset of the has-value byte of a calculated field inside the calculated-fields area.
  int Offset() const { return offset_; }
  void SetOffset(int offset) { offset_ = offset; }
  // Bytes of the native form.
  int DataSize() const;
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool on) { readOnly_ = on; }
  bool Required() const { return required_; }
  void SetRequired(bool on) { required_ = on; }
  bool Visible() const { return visible_; }
  void SetVisible(bool on) { visible_ = on; }
  // Text of this field is converted between the OEM and ANSI code pages (strings and memos).
  bool Transliterate() const { return transliterate_; }
  void SetTransliterate(bool on) { transliterate_ = on; }
  // Set when a blob stream wrote new content into the field.
  bool Modified() const { return modified_; }
  void SetModified(bool on) { modified_ = on; }
  const std::string& DisplayLabel() const { return displayLabel_; }
  void SetDisplayLabel(std::string label) { displayLabel_ = std::move(label); }
  // The display label, or the field name without one.
  const std::string& DisplayName() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }
  // Whether this is a field of the data set's current index (the data set decides).
  bool IsIndexField() const;
  // Not read-only, the data set can be modified, and a data field (or calculated in calc state).
  bool CanModify() const;

  // Lookup definition: for each record, the values of KeyFields (';'-separated, this data set)
  // are sought under LookupKeyFields in LookupDataSet, and LookupResultField of the match is the
  // field's value.
  TDataSet* LookupDataSet() const { return lookupDataSet_; }
  void SetLookupDataSet(TDataSet* dataSet) { lookupDataSet_ = dataSet; }
  const std::string& KeyFields() const { return keyFields_; }
  void SetKeyFields(std::string names) { keyFields_ = std::move(names); }
  const std::string& LookupKeyFields() const { return lookupKeyFields_; }
  void SetLookupKeyFields(std::string names) { lookupKeyFields_ = std::move(names); }
  const std::string& LookupResultField() const { return lookupResultField_; }
  void SetLookupResultField(std::string name) { lookupResultField_ = std::move(name); }

  // Events: OnValidate runs before a value is written (read the new value through the accessors;
  // raise to refuse it); OnChange after a value was written.
  std::function<void(TField&)> OnValidate;
  std::function<void(TField&)> OnChange;

  // Native access. GetData copies the native form into `buffer` (DataSize() bytes) and answers
  // whether the field has a value; SetData writes it (null for a null buffer).
  bool GetData(void* buffer) const;
  void SetData(const void* buffer);
  // Runs OnValidate with `buffer` as the field's value for its duration.
  void Validate(const void* buffer);
  // Called by the data set after the value changed.
  void Change();

  bool IsNull() const;
  void Clear() { SetData(nullptr); }
  std::string AsString() const;
  void SetAsString(std::string_view text);
  // Whole numbers: AsInteger refuses a value outside 32 bits rather than wrap it.
  int32_t AsInteger() const;
  void SetAsInteger(int32_t value);
  int64_t AsLargeInt() const;
  void SetAsLargeInt(int64_t value);
  double AsFloat() const;
  void SetAsFloat(double value);
  bool AsBoolean() const;
  void SetAsBoolean(bool value);
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime value);
  TVarValue Value() const;
  void SetValue(const TVarValue& value);

 private:
  std::vector<char> Native() const;  // DataSize() bytes; empty when the field is null
  void SetNativeInteger(int64_t value);
  [[noreturn]] void RaiseRange(double value, double low, double high) const;
  [[noreturn]] void RaiseInvalid(const char* what, std::string_view text) const;
  std::string ReadBlob() const;
  void WriteBlob(std::string_view text);

  TDataSet* dataSet_;
  std::string fieldName_;
  TFieldType dataType_;
  int size_;
  TFieldKind fieldKind_;
  int fieldNo_ = 0;
  int offset_ = 0;
  bool readOnly_ = false;
  bool required_ = false;
  bool visible_ = true;
  bool transliterate_;
  bool modified_ = false;
  std::string displayLabel_;
  TDataSet* lookupDataSet_ = nullptr;
  std::string keyFields_;
  std::string lookupKeyFields_;
  std::string lookupResultField_;
  // While OnValidate runs, reads see the value being written.
  const void* validating_ = nullptr;
  bool validatingNull_ = false;
};

// The fields of a data set, in column order; owns them.
class TFields {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TField* Items(int index) const { return items_.at(static_cast<size_t>(index)).get(); }
  TField* Add(std::unique_ptr<TField> field);
  // The field of that name (case ignored), or null.
  TField* FindField(std::string_view name) const;
  void Clear() { items_.clear(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<std::unique_ptr<TField>> items_;
};

// Index definitions: one per tag the data set can order by.
enum TIndexOption : uint8_t {
  ixPrimary = 1,
  ixUnique = 2,
  ixDescending = 4,
  ixCaseInsensitive = 8,
  ixExpression = 16,
};

struct TIndexDef {
  std::string Name;
  std::string Fields;  // ';'-separated names, or the whole expression with ixExpression
  uint8_t Options = 0;
};

class TIndexDefs {
 public:
  void Clear() { items_.clear(); }
  TIndexDef& Add(std::string name, std::string fields, uint8_t options = 0);
  int Count() const { return static_cast<int>(items_.size()); }
  const TIndexDef& Items(int index) const { return items_.at(static_cast<size_t>(index)); }
  const TIndexDef* Find(std::string_view name) const;
  bool Updated() const { return updated_; }
  void SetUpdated(bool on) { updated_ = on; }

 private:
  std::vector<TIndexDef> items_;
  bool updated_ = false;
};

// Splits a ';'-separated field list into trimmed names (empty names dropped).
std::vector<std::string> SplitFieldNames(std::string_view names);

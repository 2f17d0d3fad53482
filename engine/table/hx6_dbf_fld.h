// hx6_dbf_fld: typed access to the fields of a table's current record.
//
// HXO_dBaseFld is an open table (HXO_dBaseDBF) with its field dictionary: it reads and writes the
// fields of the record buffer by name or by number as text, number, date, logical or memo text,
// converting between the record's text form and native values. At open it makes the table's
// expression registry (ThxExpUserLink) with the pseudo-functions RECNO, DELETED, BOF, EOF, TYPE,
// LEN and FIELDNO and one field variable per field (under NAME and ALIAS.NAME), so that index
// keys and filters see the current record.
//
// It owns its field list (ThxDBFFields, one per field) and the expression registry; the registry
// owns the field variables and pseudo-functions, which point back at the table.
//
// Access comes in pairs: by field name (unknown names raise "There is no field name %s") and by
// field number from 1 (numbers out of range do nothing and answer 0, false or an empty text).
//
// Field encodings in the record:
//   C        text, left-aligned, blank-padded (length = length byte + 256 x decimals byte)
//   N, F     number as text, right-aligned, with the descriptor's decimals; all blanks read as 0
//   D        "yyyymmdd", eight blanks for the empty date
//   L        "T" or "F" written; any of "TtYyJj" reads as true
//   M, B, G  memo block number as right-aligned text (blank or 0 = none)
//   version 0x30 only: B 8-byte double; I, G, M 4-byte integer (four blanks read as 0);
//            T 32-bit Julian day then 32-bit milliseconds of the day; Y 64-bit amount x 10000
//
// Memo writes of a dBase IV table take a new run of blocks and give the old run back only once the
// record that pointed at it has been written over, so that an edit that is never posted cannot
// leave a record pointing at blocks another memo may take.
//
// Thread-safety: one table object is used by one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "table/hx6_dbf.h"

class HXO_dBaseFld;
class ThxExpUserLink;
class ThxUserDefFieldVar;

// One field of an open table, as its descriptor gives it.
class ThxDBFFields {
 public:
  ThxDBFFields(HXO_dBaseFld* table, const ThxFieldInfo& info)
      : table_(table),
        name_(info.name),
        type_(info.type),
        length_(info.length),
        decimals_(info.decimals),
        number_(info.number),
        offset_(info.offset) {}

  HXO_dBaseFld* Table() const { return table_; }
  const std::string& Name() const { return name_; }
  char Type() const { return type_; }
  int Length() const { return length_; }
  int Decimals() const { return decimals_; }
  int Number() const { return number_; }
  int Offset() const { return offset_; }
  // The field variable registered for the field's expressions; null when its name was taken.
  ThxUserDefFieldVar* FieldVar() const { return fieldVar_; }
  void SetFieldVar(ThxUserDefFieldVar* fieldVar) { fieldVar_ = fieldVar; }

 private:
  HXO_dBaseFld* table_;
  std::string name_;
  char type_;
  int length_;
  int decimals_;
  int number_;
  int offset_;
  ThxUserDefFieldVar* fieldVar_ = nullptr;
};

// Julian day number of 1 January of year 1, the origin of the binary date-time field (T).
inline constexpr int32_t kDateTimeJulianBase = 1721425;
inline constexpr double kMillisecondsPerDay = 86400000.0;

// A record image read by the expressions of a record link (HXO_dBaseFld::MakeRecordLink): the
// owner points `record` at the image (RecordLength() bytes) and sets its record number.
struct ThxRecordSource {
  const char* record = nullptr;
  int32_t recordNumber = 0;
};

class HXO_dBaseFld : public HXO_dBaseDBF {
 public:
  // Opens the table (see HXO_dBaseDBF) and builds its field list and expression registry.
  HXO_dBaseFld(std::string_view path, bool shared, bool readWrite, std::string_view password = {});
  ~HXO_dBaseFld() override;

  // Clears the field-changed flags after each read; settles deferred memo releases after each
  // record write.
  void StatusNotify(int code, int32_t record) override;

  // Virtual operations added to the table's, in slot order.
  // The in-memory descriptor (32 bytes, with the field's offset and number) of the named field.
  virtual uint8_t* FieldDescriptor(std::string_view name);
  // A new record in the buffer: blanks, zero in every numeric field (and every binary field of a
  // version 0x30 table), all changed flags and the appending flag set, then status code 0.
  virtual void BlankRecord();
  virtual int32_t GetDate(std::string_view name);
  virtual int32_t GetDate(int number);
  virtual bool PutDate(std::string_view name, int32_t day);
  virtual bool PutDate(int number, int32_t day);
  // Marks the current record deleted and writes it at once (nothing when it already is).
  virtual void DeleteRecord();
  virtual std::string GetString(std::string_view name);
  virtual std::string GetString(int number);
  // The bytes GetString(number) copies, as a view into the current record buffer: for readers
  // run once per record (filters, keys) that must not allocate. Valid until the record buffer is
  // switched or rewritten; empty for a number out of range.
  std::string_view FieldView(int number) const {
    if (number < 1 || number > FieldCount()) return {};
    const ThxFieldInfo& f = FieldInfo(number);
    return std::string_view(RecordBuffer() + f.offset, static_cast<size_t>(f.length));
  }
  virtual bool PutString(std::string_view name, std::string_view text);
  virtual bool PutString(int number, std::string_view text);
  virtual int FieldDecimals(int number);
  virtual int FieldLength(int number);
  virtual int FieldOffset(int number);
  virtual std::string FieldName(int number);
  virtual char FieldType(int number);
  virtual bool GetLogical(std::string_view name);
  virtual bool GetLogical(int number);
  virtual bool PutLogical(std::string_view name, bool value);
  virtual bool PutLogical(int number, bool value);
  virtual double GetFloat(std::string_view name);
  virtual double GetFloat(int number);
  virtual bool PutFloat(std::string_view name, double value);
  virtual bool PutFloat(int number, double value);
  virtual std::string GetDisplayText(std::string_view name);
  virtual std::string GetDisplayText(int number);
  virtual bool PutText(std::string_view name, std::string_view text);
  virtual bool PutText(int number, std::string_view text);
  // Marks the current record live again and writes it at once (nothing when it already is).
  virtual void RecallRecord();

  // The number of the named field (cut to 11 characters, trailing blanks dropped, case ignored;
  // the first match wins), 0 when there is none.
  int FieldNumber(std::string_view name) const;

  // Memo, binary and general fields: the block number the field holds (0 = none), the text it
  // points at (empty without a memo file), its length, and a write of a new text (which stores the
  // block where the text now lives back into the field).
  uint32_t MemoBlock(std::string_view name);
  uint32_t MemoBlock(int number);
  std::string GetMemo(std::string_view name);
  std::string GetMemo(int number);
  uint32_t MemoLength(int number);
  void PutMemo(std::string_view name, std::string_view text);
  void PutMemo(int number, std::string_view text);

  // Fills `buffer` (RecordLength() + 1 bytes) with a blank record holding `values` under the
  // ";"-separated field names: one value for every name, or one per name in order; a missing value
  // (std::nullopt) is stored as an empty text. The table's record buffer is restored afterwards.
  void LoadFieldValues(char* buffer, std::string_view fieldNames,
                       const std::vector<std::optional<std::string>>& values);

  // Field-changed flags: one per field and one for the record, cleared when a record is read.
  bool FieldChanged(int number) const;
  bool RecordChanged() const { return changed_[0] != 0; }
  void MarkRecordChanged() { changed_[0] = 1; }
  void ClearChangedFlags();

  // The field list in record order, and a field by number (null out of range).
  int FieldListCount() const { return static_cast<int>(fieldList_.size()); }
  const ThxDBFFields* Field(int number) const;
  // The table's expression registry, in which its fields and pseudo-functions are registered.
  ThxExpUserLink* Link() const { return link_.get(); }
  // A registry like Link()'s whose field variables and pseudo-functions read the image `source`
  // points at instead of the record buffer, so that another thread can evaluate expressions over
  // records of this table (a parallel index build) while the table waits. Memo fields and the
  // binary fields of a version 0x30 table are left out: an expression that reads them does not
  // compile over it. BOF and EOF answer the table's own. `source` must outlive the registry.
  std::unique_ptr<ThxExpUserLink> MakeRecordLink(const ThxRecordSource& source);
  // The value of a numeric, date or logical field stored as text in the record image `record`,
  // as GetFloat, GetDate and GetLogical read it from the record buffer (with their errors).
  double FloatIn(const char* record, int number) const;
  int32_t DateIn(const char* record, int number) const;
  bool LogicalIn(const char* record, int number) const;

 private:
  // A numeric field's text (trailing blanks trimmed; blank is 0) as its number; text that is no
  // number raises the invalid-numeric error naming the field.
  double NumberOfText(std::string_view text, const ThxFieldInfo& field) const;
  // The field `number`, or null out of range; RequireField raises for an unknown name.
  const ThxFieldInfo* Info(int number) const;
  int RequireField(std::string_view name) const;
  char* FieldBytes(const ThxFieldInfo& f) { return RecordBuffer() + f.offset; }
  void MarkChanged(int number);
  bool IsBinary30(char type) const;
  // The field's binary bytes (version 0x30), zero-filled past the field's length.
  void ReadBinary(const ThxFieldInfo& f, void* out, int size);
  void WriteBinary(const ThxFieldInfo& f, const void* in, int size);
  void SetMemoBlock(const ThxFieldInfo& f, uint32_t block);
  void RegisterExpressions();
  // Gives back the blocks of the memos replaced in the record just written.
  void SettleMemoReleases(int32_t writtenRecord);
  std::string BaseName() const;

  struct PendingMemo {
    int field;
    int32_t record;
    uint32_t oldBlock;  // the block the record on disk points at
    uint32_t newBlock;  // where the new text was written
  };

  std::vector<std::unique_ptr<ThxDBFFields>> fieldList_;
  std::vector<uint8_t> changed_;  // [0] the record, [n] field n
  std::unique_ptr<ThxExpUserLink> link_;
  std::vector<PendingMemo> pendingMemos_;
};

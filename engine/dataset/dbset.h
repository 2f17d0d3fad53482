// dbset: the dataset core. TDataSet turns a cursor (one current position in some record source,
// moved next, prior, first, last or to a bookmark) into what grids and edits need: a window of
// record buffers around the active record, states (browse, edit, insert, ...), field objects over
// the active buffer, the edit protocol with its before/after and error events, bookmarks,
// filtering by event, and notices to the data sources and links that show the data.
//
// A subclass supplies the cursor through the virtual hooks of the cursor contract (AllocRecordBuffer
// ... SetFieldData): GetRecord(buffer, next/prior/current) reads the record that follows, precedes
// or is at the cursor into a buffer and answers OK, BOF, EOF or error; InternalFirst and InternalLast
// put the cursor on the crack before the first or after the last record; InternalSetToRecord puts it
// on a buffer's record. Each buffer carries a bookmark and a bookmark flag (current, BOF, EOF,
// inserted) that the subclass keeps.
//
// The window: buffers_[0 .. recordCount_-1] hold consecutive records in view order;
// activeRecord_ indexes the active one; currentRecord_ is the buffer the cursor is known to sit on
// (-1 when unknown). Its size, BufferCount(), is the largest BufferCount of the attached links
// (at least 1); one more buffer after the window serves as the fetch and scratch buffer.
//
// Ownership: the data set owns its fields, field definitions and record buffers (through the
// subclass's Alloc/FreeRecordBuffer); data sources are linked, not owned. A subclass must call
// Destroying() first thing in its destructor, so that the cursor closes while its hooks still
// exist. Thread-safety: none; one thread uses a data set.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/dbfield.h"
#include "base/hx6_glbl.h"

class TDataSource;

enum class TDataSetState : uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
};

enum class TGetMode : uint8_t { gmNext, gmPrior, gmCurrent };
enum class TGetResult : uint8_t { grOK, grBOF, grEOF, grError };
enum class TBookmarkFlag : uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };

enum class TDataEvent : uint8_t {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deFieldListChange,
  deFocusControl,
};

enum class TDataAction : uint8_t { daFail, daAbort, daRetry };

// Resync options.
enum TResyncOption : uint8_t { rmExact = 1, rmCenter = 2 };
// Filter options.
enum TFilterOption : uint8_t { foCaseInsensitive = 1, foNoPartialCompare = 2 };
// Locate options.
enum TLocateOption : uint8_t { loCaseInsensitive = 1, loPartialKey = 2 };

// A bookmark: the BookmarkSize() bytes that the subclass keeps in each buffer; empty = none.
using TBookmark = std::string;

// The silent exception that an error event's daAbort raises: the operation is given up without
// a message.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// The class library's own refusals.
namespace dbtext {
inline constexpr const char* kDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* kDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* kDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* kDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* kFieldNotFound = "Field '%s' not found";
inline constexpr const char* kFieldReadOnly = "Field '%s' cannot be modified";
inline constexpr const char* kNotIndexField = "Field '%s' is not indexed and cannot be modified";
inline constexpr const char* kFieldRequired = "Field '%s' must have a value";
inline constexpr const char* kCircularDataLink = "Circular datalinks are not allowed";
inline constexpr const char* kRecordNotFound = "Record not found";
inline constexpr const char* kFieldTypeMismatch =
    "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr const char* kFieldRangeError =
    "%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr const char* kInvalidIntegerValue = "'%s' is not a valid integer value for field '%s'";
inline constexpr const char* kInvalidFloatValue =
    "'%s' is not a valid floating point value for field '%s'";
inline constexpr const char* kInvalidBoolValue = "'%s' is not a valid boolean value for field '%s'";
inline constexpr const char* kInvalidDateValue = "'%s' is not a valid date for field '%s'";
inline constexpr const char* kNoBlobStream = "Field '%s' has no blob stream";
}  // namespace dbtext

// Raises EDatabaseError with `text` formatted with `args`, prefixed "name: " when a name is given.
[[noreturn]] void DatabaseError(std::string_view text, std::initializer_list<SorrelArg> args = {},
                                std::string_view name = {});

class TDataSet {
 public:
  TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;
  virtual ~TDataSet();

  // Name used as the prefix of this data set's errors (may be empty).
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  // Opening and closing.
  bool Active() const { return state_ != TDataSetState::dsInactive; }
  void SetActive(bool on);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return state_; }

  // Navigation.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves the active record by `distance` visible records; the number actually moved.
  int MoveBy(int distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return activeRecord_ >= recordCount_; }
  void Refresh();
  // Re-reads the window around the cursor (after a locate, seek, index change or post).
  void Resync(uint8_t mode);

  // Editing.
  void Edit();
  void Insert();
  void Append();
  virtual void Post();
  void Cancel();
  void Delete();
  // Appends (or inserts) a record holding `values` in field order (null skips a field) and posts it.
  void AppendRecord(const std::vector<TVarValue>& values);
  void InsertRecord(const std::vector<TVarValue>& values);
  bool Modified() const { return modified_; }
  bool CanModify() { return GetCanModify(); }
  // Leaves edit or insert state: posts when modified, else cancels; posts a set-key state.
  void CheckBrowseMode();
  // Asks the links to write their pending edits into the fields.
  void UpdateRecord();
  void CheckInactive();
  virtual void CheckActive();

  // Records.
  int RecordCount() { return GetRecordCount(); }
  int RecNo() { return GetRecNo(); }
  void SetRecNoProperty(int value) { SetRecNo(value); }
  // The buffers of the window.
  int BufferCount() const { return bufferCount_; }
  int BufferRecordCount() const { return recordCount_; }
  int ActiveRecord() const { return activeRecord_; }
  char* ActiveBuffer() const {
    return buffers_.empty() ? nullptr : buffers_[static_cast<size_t>(activeRecord_)];
  }
  char* Buffer(int index) const { return buffers_.at(static_cast<size_t>(index)); }
  // The buffer after the window (fetches and searches use it).
  char* TempBuffer() const { return buffers_.empty() ? nullptr : buffers_.back(); }
  // The buffer whose calculated fields are being computed.
  char* CalcBuffer() const { return calcBuffer_; }
  // The buffer that field access uses in the present state.
  virtual char* ActiveRecordBuffer();

  // Bookmarks.
  int BookmarkSize() const { return bookmarkSize_; }
  bool BookmarkAvailable();
  TBookmark Bookmark();
  void SetBookmark(const TBookmark& bookmark) { GotoBookmark(bookmark); }
  TBookmark GetBookmark() { return Bookmark(); }
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark& bookmark);
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);

  // Fields.
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  // Fills the field definitions from the cursor when they are out of date (also while closed).
  void InitFieldDefs();
  TFields& Fields() { return fields_; }
  int FieldCount() const { return fields_.Count(); }
  TField* FindField(std::string_view name) const { return fields_.FindField(name); }
  // Raises "Field '%s' not found".
  TField* FieldByName(std::string_view name) const;
  // Adds a persistent field (while closed). A data set with persistent fields has exactly those:
  // no default fields are made for the columns it leaves out.
  TField* AddField(std::unique_ptr<TField> field);
  bool DefaultFields() const { return defaultFields_; }
  int CalcFieldsSize() const { return calcFieldsSize_; }
  bool AutoCalcFields() const { return autoCalcFields_; }
  void SetAutoCalcFields(bool on) { autoCalcFields_ = on; }
  // The field data hooks: GetFieldData copies the native value into `buffer` and answers whether
  // there is one; SetFieldData writes it (null buffer: set null).
  virtual bool GetFieldData(TField* field, void* buffer);
  virtual void SetFieldData(TField* field, const void* buffer) = 0;
  virtual std::unique_ptr<TBlobStream> CreateBlobStream(TField* field, TBlobStreamMode mode);
  virtual bool GetIsIndexField(TField*) { return false; }
  // Converts text between the code pages; the source length.
  virtual int Translate(const char* source, char* destination, bool toOem);

  // Filtering.
  const std::string& Filter() const { return filterText_; }
  void SetFilter(std::string_view text) { SetFilterText(text); }
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool on);
  uint8_t FilterOptions() const { return filterOptions_; }
  virtual void SetFilterOptions(uint8_t options);
  virtual void SetFilterText(std::string_view text);

  // Searches; the base has none.
  virtual bool Locate(std::string_view keyFields, const std::vector<TVarValue>& keyValues,
                      uint8_t options);
  virtual TVarValue Lookup(std::string_view keyFields, const std::vector<TVarValue>& keyValues,
                           std::string_view resultFields);

  // Copies the active record's raw bytes; false when there is none.
  virtual bool GetCurrentRecord(char* buffer);
  // Records are numbered by position (RecNo may be used as a position).
  virtual bool IsSequenced() { return true; }
  virtual void UpdateIndexDefs() {}

  // Data sources and the master relation.
  TDataSource* DataSource() { return GetDataSource(); }
  // Whether this data set is reached from `source` through its master chain (a loop).
  bool IsLinkedTo(TDataSource* source);
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ != 0; }
  // Sends `event` to the data sources (held back while controls are disabled).
  void DataEvent(TDataEvent event, intptr_t info);

  // Events.
  std::function<void(TDataSet&)> BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  std::function<void(TDataSet&)> BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  std::function<void(TDataSet&)> BeforePost, AfterPost, BeforeCancel, AfterCancel;
  std::function<void(TDataSet&)> BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  std::function<void(TDataSet&)> OnCalcFields, OnNewRecord;
  std::function<void(TDataSet&, bool& accept)> OnFilterRecord;
  using ErrorEvent = std::function<void(TDataSet&, const EDatabaseError&, TDataAction&)>;
  ErrorEvent OnDeleteError, OnEditError, OnPostError;

 protected:
  // The cursor contract.
  virtual char* AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(char*& buffer) = 0;
  virtual void GetBookmarkData(const char* buffer, char* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(const char* buffer) = 0;
  virtual TGetResult GetRecord(char* buffer, TGetMode mode, bool doCheck) = 0;
  virtual int GetRecordSize() = 0;
  virtual void InternalAddRecord(char* buffer, bool append) = 0;
  virtual void InternalClose() = 0;
  virtual void InternalDelete() = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalGotoBookmark(const char* bookmark) = 0;
  virtual void InternalHandleException() {}
  virtual void InternalInitFieldDefs() = 0;
  virtual void InternalInitRecord(char* buffer) = 0;
  virtual void InternalLast() = 0;
  virtual void InternalOpen() = 0;
  virtual void InternalPost() = 0;
  virtual void InternalSetToRecord(char* buffer) = 0;
  virtual bool IsCursorOpen() = 0;
  virtual void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) = 0;
  virtual void SetBookmarkData(char* buffer, const char* data) = 0;

  // Overridable steps with base behaviour.
  virtual void ClearCalcFields(char*) {}
  virtual void InternalCancel() {}
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalRefresh() {}
  virtual bool GetCanModify() { return true; }
  virtual TDataSource* GetDataSource() { return nullptr; }
  virtual int GetRecordCount() { return -1; }
  virtual int GetRecNo() { return -1; }
  virtual void SetRecNo(int) {}
  virtual void CalculateFields(char* buffer);
  virtual void DoBeforeOpen() { if (BeforeOpen) BeforeOpen(*this); }
  virtual void DoAfterOpen() { if (AfterOpen) AfterOpen(*this); }
  virtual void DoBeforeClose() { if (BeforeClose) BeforeClose(*this); }
  virtual void DoAfterClose() { if (AfterClose) AfterClose(*this); }
  virtual void DoBeforeInsert() { if (BeforeInsert) BeforeInsert(*this); }
  virtual void DoAfterInsert() { if (AfterInsert) AfterInsert(*this); }
  virtual void DoBeforeEdit() { if (BeforeEdit) BeforeEdit(*this); }
  virtual void DoAfterEdit() { if (AfterEdit) AfterEdit(*this); }
  virtual void DoBeforePost() { if (BeforePost) BeforePost(*this); }
  virtual void DoAfterPost() { if (AfterPost) AfterPost(*this); }
  virtual void DoBeforeCancel() { if (BeforeCancel) BeforeCancel(*this); }
  virtual void DoAfterCancel() { if (AfterCancel) AfterCancel(*this); }
  virtual void DoBeforeDelete() { if (BeforeDelete) BeforeDelete(*this); }
  virtual void DoAfterDelete() { if (AfterDelete) AfterDelete(*this); }
  virtual void DoBeforeScroll() { if (BeforeScroll) BeforeScroll(*this); }
  virtual void DoAfterScroll() { if (AfterScroll) AfterScroll(*this); }
  virtual void DoOnCalcFields() { if (OnCalcFields) OnCalcFields(*this); }
  virtual void DoOnNewRecord() { if (OnNewRecord) OnNewRecord(*this); }

  // To be called first in a subclass destructor: closes the cursor while the hooks exist.
  void Destroying();

  // States.
  void SetState(TDataSetState state);
  // A temporary state; restored by RestoreState or by a TTempState guard.
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState state);
  class TTempState {
   public:
    TTempState(TDataSet& dataSet, TDataSetState state)
        : dataSet_(dataSet), saved_(dataSet.SetTempState(state)) {}
    ~TTempState() { dataSet_.RestoreState(saved_); }
    TTempState(const TTempState&) = delete;
    TTempState& operator=(const TTempState&) = delete;

   private:
    TDataSet& dataSet_;
    TDataSetState saved_;
  };

  // Runs OnFilterRecord in the filter state for the record the subclass holds; true when it
  // accepts (or there is no handler).
  bool FilterAccepts();
  // Computes the calculated and lookup fields of `buffer`.
  void GetCalcFields(char* buffer);
  void SetModified(bool on) { modified_ = on; }
  void SetBookmarkSize(int size) { bookmarkSize_ = size; }
  void SetBof(bool on) { bof_ = on; }
  void SetEof(bool on) { eof_ = on; }
  // Makes the cursor's place unknown, so the next fetch first re-seats it.
  void CursorPosChanged() { currentRecord_ = -1; }
  // Puts the cursor on the active record.
  void UpdateCursorPos();
  void ClearBuffers();
  // Creates one field per definition (the default fields, used when the program made none).
  void CreateFields();
  // Binds fields to their definitions (column numbers, calculated offsets) or unbinds them.
  void BindFields(bool binding);
  void DestroyFields();
  // Sizes the window after the links' buffer counts.
  void UpdateBufferCount();
  void SetBufferCount(int count);

 private:
  friend class TDataSource;
  friend class TDataLink;
  friend class TField;

  void OpenCursor();
  void CloseCursor();
  void FreeBuffers();
  void ActivateBuffers();
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void MoveBuffer(int from, int to);
  void SetCurrentRecord(int index);
  void InitRecord(char* buffer);
  void BeginInsertAppend();
  void EndInsertAppend();
  void CheckOperation(void (TDataSet::*operation)(), const ErrorEvent& onError);
  void DoInternalEdit() { InternalEdit(); }
  void DoInternalPost() { InternalPost(); }
  void DoInternalDelete() { InternalDelete(); }
  void CheckRequiredFields();
  void CheckCanModify();
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);
  void InsertOrAppendRecord(const std::vector<TVarValue>& values, bool append);

  std::string name_;
  TDataSetState state_ = TDataSetState::dsInactive;
  std::vector<char*> buffers_;  // the window, then the fetch buffer
  int bufferCount_ = 0;
  int recordCount_ = 0;
  int activeRecord_ = 0;
  int currentRecord_ = -1;
  char* calcBuffer_ = nullptr;
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool autoCalcFields_ = true;
  bool defaultFields_ = false;
  bool destroying_ = false;
  int bookmarkSize_ = 0;
  int calcFieldsSize_ = 0;
  TFieldDefs fieldDefs_;
  TFields fields_;
  std::string filterText_;
  bool filtered_ = false;
  uint8_t filterOptions_ = 0;
  std::vector<TDataSource*> dataSources_;
  int disableCount_ = 0;
  TDataSetState disableState_ = TDataSetState::dsInactive;
  TDataEvent enableEvent_ = TDataEvent::deDataSetChange;
};

// Sorl6db: the dataset component. TSorrelDataSet presents one dBase table, through a database
// handler, as a data set that grids, edits and program code bind to through data sources.
//
// The component holds no table data of its own: each record buffer the dataset core asks for is
// laid out as
//   offset                      length                   content
//   0                           record length            the raw record bytes as stored in the table
//   record length               calculated-fields size   per calculated field: has-value byte, value
//   record-information offset   8                        record number (int32), bookmark flag (byte)
//   bookmark offset             11                       bookmark: length byte (1-10) then digits
// and the handler reads and writes those buffers directly: every operation on a buffer points the
// handler's record pointer at it and afterwards back (a scope guard restores it on every path).
//
// DBFObject is the handler the data set opens: it reports long operations to the data set's
// OnStatus, asks OnFilterRecord before a record is shown, and writes appends and record updates
// from a work buffer of its own, so the end-of-file byte the table puts after the record never
// lands in the calculated-fields part of a data-set buffer.
//
// Ownership: the data set owns its handler (present only while open), its index definitions and
// its master link. Thread-safety: none; one thread uses a data set.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/dblink.h"
#include "handler/hx6_dbsy.h"

class TSorrelDataSet;

// Field type given to whole numbers wider than 9 digits.
enum class ThxIntFields : uint8_t { asInteger, asLargeInt, asFloat };

// OnStatus: the three integers of a long operation's progress report.
using ThxStatusReport = std::function<void(int stat1, int stat2, int stat3)>;

class DBFObject : public HXO_dBHandler {
 public:
  DBFObject(std::string_view path, bool shared, bool readWrite, std::string_view password,
            TSorrelDataSet* owner);

  // Overrides of the table and the handler.
  void StatusReport(int stat1, int stat2, int stat3) override;
  bool AcceptRecord() override;
  bool HasOwnRecordTest() const override;
  void AppendRecord() override;
  void UpdateRecord(int32_t record) override;

  TSorrelDataSet* Owner() const { return owner_; }

 private:
  // Runs a table write with the record copied into work_, when the record pointer is aimed at a
  // buffer other than the table's own; copies the written record back afterwards.
  void FromWorkBuffer(const std::function<void()>& write);

  TSorrelDataSet* owner_;
  std::vector<char> work_;
};

class TSorrelDataSet : public TDataSet {
 public:
  static constexpr int kRecordInfoSize = 8;
  static constexpr int kBookmarkSize = 11;

  TSorrelDataSet();
  ~TSorrelDataSet() override;

  // Properties.
  std::string About() const;
  void SetAbout(std::string_view) {}
  bool AutoFlush() const { return autoFlush_; }
  void SetAutoFlush(bool on);
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(std::string_view name);
  const std::string& EncryptionKey() const { return encryptionKey_; }
  void SetEncryptionKey(std::string_view key);
  bool ExactCount() const { return exactCount_; }
  void SetExactCount(bool on) { exactCount_ = on; }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool on) { exclusive_ = on; }
  TIndexDefs& IndexDefs() { return indexDefs_; }
  void SetIndexDefs(const TIndexDefs& defs) { indexDefs_ = defs; }
  const std::vector<std::string>& IndexFiles() const { return indexFiles_; }
  // Open: the listed files replace the open ones. Closed: an empty list clears IndexName; another
  // is tried on the table ("Cannot find file %s", "Index file %s already open").
  void SetIndexFiles(std::vector<std::string> files);
  const std::string& IndexName() const { return indexName_; }
  void SetIndexName(std::string_view name);
  ThxIntFields LargeIntegerAs() const { return largeIntegerAs_; }
  void SetLargeIntegerAs(ThxIntFields as) { largeIntegerAs_ = as; }
  ThxLokProtocol LockProtocol() const { return lockProtocol_; }
  void SetLockProtocol(ThxLokProtocol protocol);
  const std::string& MasterFields() const { return masterLink_.FieldNames(); }
  void SetMasterFields(std::string names) { masterLink_.SetFieldNames(std::move(names)); }
  TDataSource* MasterSource() const { return masterLink_.DataSource(); }
  void SetMasterSource(TDataSource* source) { masterLink_.SetMasterSource(source); }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool on);
  const std::string& TableName() const { return tableName_; }
  void SetTableName(std::string_view name);
  bool TranslateASCII() const { return translateASCII_; }
  void SetTranslateASCII(bool on) { translateASCII_ = on; }
  bool UseDeleted() const { return useDeleted_; }
  void SetUseDeleted(bool on);
  int32_t UserID() const { return userId_; }
  void SetUserID(int32_t id);
  ThxStatusReport OnStatus;

  // The open handler, or null while closed.
  DBFObject* Handler() const { return handler_.get(); }
  // The buffer layout of the open table.
  int RecordLength() const { return recordLength_; }
  int RecordInfoOffset() const { return recInfoOfs_; }
  int BookmarkOffset() const { return bookmarkOfs_; }
  int RecordBufferSize() const { return bufferSize_; }
  // Busy code: 1 while an index is being built.
  uint8_t BusyCode() const { return busy_; }
  // Set by the operations that keep the table busy (BuildIndexTag), which restore it afterwards.
  void SetBusyCode(uint8_t code) { busy_ = code; }
  bool RecordLocked() const { return recordLocked_ != 0; }
  // Counts what may have changed the records the data set shows or their order: its writes
  // (posts, appends, deletes, recalls), refreshes, and new filters, index files, tags or
  // deleted-record visibility; a control holding copies of records can tell that they may be
  // out of date.
  uint32_t ChangeCount() const { return changeCount_; }

  // Overrides of the dataset core (in the core's order).
  void CheckActive() override;
  bool GetFieldData(TField* field, void* buffer) override;
  void SetFieldData(TField* field, const void* buffer) override;
  bool GetIsIndexField(TField* field) override;
  void SetFiltered(bool on) override;
  void SetFilterOptions(uint8_t options) override;
  void SetFilterText(std::string_view text) override;
  void UpdateIndexDefs() override;
  bool BookmarkValid(const TBookmark& bookmark) override;
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override;
  bool GetCurrentRecord(char* buffer) override;
  bool IsSequenced() override;
  void Post() override;
  int Translate(const char* source, char* destination, bool toOem) override;
  char* ActiveRecordBuffer() override;
  std::unique_ptr<TBlobStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override;
  bool Locate(std::string_view keyFields, const std::vector<TVarValue>& keyValues,
              uint8_t options) override;
  TVarValue Lookup(std::string_view keyFields, const std::vector<TVarValue>& keyValues,
                   std::string_view resultFields) override;

  // Added operation.
  virtual void UndeleteRecord();

 protected:
  void ClearCalcFields(char* buffer) override;
  void DoAfterInsert() override;
  bool GetCanModify() override { return !readOnly_; }
  TDataSource* GetDataSource() override { return masterLink_.DataSource(); }
  int GetRecordCount() override;
  int GetRecNo() override;
  void InternalCancel() override;
  void InternalEdit() override;
  void InternalRefresh() override;
  void SetRecNo(int recNo) override;

  // The cursor contract.
  char* AllocRecordBuffer() override;
  void FreeRecordBuffer(char*& buffer) override;
  void GetBookmarkData(const char* buffer, char* data) override;
  TBookmarkFlag GetBookmarkFlag(const char* buffer) override;
  TGetResult GetRecord(char* buffer, TGetMode mode, bool doCheck) override;
  int GetRecordSize() override { return recordLength_; }
  void InternalAddRecord(char* buffer, bool append) override;
  void InternalClose() override;
  void InternalDelete() override;
  void InternalFirst() override;
  void InternalGotoBookmark(const char* bookmark) override;
  void InternalHandleException() override {}
  void InternalInitFieldDefs() override;
  void InternalInitRecord(char* buffer) override;
  void InternalLast() override;
  void InternalOpen() override;
  void InternalPost() override;
  void InternalSetToRecord(char* buffer) override;
  bool IsCursorOpen() override { return handler_ != nullptr; }
  void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) override;
  void SetBookmarkData(char* buffer, const char* data) override;

 private:
  friend class DBFObject;

  // Points the handler's record pointer at a buffer for the guard's life (not in filter state).
  class THandlerBuffer {
   public:
    THandlerBuffer(TSorrelDataSet& dataSet, char* buffer);
    ~THandlerBuffer();
    THandlerBuffer(const THandlerBuffer&) = delete;
    THandlerBuffer& operator=(const THandlerBuffer&) = delete;

   private:
    HXO_dBHandler* handler_;
    char* saved_;
  };

  std::unique_ptr<DBFObject> CreateHandler(bool readOnly, bool shared);
  void FillFieldDefs(HXO_dBHandler& table);
  void InstallFilter();
  void OpenIndexFiles();
  // Closes the handler's index files and opens those of the list; with `refuseRepeats` a file
  // listed twice raises "Index file %s already open", else it is passed over.
  void OpenIndexFilesOn(DBFObject& handler, bool refuseRepeats);
  // Applies the master/detail range for the master's current record, when a master tag is
  // selected and the master link is active and names fields.
  void ApplyMasterRange();
  int32_t BufferRecNo(const char* buffer) const;
  // The record number a bookmark names, 0 when it names none.
  static int32_t BookmarkRecNo(const char* bookmark);
  void ReadDataField(TField* field, void* out, bool& hasValue);
  void WriteDataField(TField* field, const void* in);
  void ReleaseRecordLock();
  // Applies `mark` (delete or recall) to `record` as it is on disk, read again under the record
  // lock; the lock is taken unless an edit of this data set holds it already. The lock is
  // released afterwards when it was taken here, or always with `endsEdit`. The caller points the
  // handler at its own buffer.
  void MarkRecordUnderLock(int32_t record, void (HXO_dBaseFld::*mark)(), bool endsEdit);
  bool FilterRecordAccepted();

  std::string databaseName_;
  std::unique_ptr<DBFObject> handler_;
  bool beforeFirst_ = false;
  bool afterLast_ = false;
  bool exclusive_ = false;
  int recordLength_ = 0;
  int bookmarkOfs_ = 0;
  int recInfoOfs_ = 0;
  int bufferSize_ = 0;
  TIndexDefs indexDefs_;
  std::vector<std::string> indexFiles_;
  std::string indexName_;
  bool readOnly_ = false;
  std::string tableName_;
  bool useDeleted_ = false;
  bool autoFlush_ = false;
  std::string encryptionKey_;
  ThxLokProtocol lockProtocol_ = ThxLokProtocol::Default;
  bool exactCount_ = false;
  uint8_t busy_ = 0;
  int32_t userId_ = 0;
  uint8_t recordLocked_ = 0;
  uint32_t changeCount_ = 0;
  uint8_t updatingIndexDefs_ = 0;
  bool translateASCII_ = true;
  ThxIntFields largeIntegerAs_ = ThxIntFields::asInteger;
  TMasterDataLink masterLink_{this};
  std::vector<char> setKeyBuffer_;
};

// The folder of a data set's DatabaseName, ending in '/', or empty (the current directory).
// "Default Directory" names the program's folder; another name is looked up in the alias list.
std::string ResolveDatabaseName(const TSorrelDataSet& dataSet);

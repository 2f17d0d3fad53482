// hx6_dbf: the dBase table file.
//
// HXO_dBaseDBF is one open ".DBF" table (dBase III and IV, FoxPro, with or without memo): it checks
// and keeps the 32-byte header and the field descriptors, reads and writes whole records by number
// into its record buffer, appends records (record and end-of-file byte in one write), keeps the
// header's record count, date and change stamp current, takes the byte-range locks of its lock
// protocol, scrambles the records of an encrypted table and opens its memo file on first use.
// It owns its buffers and its memo file. Typed field access builds on it (HXO_dBaseFld).
//
// Several programs may share one table; the header and the lock bytes are their only coordination.
// The record count always comes from the file size, so appends of other programs are seen. Every
// append, record write and header rewrite holds the append lock (waiting for it up to 5 s), so two
// appenders never take one record number and the header's count never goes back.
//
// Thread-safety: one table object is used by one thread.
//
// File layout (integers little-endian):
//   offset size  content
//   0      1     version: 0x03, 0x04, 0x30 (with backlink area), 0x83, 0x8B, 0xF5 (with memo)
//   1      3     date of the last header write: year mod 100, month, day
//   4      4     record count (informative: the count is taken from the file size)
//   8      2     header length = offset of the first record
//   10     2     record length, deletion byte included
//   12     3     reserved, kept
//   15     1     1 when records and descriptors are scrambled
//   16     4     change stamp ((hour * 64 + minute) * 64 + second) * 1024 + millisecond
//   20     4     user id of the last writer
//   24     4     reserved, kept
//   28     1     flags: bit 0 production index, bit 1 memo file (0x30; a 0x30 table with memo
//                fields has its memo file opened whatever the flag says), bit 2 database container
//   29     1     code-page mark (0x03 CP1252 in tables we create; 0 none), kept
//   30     2     reserved, kept
//   32     32*n  field descriptors
//   32+32n 1     0x0D; version 0x30 then has a 263-byte backlink area
//   header length: the records; after the last one the end-of-file byte 0x1A.
//
// Field descriptor (32 bytes): name (11, zero padded), type letter (1), 4 bytes zero in the file and
// the field's offset in the record in memory, length (1; for C the low byte), decimals (1; for C the
// high byte of the length), 8 zero bytes, 2 bytes zero in the file and the field number in memory,
// 4 zero bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/hx6_disk.h"

class HXobjMemo;

// The lock protocols: where records, the append point, the table and memo and index headers are
// locked. Each fixes three offsets a, b, c (see LockProtocolOffsets).
enum class ThxLokProtocol : uint8_t { Default = 0, DB4Lock = 1, ClipLock = 2, FoxLock = 3 };

struct ThxLockOffsets {
  int64_t a;
  int64_t b;
  int64_t c;
};

// The three offsets of a protocol (the same for table, memo and index files).
ThxLockOffsets LockProtocolOffsets(ThxLokProtocol protocol);

// The byte that locks record `record` of a table with the given header and record lengths.
// DB4Lock: b - record - 1; ClipLock: a + record; Default and FoxLock: a + the record's file
// offset, as other programs lock it, while that lies below the append-lock byte b. Records further
// into the file (beyond about 1 GB of data) lock b + record instead: above the append byte, one
// byte each, so that no record lock ever takes or meets the append lock, for any record number.
int64_t RecordLockByte(ThxLokProtocol protocol, int64_t headerLength, int32_t recordLength,
                       int32_t record);

// The region of the table lock: c bytes at a, and for Default and FoxLock also every byte up to
// the last record-lock byte above the append byte, so that a table lock keeps out every record
// lock.
struct ThxLockRegion {
  int64_t offset;
  int64_t length;
};
ThxLockRegion TableLockRegion(ThxLokProtocol protocol);

// Table versions (header byte 0).
inline constexpr uint8_t kDbfVersionPlain = 0x03;
inline constexpr uint8_t kDbfVersion4 = 0x04;
inline constexpr uint8_t kDbfVersionFoxBacklink = 0x30;
inline constexpr uint8_t kDbfVersion3Memo = 0x83;
inline constexpr uint8_t kDbfVersion4Memo = 0x8B;
inline constexpr uint8_t kDbfVersionFoxMemo = 0xF5;

// Header layout.
inline constexpr int kDbfHeaderSize = 32;
inline constexpr int kDbfDescriptorSize = 32;
inline constexpr int kDbfBacklinkSize = 263;
inline constexpr int kDbfHdrVersion = 0;
inline constexpr int kDbfHdrDate = 1;
inline constexpr int kDbfHdrCount = 4;
inline constexpr int kDbfHdrHeaderLength = 8;
inline constexpr int kDbfHdrRecordLength = 10;
inline constexpr int kDbfHdrEncrypted = 15;
inline constexpr int kDbfHdrStamp = 16;
inline constexpr int kDbfHdrUserId = 20;
inline constexpr int kDbfHdrFlags = 28;
inline constexpr uint8_t kDbfFlagProductionIndex = 0x01;
inline constexpr uint8_t kDbfFlagMemo = 0x02;
inline constexpr uint8_t kDbfFlagContainer = 0x04;
// Header byte 29: the mark of the code page the table's text is stored in; 0 says nothing (the
// text is read as it is, whatever the mark).
inline constexpr int kDbfHdrCodePage = 29;
inline constexpr uint8_t kDbfCodePageNone = 0x00;
inline constexpr uint8_t kDbfCodePageAnsi = 0x03;  // Windows ANSI, CP1252
inline constexpr uint8_t kDbfDescriptorEnd = 0x0D;
// Descriptor layout.
inline constexpr int kDbfFldName = 0;
inline constexpr int kDbfFldNameSize = 11;
inline constexpr int kDbfFldType = 11;
inline constexpr int kDbfFldOffset = 12;
inline constexpr int kDbfFldLength = 16;
inline constexpr int kDbfFldDecimals = 17;
inline constexpr int kDbfFldNumber = 26;
// Largest record of a plain and of an encrypted table.
inline constexpr int kDbfMaxRecordLength = 65519;
inline constexpr int kDbfMaxEncryptedRecordLength = 32767;

// Deletion byte of a live and of a deleted record.
inline constexpr char kRecordLive = ' ';
inline constexpr char kRecordDeleted = '*';

// Move codes of GotoRecord.
inline constexpr int32_t kGotoCurrent = -5;
inline constexpr int32_t kGotoLast = -4;
inline constexpr int32_t kGotoFirst = -3;
inline constexpr int32_t kGotoPrevious = -2;
inline constexpr int32_t kGotoNext = -1;

// Codes of StatusNotify.
inline constexpr int kStatusBlank = 0;
inline constexpr int kStatusOpened = 2;
inline constexpr int kStatusBeforeRead = 4;
inline constexpr int kStatusBeforeWrite = 5;
inline constexpr int kStatusAfterRead = 6;
inline constexpr int kStatusAfterWrite = 7;
inline constexpr int kStatusAfterFlush = 8;

// Table states (the handler keeps others of its own).
inline constexpr uint8_t kTableIdle = 1;
inline constexpr uint8_t kTableAppendOnUpdate = 3;
inline constexpr uint8_t kTablePasswordChange = 5;

// One field as the descriptors give it.
struct ThxFieldInfo {
  std::string name;  // as stored, up to the first zero byte
  char type = 'C';
  int length = 0;    // C fields: low byte + 256 x high byte
  int decimals = 0;  // C fields: 0
  int offset = 0;    // in the record; the first field at 1
  int number = 0;    // from 1
};

class HXO_dBaseDBF : public HXO_DiskFile {
 public:
  // Opens and checks the table at `path` (".DBF" is put on a name without extension).
  // Raises "File %s could not be found", "Error on Read of file %s", "Table Header for %s is
  // invalid", and ESorrelEncryption for a password that does not match the table's encryption flag.
  HXO_dBaseDBF(std::string_view path, bool shared, bool readWrite, std::string_view password = {});
  // Closes like Close(), but cannot report: a header that cannot be written keeps the count it
  // had (the next opener counts the records from the file size anyway).
  ~HXO_dBaseDBF() override;

  // Overrides of the disk file.
  // Writes a dirty header (under the append lock, after re-reading the shared header), then closes
  // the memo file and the table file. Raises "Can not Lock file %s" or a write error; the files
  // are closed even then.
  bool Close() override;
  void Flush() override;
  bool Rename(std::string_view newPath) override;
  void StatusReport(int, int, int) override {}

  // Virtual operations added by the table, in slot order.
  virtual void AppendRecord();
  virtual void StatusNotify(int code, int32_t record);
  virtual void GotoRecord(int32_t record);
  virtual bool FileLock();
  virtual bool LockTable();
  virtual bool LockWholeFile();
  virtual bool FileUnlock();
  virtual bool RecordLock();
  virtual void UpdateRecord(int32_t record);
  virtual void SetLockProtocol(ThxLokProtocol protocol);
  // Kept for its slot; record locks no longer depend on it (see RecordLockOffset).
  virtual bool RecordLockFromTop() { return false; }

  // The record buffer's deletion byte is "*".
  bool IsDeleted() const { return record_[0] == kRecordDeleted; }
  // Re-reads the header of a shared table and recomputes the record count from the file size.
  void RefreshHeader();
  // Writes the header when it is dirty, the file is writable and no table lock is in force. The
  // count written is never below the whole records the file holds at that moment.
  void WriteHeader();
  // The memo file, opened on first use; null for a table without one.
  HXobjMemo* MemoFile();

  // Header and descriptors.
  uint8_t Version() const { return version_; }
  const uint8_t* HeaderBytes() const { return header_; }
  int32_t RecordCount() const { return recordCount_; }
  int HeaderLength() const { return headerLength_; }
  int RecordLength() const { return recordLength_; }
  bool HasMemo() const { return hasMemo_; }
  bool Encrypted() const { return encrypted_; }
  bool ProductionIndex() const { return (flags_ & kDbfFlagProductionIndex) != 0; }
  // Header byte 29 as read (kept through every header write).
  uint8_t CodePageMark() const { return header_[kDbfHdrCodePage]; }
  uint8_t TableFlags() const { return flags_; }
  void SetTableFlags(uint8_t flags) { flags_ = flags; }
  uint32_t ChangeStamp() const { return changeStamp_; }
  bool ChangedByOthers() const { return changedByOthers_; }
  void SetChangedByOthers(bool on) { changedByOthers_ = on; }
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // Field `number` (1..FieldCount()) as the descriptors give it.
  const ThxFieldInfo& FieldInfo(int number) const { return fields_.at(static_cast<size_t>(number - 1)); }
  // The descriptor bytes (descrambled; in memory each holds its offset and number), 32 per field.
  uint8_t* Descriptors() { return descriptors_.data(); }
  // Size of the descriptor area as read: header length - 33, or - 296 for version 0x30.
  int DescriptorAreaSize() const { return static_cast<int>(descriptors_.size()); }
  // The file name without folder and extension, upper case.
  const std::string& Alias() const { return alias_; }
  const std::string& Password() const { return password_; }

  // Records. The record buffer holds RecordLength() bytes followed by the end-of-file byte.
  char* RecordBuffer() { return record_; }
  const char* RecordBuffer() const { return record_; }
  // Aims the record pointer at another buffer of at least RecordLength() + 1 bytes (null: back to
  // the table's own); returns the previous pointer.
  char* SetRecordBuffer(char* buffer) {
    char* previous = record_;
    record_ = buffer != nullptr ? buffer : ownRecord_.data();
    return previous;
  }
  // The record as last read or written (index maintenance reads the old keys from it).
  char* SavedRecord() { return saved_.data(); }
  const char* SavedRecord() const { return saved_.data(); }
  int32_t RecNo() const { return current_; }
  void SetRecNo(int32_t record) { current_ = record; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  void SetBof(bool on) { bof_ = on; }
  void SetEof(bool on) { eof_ = on; }
  bool Appending() const { return appending_; }
  void SetAppending(bool on) { appending_ = on; }
  // Offset of record `record` (from 1) in the file.
  int64_t RecordOffset(int32_t record) const {
    return headerLength_ + static_cast<int64_t>(record - 1) * recordLength_;
  }

  // Header state.
  bool HeaderDirty() const { return headerDirty_; }
  void MarkHeaderDirty() { headerDirty_ = true; }
  bool TableLocked() const { return tableLocked_; }
  ThxLokProtocol LockProtocol() const { return protocol_; }
  const ThxLockOffsets& LockOffsets() const { return lockOffsets_; }
  int32_t UserID() const { return userId_; }
  void SetUserID(int32_t id) { userId_ = id; }
  bool AutoFlush() const { return autoFlush_; }
  void SetAutoFlush(bool on) { autoFlush_ = on; }
  uint8_t TableState() const { return tableState_; }
  void SetTableState(uint8_t state) { tableState_ = state; }

 protected:
  // After the table's files were replaced by new ones (hx6_swap): `descriptor` is the new table
  // file, opened and locked for exclusive use; the old descriptor and the memo object are
  // dropped, the header and the record count re-read, `password` becomes the key. The layout
  // (fields, lengths) must be the old one.
  void AdoptSwappedFile(int descriptor, std::string_view password);
  // After a swap that failed past its commit point: the open files are no longer the table's
  // (the next open finishes the swap); they are closed so that nothing more is written to them.
  void CloseAfterFailedSwap() noexcept;
  // A table-side lock: only one more level while a table lock is held, else the region.
  bool LockOrCount(int64_t offset, int64_t length);
  // The 1-byte region locking record `record` under the current protocol. Every handle locks a
  // record at the same byte, so two handles editing one record always collide.
  int64_t RecordLockOffset(int32_t record) const;

  // How the append lock is held for one append or header rewrite, so that exactly that is
  // released: not at all (an exclusive table), already inside a region this object holds (a table
  // or whole-file lock, or the append lock taken by the caller), as this object's lock region, or
  // as one more byte next to a region it holds for something else (a record lock of an edit).
  enum class AppendLockHold : uint8_t { None, Covered, Region, ExtraByte };
  // Takes the append lock, retried like memo and index locks (100 x 50 ms); then raises
  // "Can not Lock file %s".
  AppendLockHold TakeAppendLock();
  void ReleaseAppendLock(AppendLockHold hold);
  // Runs `work` holding the append lock and releases it afterwards, also when `work` throws (then
  // a failed release is dropped so that the work's own error is the one raised). Defined in the
  // source: only this class's code uses it.
  template <typename Work>
  void WithAppendLock(Work&& work);
  // Scrambles the record buffer into the work buffer (end-of-file byte after it) and returns the
  // bytes to write: the work buffer for an encrypted table, else the record buffer.
  const char* RecordForWrite();
  void DescrambleRecord(char* record);
  void SaveRecord();
  // Sets the count from the file size, never below 0.
  int32_t CountFromFileSize();
  // Sets flag bits in the table's header: written at once under the append lock (at the end of a
  // table lock while one is held), and kept through re-reads of the header until then.
  void AddTableFlags(uint8_t bits);
  // Takes back the appended record `record` after its index update failed: file, count and
  // end-of-file byte as before it, `previousCurrent` current again. False (the record stays)
  // when it is no longer the table's last record or the file could not be cut.
  bool UndoAppendedRecord(int32_t record, int32_t previousCurrent);
  // For the handler's pack: the count after records were removed.
  void SetRecordCount(int32_t count) { recordCount_ = count; }
  // For the handler's password change: the key from now on; an empty key means a plain table.
  void ChangeKey(std::string_view password) {
    password_ = std::string(password);
    encrypted_ = !password_.empty();
  }

 private:
  void ReadHeaderAndDescriptors();
  // Marks the table locked after a table or whole-file lock level was taken and re-reads the
  // header; a failed re-read releases that level again before the error leaves.
  void RefreshUnderNewTableLock();
  // Re-reads and rewrites a dirty header under the append lock (update, close, last unlock).
  void RewriteHeaderLocked();
  // WriteHeader right after RefreshHeader under the append lock: the count is current.
  void WriteHeaderUnderAppendLock();
  // Stamps the header copy, with `count` records, and writes it at 0.
  void StoreHeader(int32_t count);
  // Rolls an append back after its write failed: count and file as before the append.
  void UndoFailedAppend(int32_t previousCount, int32_t previousCurrent);

  uint8_t header_[kDbfHeaderSize] = {};
  uint8_t version_ = 0;
  int32_t recordCount_ = 0;
  int headerLength_ = 0;
  int recordLength_ = 0;
  uint8_t flags_ = 0;
  uint8_t flagsToAdd_ = 0;  // bits set here that the header on disk does not show yet
  uint32_t changeStamp_ = 0;
  bool encrypted_ = false;
  bool hasMemo_ = false;
  std::vector<uint8_t> descriptors_;
  std::vector<ThxFieldInfo> fields_;
  std::string alias_;
  std::string password_;
  int32_t current_ = 0;
  std::vector<char> ownRecord_;
  char* record_ = nullptr;
  std::vector<char> saved_;
  std::vector<char> work_;
  bool bof_ = true;
  bool eof_ = false;
  bool appending_ = false;
  bool headerDirty_ = false;
  bool changedByOthers_ = false;
  bool tableLocked_ = false;
  ThxLokProtocol protocol_ = ThxLokProtocol::Default;
  ThxLockOffsets lockOffsets_{};
  int32_t userId_ = 0;
  bool autoFlush_ = false;
  uint8_t tableState_ = kTableIdle;
  std::unique_ptr<HXobjMemo> memo_;
};

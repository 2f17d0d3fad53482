#include "table/hx6_dbf.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <exception>

#include <unistd.h>

#include "base/SysSorl.h"
#include "base/byteorder.h"
#include "base/hx6_encrxm.h"
#include "base/hx6_glbl.h"
#include "table/hx6_memo.h"
#include "table/hx6_swap.h"
#include "base/hx6_tool.h"

ThxLockOffsets LockProtocolOffsets(ThxLokProtocol protocol) {
  switch (protocol) {
    case ThxLokProtocol::DB4Lock:
      return {0x40000000, 0xEFFFFFFF, 0xB0000000};
    case ThxLokProtocol::ClipLock:
      return {1000000000, 1000000000, 1000000000};
    case ThxLokProtocol::Default:
    case ThxLokProtocol::FoxLock:
      break;
  }
  return {0x40000000, 0x7FFFFFFE, 0x3FFFFFFF};
}

int64_t RecordLockByte(ThxLokProtocol protocol, int64_t headerLength, int32_t recordLength,
                       int32_t record) {
  const ThxLockOffsets o = LockProtocolOffsets(protocol);
  switch (protocol) {
    case ThxLokProtocol::DB4Lock:
      return o.b - record - 1;
    case ThxLokProtocol::ClipLock:
      return o.a + record;
    case ThxLokProtocol::Default:
    case ThxLokProtocol::FoxLock:
      break;
  }
  const int64_t byOffset =
      o.a + headerLength + (static_cast<int64_t>(record) - 1) * static_cast<int64_t>(recordLength);
  if (byOffset < o.b) return byOffset;
  return o.b + record;
}

ThxLockRegion TableLockRegion(ThxLokProtocol protocol) {
  const ThxLockOffsets o = LockProtocolOffsets(protocol);
  if (protocol == ThxLokProtocol::Default || protocol == ThxLokProtocol::FoxLock)
    return {o.a, o.b + INT32_MAX + 1 - o.a};
  return {o.a, o.c};
}

namespace {

bool KnownVersion(uint8_t v) {
  return v == kDbfVersionPlain || v == kDbfVersion4 || v == kDbfVersionFoxBacklink ||
         v == kDbfVersion3Memo || v == kDbfVersion4Memo || v == kDbfVersionFoxMemo;
}

// The header's date and change stamp of this moment, in local time.
void StampNow(uint8_t date[3], uint32_t& stamp) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  date[0] = static_cast<uint8_t>(local.tm_year % 100);
  date[1] = static_cast<uint8_t>(local.tm_mon + 1);
  date[2] = static_cast<uint8_t>(local.tm_mday);
  stamp = ((static_cast<uint32_t>(local.tm_hour) * 64 + static_cast<uint32_t>(local.tm_min)) * 64 +
           static_cast<uint32_t>(local.tm_sec)) * 1024 + static_cast<uint32_t>(ms.count());
}

}  // namespace

HXO_dBaseDBF::HXO_dBaseDBF(std::string_view path, bool shared, bool readWrite,
                           std::string_view password)
    : HXO_DiskFile(DefaultFileExt(std::string(path), ".DBF"), shared, readWrite),
      password_(password) {
  if (!Exists()) throw ESorrelError(smFileNotFound, {Name()});
  alias_ = SysUpperCase(StripFileExt(Name()));
  protocol_ = ThxLokProtocol::Default;
  lockOffsets_ = LockProtocolOffsets(protocol_);
  // A pack or password change stopped by a crash left its new set committed or not: finish or
  // drop it before anything of the table is read (hx6_swap).
  ThxFileSwap::Recover(Name());
  Open();
  // A failure below leaves the object unmade; the base destructor closes the file.
  ReadHeaderAndDescriptors();
  tableState_ = kTableIdle;
  RefreshHeader();
  StatusNotify(kStatusOpened, 0);
}

HXO_dBaseDBF::~HXO_dBaseDBF() {
  // A destructor cannot report; callers that must know whether the header reached the disk call
  // Close first.
  try {
    HXO_dBaseDBF::Close();
  } catch (const std::exception&) {
  }
  memo_.reset();
}

bool HXO_dBaseDBF::Close() {
  std::exception_ptr failure;
  if (!Closed() && headerDirty_) {
    // Closing ends every lock; a header changed under a table lock is written now.
    tableLocked_ = false;
    try {
      RewriteHeaderLocked();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  tableLocked_ = false;
  bool closed = true;
  try {
    if (memo_) closed = memo_->Close();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  try {
    closed = HXO_DiskFile::Close() && closed;
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
  return closed;
}

template <typename Work>
void HXO_dBaseDBF::WithAppendLock(Work&& work) {
  const AppendLockHold hold = TakeAppendLock();
  try {
    work();
  } catch (...) {
    // The work's own error is the one to report; a failed release must not hide it.
    try {
      ReleaseAppendLock(hold);
    } catch (const std::exception&) {
    }
    throw;
  }
  ReleaseAppendLock(hold);
}

void HXO_dBaseDBF::RewriteHeaderLocked() {
  if (!ReadWrite() || !headerDirty_ || tableLocked_) return;
  // Another program may append between our re-read of the file size and our header write; under
  // the append lock it cannot, so the count written never goes back behind its record.
  WithAppendLock([&] {
    RefreshHeader();
    WriteHeaderUnderAppendLock();
  });
}

void HXO_dBaseDBF::AddTableFlags(uint8_t bits) {
  flags_ |= bits;
  flagsToAdd_ |= bits;
  if (!ReadWrite()) return;
  headerDirty_ = true;
  RewriteHeaderLocked();
}

void HXO_dBaseDBF::ReadHeaderAndDescriptors() {
  if (Read(0, header_, kDbfHeaderSize) < kDbfHeaderSize) throw ESorrelError(smReadError, {Name()});
  version_ = header_[kDbfHdrVersion];
  if (!KnownVersion(version_)) throw ESorrelError(smTableHeaderInvalid, {Name()});
  headerLength_ = DecodeLE16(header_ + kDbfHdrHeaderLength);
  recordLength_ = DecodeLE16(header_ + kDbfHdrRecordLength);
  flags_ = header_[kDbfHdrFlags] | flagsToAdd_;
  changeStamp_ = DecodeLE32(header_ + kDbfHdrStamp);
  encrypted_ = header_[kDbfHdrEncrypted] != 0;
  if (encrypted_ && password_.empty()) throw ESorrelEncryption(smNoPasswordForEncrypted, {Name()});
  if (!encrypted_ && !password_.empty())
    throw ESorrelEncryption(smPasswordForUnencrypted, {Name()});

  hasMemo_ = version_ == kDbfVersion3Memo || version_ == kDbfVersion4Memo ||
             version_ == kDbfVersionFoxMemo ||
             (version_ == kDbfVersionFoxBacklink && (flags_ & kDbfFlagMemo) != 0);
  current_ = 0;
  eof_ = false;
  bof_ = true;

  // The descriptor area lies between the 32 header bytes and the terminator (and the backlink
  // area of version 0x30). A header length that leaves no room for it, or a record without even
  // its deletion byte, cannot be a table.
  const int trailer = version_ == kDbfVersionFoxBacklink ? 1 + kDbfBacklinkSize : 1;
  const int area = headerLength_ - kDbfHeaderSize - trailer;
  if (area < 0 || recordLength_ < 1) throw ESorrelError(smTableHeaderInvalid, {Name()});
  // A file that ends inside its own header was cut short or is not a table at all.
  if (FileSize() < headerLength_) throw ESorrelError(smTableHeaderInvalid, {Name()});
  descriptors_.assign(static_cast<size_t>(area), 0);
  if (area > 0 && Read(kDbfHeaderSize, descriptors_.data(), area) < area)
    throw ESorrelError(smReadError, {Name()});
  if (encrypted_) ScrambleBuffer(password_, descriptors_.data(), descriptors_.data(), descriptors_.size(), 0);

  // Descriptors up to the area's end; a terminator met earlier (files padded by other programs)
  // ends the list there.
  int count = area / kDbfDescriptorSize;
  fields_.clear();
  int offset = 1;
  for (int i = 0; i < count; ++i) {
    uint8_t* d = descriptors_.data() + static_cast<size_t>(i) * kDbfDescriptorSize;
    if (d[0] == kDbfDescriptorEnd) break;
    ThxFieldInfo f;
    const char* name = reinterpret_cast<const char*>(d + kDbfFldName);
    f.name.assign(name, strnlen(name, kDbfFldNameSize));
    f.type = static_cast<char>(d[kDbfFldType]);
    if (f.type == 'C') {
      f.length = d[kDbfFldLength] + 256 * d[kDbfFldDecimals];
      f.decimals = 0;
    } else {
      f.length = d[kDbfFldLength];
      f.decimals = d[kDbfFldDecimals];
    }
    f.offset = offset;
    f.number = i + 1;
    offset += f.length;
    EncodeLE32(d + kDbfFldOffset, static_cast<uint32_t>(f.offset));
    EncodeLE16(d + kDbfFldNumber, static_cast<uint16_t>(f.number));
    fields_.push_back(std::move(f));
  }
  // Other programs write version 0x30 tables with memo fields but without the memo-file flag;
  // their notes live in the .fpt all the same, and reading them as empty would lose them.
  if (version_ == kDbfVersionFoxBacklink)
    for (const ThxFieldInfo& f : fields_)
      if (f.type == 'M' || f.type == 'G') hasMemo_ = true;
  // The fields must fit the record: a plain table whose descriptors add up to more than its record
  // length is damaged; on an encrypted table a mismatch means the key does not descramble them.
  if (encrypted_) {
    if (offset != recordLength_ || recordLength_ > kDbfMaxEncryptedRecordLength)
      throw ESorrelEncryption(smInvalidPassword, {Name()});
  } else if (offset > recordLength_) {
    throw ESorrelError(smTableHeaderInvalid, {Name()});
  } else if (offset != recordLength_) {
    // Some programs pad their records past the fields; such a record length still measures the
    // file: the header's count of records of that length fills it (with or without the
    // end-of-file byte). One that neither the fields nor the file bear out is a damaged header,
    // and records read with it would be garbage.
    const int64_t data = FileSize() - headerLength_;
    const int64_t stated = int64_t{DecodeLE32(header_ + kDbfHdrCount)} * recordLength_;
    if (data != stated && data != stated + 1) throw ESorrelError(smTableHeaderInvalid, {Name()});
  }

  const size_t size = static_cast<size_t>(recordLength_) + 1;
  ownRecord_.assign(size, kRecordLive);
  ownRecord_[size - 1] = static_cast<char>(kEndOfFileByte);
  record_ = ownRecord_.data();
  saved_.assign(size, kRecordLive);
  work_.assign(size, kRecordLive);
  recordCount_ = CountFromFileSize();
}

int32_t HXO_dBaseDBF::CountFromFileSize() {
  const int64_t data = FileSize() - headerLength_;
  if (data <= 0) return 0;
  const int64_t count = data / recordLength_;
  return count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
}

void HXO_dBaseDBF::RefreshHeader() {
  if (!Shared()) {
    changedByOthers_ = false;
    return;
  }
  uint8_t header[kDbfHeaderSize];
  if (Read(0, header, kDbfHeaderSize) < kDbfHeaderSize) throw ESorrelError(smReadError, {Name()});
  std::memcpy(header_, header, kDbfHeaderSize);
  // The flags are the table's, not this handle's: another program may have given the table its
  // production index since, and the next header write must not take that back.
  flags_ = header_[kDbfHdrFlags] | flagsToAdd_;
  const int32_t count = CountFromFileSize();
  const uint32_t stamp = DecodeLE32(header_ + kDbfHdrStamp);
  if (count != recordCount_ || stamp != changeStamp_) changedByOthers_ = true;
  recordCount_ = count;
  changeStamp_ = stamp;
}

void HXO_dBaseDBF::WriteHeader() {
  if (!ReadWrite() || !headerDirty_ || tableLocked_) return;
  // Readers of other programs take the count from here: never announce fewer records than the
  // file holds, whatever this object saw last.
  StoreHeader(std::max(recordCount_, CountFromFileSize()));
}

void HXO_dBaseDBF::WriteHeaderUnderAppendLock() {
  if (!ReadWrite() || !headerDirty_ || tableLocked_) return;
  // The count was just taken from the file size (or is this exclusive opener's own), and no
  // appender can have moved it since.
  StoreHeader(recordCount_);
}

void HXO_dBaseDBF::StoreHeader(int32_t count) {
  uint8_t header[kDbfHeaderSize];
  std::memcpy(header, header_, kDbfHeaderSize);
  uint32_t stamp = 0;
  StampNow(header + kDbfHdrDate, stamp);
  EncodeLE32(header + kDbfHdrCount, static_cast<uint32_t>(count));
  // The layout this object works with, not whatever the last re-read found there.
  EncodeLE16(header + kDbfHdrHeaderLength, static_cast<uint16_t>(headerLength_));
  EncodeLE16(header + kDbfHdrRecordLength, static_cast<uint16_t>(recordLength_));
  header[kDbfHdrFlags] = flags_;
  EncodeLE32(header + kDbfHdrStamp, stamp);
  header[kDbfHdrEncrypted] = encrypted_ ? 1 : 0;
  EncodeLE32(header + kDbfHdrUserId, static_cast<uint32_t>(userId_));
  Write(0, header, kDbfHeaderSize);
  std::memcpy(header_, header, kDbfHeaderSize);
  flagsToAdd_ = 0;
  changeStamp_ = stamp;
  headerDirty_ = false;
}

void HXO_dBaseDBF::SaveRecord() {
  std::memcpy(saved_.data(), record_, static_cast<size_t>(recordLength_));
}

void HXO_dBaseDBF::DescrambleRecord(char* record) {
  if (encrypted_) ScrambleBuffer(password_, record, record, static_cast<size_t>(recordLength_), 0);
}

const char* HXO_dBaseDBF::RecordForWrite() {
  if (!encrypted_) {
    record_[recordLength_] = static_cast<char>(kEndOfFileByte);
    return record_;
  }
  ScrambleBuffer(password_, record_, work_.data(), static_cast<size_t>(recordLength_), 1);
  work_[static_cast<size_t>(recordLength_)] = static_cast<char>(kEndOfFileByte);
  return work_.data();
}

void HXO_dBaseDBF::StatusNotify(int code, int32_t) {
  if (code == kStatusAfterRead || code == kStatusAfterWrite) {
    appending_ = false;
    if (tableState_ != kTablePasswordChange) tableState_ = kTableIdle;
  }
}

void HXO_dBaseDBF::GotoRecord(int32_t record) {
  if (recordCount_ == 0) {
    RefreshHeader();
    if (recordCount_ == 0) {
      bof_ = true;
      eof_ = true;
      return;
    }
  }
  if (record == 0) return;
  bof_ = false;
  eof_ = false;
  int32_t target = record;
  switch (record) {
    case kGotoCurrent: target = current_; break;
    case kGotoLast: target = recordCount_; break;
    case kGotoFirst: target = 1; break;
    case kGotoNext: target = current_ + 1; break;
    case kGotoPrevious: target = current_ - 1; break;
    default:
      if (record < 1) throw ESorrelError(smRecordNotInTable, {record, Name()});
  }
  if (target < 1) {
    // Before the first record (prior from record 1, or no record yet): nothing is read.
    bof_ = true;
    return;
  }
  if (target > recordCount_) {
    RefreshHeader();  // another program may have appended
    if (target > recordCount_) {
      if (target == recordCount_ + 1) {
        eof_ = true;
        return;
      }
      throw ESorrelError(smRecordNotInTable, {target, Name()});
    }
  }
  StatusNotify(kStatusBeforeRead, target);
  if (Read(RecordOffset(target), record_, recordLength_) < recordLength_)
    throw ESorrelError(smReadError, {Name()});
  DescrambleRecord(record_);
  current_ = target;
  StatusNotify(kStatusAfterRead, target);
  SaveRecord();
}

bool HXO_dBaseDBF::LockOrCount(int64_t offset, int64_t length) {
  if (tableLocked_) {
    CountLock();
    return true;
  }
  return LockRegion(offset, length);
}

int64_t HXO_dBaseDBF::RecordLockOffset(int32_t record) const {
  // One byte per record for every handle. Placing it "from the top" for some handles only (those
  // with an index open, say) would let two handles lock the same record at different bytes and
  // both edit it.
  return RecordLockByte(protocol_, headerLength_, recordLength_, record);
}

bool HXO_dBaseDBF::FileLock() { return LockOrCount(lockOffsets_.b, 1); }

bool HXO_dBaseDBF::LockTable() {
  const ThxLockRegion region = TableLockRegion(protocol_);
  if (!LockOrCount(region.offset, region.length)) return false;
  RefreshUnderNewTableLock();
  return true;
}

bool HXO_dBaseDBF::LockWholeFile() {
  if (!LockOrCount(kWholeFileLockOffset, kWholeFileLockLength)) return false;
  RefreshUnderNewTableLock();
  return true;
}

void HXO_dBaseDBF::RefreshUnderNewTableLock() {
  const bool wasLocked = tableLocked_;
  tableLocked_ = true;
  try {
    RefreshHeader();
  } catch (...) {
    // The caller sees an error, not a lock: the level just taken is given back.
    tableLocked_ = wasLocked;
    try {
      Unlock();
    } catch (...) {
    }
    throw;
  }
}

bool HXO_dBaseDBF::RecordLock() { return LockOrCount(RecordLockOffset(current_), 1); }

bool HXO_dBaseDBF::FileUnlock() {
  if (!tableLocked_ || LockCount() > 1) return Unlock();
  // The last level of a table or whole-file lock: the header changed under it is written first,
  // while the region still keeps other writers out, and the lock is released even when that fails.
  tableLocked_ = false;
  std::exception_ptr failure;
  try {
    RewriteHeaderLocked();
  } catch (...) {
    failure = std::current_exception();
  }
  const bool result = Unlock();
  if (failure) std::rethrow_exception(failure);
  return result;
}

HXO_dBaseDBF::AppendLockHold HXO_dBaseDBF::TakeAppendLock() {
  // No other program can open an exclusive table.
  if (!Shared()) return AppendLockHold::None;
  const int64_t b = lockOffsets_.b;
  const std::vector<int> waits = LockRetryWaits();
  for (size_t attempt = 0;; ++attempt) {
    if (LockCount() > 0 && LockOffset() <= b && b - LockOffset() < LockLength())
      return AppendLockHold::Covered;
    if (LockCount() == 0) {
      if (FileLock()) return AppendLockHold::Region;
    } else if (SysLockRegion(Handle(), b, 1)) {
      // The byte lies outside the region this object holds, so releasing it later leaves that
      // region (a record lock) as it was.
      return AppendLockHold::ExtraByte;
    }
    if (attempt >= waits.size()) throw ESorrelError(smCannotLockFile, {Name()});
    SysSleep(waits[attempt]);
  }
}

void HXO_dBaseDBF::ReleaseAppendLock(AppendLockHold hold) {
  switch (hold) {
    case AppendLockHold::None:
    case AppendLockHold::Covered:
      break;
    case AppendLockHold::Region:
      FileUnlock();
      break;
    case AppendLockHold::ExtraByte:
      if (!SysUnlockRegion(Handle(), lockOffsets_.b, 1)) throw ESorrelError(smUnlockError, {Name()});
      break;
  }
}

void HXO_dBaseDBF::SetLockProtocol(ThxLokProtocol protocol) {
  protocol_ = protocol;
  lockOffsets_ = LockProtocolOffsets(protocol);
  if (memo_) memo_->SetLockMode(protocol);
}

void HXO_dBaseDBF::AppendRecord() {
  // The append lock keeps two appenders from taking the same record number: it is held from the
  // header re-read to the header rewrite. When another program keeps it, the append waits like
  // memo and index locks do and then fails without writing anything.
  WithAppendLock([&] {
    StatusNotify(kStatusBeforeWrite, 0);
    headerDirty_ = true;
    appending_ = true;
    RefreshHeader();
    record_[0] = kRecordLive;
    const int32_t previousCount = recordCount_;
    const int32_t previousCurrent = current_;
    recordCount_ = previousCount + 1;
    current_ = recordCount_;
    // A header that cannot be written takes the record back too: left in place, it would be
    // counted (from the file size) but never reach the indexes.
    try {
      Write(RecordOffset(current_), RecordForWrite(), recordLength_ + 1);
      WriteHeaderUnderAppendLock();
    } catch (...) {
      UndoFailedAppend(previousCount, previousCurrent);
      throw;
    }
  });
  eof_ = false;
  bof_ = false;
  StatusNotify(kStatusAfterWrite, 0);
  if (autoFlush_) Flush();
  SaveRecord();
}

void HXO_dBaseDBF::UndoFailedAppend(int32_t previousCount, int32_t previousCurrent) {
  recordCount_ = previousCount;
  current_ = previousCurrent;
  // A write that stopped part way leaves a piece of a record after the last one. The count never
  // includes it (it comes from whole records), but other programs would read the stray bytes as
  // the start of their next record; cut them off and put the end-of-file byte back.
  try {
    const int64_t end = RecordOffset(previousCount + 1);
    const int64_t size = FileSize();
    if (size <= end) return;
    uint8_t last = 0;
    if (size == end + 1 && HXO_DiskFile::Read(end, &last, 1) == 1 && last == kEndOfFileByte) return;
    const uint8_t eof = kEndOfFileByte;
    HXO_DiskFile::Write(end, &eof, 1);
    SysTruncateFile(Handle(), end + 1);
  } catch (const std::exception&) {
    // The disk refuses even that: the partial bytes stay, and are still not counted.
  }
}

bool HXO_dBaseDBF::UndoAppendedRecord(int32_t record, int32_t previousCurrent) {
  bool undone = false;
  WithAppendLock([&] {
    RefreshHeader();
    // Another program appended after it: the record is no longer the last and stays.
    if (recordCount_ != record) return;
    UndoFailedAppend(record - 1, previousCurrent);
    if (CountFromFileSize() >= record) {
      // The file could not be cut: the record stays, counted.
      recordCount_ = record;
      current_ = record;
      return;
    }
    undone = true;
    headerDirty_ = true;
    try {
      WriteHeaderUnderAppendLock();
    } catch (const std::exception&) {
      // The record is gone from the file, which is what counts; the header follows later.
    }
  });
  return undone;
}

void HXO_dBaseDBF::UpdateRecord(int32_t record) {
  StatusNotify(kStatusBeforeWrite, record);
  if (record < 1 || record > recordCount_ || tableState_ == kTableAppendOnUpdate) {
    AppendRecord();
    return;
  }
  // The header rewrite that follows the record must not race an append of another program (its
  // count would go back); the append lock is taken before anything is written, so a lock that
  // cannot be had leaves the record as it was.
  WithAppendLock([&] {
    headerDirty_ = true;
    Write(RecordOffset(record), RecordForWrite(), recordLength_);
    current_ = record;
    try {
      RefreshHeader();
      WriteHeaderUnderAppendLock();
    } catch (...) {
      // Left in place without its header, the record would never reach the indexes: it goes
      // back as it was last read.
      std::vector<char> old(saved_.begin(), saved_.begin() + recordLength_);
      old.push_back(0);
      char* const own = SetRecordBuffer(old.data());
      try {
        Write(RecordOffset(record), RecordForWrite(), recordLength_);
      } catch (const std::exception&) {
      }
      SetRecordBuffer(own);
      throw;
    }
  });
  StatusNotify(kStatusAfterWrite, record);
  if (autoFlush_) Flush();
  SaveRecord();
}

void HXO_dBaseDBF::Flush() {
  HXO_DiskFile::Flush();
  // Only an open memo file can have anything to flush; opening one here would make a table whose
  // memo file went missing fail every flush.
  if (memo_) memo_->Flush();
  StatusNotify(kStatusAfterFlush, current_);
}

bool HXO_dBaseDBF::Rename(std::string_view newPath) {
  // Open the memo file first, so that a missing one stops the rename before anything moved.
  HXobjMemo* memo = MemoFile();
  const std::string oldName = Name();
  const bool result = HXO_DiskFile::Rename(newPath);
  if (memo != nullptr) {
    try {
      memo->RenameWithTable(Name());
    } catch (...) {
      // The memo file could not follow (a file of its new name is in the way): the table goes
      // back to its old name, so that it is not opened later with another table's memos.
      try {
        HXO_DiskFile::Rename(oldName);
        if (memo->Closed()) memo->Open();
      } catch (...) {
      }
      throw;
    }
  }
  return result;
}

HXobjMemo* HXO_dBaseDBF::MemoFile() {
  if (memo_ || !hasMemo_) return memo_.get();
  switch (version_) {
    case kDbfVersion3Memo:
      memo_ = std::make_unique<HXobjMemo>(this, version_, Shared(), ReadWrite(), password_, Name());
      break;
    case kDbfVersion4Memo:
      memo_ = std::make_unique<HXobjMemo4>(this, version_, Shared(), ReadWrite(), password_, Name());
      break;
    case kDbfVersionFoxMemo:
    case kDbfVersionFoxBacklink:
      memo_ =
          std::make_unique<HXobjFXMemo20>(this, version_, Shared(), ReadWrite(), password_, Name());
      break;
    default:
      return nullptr;
  }
  memo_->SetLockMode(protocol_);
  return memo_.get();
}

void HXO_dBaseDBF::AdoptSwappedFile(int descriptor, std::string_view password) {
  // The old file's descriptor goes (with its open lock; the new descriptor already holds its own),
  // and so does the memo object of the old memo file; the header and count are the new file's.
  memo_.reset();
  if (handle_ > 0) ::close(handle_);
  handle_ = descriptor;
  position_ = 0;
  lockCount_ = 0;
  password_ = password;
  headerDirty_ = false;
  if (Read(0, header_, kDbfHeaderSize) < kDbfHeaderSize) throw ESorrelError(smReadError, {Name()});
  flags_ = header_[kDbfHdrFlags];
  changeStamp_ = DecodeLE32(header_ + kDbfHdrStamp);
  encrypted_ = header_[kDbfHdrEncrypted] != 0;
  recordCount_ = CountFromFileSize();
  if (current_ > recordCount_) current_ = recordCount_;
}

void HXO_dBaseDBF::CloseAfterFailedSwap() noexcept {
  memo_.reset();
  try {
    HXO_DiskFile::Close();
  } catch (...) {
  }
}

// The handler's whole-table operations: Pack (removing deleted records) and SetPassword
// (rewriting every record, memo and descriptor under a new key). Both need the table opened
// exclusively for writing.
#include <cstring>
#include <vector>

#include "hx6_dbsy.h"
#include "hx6_encrxm.h"
#include "hx6_glbl.h"
#include "hx6_memo.h"

bool HXO_dBHandler::IsMemoField(char type) const {
  // In version 0x30 tables a B field is a binary double, not a memo.
  return type == 'M' || type == 'G' || (type == 'B' && Version() != kDbfVersionFoxBacklink);
}

void HXO_dBHandler::ReadRawRecord(int32_t record, char* into) {
  if (Read(RecordOffset(record), into, RecordLength()) < RecordLength())
    throw ESorrelError(smReadError, {Name()});
}

void HXO_dBHandler::Pack() {
  CallScope call(*this);
  ForgetPassingEntries();
  if (Shared() || !ReadWrite()) throw ESorrelError(smRequiresFullAccess, {"Pack", Name()});
  HXobjIndexTag* savedMaster = master_;
  const bool savedBuffer = bufferActive_;
  HXobjMemo* memo = HasMemo() ? MemoFile() : nullptr;
  master_ = nullptr;
  SetReadBuffer(false);
  SetReadBuffer(true);

  const int32_t count = RecordCount();
  int32_t kept = 0;
  // The memos of deleted records are given back only once the records are gone from the file: a
  // pack that stops part way leaves them in the table, where a recall brings them back with their
  // memos.
  std::vector<uint32_t> released;
  {
    struct Restore {
      HXO_dBHandler& h;
      HXobjIndexTag* master;
      bool buffer;
      ~Restore() {
        try {
          h.master_ = master;
          h.SetReadBuffer(buffer);
        } catch (...) {
        }
      }
    } restore{*this, savedMaster, savedBuffer};

    StatusReport(-1, kStatusPhasePack, count);
    for (int32_t r = 1; r <= count; ++r) {
      ReadRawRecord(r, RecordBuffer());
      DescrambleRecord(RecordBuffer());
      SetRecNo(r);
      if (!IsDeleted()) {
        ++kept;
        // A kept record goes back to the file as the table stores records: scrambled when the
        // table is encrypted.
        if (kept != r) Write(RecordOffset(kept), RecordForWrite(), RecordLength());
      } else if (memo) {
        for (int n = 1; n <= FieldCount(); ++n) {
          if (!IsMemoField(FieldInfo(n).type)) continue;
          const uint32_t block = MemoBlock(n);
          if (block != 0) released.push_back(block);
        }
      }
      StatusReport(kStatusPhasePack, r, 0);
    }
    if (kept < count) {
      SetRecordCount(kept);
      const int64_t end = HeaderLength() + static_cast<int64_t>(kept) * RecordLength();
      const uint8_t eof = kEndOfFileByte;
      HXO_DiskFile::Write(end, &eof, 1);
      Truncate(end + 1);
      DropReadBuffer();
    }
    MarkHeaderDirty();
    WriteHeader();
    for (const uint32_t block : released) {
      try {
        memo->Release(block);
      } catch (const ESorrelException&) {
        // The records are packed; a run that cannot be given back (a damaged block number of a
        // removed record) only stays unused.
      }
    }
    StatusReport(0, 0, 0);
  }
  if (kept < count) Reindex();
  // Record numbers moved: a filter's set of passing records is built again.
  if (filter_ && filterSet_) BuildFilterSet();
  if (master_) master_->Reset(0);
  GoTo(kGotoFirst);
}

void HXO_dBHandler::SetPassword(std::string_view password) {
  CallScope call(*this);
  if (Shared() || !ReadWrite()) throw ESorrelError(smRequiresFullAccess, {"SetPassword", Name()});
  const std::string oldKey = Password();
  const std::string newKey(password);
  if (Encrypted() && newKey == oldKey) return;
  if (!Encrypted() && newKey.empty()) return;

  const uint8_t formerState = TableState();
  SetTableState(kHandlerPasswordChange);
  HXobjMemo* memo = HasMemo() ? MemoFile() : nullptr;
  if (memo) memo->SetKeys(oldKey, newKey);
  const int32_t savedRecord = RecNo();
  HXobjIndexTag* savedMaster = master_;
  const bool savedBuffer = bufferActive_;
  master_ = nullptr;
  SetReadBuffer(true);
  {
    struct Restore {
      HXO_dBHandler& h;
      HXobjIndexTag* master;
      bool buffer;
      uint8_t state;
      HXobjMemo* memo;
      const std::string& key;
      bool done = false;
      ~Restore() {
        try {
          h.master_ = master;
          h.SetReadBuffer(buffer);
          h.SetTableState(state);
          // A change that stopped part way leaves the table under its old key: the memo file
          // must not go on writing with the new one.
          if (!done && memo) memo->SetKeys(key, key);
        } catch (...) {
        }
      }
    } restore{*this, savedMaster, savedBuffer, formerState, memo, oldKey};

    const int length = RecordLength();
    std::vector<char> scrambled(static_cast<size_t>(length));
    const int32_t count = RecordCount();
    for (int32_t r = 1; r <= count; ++r) {
      char* record = RecordBuffer();
      ReadRawRecord(r, record);
      ScrambleBuffer(oldKey, record, record, static_cast<size_t>(length), 0);
      SetRecNo(r);
      if (memo) {
        for (int n = 1; n <= FieldCount(); ++n) {
          if (!IsMemoField(FieldInfo(n).type)) continue;
          const uint32_t block = MemoBlock(n);
          if (block == 0) continue;
          const std::string text = memo->ReadText(block);
          const uint32_t moved = memo->WriteText(text, block);
          if (moved != block) PutFloat(n, moved);
        }
      }
      ScrambleBuffer(newKey, record, scrambled.data(), static_cast<size_t>(length), 1);
      Write(RecordOffset(r), scrambled.data(), length);
    }

    // The descriptors as they are in the file (bytes this engine keeps only in memory stay out).
    const int area = DescriptorAreaSize();
    if (area > 0) {
      std::vector<char> descriptors(static_cast<size_t>(area));
      if (HXO_DiskFile::Read(kDbfHeaderSize, descriptors.data(), area) < area)
        throw ESorrelError(smReadError, {Name()});
      ScrambleBuffer(oldKey, descriptors.data(), descriptors.data(), descriptors.size(), 0);
      ScrambleBuffer(newKey, descriptors.data(), descriptors.data(), descriptors.size(), 1);
      HXO_DiskFile::Write(kDbfHeaderSize, descriptors.data(), area);
    }
    restore.done = true;
  }
  for (auto& file : slots_)
    if (file) file->Rescramble(oldKey, newKey);
  // An empty key makes the table plain again: the flag follows the key.
  ChangeKey(newKey);
  if (memo) memo->SetKeys(newKey, newKey);
  MarkHeaderDirty();
  WriteHeader();
  DropReadBuffer();
  if (master_) master_->Reset(0);
  if (savedRecord >= 1 && savedRecord <= RecordCount())
    GoTo(savedRecord);
  else
    SetRecNo(savedRecord);
}

// The handler's whole-table operations: Pack (removing deleted records) and SetPassword
// (rewriting every record, memo and descriptor under a new key). Both need the table opened
// exclusively for writing.
//
// Neither changes the table's files in place. The new table, a compacted memo file and, where
// their contents change, the open index files are written beside the old ones and then swapped
// in by rename (hx6_swap, where the order is set out), so that a crash or a full disk at any
// point leaves the old set or the new one, and the next open finds and uses it.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "base/byteorder.h"
#include "handler/hx6_dbsy.h"
#include "base/hx6_encrxm.h"
#include "base/hx6_glbl.h"
#include "table/hx6_memo.h"
#include "table/hx6_swap.h"

namespace {

// Records are written to the new table in pieces of about this size.
constexpr size_t kStagingChunk = 32768;
constexpr int kScrambleBlock = 512;

uint32_t CeilDivide(uint32_t a, uint32_t b) { return (a + b - 1) / b; }

bool IsFoxMemo(uint8_t version) {
  return version == kDbfVersionFoxMemo || version == kDbfVersionFoxBacklink;
}

// The memo object of the dialect of `version` over the memo file of the table at `tablePath`.
std::unique_ptr<HXobjMemo> OpenMemo(HXO_dBaseDBF* table, uint8_t version, const std::string& key,
                                    const std::string& tablePath) {
  if (version == kDbfVersion3Memo)
    return std::make_unique<HXobjMemo>(table, version, false, true, key, tablePath);
  if (version == kDbfVersion4Memo)
    return std::make_unique<HXobjMemo4>(table, version, false, true, key, tablePath);
  return std::make_unique<HXobjFXMemo20>(table, version, false, true, key, tablePath);
}

// An empty memo file like `old`: its header block(s) as they are (base name, block size), with
// nothing used after them.
std::string EmptyMemoImage(HXobjMemo& old) {
  const uint32_t blockSize = old.BlockSize();
  const bool fox = IsFoxMemo(old.Version());
  const uint32_t first = fox ? CeilDivide(kMemoFoxHeaderBytes, blockSize) : 1;
  std::string image(static_cast<size_t>(first) * blockSize, '\0');
  old.Read(int64_t{0}, image.data(), static_cast<int32_t>(image.size()));
  auto* h = reinterpret_cast<uint8_t*>(image.data());
  if (fox) {
    EncodeBE32(h + kMemoHdrNextFree, first);
  } else {
    // dBase III: the next free block; dBase IV: a free chain that starts at the end of the file.
    EncodeLE32(h + kMemoHdrNextFree, 1);
    if (old.Version() == kDbfVersion4Memo) EncodeLE32(h + 4, 0);
  }
  return image;
}

// Copies the index file `from` to the new file `to`. Index blocks of an encrypted table are
// scrambled in 512-byte pieces: with another key every whole piece is rescrambled.
void CopyIndexFile(const std::string& from, const std::string& to, const std::string& oldKey,
                   const std::string& newKey) {
  HXO_DiskFile in(from, false, false);
  in.Open();
  HXO_DiskFile out(to, false, true);
  out.Rewrite();
  const int64_t size = in.FileSize();
  std::vector<char> chunk(kStagingChunk);
  for (int64_t at = 0; at < size; at += static_cast<int64_t>(kStagingChunk)) {
    const auto want = static_cast<int32_t>(std::min<int64_t>(size - at, kStagingChunk));
    if (in.Read(at, chunk.data(), want) < want) throw ESorrelError(smReadError, {in.Name()});
    if (oldKey != newKey) {
      for (int32_t piece = 0; piece + kScrambleBlock <= want; piece += kScrambleBlock) {
        char* p = chunk.data() + piece;
        ScrambleBuffer(oldKey, p, p, kScrambleBlock, 0);
        ScrambleBuffer(newKey, p, p, kScrambleBlock, 1);
      }
    }
    out.Write(at, chunk.data(), want);
  }
  if (!out.Close()) throw ESorrelError(smCloseError, {out.Name()});
}

// The new table opened to rebuild the copies of the index files; its progress goes to the
// handler being packed.
class StagedHandler : public HXO_dBHandler {
 public:
  StagedHandler(const std::string& path, const std::string& key, HXO_dBHandler& owner)
      : HXO_dBHandler(path, false, true, key), owner_(owner) {
    rebuildInPlace_ = true;
  }
  void StatusReport(int stat1, int stat2, int stat3) override {
    owner_.StatusReport(stat1, stat2, stat3);
  }

 private:
  HXO_dBHandler& owner_;
};

}  // namespace

bool HXO_dBHandler::IsMemoField(char type) const {
  // In version 0x30 tables a B field is a binary double, not a memo.
  return type == 'M' || type == 'G' || (type == 'B' && Version() != kDbfVersionFoxBacklink);
}

void HXO_dBHandler::ReadRawRecord(int32_t record, char* into) {
  if (Read(RecordOffset(record), into, RecordLength()) < RecordLength())
    throw ESorrelError(smReadError, {Name()});
}

void HXO_dBHandler::RewriteTableFiles(bool removeDeleted, const std::string& newKey) {
  const std::string oldKey = Password();
  const bool rekey = newKey != oldKey;
  const int32_t count = RecordCount();
  const int length = RecordLength();
  const bool savedBuffer = bufferActive_;
  SetReadBuffer(true);

  // Whether any record goes: only then do record numbers, and so the index files, change.
  bool removing = false;
  for (int32_t r = 1; removeDeleted && r <= count && !removing; ++r) {
    ReadRawRecord(r, RecordBuffer());
    DescrambleRecord(RecordBuffer());
    removing = IsDeleted();
  }
  HXobjMemo* oldMemo = HasMemo() ? MemoFile() : nullptr;
  if (!removing && oldMemo == nullptr && !rekey) {
    // Nothing to rewrite: the header is brought up to date, as every pack does.
    StatusReport(-1, kStatusPhasePack, count);
    for (int32_t r = 1; r <= count; ++r) StatusReport(kStatusPhasePack, r, 0);
    SetReadBuffer(savedBuffer);
    MarkHeaderDirty();
    WriteHeader();
    StatusReport(0, 0, 0);
    return;
  }

  // The index files are closed (their changed pages written) and opened again at the end, over
  // the old set or the new one, whichever stands then.
  std::vector<std::string> indexPaths;
  for (auto& file : slots_)
    if (file && file->DiskFile()) indexPaths.push_back(file->DiskFile()->Name());
  const std::string masterName = masterName_;
  CloseIndexFiles();
  auto reopenIndexes = [&] {
    for (const std::string& path : indexPaths) OpenIndexFile(path);
    if (!masterName.empty()) SelectMasterTag(masterName, false);
  };

  try {
    ThxFileSwap swap(Name());
    std::vector<std::pair<std::string, std::string>> indexes;  // final, staged
    if (removing || rekey)
      for (const std::string& path : indexPaths) indexes.emplace_back(path, swap.Add(path));
    const std::string stagedMemo = oldMemo ? swap.Add(oldMemo->Name()) : std::string();
    const std::string stagedTable = swap.Add(Name());
    swap.Begin();

    // The table, with the notes of the records it keeps copied one after the other into a new
    // memo file (dBase III and FoxPro memo files only grow between packs).
    if (removeDeleted) StatusReport(-1, kStatusPhasePack, count);
    {
      std::unique_ptr<HXobjMemo> newMemo;
      if (oldMemo) {
        oldMemo->SetKeys(oldKey, oldKey);
        const std::string image = EmptyMemoImage(*oldMemo);
        HXO_DiskFile empty(stagedMemo, false, true);
        empty.Rewrite();
        empty.Write(0, image.data(), static_cast<int32_t>(image.size()));
        if (!empty.Close()) throw ESorrelError(smCloseError, {empty.Name()});
        newMemo = OpenMemo(this, Version(), newKey, stagedTable);
      }
      HXO_DiskFile out(stagedTable, false, true);
      out.Rewrite();
      std::vector<char> head(static_cast<size_t>(HeaderLength()));
      if (HXO_DiskFile::Read(0, head.data(), HeaderLength()) < HeaderLength())
        throw ESorrelError(smReadError, {Name()});
      if (rekey) {
        // The descriptors as the file holds them, under the new key; the flag follows the key.
        char* area = head.data() + kDbfHeaderSize;
        const size_t size = static_cast<size_t>(DescriptorAreaSize());
        ScrambleBuffer(oldKey, area, area, size, 0);
        ScrambleBuffer(newKey, area, area, size, 1);
        head[kDbfHdrEncrypted] = newKey.empty() ? 0 : 1;
      }
      std::vector<char> chunk;
      chunk.reserve(kStagingChunk + static_cast<size_t>(length) + 1);
      int64_t at = HeaderLength();
      int32_t kept = 0;
      for (int32_t r = 1; r <= count; ++r) {
        ReadRawRecord(r, RecordBuffer());
        DescrambleRecord(RecordBuffer());
        SetRecNo(r);
        if (!removeDeleted || !IsDeleted()) {
          ++kept;
          for (int n = 1; newMemo && n <= FieldCount(); ++n) {
            if (!IsMemoField(FieldInfo(n).type)) continue;
            const uint32_t block = MemoBlock(n);
            if (block == 0) continue;
            const uint32_t moved = newMemo->WriteText(oldMemo->ReadText(block), 0);
            if (moved != block) PutFloat(n, moved);
          }
          const size_t offset = chunk.size();
          chunk.resize(offset + static_cast<size_t>(length));
          ScrambleBuffer(newKey, RecordBuffer(), chunk.data() + offset, static_cast<size_t>(length), 1);
          if (chunk.size() >= kStagingChunk) {
            out.Write(at, chunk.data(), static_cast<int32_t>(chunk.size()));
            at += static_cast<int64_t>(chunk.size());
            chunk.clear();
          }
        }
        if (removeDeleted) StatusReport(kStatusPhasePack, r, 0);
      }
      chunk.push_back(static_cast<char>(kEndOfFileByte));
      out.Write(at, chunk.data(), static_cast<int32_t>(chunk.size()));
      EncodeLE32(reinterpret_cast<uint8_t*>(head.data()) + kDbfHdrCount, static_cast<uint32_t>(kept));
      out.Write(0, head.data(), HeaderLength());
      if (!out.Close()) throw ESorrelError(smCloseError, {out.Name()});
      if (newMemo && !newMemo->Close()) throw ESorrelError(smCloseError, {newMemo->Name()});
    }
    if (removeDeleted) StatusReport(0, 0, 0);

    // The index files: copied (rescrambled under a new key) and, when records went, rebuilt over
    // the new table.
    for (const auto& [from, to] : indexes) CopyIndexFile(from, to, oldKey, newKey);
    if (removing && !indexes.empty()) {
      StagedHandler staged(stagedTable, newKey, *this);
      for (const auto& index : indexes) staged.OpenIndexFile(index.second);
      staged.Reindex();
      // Every page on the disk now, with a failure reported here rather than lost in a destructor.
      for (int slot = 1; slot <= kIndexSlots; ++slot) {
        HXobjIndexFile* file = staged.IndexFile(slot);
        for (int t = 0; file && t < file->TagCount(); ++t) file->TagByIndex(t)->ReleasePages();
      }
      staged.CloseIndexFiles();
    }

    // The new table's descriptor takes the place of the old one once the swap is made; opened
    // now, under its staged name, it keeps the table locked for this handle throughout.
    const int descriptor = OpenExclusiveDescriptor(stagedTable);
    if (descriptor < 0) throw ESorrelError(smAccessDenied, {stagedTable});
    try {
      swap.Commit();
    } catch (...) {
      ::close(descriptor);
      if (swap.Committed()) CloseAfterFailedSwap();
      throw;
    }
    AdoptSwappedFile(descriptor, newKey);
    DropReadBuffer();
    MarkHeaderDirty();
    WriteHeader();
  } catch (...) {
    try {
      DropReadBuffer();
      SetReadBuffer(savedBuffer);
      if (!Closed()) reopenIndexes();
    } catch (...) {
    }
    throw;
  }
  SetReadBuffer(savedBuffer);
  reopenIndexes();
}

void HXO_dBHandler::Pack() {
  CallScope call(*this);
  ForgetPassingEntries();
  if (Shared() || !ReadWrite()) throw ESorrelError(smRequiresFullAccess, {"Pack", Name()});
  RewriteTableFiles(true, Password());
  // Record numbers moved: a filter's set of passing records is built again.
  if (filter_ && filterSet_) BuildFilterSet();
  GoTo(kGotoFirst);
}

void HXO_dBHandler::SetPassword(std::string_view password) {
  CallScope call(*this);
  if (Shared() || !ReadWrite()) throw ESorrelError(smRequiresFullAccess, {"SetPassword", Name()});
  const std::string newKey(password);
  if (Encrypted() && newKey == Password()) return;
  if (!Encrypted() && newKey.empty()) return;

  const uint8_t formerState = TableState();
  const int32_t savedRecord = RecNo();
  SetTableState(kHandlerPasswordChange);
  struct RestoreState {
    HXO_dBHandler& h;
    uint8_t state;
    ~RestoreState() { h.SetTableState(state); }
  } restore{*this, formerState};
  RewriteTableFiles(false, newKey);
  if (savedRecord >= 1 && savedRecord <= RecordCount())
    GoTo(savedRecord);
  else
    SetRecNo(savedRecord);
}

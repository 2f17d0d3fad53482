#include "table/hx6_memo.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/byteorder.h"
#include "base/SysSorl.h"
#include "base/hx6_encrxm.h"
#include "base/hx6_glbl.h"
#include "base/hx6_tool.h"

namespace {

// The table's path with the memo extension in place of its own.
std::string MemoPath(std::string_view tablePath, uint8_t version) {
  const char* ext = (version == kDbfVersionFoxMemo || version == kDbfVersionFoxBacklink) ? ".fpt" : ".dbt";
  std::string path(tablePath);
  const size_t slash = path.find_last_of("/\\:");
  const size_t dot = path.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.resize(dot);
  return path + ext;
}

// Where the memo file `memoName` goes when its table is renamed to `newTablePath`: the new name with
// the memo's own extension, written in the case of the new table's extension when that is all upper
// or all lower case ("NEW.DBF" with "NEW.DBT"), as other programs look for it so; otherwise in the
// case the memo file had.
std::string RenamedMemoPath(std::string_view newTablePath, std::string_view memoName, uint8_t version) {
  std::string path = MemoPath(newTablePath, version);
  std::string extension = path.substr(path.size() - 4);  // ".dbt" or ".fpt"
  const size_t dot = memoName.find_last_of('.');
  if (dot != std::string_view::npos && memoName.size() - dot == 4 &&
      SysLowerCase(memoName.substr(dot)) == extension)
    extension = std::string(memoName.substr(dot));
  const std::string_view table(newTablePath);
  const size_t slash = table.find_last_of("/\\:");
  const size_t tableDot = table.find_last_of('.');
  if (tableDot != std::string_view::npos && (slash == std::string_view::npos || tableDot > slash)) {
    const std::string tableExtension(table.substr(tableDot + 1));
    const std::string upper = SysUpperCase(tableExtension);
    const std::string lower = SysLowerCase(tableExtension);
    if (upper != lower && tableExtension == upper) extension = SysUpperCase(extension);
    if (upper != lower && tableExtension == lower) extension = SysLowerCase(extension);
  }
  path.resize(path.size() - 4);
  return path + extension;
}

// A memo file of the target name under another case would be taken for this table's memo file by
// the next opener (names are found without regard to case): the rename is refused, as when the
// name itself is taken. The memo file itself (a rename that changes only the case) is no twin.
void RefuseNameTakenInAnyCase(const std::string& target, const std::string& memoName) {
  const std::string existing = ResolveFileNameCase(target);
  std::error_code ec;
  if (existing != memoName && std::filesystem::exists(existing, ec))
    throw ESorrelError(smRenameError, {memoName});
}

uint32_t CeilDiv(uint64_t value, uint32_t divisor) {
  return static_cast<uint32_t>((value + divisor - 1) / divisor);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// dBase III

HXobjMemo::HXobjMemo(HXO_dBaseDBF* table, uint8_t version, bool shared, bool readWrite,
                     std::string_view password, std::string_view tablePath)
    : HXO_DiskFile(MemoPath(tablePath, version), shared, readWrite),
      table_(table),
      version_(version),
      readKey_(password),
      writeKey_(password) {
  if (!Exists()) throw ESorrelError(smFileNotFound, {Name()});
  lockOffsets_ = LockProtocolOffsets(protocol_);
  Open();
}

HXobjMemo::~HXobjMemo() {
  // A destructor cannot report; closing the handle releases the memo lock in any case.
  try {
    Close();
  } catch (const std::exception&) {
  }
}

void HXobjMemo::SetKeys(std::string_view readKey, std::string_view writeKey) {
  readKey_ = readKey;
  writeKey_ = writeKey;
}

void HXobjMemo::SetLockMode(ThxLokProtocol protocol) {
  protocol_ = protocol;
  lockOffsets_ = LockProtocolOffsets(protocol);
}

void HXobjMemo::LockMemo() {
  if (!Shared()) return;
  switch (protocol_) {
    case ThxLokProtocol::DB4Lock:
      LockRegionWithRetry(*this, lockOffsets_.b - 1, 2);
      break;
    case ThxLokProtocol::ClipLock:
      LockRegionWithRetry(*this, lockOffsets_.b, 1);
      break;
    case ThxLokProtocol::Default:
    case ThxLokProtocol::FoxLock:
      LockRegionWithRetry(*this, lockOffsets_.b - 1, 1);
      break;
  }
}

void HXobjMemo::UnlockMemo() {
  if (Shared()) Unlock();
}

void HXobjMemo::CheckBlockSize() {
  if (blockSize_ == 0 || blockSize_ > kMemoMaxBlockSize) throw ESorrelError(smMemoRecordBad, {Name()});
}

bool HXobjMemo::ReadFileHeader(int count) {
  return HXO_DiskFile::Read(0, header_, count) == count;
}

uint32_t HXobjMemo::FileBlocks() {
  const int64_t blocks = FileSize() / blockSize_;
  return blocks > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(blocks);
}

uint32_t HXobjMemo::DecodeNextFree(const uint8_t* p) const { return DecodeLE32(p); }
void HXobjMemo::EncodeNextFree(uint8_t* p, uint32_t block) const { EncodeLE32(p, block); }

bool HXobjMemo::ReadBlockHeader(uint32_t block, uint32_t& length) {
  const int64_t start = static_cast<int64_t>(block) * blockSize_;
  const int64_t size = FileSize();
  if (block < FirstDataBlock() || start >= size) return false;
  if (LengthPrefixed(readKey_)) {
    uint8_t prefix[4];
    if (HXO_DiskFile::Read(start, prefix, 4) < 4) return false;
    length = DecodeLE32(prefix);
    return start + 4 + static_cast<int64_t>(length) <= size;
  }
  // The text runs to its first end byte; a file that ends first ends the text there.
  uint8_t chunk[512];
  length = 0;
  int64_t at = start;
  while (length < kMemo3MaxScan) {
    const int32_t want = static_cast<int32_t>(std::min<uint32_t>(sizeof chunk, kMemo3MaxScan - length));
    const int32_t got = HXO_DiskFile::Read(at, chunk, want);
    if (got <= 0) break;
    const auto* end = static_cast<const uint8_t*>(std::memchr(chunk, kEndOfFileByte, static_cast<size_t>(got)));
    if (end != nullptr) {
      length += static_cast<uint32_t>(end - chunk);
      break;
    }
    length += static_cast<uint32_t>(got);
    at += got;
  }
  return true;
}

uint32_t HXobjMemo::DataLength(uint32_t block) {
  if (block == 0) return 0;
  uint32_t length = 0;
  if (!ReadBlockHeader(block, length)) throw ESorrelError(smMemoRecordBad, {Name()});
  return length;
}

uint32_t HXobjMemo::Read(void* buffer, uint32_t block, uint32_t& size) {
  if (block == 0) {
    size = 0;
    return 0;
  }
  size = std::min(size, DataLength(block));
  if (size > INT32_MAX) throw ESorrelError(smMemoRecordBad, {Name()});
  const int64_t at = static_cast<int64_t>(block) * blockSize_ + blockHeaderSize_ +
                     (LengthPrefixed(readKey_) ? 4 : 0);
  const auto count = static_cast<int32_t>(size);
  if (HXO_DiskFile::Read(at, buffer, count) < count) throw ESorrelError(smReadError, {Name()});
  if (!readKey_.empty()) ScrambleBuffer(readKey_, buffer, buffer, size, 0);
  return size;
}

std::string HXobjMemo::ReadText(uint32_t block) {
  // The length is checked against the file first, so a damaged block cannot ask for more memory
  // than the file holds.
  uint32_t size = DataLength(block);
  std::string text(size, '\0');
  Read(text.data(), block, size);
  text.resize(size);
  return text;
}

uint32_t HXobjMemo::WriteText(std::string_view text, uint32_t block) {
  if (text.size() > UINT32_MAX) throw ESorrelError(smWriteError, {Name()});
  Write(text.data(), static_cast<uint32_t>(text.size()), block);
  return block;
}

uint32_t HXobjMemo::Write(const void* text, uint32_t length, uint32_t& block) {
  LockMemo();
  try {
    const bool prefixed = LengthPrefixed(writeKey_);
    const uint64_t stored = static_cast<uint64_t>(length) + (prefixed ? 4 : 0);
    const uint64_t total = blockHeaderSize_ + stored + EndBytes();
    // Every block the text needs is counted: a count cut to 16 bits would let a long text run into
    // the memo that follows it.
    const uint64_t blocks = (total + blockSize_ - 1) / blockSize_;
    const uint64_t bytes = blocks * blockSize_;
    if (bytes > INT32_MAX) throw ESorrelError(smWriteError, {Name()});
    blocksNeeded_ = static_cast<uint32_t>(blocks);
    currentBlock_ = block;
    Allocate(static_cast<uint32_t>(stored));

    std::vector<uint8_t> buffer(static_cast<size_t>(bytes), 0);
    uint8_t* p = buffer.data();
    std::memcpy(p, blockHeader_, blockHeaderSize_);
    p += blockHeaderSize_;
    if (prefixed) {
      EncodeLE32(p, length);
      p += 4;
    }
    if (length > 0) ScrambleBuffer(writeKey_, text, p, length, 1);
    WriteEndMarker(p + length);
    HXO_DiskFile::Write(static_cast<int64_t>(currentBlock_) * blockSize_, buffer.data(),
                        static_cast<int32_t>(bytes));
    block = currentBlock_;
  } catch (...) {
    UnlockMemo();
    throw;
  }
  UnlockMemo();
  return block;
}

void HXobjMemo::AllocateAtEnd(uint32_t oldBlocks) {
  if (currentBlock_ > 0 && oldBlocks >= blocksNeeded_) return;
  if (!ReadFileHeader(kMemoHeaderSize / 2)) throw ESorrelError(smMemoRecordBad, {Name()});
  // The header's next free block, kept within the file: never inside the header or below the last
  // whole block of the file (where it would overwrite memos), never beyond the file's end.
  const int64_t size = FileSize();
  const uint32_t low = std::max(FirstDataBlock(), FileBlocks());
  const uint32_t high = std::max(low, CeilDiv(static_cast<uint64_t>(size), blockSize_));
  const uint32_t first = std::clamp(DecodeNextFree(header_ + kMemoHdrNextFree), low, high);
  if (static_cast<uint64_t>(first) + blocksNeeded_ > UINT32_MAX) throw ESorrelError(smWriteError, {Name()});
  uint8_t next[4];
  EncodeNextFree(next, first + blocksNeeded_);
  HXO_DiskFile::Write(kMemoHdrNextFree, next, 4);
  std::memcpy(header_ + kMemoHdrNextFree, next, 4);
  currentBlock_ = first;
}

void HXobjMemo::Allocate(uint32_t) {
  // The old memo's blocks: its stored length (length prefix included, end bytes not) rounded up.
  // A block number that holds no memo is not reused.
  uint32_t oldBlocks = 0;
  uint32_t oldLength = 0;
  if (currentBlock_ > 0) {
    if (ReadBlockHeader(currentBlock_, oldLength))
      oldBlocks = CeilDiv(static_cast<uint64_t>(oldLength) + (LengthPrefixed(readKey_) ? 4 : 0), blockSize_);
    else
      currentBlock_ = 0;
  }
  AllocateAtEnd(oldBlocks);
}

void HXobjMemo::ReleaseBlocks() {}

void HXobjMemo::Release(uint32_t block) {
  if (block == 0) return;
  LockMemo();
  try {
    currentBlock_ = block;
    ReleaseBlocks();
  } catch (...) {
    UnlockMemo();
    throw;
  }
  UnlockMemo();
}

void HXobjMemo::WriteEndMarker(uint8_t* end) {
  end[0] = kEndOfFileByte;
  end[1] = kEndOfFileByte;
}

void HXobjMemo::WriteBaseName() {
  uint8_t name[kMemoHdrNameSize + 1] = {};
  const std::string base = StripFileExt(table_ != nullptr ? table_->Name() : Name());
  std::memcpy(name, base.data(), std::min<size_t>(base.size(), kMemoHdrNameSize));
  HXO_DiskFile::Write(kMemoHdrName, name, sizeof name);
}

bool HXobjMemo::RenameWithTable(std::string_view newTablePath) {
  const std::string target = RenamedMemoPath(newTablePath, Name(), version_);
  RefuseNameTakenInAnyCase(target, Name());
  const bool result = HXO_DiskFile::Rename(target);
  WriteBaseName();
  return result;
}

// ---------------------------------------------------------------------------------------------
// dBase IV

HXobjMemo4::HXobjMemo4(HXO_dBaseDBF* table, uint8_t version, bool shared, bool readWrite,
                       std::string_view password, std::string_view tablePath)
    : HXobjMemo(table, version, shared, readWrite, password, tablePath) {
  // A new file holds only the 24 bytes up to the block size.
  if (HXO_DiskFile::Read(0, header_, kMemoHeaderSize) < kMemo4HdrBlockSize + 4)
    throw ESorrelError(smMemoRecordBad, {Name()});
  blockSize_ = DecodeLE32(header_ + kMemo4HdrBlockSize);
  // The free chain keeps two 32-bit values in the first block of every free run.
  if (blockSize_ < 8) throw ESorrelError(smMemoRecordBad, {Name()});
  CheckBlockSize();
  blockHeaderSize_ = 8;
  // Padding changes the file, so only a writable opener pads; a reader works with the short file
  // as it is. Only the missing zeros are written: the header bytes already there (the free chain
  // of another program that got in first) are left alone.
  const int64_t size = FileSize();
  if (ReadWrite() && size < static_cast<int64_t>(blockSize_)) {
    std::vector<uint8_t> zeros(static_cast<size_t>(blockSize_ - size), 0);
    HXO_DiskFile::Write(size, zeros.data(), static_cast<int32_t>(zeros.size()));
  }
}

bool HXobjMemo4::ReadBlockHeader(uint32_t block, uint32_t& length) {
  const int64_t start = static_cast<int64_t>(block) * blockSize_;
  const int64_t size = FileSize();
  if (block < FirstDataBlock() || start >= size) return false;
  uint8_t head[8];
  if (HXO_DiskFile::Read(start, head, 8) < 8) return false;
  if (head[0] != 0xFF || head[1] != 0xFF) return false;
  const uint32_t stored = DecodeLE32(head + 4);
  if (stored < 8) return false;
  length = stored - 8;
  return start + static_cast<int64_t>(stored) <= size;
}

void HXobjMemo4::WriteEndMarker(uint8_t*) {}

uint32_t HXobjMemo4::EndBlock() {
  const int64_t blocks = (FileSize() + blockSize_ - 1) / blockSize_;
  return blocks > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(blocks);
}

void HXobjMemo4::FreeRun(uint32_t first, uint32_t count) {
  if (!ReadFileHeader(8)) throw ESorrelError(smMemoRecordBad, {Name()});
  uint8_t run[8];
  EncodeLE32(run, DecodeLE32(header_ + kMemoHdrNextFree));
  EncodeLE32(run + 4, count);
  HXO_DiskFile::Write(static_cast<int64_t>(first) * blockSize_, run, 8);
  uint8_t head[8] = {};
  EncodeLE32(head, first);
  HXO_DiskFile::Write(0, head, 8);
  std::memcpy(header_, head, 8);
}

void HXobjMemo4::ReleaseBlocks() {
  // Only a block that starts a memo is given back: anything else (a block already free, a number
  // inside another memo) would put live text into the chain, to be overwritten by the next memo.
  uint32_t length = 0;
  if (!ReadBlockHeader(currentBlock_, length)) throw ESorrelError(smMemoRecordBad, {Name()});
  FreeRun(currentBlock_, CeilDiv(static_cast<uint64_t>(length) + 8, blockSize_));
}

uint32_t HXobjMemo4::TakeRun(uint32_t count) {
  // Blocks the file holds, a last partial one included (another program may not pad its last
  // memo; taking that block would cut the memo's tail off).
  uint32_t endBlock = EndBlock();
  if (endBlock == 0) {
    // An empty file: its header block is written back at once so the blocks after it are counted.
    endBlock = 1;
    std::vector<uint8_t> block0(blockSize_, 0);
    std::memcpy(block0.data(), header_, kMemoHeaderSize);
    HXO_DiskFile::Write(0, block0.data(), static_cast<int32_t>(blockSize_));
  }
  if (!ReadFileHeader(8)) throw ESorrelError(smMemoRecordBad, {Name()});
  // Walk the chain; `previous` is 0 for the header. A pointer at or past the end of the file ends
  // it (the free space there). The chain is checked as it is walked: a pointer at the header, a
  // run of no blocks or running past the end of the file, or more runs than the file has blocks
  // (a loop) mean a damaged file, and nothing is written then.
  uint32_t previous = 0;
  uint32_t current = DecodeLE32(header_ + kMemoHdrNextFree);
  uint32_t first = 0;
  uint32_t link = 0;
  for (uint32_t steps = 0; current < endBlock; ++steps) {
    if (current == 0 || steps >= endBlock) throw ESorrelError(smMemoRecordBad, {Name()});
    uint8_t run[8];
    if (HXO_DiskFile::Read(static_cast<int64_t>(current) * blockSize_, run, 8) < 8)
      throw ESorrelError(smMemoRecordBad, {Name()});
    const uint32_t next = DecodeLE32(run);
    const uint32_t length = DecodeLE32(run + 4);
    if (length == 0 || length > endBlock - current) throw ESorrelError(smMemoRecordBad, {Name()});
    if (length >= count) {
      first = current;
      if (length == count) {
        link = next;
      } else {
        link = current + count;
        uint8_t rest[8];
        EncodeLE32(rest, next);
        EncodeLE32(rest + 4, length - count);
        HXO_DiskFile::Write(static_cast<int64_t>(link) * blockSize_, rest, 8);
      }
      break;
    }
    previous = current;
    current = next;
  }
  if (first == 0) {
    if (static_cast<uint64_t>(endBlock) + count > UINT32_MAX) throw ESorrelError(smWriteError, {Name()});
    first = endBlock;
    link = endBlock + count;
  }
  uint8_t pointer[4];
  EncodeLE32(pointer, link);
  HXO_DiskFile::Write(static_cast<int64_t>(previous) * blockSize_, pointer, 4);
  if (previous == 0) std::memcpy(header_ + kMemoHdrNextFree, pointer, 4);
  return first;
}

void HXobjMemo4::Allocate(uint32_t length) {
  // The old memo keeps its blocks until the record that points at the new place is written (the
  // caller then calls Release): a record write that fails or is cancelled must not leave the
  // record pointing at blocks the next memo may take. A text that fits the old run is written over
  // it in place, and the blocks it no longer needs go back to the chain at once (that is where
  // giving the run back and taking it again would have put it). A block that holds no memo is
  // not reused.
  uint32_t oldLength = 0;
  if (currentBlock_ > 0 && ReadBlockHeader(currentBlock_, oldLength)) {
    const uint32_t oldBlocks = CeilDiv(static_cast<uint64_t>(oldLength) + 8, blockSize_);
    if (oldBlocks < blocksNeeded_) {
      currentBlock_ = TakeRun(blocksNeeded_);
    } else if (oldBlocks > blocksNeeded_) {
      FreeRun(currentBlock_ + blocksNeeded_, oldBlocks - blocksNeeded_);
    }
  } else {
    currentBlock_ = TakeRun(blocksNeeded_);
  }
  blockHeader_[0] = 0xFF;
  blockHeader_[1] = 0xFF;
  EncodeLE16(blockHeader_ + 2, 8);
  EncodeLE32(blockHeader_ + 4, length + 8);
}

// ---------------------------------------------------------------------------------------------
// FoxPro

HXobjFXMemo20::HXobjFXMemo20(HXO_dBaseDBF* table, uint8_t version, bool shared, bool readWrite,
                             std::string_view password, std::string_view tablePath)
    : HXobjMemo(table, version, shared, readWrite, password, tablePath) {
  if (!ReadFileHeader(8)) throw ESorrelError(smMemoRecordBad, {Name()});
  blockSize_ = DecodeBE16(header_ + kMemoFoxHdrBlockSize);
  CheckBlockSize();
  blockHeaderSize_ = 8;
}

uint32_t HXobjFXMemo20::FirstDataBlock() const { return CeilDiv(kMemoFoxHeaderBytes, blockSize_); }
uint32_t HXobjFXMemo20::DecodeNextFree(const uint8_t* p) const { return DecodeBE32(p); }
void HXobjFXMemo20::EncodeNextFree(uint8_t* p, uint32_t block) const { EncodeBE32(p, block); }

bool HXobjFXMemo20::ReadBlockHeader(uint32_t block, uint32_t& length) {
  const int64_t start = static_cast<int64_t>(block) * blockSize_;
  const int64_t size = FileSize();
  if (block < FirstDataBlock() || start >= size) return false;
  uint8_t head[8];
  if (HXO_DiskFile::Read(start, head, 8) < 8) return false;
  const uint32_t type = DecodeBE32(head);
  if (type != 0 && type != 1) return false;
  length = DecodeBE32(head + 4);
  return start + 8 + static_cast<int64_t>(length) <= size;
}

void HXobjFXMemo20::WriteEndMarker(uint8_t*) {}

void HXobjFXMemo20::Allocate(uint32_t length) {
  // The old memo's blocks, its block header included.
  uint32_t oldBlocks = 0;
  uint32_t oldLength = 0;
  if (currentBlock_ > 0) {
    if (ReadBlockHeader(currentBlock_, oldLength))
      oldBlocks = CeilDiv(static_cast<uint64_t>(oldLength) + 8, blockSize_);
    else
      currentBlock_ = 0;
  }
  AllocateAtEnd(oldBlocks);
  EncodeBE32(blockHeader_, 1);
  EncodeBE32(blockHeader_ + 4, length);
}

bool HXobjFXMemo20::RenameWithTable(std::string_view newTablePath) {
  const std::string target = RenamedMemoPath(newTablePath, Name(), version_);
  RefuseNameTakenInAnyCase(target, Name());
  return HXO_DiskFile::Rename(target);
}

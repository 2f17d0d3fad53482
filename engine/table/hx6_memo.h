// hx6_memo: the memo files of a table.
//
// Memo, binary and general fields hold a block number; the value lives in the table's memo file.
// HXobjMemo reads and writes dBase III ".dbt" files, HXobjMemo4 dBase IV ".dbt" files (with their
// chain of free blocks) and HXobjFXMemo20 FoxPro ".fpt" files. The table (HXO_dBaseDBF::MemoFile)
// makes and owns its memo file; a memo file keeps a plain pointer back to its table.
//
// Thread-safety: one memo object is used by the one thread that uses its table. Programs sharing
// a memo file serialise writes through the memo lock (retried 100 times, 50 ms apart).
//
// Formats (block n starts at n x block size; block 0 holds the file header):
//   dBase III  header: 0-3 next free block (LE32), 8-15 table base name; block size 512.
//              A memo is its text followed by 0x1A 0x1A; in an encrypted table the text is
//              preceded by its length (LE32), which then gives the size.
//   dBase IV   header: 0-3 first block of the free chain (LE32), 8-15 base name, 18-19 the values
//              2 and 1, 20-23 block size (LE32, 512 on creation). A memo starts with an 8-byte
//              block header: 0xFF 0xFF, 8 (LE16), text length + 8 (LE32). A free run starts with
//              the first block of the next run (LE32) and its length in blocks (LE32).
//   FoxPro     header: 0-3 next free block (BE32), 6-7 block size (BE16, 64 on creation), the
//              header takes 512 bytes. A memo starts with type (BE32, 1 text; 0 accepted on
//              reading) and text length (BE32).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "table/hx6_dbf.h"
#include "base/hx6_disk.h"

class HXO_dBaseDBF;

// Header layout shared by the dialects.
inline constexpr int kMemoHeaderSize = 32;
inline constexpr int kMemoHdrNextFree = 0;
inline constexpr int kMemoHdrName = 8;
inline constexpr int kMemoHdrNameSize = 8;
inline constexpr int kMemo4HdrVersion = 18;  // the bytes 2, 1
inline constexpr int kMemo4HdrBlockSize = 20;
inline constexpr int kMemoFoxHdrBlockSize = 6;
inline constexpr uint32_t kMemoDefaultBlockSize = 512;
// The FoxPro header takes 512 bytes whatever the block size.
inline constexpr uint32_t kMemoFoxHeaderBytes = 512;
// A dBase III memo without a length prefix is read up to its first 0x1A, at most this long.
inline constexpr uint32_t kMemo3MaxScan = 65520;
// Block sizes this engine accepts in a memo header.
inline constexpr uint32_t kMemoMaxBlockSize = 65536;

class HXobjMemo : public HXO_DiskFile {
 public:
  // Opens the memo file of the table at `tablePath`: its name with ".dbt" (versions 0x83, 0x8B)
  // or ".fpt" (0x30, 0xF5). Raises "File %s could not be found" when it is missing.
  HXobjMemo(HXO_dBaseDBF* table, uint8_t version, bool shared, bool readWrite,
            std::string_view password, std::string_view tablePath);
  ~HXobjMemo() override;

  using HXO_DiskFile::Read;
  using HXO_DiskFile::Write;

  // Reads up to `size` bytes of the memo at `block` into `buffer`; `size` returns the bytes
  // delivered (0 for block 0). Raises "Memo record is bad in %s" for a block that holds no memo.
  uint32_t Read(void* buffer, uint32_t block, uint32_t& size);
  // Stores `length` bytes of text, in place of the memo at `block` when it fits there; `block`
  // and the result are where the text now lives. Raises "Can not Lock file %s" when the memo lock
  // cannot be had; `block` is then unchanged and nothing was written.
  // A text that moves never frees the old memo's blocks here: the record still points at them
  // until it is written. Once the record holding the new block is written, Release(old block)
  // gives them back (dBase IV; the other dialects never reuse blocks); when the record write
  // fails or is cancelled, the old memo is still intact and the new blocks merely stay unused.
  uint32_t Write(const void* text, uint32_t length, uint32_t& block);
  // The text length of the memo at `block` (0 for block 0).
  uint32_t DataLength(uint32_t block);
  // The whole text at `block`, and the same as a write of a text.
  std::string ReadText(uint32_t block);
  uint32_t WriteText(std::string_view text, uint32_t block);

  // Virtual operations added by the memo file, in slot order.
  // Chooses the first block for a memo of `length` stored bytes (blocks needed already set);
  // the current block holds the old memo's block on entry and the chosen one on return.
  virtual void Allocate(uint32_t length);
  // Gives the current block's memo back to the free chain (dBase IV only; raises "Memo record is
  // bad in %s" when the block does not start a memo).
  virtual void ReleaseBlocks();
  // Writes the end bytes that follow the text (dBase III: 0x1A 0x1A) at `end`.
  virtual void WriteEndMarker(uint8_t* end);
  // The text length of the memo at `block` in `length`; false when the block holds no valid memo
  // (past the end of the file, wrong marker or type, or a length running past the end).
  virtual bool ReadBlockHeader(uint32_t block, uint32_t& length);
  virtual void SetLockMode(ThxLokProtocol protocol);
  // Follows a rename of the table: takes its new name with the memo extension.
  virtual bool RenameWithTable(std::string_view newTablePath);

  // Keys for reading and for writing memo text; they differ while the table's password changes.
  void SetKeys(std::string_view readKey, std::string_view writeKey);
  // Frees the blocks of a memo that is no longer referenced: the old place of a memo that moved,
  // once its record is written, or a memo of a record packed away (dBase IV; nothing for the
  // others). Raises "Memo record is bad in %s" when `block` does not start a memo (never stored,
  // or already released), leaving the file unchanged.
  void Release(uint32_t block);

  uint32_t BlockSize() const { return blockSize_; }
  uint32_t BlockHeaderSize() const { return blockHeaderSize_; }
  uint8_t Version() const { return version_; }
  HXO_dBaseDBF* Table() const { return table_; }

 protected:
  // The memo lock of a shared file (retried, then "Can not Lock file %s"), and its release.
  void LockMemo();
  void UnlockMemo();
  // Whether texts are preceded by a 4-byte length (dBase III of an encrypted table).
  virtual bool LengthPrefixed(std::string_view key) const { return !key.empty(); }
  // Bytes after the text that the block count includes (dBase III end bytes).
  virtual uint32_t EndBytes() const { return 2; }
  // The lowest block a memo may start at (the one after the file header).
  virtual uint32_t FirstDataBlock() const { return 1; }
  // The next-free field of the header, in the dialect's byte order.
  virtual uint32_t DecodeNextFree(const uint8_t* p) const;
  virtual void EncodeNextFree(uint8_t* p, uint32_t block) const;
  // Blocks the file holds, whole ones only.
  uint32_t FileBlocks();
  // Reads the first bytes of the file header into header_; false when the file is shorter.
  bool ReadFileHeader(int count);
  // The dBase III and FoxPro allocation: the old place when the old memo's blocks suffice, else
  // the header's next free block, which then moves past the new memo.
  void AllocateAtEnd(uint32_t oldBlocks);
  // Writes the table's base name into header bytes 8-16 (dBase III and IV).
  void WriteBaseName();
  void CheckBlockSize();

  HXO_dBaseDBF* table_;
  uint8_t version_;
  uint32_t blockSize_ = kMemoDefaultBlockSize;
  uint32_t blockHeaderSize_ = 0;
  uint32_t currentBlock_ = 0;
  uint32_t blocksNeeded_ = 0;
  uint8_t header_[kMemoHeaderSize] = {};
  uint8_t blockHeader_[8] = {};
  ThxLokProtocol protocol_ = ThxLokProtocol::Default;
  ThxLockOffsets lockOffsets_{};
  std::string readKey_;
  std::string writeKey_;
};

class HXobjMemo4 : public HXobjMemo {
 public:
  // Opens the file and takes its block size; a file shorter than one block (as the table builder
  // leaves it) is padded to a full block 0.
  HXobjMemo4(HXO_dBaseDBF* table, uint8_t version, bool shared, bool readWrite,
             std::string_view password, std::string_view tablePath);

  void Allocate(uint32_t length) override;
  void ReleaseBlocks() override;
  void WriteEndMarker(uint8_t* end) override;
  bool ReadBlockHeader(uint32_t block, uint32_t& length) override;

 protected:
  bool LengthPrefixed(std::string_view) const override { return false; }
  uint32_t EndBytes() const override { return 0; }

 private:
  // Takes a run of `count` blocks from the free chain (or the end of the file); its first block.
  // Raises "Memo record is bad in %s" for a damaged chain.
  uint32_t TakeRun(uint32_t count);
  // Puts the run of `count` blocks at `first` at the head of the free chain.
  void FreeRun(uint32_t first, uint32_t count);
  // Blocks the file holds, a partial last one included.
  uint32_t EndBlock();
};

class HXobjFXMemo20 : public HXobjMemo {
 public:
  HXobjFXMemo20(HXO_dBaseDBF* table, uint8_t version, bool shared, bool readWrite,
                std::string_view password, std::string_view tablePath);

  void Allocate(uint32_t length) override;
  void WriteEndMarker(uint8_t* end) override;
  bool ReadBlockHeader(uint32_t block, uint32_t& length) override;
  bool RenameWithTable(std::string_view newTablePath) override;

 protected:
  bool LengthPrefixed(std::string_view) const override { return false; }
  uint32_t EndBytes() const override { return 0; }
  uint32_t FirstDataBlock() const override;
  uint32_t DecodeNextFree(const uint8_t* p) const override;
  void EncodeNextFree(uint8_t* p, uint32_t block) const override;
};

// hx6_ndx: the single-tag index file (".ndx"): one key expression, one B-tree of fixed-length
// keys whose leaves hold every key and whose interior nodes name the last key of each child.
//
// HXobjNDXFile opens or creates the file and owns its one tag; HXobjNDXTag translates keys,
// reads and writes nodes and the header; HXobjSortNdx is the key sorter that writes a build
// bottom-up. Searching, skipping, key upkeep after record writes and the header lock are the
// framework's (hx6_indx). Every read and write of the disk layout goes through this module.
//
// File: 512-byte blocks; positions are block numbers (file offset = block x 512). Block 0 is the
// header. Integers little-endian. Blocks are taken at the end of the file and never reused.
//
// Header (block 0):
//   0   4  root block
//   4   4  number of blocks in the file (the next free block) when the header was written
//   8   4  0
//   12  2  key length: 8 for number and date keys, else the text length
//   14  2  maximum keys per node = 504 div entry length
//   16  2  key type: 1 number or date, 0 text
//   18  2  entry length: key length + 8 rounded up to a multiple of 4
//   20  3  0
//   23  1  1 when the index is unique
//   24 488 key expression, NUL-terminated; the rest zero
//
// Node (512 bytes): 0 4 key count (low 16 bits used), then entries of entry-length bytes:
//   0 4 child block (0 in a leaf), 4 4 record number (0 in an interior node), 8 the key: text
//   blank-padded to the key length, numbers and dates as an 8-byte IEEE double (a date as its
//   day number, the empty date as 1.0e100 so that it sorts last).
// A node is interior when the child of its first entry is not 0; it holds count keys and one
// entry more, whose child is the rightmost child (its key bytes are written but not counted).
// The key of an interior entry is the last key of its child. Equal keys are not ordered by record
// number: a new key goes after the keys equal to it.
//
// The format has no order flag and no FOR condition: tags are ascending and hold a key for
// every record. It has no change counter either: a file opened shared is read afresh before each
// update and before searches, and a step sees another program's change by the header's block
// count (which moves whenever a writer takes blocks).
//
// Thread-safety: as hx6_indx: one thread per table; programs sharing a file coordinate through
// the header lock.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "index/hx6_indx.h"
#include "index/hx6_sort.h"

namespace ndx {

inline constexpr int kBlockSize = 512;
inline constexpr int kNodeArea = 504;  // bytes of entries a node holds after its count

// Header offsets.
inline constexpr int kHdrRoot = 0;
inline constexpr int kHdrBlocks = 4;
inline constexpr int kHdrKeyLength = 12;
inline constexpr int kHdrMaxKeys = 14;
inline constexpr int kHdrKeyType = 16;
inline constexpr int kHdrEntryLength = 18;
inline constexpr int kHdrUnique = 23;
// Bytes 8..11 are reserved (zero) in the format, and other programs' readers skip them: they
// hold the record whose rewrite is under way (HXobjIndexFile::NoteRewrite), 0 for none. (The
// key expression may fill its area to the end of the block, so no room is left there.)
inline constexpr int kHdrRewriteNote = 8;
inline constexpr int kHdrExpression = 24;
inline constexpr int kExpressionArea = kBlockSize - kHdrExpression;

// Entry offsets.
inline constexpr int kEntryChild = 0;
inline constexpr int kEntryRecord = 4;
inline constexpr int kEntryKey = 8;
inline constexpr int kNodeEntries = 4;

// Key length of a number key as this engine makes it (entry length 20); the header says 8.
inline constexpr int kNumberKeyLength = 12;
inline constexpr int kStoredNumberLength = 8;
// The empty date's key, above every real date.
inline constexpr double kEmptyDateKey = 1.0e100;
// Keys of the uncounted last entry of an interior node, above every real key.
inline constexpr double kNumberSentinel = 1.7e308;
inline constexpr char kTextSentinel = '\xFF';

inline int EntryLengthFor(int keyLength) { return (keyLength + 8 + 3) / 4 * 4; }
inline int MaxKeysFor(int entryLength) { return kNodeArea / entryLength; }

}  // namespace ndx

class HXobjNDXFile;

class HXobjNDXTag : public HXobjIndexTag {
 public:
  // headerPosition -1 allocates block 0 and marks the header changed; otherwise the header is
  // read at once (a failed read marks the file's header-error flag).
  HXobjNDXTag(HXobjNDXFile* file, int32_t headerPosition, std::string_view tagName);
  ~HXobjNDXTag() override;

  void TranslateKey(HXobjIndexKeyData& key, bool trim) override;
  bool CreateTag(std::string_view tagName, std::string_view keyExpression,
                 std::string_view filterExpression, bool ascending, bool unique) override;
  bool AddKey(const HXobjIndexKeyData& key) override;
  int32_t RootBlock() override;
  void ReadPage(int32_t block, HXobjIndexKey& page) override;
  int WritePage(HXobjIndexKey& page) override;
  bool ReadHeader() override;
  void WriteHeader() override;

  // Builds the tree from the table's records (an empty root node when no key comes).
  void Build();
  void SetRoot(int32_t block) { root_ = block; }
  // Writes a zeroed node at a new block; it becomes the root.
  void WriteEmptyRoot();
  // The node form of a key: text blank-padded and cut to the key length, numbers as 8 bytes.
  std::string NodeKey(const ThxVariant& key) const;

 private:
  // Throws "Index file %s is corrupted".
  [[noreturn]] void Corrupted() const;

  HXobjNDXFile* ndxFile_;
};

// Builds a tag bottom-up from sorted keys: one node buffer per tree level, children before the
// parent entry that names them; the root is the last node written. Leaves are written as soon as
// they are full. A full interior node waits until the next one at its level fills, so that the
// last node of the level can take an entry from it rather than be written with no key of its own
// (a node that other readers pass over).
class HXobjSortNdx : public ThxSort {
 public:
  HXobjSortNdx(HXobjNDXTag* tag, const uint8_t* collation, bool ascending, bool unique);

  // Adds a key in node form to a level: at level 0 `value` is the record number, above it the
  // child block.
  void AddToLevel(int level, int32_t value, const std::string& nodeKey);
  // Writes the last node of every level, makes the topmost the tag's root and writes the header.
  void Finish();

 private:
  struct Node {
    std::array<uint8_t, ndx::kBlockSize> bytes{};
    int count = 0;
  };
  struct Level {
    bool started = false;
    Node current;
    Node waiting;  // a full interior node not yet written
    bool hasWaiting = false;
  };
  static constexpr int kLevels = 32;

  uint8_t* Entry(Node& node, int index) const;
  // Writes a node of `level` at a new block, adds its last key to the level above (unless it is
  // the root) and clears it.
  void WriteNode(int level, Node& node, bool root);

  HXobjNDXTag* tag_;
  int entryLength_;
  int keyLength_;
  std::array<Level, kLevels> levels_;
};

class HXobjNDXFile : public HXobjIndexFile {
 public:
  HXobjNDXFile(HXobjIndexTable* table, std::string_view fileName, bool overwrite, bool create,
               bool shared, bool readWrite);
  ~HXobjNDXFile() override;

  bool CreateTag(std::string_view tagName, std::string_view keyExpression,
                 std::string_view filterExpression, bool ascending, bool unique) override;
  int32_t AllocateBlock() override;
  int32_t RefreshEnd() override;
  // Positions are block numbers.
  bool ReadBlock(int64_t block, void* buffer, int32_t length) override;
  void WriteBlock(int64_t block, const void* buffer, int32_t length) override;
  void Reindex() override;
  bool UpdateTags(int32_t record, bool isNew) override;
  // True when the header's root or block count on disk moved since this handle last read or
  // wrote it (only for a file opened shared).
  bool ChangedByOthers() override;
  // Leaves the tag with an empty root node at block 1 in a file of two blocks.
  virtual void Empty();

  HXobjNDXTag* Tag() const;
  // Drops every block: a new tag's header is the next block taken.
  void StartOver();
  // The header's root and block count as last read or written by this handle.
  void NoteHeader(const uint8_t* header);

 protected:
  bool RewriteNoteSpot(int64_t& block, int& offset) const override {
    block = 0;
    offset = ndx::kHdrRewriteNote;
    return true;
  }

 private:
  std::array<uint8_t, 8> seenHeader_{};
};

// hx6_sort: the key sorter used to build index tags.
//
// The caller inserts (key, record number) pairs and then takes them back in key order. Each key is
// turned into a byte string whose plain byte order is the value order, followed by the record
// number as 4 bytes, most significant first:
//
//   key type   encoding                                                            class byte
//   text       the text without trailing blanks                                    0x20
//   float      the 8 bytes of the double, most significant first; sign bit set     0x30
//              for a value without it, all bits inverted for one with it
//   date       the day number, most significant byte first                         0x40
//   binary     the bytes as they are                                               0x10
//
// The strings are collected in a trie whose nodes (child, sibling, flags, byte; a leaf keeps up to
// three further bytes in place of its sibling link) live in up to 32 blocks of 4096 nodes.
// When the trie is full it is spilled as a sorted run into a ThxPageCollection (16384-byte pages
// in memory, each entry sharing its leading bytes with the previous one); retrieval merges the
// runs. Memory for nodes is bounded; no temporary file is needed.
//
// Each index format derives its own sorter and may override InsertKey, GetNextKey,
// BeginRetrieval and FlushRun.
//
// ThxSort owns its node blocks and runs. Thread-safety: none; one sorter serves one build.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "hx6_tool.h"

// One sorted run: entries in delivery order on zero-filled pages of 16384 bytes.
//
// Entry layout:  class byte | total length (key + 4 record bytes) | stored length n | last n bytes
// The first total - n bytes equal those of the previous entry of the run. A class byte 0 where
// the next entry would start ends the page.
class ThxPageCollection {
 public:
  static constexpr int kPageBytes = 16384;

  ThxPageCollection() = default;
  ThxPageCollection(const ThxPageCollection&) = delete;
  ThxPageCollection& operator=(const ThxPageCollection&) = delete;

  // Appends an entry of 1..255 bytes; entries must arrive in delivery order.
  void AddEntry(uint8_t keyClass, const uint8_t* bytes, int length);
  // Ends the run and rewinds it to its first entry.
  void Close();

  // Reading after Close: the current entry (binary) and its class, and the step to the next.
  bool AtEnd() const { return atEnd_; }
  const ThxVariant& Entry() const { return current_; }
  uint8_t EntryClass() const { return currentClass_; }
  // Moves to the next entry; false when the run is exhausted.
  bool NextEntry();

  int EntryCount() const { return entryCount_; }
  int PageCount() const { return static_cast<int>(pages_.size()); }

 private:
  std::vector<std::unique_ptr<uint8_t[]>> pages_;
  int writePos_ = kPageBytes;
  std::vector<uint8_t> previous_;
  int entryCount_ = 0;

  size_t readPage_ = 0;
  int readPos_ = 0;
  bool atEnd_ = true;
  ThxVariant current_;
  uint8_t currentClass_ = 0;
};

class ThxSort {
 public:
  static constexpr int kMaxKeyLength = 240;
  static constexpr int kNodesPerBlock = 4096;
  static constexpr int kMaxBlocks = 32;

  // Key classes (the class byte of a run entry).
  static constexpr uint8_t kClassBinary = 0x10;
  static constexpr uint8_t kClassText = 0x20;
  static constexpr uint8_t kClassFloat = 0x30;
  static constexpr uint8_t kClassDate = 0x40;

  // `collation` maps text bytes to weights (nullptr: plain bytes); it must outlive the sorter.
  // A key length outside 1-240 raises "Sort key length must be 1-%d bytes, is %d".
  ThxSort(int maxKeyLength, const uint8_t* collation, bool ascending, bool unique);
  ThxSort(const ThxSort&) = delete;
  ThxSort& operator=(const ThxSort&) = delete;
  virtual ~ThxSort();

  // Adds one pair. Raises "Cannot add sort keys after beginning retrieval" once retrieval began,
  // "Variant type cannot be sorted" for logical and untyped keys, and the key-length message for
  // a key longer than the maximum. A refused key leaves the sorter as it was.
  virtual void InsertKey(const ThxVariant& key, int32_t recordNumber);
  // The next pair in order; false when none is left. The key comes back with the inserted type
  // (text without its trailing blanks). The first call ends insertion.
  virtual bool GetNextKey(ThxVariant& key, int32_t& recordNumber);

  int MaxKeyLength() const { return maxKeyLength_; }
  bool Ascending() const { return ascending_; }
  bool Unique() const { return unique_; }
  bool Accepting() const { return accepting_; }
  int64_t KeyCount() const { return keyCount_; }
  int RunCount() const { return static_cast<int>(runs_.size()); }

 protected:
  // Spills what the trie holds as the last run, frees the node blocks and stops insertion.
  virtual void BeginRetrieval();
  // Writes the trie as one sorted run and empties it.
  virtual void FlushRun();

 private:
  struct Node {
    uint32_t child;  // first node of the next byte position, 0 for none
    uint32_t next;   // next sibling, or up to 3 further key bytes held in place
    uint8_t flags;   // low 3 bits: bytes held in place; high bits: class where a string ends
    uint8_t byte;
  };
  static constexpr uint8_t kInPlaceMask = 0x07;
  static constexpr int kMaxNodes = kNodesPerBlock * kMaxBlocks;

  Node& At(uint32_t ref) {
    return blocks_[(ref - 1) / kNodesPerBlock][(ref - 1) % kNodesPerBlock];
  }
  uint32_t NewNode(uint8_t byte);
  void Split(uint32_t ref);
  bool Before(uint8_t a, uint8_t b, bool weighted) const;
  void AddString(const uint8_t* bytes, int length, int keyLength, uint8_t keyClass);
  void Walk(uint32_t first, int depth, ThxPageCollection& run);
  int CompareEntries(const ThxPageCollection& a, const ThxPageCollection& b) const;
  void DecodeKey(uint8_t keyClass, const uint8_t* bytes, int length, ThxVariant& key) const;

  int maxKeyLength_;
  const uint8_t* collation_;
  bool ascending_;
  bool unique_;
  bool accepting_ = true;
  int64_t keyCount_ = 0;

  std::vector<std::unique_ptr<Node[]>> blocks_;
  uint32_t root_ = 0;
  int usedNodes_ = 0;
  std::vector<std::unique_ptr<ThxPageCollection>> runs_;

  ThxVariant work_;     // the encoded string being inserted
  ThxVariant lastKey_;  // the last delivered key bytes (unique)
  bool haveLastKey_ = false;
  uint8_t path_[256] = {};  // the string being rebuilt while a run is written
};

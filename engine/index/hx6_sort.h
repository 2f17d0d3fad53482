// hx6_sort: the key sorter used to build index tags.
//
// The caller inserts (key, record number) pairs and then takes them back in key order. Each key is
// turned into a byte string whose plain byte order is the value order, followed by the record
// number as 4 bytes, most significant first:
//
//   key type   encoding                                                            class byte
//   text       the text without trailing blanks                                    0x20
//   float      the 8 bytes of the double, most significant first; sign bit set     0x30
//              for a value without it, all bits inverted for one with it (-0 is
//              taken as 0); all 8 bytes are kept
//   date       the day number, most significant byte first                         0x40
//   binary     the bytes as they are                                               0x10
//
// Pairs are gathered in a bounded buffer (at most kRunEntries pairs and kRunKeyBytes key bytes);
// a full buffer is sorted and spilled as one run into a ThxPageCollection (16384-byte pages in
// memory, each entry sharing its leading bytes with the previous one), and retrieval merges the
// runs through a heap. This takes the place of a byte trie: sorting the gathered pairs is several
// times faster than walking sibling lists byte by byte, and the memory for the unsorted pairs
// stays bounded (a few megabytes) however many keys come; no temporary file is needed.
//
// Order: keys by their encoded bytes (text bytes weighed by the collation table when there is
// one, equal weights decided by the plain bytes), a key that is a proper prefix of another first,
// and only then the record number, smaller first. A descending sorter delivers the exact reverse.
// The record number never takes part in the key comparison, so keys holding bytes below those of
// a record number (binary keys, control characters) keep their order.
//
// Each index format derives its own sorter and may override InsertKey, GetNextKey,
// BeginRetrieval and FlushRun.
//
// A parallel build gathers pairs on several threads in batches (ThxSort::Batch), one per range
// of records, each sorted on its own thread and then handed to the sorter, which merges them on
// retrieval. Every pair is ordered by its key and then its record number, so the sorter delivers
// the same sequence however the pairs were split into batches and runs.
//
// ThxSort owns its pair buffer, runs and batches. Thread-safety: none for the sorter; one sorter
// serves one build. A batch is used by one thread at a time and only reads its sorter's
// settings, so batches of one sorter may be filled and sorted on several threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/hx6_tool.h"

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
  uint8_t previous_[256] = {};
  int previousLength_ = 0;
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
  // Bounds of the buffer that gathers one run.
  static constexpr size_t kRunEntries = 131072;
  static constexpr size_t kRunKeyBytes = 2u << 20;
  // From how many pairs in several batches retrieval first merges them on several threads.
  static constexpr size_t kParallelMergePairs = 65536;

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

  class Batch;
  // A batch for this sorter, to be filled on another thread.
  std::unique_ptr<Batch> NewBatch() const;
  // Takes a filled batch (sorted or not); batches are delivered merged with every other pair.
  // Raises "Cannot add sort keys after beginning retrieval" once retrieval began.
  void AdoptBatch(std::unique_ptr<Batch> batch);
  // Whether these batches, made by another sorter, order their pairs as this one does (same key
  // length, order, uniqueness and collation), so that AdoptBatch may take them.
  bool CanAdopt(const std::vector<std::unique_ptr<Batch>>& batches) const;

  int MaxKeyLength() const { return maxKeyLength_; }
  bool Ascending() const { return ascending_; }
  bool Unique() const { return unique_; }
  bool Accepting() const { return accepting_; }
  int64_t KeyCount() const { return keyCount_; }
  int RunCount() const { return static_cast<int>(runs_.size()); }

 protected:
  // How many pairs a run gathers before it is spilled (at most kRunEntries); lets tests force
  // many runs with few keys.
  void SetRunEntries(size_t entries) {
    runEntries_ = entries < 1 ? 1 : (entries > kRunEntries ? kRunEntries : entries);
  }

  // From how many pairs in several batches retrieval merges them on several threads first (below
  // it the batches are merged pair by pair as they are delivered); lets tests merge small batches
  // so.
  void SetParallelMergePairs(size_t pairs) { parallelMergePairs_ = pairs; }

  // Spills the gathered pairs as the last run, frees the buffer and stops insertion.
  virtual void BeginRetrieval();
  // Sorts the gathered pairs, writes them as one run and empties the buffer.
  virtual void FlushRun();

 private:
  // One gathered pair: the first 8 key bytes big-endian (zero-padded) for a quick comparison,
  // where the whole key lies in keyBytes_, its length and class, and the record number.
  struct Pending {
    uint64_t head;
    uint32_t offset;
    uint32_t record;
    uint8_t keyLength;
    uint8_t keyClass;
  };

  // Delivery order of two encoded keys with their record numbers: negative, 0 or positive for
  // ascending order (callers reverse it for a descending sorter).
  int CompareKeys(uint8_t classA, const uint8_t* a, int lengthA, uint32_t recordA, uint8_t classB,
                  const uint8_t* b, int lengthB, uint32_t recordB, int from) const;
  // The same for two gathered pairs whose key bytes lie at `bytesA` and `bytesB`.
  int ComparePending(const Pending& a, const uint8_t* bytesA, const Pending& b,
                     const uint8_t* bytesB) const;
  // Sorts gathered pairs into delivery order.
  void SortPending(std::vector<Pending>& pending, const uint8_t* bytes) const;
  // The encoded key of `key` (InsertKey's checks and encoding) into `out`; its length and class.
  void EncodeKey(const ThxVariant& key, uint8_t* out, int& keyLength, uint8_t& keyClass) const;
  // Batches are merged straight from their sorted pairs unless pairs were spilled into runs too;
  // then every batch is written as a run first.
  void BatchesToRuns();
  bool BatchBefore(int i, int j) const;
  // Merges the sorted batches into one, in ranges of the key order each merged on its own thread.
  void MergeBatches();
  bool NextFromBatches(ThxVariant& key, int32_t& recordNumber);
  // True when run i's current entry is to be delivered before run j's.
  bool RunBefore(int i, int j) const;
  void DecodeKey(uint8_t keyClass, const uint8_t* bytes, int length, ThxVariant& key) const;

  int maxKeyLength_;
  const uint8_t* collation_;
  bool ascending_;
  bool unique_;
  bool accepting_ = true;
  int64_t keyCount_ = 0;

  size_t runEntries_ = kRunEntries;
  std::vector<Pending> pending_;
  std::vector<uint8_t> keyBytes_;
  std::vector<std::unique_ptr<ThxPageCollection>> runs_;
  std::vector<int> heap_;  // runs with entries left; the next to deliver at the front

  size_t parallelMergePairs_ = kParallelMergePairs;
  std::vector<std::unique_ptr<Batch>> batches_;
  bool mergingBatches_ = false;  // retrieval merges batches_ (not runs_)

  ThxVariant lastKey_;  // the last delivered key bytes (unique)
  bool haveLastKey_ = false;
};

// Pairs gathered for one sorter on one thread (see ThxSort).
class ThxSort::Batch {
 public:
  explicit Batch(const ThxSort& owner)
      : owner_(&owner),
        maxKeyLength_(owner.maxKeyLength_),
        collation_(owner.collation_),
        ascending_(owner.ascending_),
        unique_(owner.unique_) {}
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  // Adds one pair, with InsertKey's checks; a refused key leaves the batch as it was.
  void Insert(const ThxVariant& key, int32_t recordNumber);
  // Puts the pairs in delivery order (AdoptBatch sorts a batch that was not sorted).
  void Sort();
  size_t Count() const { return pending_.size(); }
  // Forgets the sorter that made it (which may go now); a sorter must adopt it before it is
  // used again.
  void Detach() { owner_ = nullptr; }

 private:
  friend class ThxSort;
  const ThxSort* owner_;
  int maxKeyLength_;
  const uint8_t* collation_;
  bool ascending_;
  bool unique_;
  std::vector<Pending> pending_;
  std::vector<uint8_t> keyBytes_;
  bool sorted_ = true;
  size_t next_ = 0;  // the next pair to deliver
};

// hx6_ntx: the single-tag index file (".ntx"): one key expression, one B-tree whose keys are all
// stored as fixed-length text and whose interior entries are real keys that point both to a child
// page and to a record.
//
// HXobjNTXFile opens or creates the file, owns its one tag and keeps the update counter;
// HXobjNTXTag translates keys, reads and writes pages and the header; HXobjSortNTX is the key
// sorter that writes a build bottom-up. Searching, skipping, key upkeep and the header lock are
// the framework's (hx6_indx). Every read and write of the disk layout goes through this module.
//
// File: 1024-byte pages addressed by their byte offset; the header is the page at offset 0.
// Integers little-endian.
//
// Header:
//   0   2  signature: 6, or 7 when the index has a FOR expression (bit 0)
//   2   2  update counter (1 when made; +1 with every update, 32767 is followed by 1)
//   4   4  offset of the root page
//   8   4  0
//   12  2  item size = key length + 8
//   14  2  key length
//   16  2  decimals of number keys
//   18  2  maximum keys per page = ((1020 div (item size + 2)) - 1) div 2 x 2
//   20  2  half the maximum
//   22 256 key expression, NUL-terminated
//   278 1  1 for a unique index
//   279 1  1 for a descending index (its keys are stored in descending order)
//   282 .. FOR expression, NUL-terminated, when the signature is 7
//
// Page:
//   0   2  number of keys n
//   2   2 x (maximum + 1)  offset table: the u16 at 2 + 2 x i is the offset of entry i
//   2 x (maximum + 2)      entries of item size, written in the table's initial order:
//                          0 4 child page offset (0 in a leaf), 4 4 record number, 8 the key
// A page holding n keys has n counted entries and, in an interior page, one entry more that
// carries only the rightmost child. A page is interior when the child of its first entry is not 0.
// Keys of an interior page lie between the keys of the children on either side; every key of the
// index is stored once, in a leaf or in an interior page.
//
// Key encodings (all text, blank-padded to the key length): text as it is (upper-cased when the
// index was made with the case-folding order, whose key expression is then stored as
// UPPER(expression)); dates as "yyyymmdd", the empty date as "00000000"; numbers as the absolute
// value right-aligned in the key length with the tag's decimals, blanks turned to "0", and for a
// negative value every digit d turned into the character 92 - d, so that negative values sort
// below positive ones and in reverse digit order. A number wider than the key length is refused.
//
// In memory a page reads as the framework's tree, in which every key lies in a leaf and interior
// entries name the last key of their child: a page that is not on the rightmost path of the tree
// gets, as its last entry, the parent's entry that follows it (the separator stored above it);
// the root of an interior tree gets a sentinel above every key. The page writer stores that last
// entry back where it belongs: uncounted in the page, the key in the parent.
//
// Thread-safety: as hx6_indx: one thread per table; programs sharing a file coordinate through
// the header lock and the update counter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "index/hx6_indx.h"
#include "index/hx6_sort.h"

namespace ntx {

inline constexpr int kPageSize = 1024;

// Header offsets.
inline constexpr int kHdrSignature = 0;
inline constexpr int kHdrCounter = 2;
inline constexpr int kHdrRoot = 4;
inline constexpr int kHdrItemSize = 12;
inline constexpr int kHdrKeyLength = 14;
inline constexpr int kHdrDecimals = 16;
inline constexpr int kHdrMaxKeys = 18;
inline constexpr int kHdrHalf = 20;
inline constexpr int kHdrExpression = 22;
inline constexpr int kExpressionArea = 256;
inline constexpr int kHdrUnique = 278;
inline constexpr int kHdrDescending = 279;
inline constexpr int kHdrFilter = 282;
// The longest FOR expression the header holds for other programs, which keep 256 bytes for it
// at 282 (with its NUL) and the tag name after it.
inline constexpr int kFilterArea = 256;
// The last four bytes of the header page lie in its unused tail, which other programs neither
// read nor write: the record whose rewrite is under way (HXobjIndexFile::NoteRewrite), 0 for
// none.
inline constexpr int kHdrRewriteNote = 1020;
inline constexpr uint16_t kSignature = 6;
inline constexpr uint16_t kSignatureWithFilter = 7;

// Entry offsets.
inline constexpr int kEntryChild = 0;
inline constexpr int kEntryRecord = 4;
inline constexpr int kEntryKey = 8;

// Sizes of number keys that are not a table field.
inline constexpr int kNumberKeyLength = 18;
inline constexpr int kNumberDecimals = 4;
inline constexpr int kDateKeyLength = 8;
// The key above every key, last entry of an interior root in memory.
inline constexpr char kSentinel = '\xFF';

inline int MaxKeysFor(int itemSize) { return ((1020 / (itemSize + 2)) - 1) / 2 * 2; }
inline int EntriesOffset(int maxKeys) { return 2 * (maxKeys + 2); }
// The counter after one more update.
inline int16_t NextCounter(int16_t counter) {
  return static_cast<int16_t>(counter > 32766 ? 1 : counter + 1);
}

// The stored form of a number; none when it does not fit the width (or is no number).
std::optional<std::string> EncodeNumber(double value, int width, int decimals);
// The stored form of a date (day number; below 1 the empty date).
std::string EncodeDate(int32_t day);

}  // namespace ntx

class HXobjNTXFile;

class HXobjNTXTag : public HXobjIndexTag {
 public:
  // headerPosition -1 allocates the header page and marks the header changed; otherwise the
  // header is read at once (a failed read marks the file's header-error flag).
  HXobjNTXTag(HXobjNTXFile* file, int32_t headerPosition, std::string_view tagName);
  ~HXobjNTXTag() override;

  void TranslateKey(HXobjIndexKeyData& key, bool trim) override;
  bool CreateTag(std::string_view tagName, std::string_view keyExpression,
                 std::string_view filterExpression, bool ascending, bool unique) override;
  // The framework's, after refusing a number wider than the key with "numeric value too big in
  // field %s" (the key expression).
  bool AddKey(const HXobjIndexKeyData& key) override;
  int32_t RootBlock() override;
  void ReadPage(int32_t offset, HXobjIndexKey& page) override;
  int WritePage(HXobjIndexKey& page) override;
  bool ReadHeader() override;
  void WriteHeader() override;

  // Builds the tree from the table's records (an empty root page when no key comes).
  void Build();
  void SetRoot(int32_t offset) { root_ = offset; }
  int Decimals() const { return decimals_; }
  // Writes an entry list as one page at `offset`; `counted` entries count as keys.
  void PutPage(int32_t offset, const std::vector<const HXobjIndexKeyData*>& entries, bool leaf,
               int counted);

 protected:
  void RightmostChildRemoved(HXobjIndexKey& page) override;
  // Interior entries are keys of records: see HXobjIndexTag::InteriorKeysAreEntries.
  bool InteriorKeysAreEntries() const override { return true; }

 private:
  [[noreturn]] void Corrupted() const;
  static double NumberOf(const ThxVariant& key);
  // Refuses a number key that does not fit the key length.
  void CheckStorable(const ThxVariant& key) const;
  void CheckBuildKey(const HXobjIndexKeyData& key) const override { CheckStorable(key); }
  // Whether the page is the last child of its parent, and that of its parent, up to the root.
  static bool OnRightEdge(const HXobjIndexKey& page);
  // The entry of `page`'s parent that names the page.
  static const HXobjIndexKeyData* ParentEntry(const HXobjIndexKey& page);

  HXobjNTXFile* ntxFile_;
  int decimals_ = 0;
  bool folded_ = false;  // the key expression was wrapped in UPPER() for the case-folding order
};

// Builds a tag bottom-up from sorted keys with one page buffer per level, each filled up to the
// same limit (the keys spread evenly over n div maximum + 1 leaves). A key that arrives at a full
// leaf goes to the level above, between that leaf and the next. A full page waits until the next
// key of its level arrives, so that the last page of a level is never left without a key: the
// waiting page takes it instead.
class HXobjSortNTX : public ThxSort {
 public:
  HXobjSortNTX(HXobjNTXTag* tag, const uint8_t* collation, bool ascending, bool unique);

  void SetFill(int fill) { fill_ = fill < 1 ? 1 : fill; }
  // Adds a key (without its trailing blanks) with its record and child page (0 at level 0).
  void AddToLevel(int level, const std::string& key, int32_t record, int32_t child);
  // Writes the last page of every level, makes the topmost the tag's root and writes the header.
  void Finish();

 private:
  struct Item {
    std::string key;
    int32_t record = 0;
    int32_t child = 0;
  };
  struct Level {
    bool started = false;
    std::vector<Item> items;
    std::vector<Item> waiting;  // a full page not yet written
    bool hasWaiting = false;
  };
  static constexpr int kLevels = 32;

  // Writes a page of `level` at a new offset; returns the offset.
  int32_t WritePage(int level, std::vector<Item>& items);
  // Writes the waiting page of a level below the top and sends its last entry up.
  void ReleaseWaiting(int level);

  HXobjNTXTag* tag_;
  int fill_ = 1;
  std::vector<Level> levels_;
};

class HXobjNTXFile : public HXobjIndexFile {
 public:
  HXobjNTXFile(HXobjIndexTable* table, std::string_view fileName, bool overwrite, bool create,
               bool shared, bool readWrite);
  ~HXobjNTXFile() override;

  bool CreateTag(std::string_view tagName, std::string_view keyExpression,
                 std::string_view filterExpression, bool ascending, bool unique) override;
  int32_t AllocateBlock() override;
  int32_t RefreshEnd() override;
  void Reindex() override;
  bool UpdateTags(int32_t record, bool isNew) override;
  // True when the update counter on disk differs from this handle's (only for a file opened
  // shared); the counter seen is kept, so each change is reported once.
  bool ChangedByOthers() override;
  // Leaves the tag with an empty root page at 1024 in a file of two pages.
  virtual void Empty();

  HXobjNTXTag* Tag() const;
  int16_t Counter() const { return counter_; }
  void SetCounter(int16_t counter) { counter_ = counter; }
  // Drops every page: a new tag's header is the first page taken.
  void StartOver();

 protected:
  bool RewriteNoteSpot(int64_t& block, int& offset) const override {
    block = 512;
    offset = ntx::kHdrRewriteNote - 512;
    return true;
  }

 private:
  // The counter on disk, or this handle's when the header cannot be read.
  int16_t CounterOnDisk();

  int16_t counter_ = 1;
};

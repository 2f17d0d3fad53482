// hx6_cdx: the compound index file (".cdx"): any number of tags in one file, each a B-tree with
// compressed leaves, plus a directory tag that maps tag names to tag headers.
//
// HXobjCDXFile opens or creates the file and owns its directory tag and its tags; HXobjCDXTag
// translates keys, reads and writes nodes and headers (layouts in hx6_cdxfmt) and builds itself
// from the key sorter; HXobjSortCDX is that sorter, which writes the sorted keys bottom-up as
// leaves and interior nodes. Searching, skipping, key upkeep after record writes and the header
// lock are the framework's (hx6_indx).
//
// Thread-safety: as hx6_indx: one thread per table; programs sharing a file coordinate through
// the header lock and the directory's change counter.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "index/hx6_cdxfmt.h"
#include "index/hx6_indx.h"
#include "index/hx6_sort.h"

class HXobjCDXFile;

class HXobjCDXTag : public HXobjIndexTag {
 public:
  // headerPosition -1 allocates two blocks for a new tag; otherwise the header is read at once
  // (a failed read marks the file's header-error flag).
  HXobjCDXTag(HXobjCDXFile* file, int32_t headerPosition, std::string_view tagName);
  ~HXobjCDXTag() override;

  std::unique_ptr<ThxSort> BuildSortShape() const override {
    return std::make_unique<ThxSort>(keyLength_ + 1, nullptr, true, unique_);
  }
  void TranslateKey(HXobjIndexKeyData& key, bool trim) override;
  bool CreateTag(std::string_view tagName, std::string_view keyExpression,
                 std::string_view filterExpression, bool ascending, bool unique) override;
  bool AddKey(const HXobjIndexKeyData& key) override;
  int32_t RootBlock() override;
  void ReadPage(int32_t position, HXobjIndexKey& page) override;
  int WritePage(HXobjIndexKey& page) override;
  bool ReadHeader() override;
  void WriteHeader() override;
  // Text keys keep their bytes except under the GENERAL collation, whose keys are weights.
  bool KeysKeepText() const override {
    return keyType_ == 'C' && collation_ != cdx::kCollateGeneral && !IsDirectory();
  }

  // Builds the tag's tree from the table (or an empty root leaf for the directory).
  void Build();

  uint8_t Options() const { return options_; }
  void SetOptions(uint8_t o) { options_ = o; }
  uint32_t ChangeCounter() const { return changeCounter_; }
  void SetChangeCounter(uint32_t c) { changeCounter_ = c; }
  int Collation() const { return collation_; }
  void SetCollation(int c) { collation_ = c; }
  bool IsDirectory() const { return (options_ & cdx::kOptDirectory) != 0; }
  void SetRoot(int32_t root) { root_ = root; }
  // How this tag's keys are padded and stored.
  cdx::KeyForm Form() const;
  // The leaf layout for the current record count (the file size for the directory), at least
  // wide enough for `largestRecord`.
  cdx::LeafLayout Layout(int64_t largestRecord = 0) const;
  // Writes an empty root leaf at a new position; it becomes the root.
  void WriteEmptyRoot();

 private:
  HXobjCDXFile* cdxFile_;
  uint8_t options_ = cdx::kOptNewTag;
  uint32_t changeCounter_ = 0;
  int collation_ = cdx::kCollateNone;
};

// Builds a tag bottom-up from sorted keys: one node buffer per tree level, each written when
// full, children before the parent entry that names them; the root is the last node written.
class HXobjSortCDX : public ThxSort {
 public:
  HXobjSortCDX(HXobjCDXTag* tag, const uint8_t* collation, bool unique);
  ~HXobjSortCDX() override;

  // Adds a key to a level: at level 0 `value` is the record number, above it the child position.
  void AddToLevel(int level, int32_t value, const HXobjIndexKeyData& key, int32_t record);
  // Writes the last node of every level and makes the topmost the tag's root.
  void Finish();
  int64_t Emitted() const { return emitted_; }
  void CountEmitted() { ++emitted_; }

 private:
  struct Level {
    bool started = false;
    std::array<uint8_t, cdx::kNodeSize> node{};
    int count = 0;
    std::unique_ptr<cdx::LeafBuilder> leaf;
    HXobjIndexKeyData lastKey;
    int32_t lastWritten = -1;  // position of the last node written at this level
  };
  static constexpr int kLevels = 32;

  void StartLevel(int level);
  void WriteLevelNode(int level, bool finishing);

  HXobjCDXTag* tag_;
  cdx::KeyForm form_;
  cdx::LeafLayout layout_;
  int64_t recordCount_;
  std::array<Level, kLevels> levels_;
  int64_t emitted_ = 0;
  bool finishing_ = false;
  bool finished_ = false;
};

class HXobjCDXFile : public HXobjIndexFile {
 public:
  HXobjCDXFile(HXobjIndexTable* table, std::string_view fileName, bool overwrite, bool create,
               bool shared, bool readWrite);
  ~HXobjCDXFile() override;

  bool CreateTag(std::string_view tagName, std::string_view keyExpression,
                 std::string_view filterExpression, bool ascending, bool unique) override;
  bool DeleteTag(std::string_view tagName) override;
  int32_t AllocateBlock() override;
  int32_t RefreshEnd() override;
  // A rebuild keeps the directory's header alone (and lays out the rest anew).
  int64_t RebuildKeeps() const override { return 2 * cdx::kHeaderSize - cdx::kNodeSize; }
  void Reindex() override;
  bool UpdateTags(int32_t record, bool isNew) override;
  // True when the directory's change counter on disk moved since this handle last wrote or
  // asked; the counter seen is kept, so each change is reported once.
  bool ChangedByOthers() override;
  // The directory's change counter on disk.
  bool ChangeStamp(uint32_t& stamp) override;
  void DiscardPages() override;
  void EndMayHaveMoved() override;

  HXobjCDXTag* Directory() const { return directory_.get(); }
  bool Building() const { return building_; }
  // The header position the directory on disk lists for a tag name; -1 when it lists none.
  int32_t DirectoryPosition(std::string_view tagName);
  // Gives back the last allocated block when it is `position` (a node that was never written).
  void ReleaseLastBlock(int32_t position);

  // The collation code given to new tags (1 none, 2 GENERAL); 1 at every file opening.
  static int NewTagCollation();
  static void SetNewTagCollation(int code);
  // Walks every tag's tree level by level and writes the sibling links that differ from it.
  void RepairSiblingLinks() override;

 protected:
  bool RewriteNoteSpot(int64_t& block, int& offset) const override {
    block = 0;
    offset = cdx::kHdrRewriteNote;
    return true;
  }

 private:
  void ReadDirectory();
  // Points every tag at the header the directory now lists for its name.
  void FollowDirectory();
  // CreateTag's work, under the header lock.
  bool CreateTagLocked(const std::string& name, std::string_view keyExpression,
                       std::string_view filterExpression, bool ascending, bool unique);
  // The directory entry of a tag: its upper-cased name with its header position.
  HXobjIndexKeyData DirectoryKey(std::string_view name, int32_t headerPosition) const;
  void AddDirectoryEntry(HXobjCDXTag* tag);

  std::unique_ptr<HXobjCDXTag> directory_;
  // The change counter at which every tag's tree in memory was last the file's (a shared
  // file, at the end of our last update).
  uint32_t treesCounter_ = 0;
  bool treesKnown_ = false;
  bool building_ = false;
};

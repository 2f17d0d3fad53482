// hx6_mdx: the multiple-tag index file (".mdx"): up to 47 tags in one file, each a B-tree of
// fixed-length keys, listed by name in a tag table in the file's header area.
//
// HXobjMDXFile opens or creates the file, keeps its header and tag table and allocates pages;
// HXobjMDXTag translates keys, reads and writes pages and its tag header (layouts in hx6_mdxfmt)
// and builds itself from the key sorter; HXobjSortMDX is that sorter, which fills pages bottom-up.
// Searching, skipping, key upkeep after record writes and the header lock are the framework's
// (hx6_indx).
//
// Equal keys are not ordered by record number: a new key goes after the keys equal to it (before
// them in a descending tag). A descending tag keeps its keys in descending order on disk; in
// memory it compares keys reversed and walks its tree forward, so the framework sees it as a tag
// in its own order (Descending() is false, IsDescending() true).
//
// Block numbers are 512-byte units: ReadBlock and WriteBlock take block numbers, not offsets.
//
// Thread-safety: as hx6_indx: one thread per table. Programs sharing a file coordinate through
// the header lock; pages held in memory are read again whenever the file's first block (next free
// block, tag table) changed, and before every update.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index/hx6_indx.h"
#include "index/hx6_mdxfmt.h"
#include "index/hx6_sort.h"

class HXobjMDXFile;

class HXobjMDXTag : public HXobjIndexTag {
 public:
  // headerBlock -1 allocates a page for a new tag's header; otherwise the header is read at once
  // (a failed read marks the file's header-error flag).
  HXobjMDXTag(HXobjMDXFile* file, int32_t headerBlock, std::string_view tagName);
  ~HXobjMDXTag() override;

  void TranslateKey(HXobjIndexKeyData& key, bool trim) override;
  bool CreateTag(std::string_view tagName, std::string_view keyExpression,
                 std::string_view filterExpression, bool ascending, bool unique) override;
  bool AddKey(const HXobjIndexKeyData& key) override;
  int32_t RootBlock() override;
  void ReadPage(int32_t block, HXobjIndexKey& page) override;
  int WritePage(HXobjIndexKey& page) override;
  bool ReadHeader() override;
  void WriteHeader() override;

  // Builds the tag's tree from the table (an empty root page when no key passes) and writes
  // the tag header.
  void Build();
  // Starts the tag afresh at a new header block (a rebuild): the old pages are forgotten.
  void Restart(int32_t headerBlock);

  bool IsDescending() const { return !ascending_; }
  int ItemLength() const { return itemLength_; }
  int32_t FirstBlock() const { return firstBlock_; }
  int32_t NewestBlock() const { return newestBlock_; }
  void SetRoot(int32_t root) { root_ = root; }
  // A new page for this tag: its block, and in `chain` the tag's newest block before it (what
  // the page carries at offset 4). The new block becomes the newest (and the first when none
  // was recorded).
  int32_t AllocatePage(int32_t& chain);
  // Writes a key's stored bytes (key length) at `at`.
  void PutKey(uint8_t* at, const HXobjIndexKeyData& key) const;

 private:
  // The key that stands for the rightmost child of an interior page: beyond every key in the
  // tag's order.
  void Sentinel(HXobjIndexKeyData& key) const;
  void WriteEmptyRoot();
  // Encodes `count` entries from `from` into a zeroed page and writes it at `block`.
  void WriteEntries(int32_t block, int32_t chain, bool interior,
                    const std::vector<std::unique_ptr<HXobjIndexKeyData>>& keys, size_t from,
                    size_t count);
  // Shared files: the header block the tag table lists for this tag now (another program's
  // rebuild moves it); the header is read again when it moved.
  void FollowTagTable();

  HXobjMDXFile* mdxFile_;
  int itemLength_ = 0;
  int32_t firstBlock_ = 0;
  int32_t newestBlock_ = 0;
};

// Builds a tag bottom-up from sorted keys: one page buffer per tree level, each written when it
// holds the most keys a page takes, children before the parent entry that names them; the root is
// the last page written.
class HXobjSortMDX : public ThxSort {
 public:
  explicit HXobjSortMDX(HXobjMDXTag* tag, const uint8_t* collation = nullptr);
  ~HXobjSortMDX() override;

  // Adds a key to a level: at level 0 `number` is the record, above it the child block.
  void AddToLevel(int level, int32_t number, const HXobjIndexKeyData& key);
  // Writes the last page of every level; the topmost becomes the tag's root. False when no key
  // was added (no page was written).
  bool Finish();

 private:
  struct Level {
    bool started = false;
    std::vector<uint8_t> page;
    int count = 0;
    HXobjIndexKeyData lastKey;
  };
  static constexpr int kLevels = 32;

  // Writes the level's page at a new block (an interior page's last entry uncounted) and
  // empties the buffer; returns the block.
  int32_t WriteLevel(int level);

  HXobjMDXTag* tag_;
  int pageLength_;
  std::array<Level, kLevels> levels_;
};

class HXobjMDXFile : public HXobjIndexFile {
 public:
  HXobjMDXFile(HXobjIndexTable* table, std::string_view fileName, bool overwrite, bool create,
               bool shared, bool readWrite);
  ~HXobjMDXFile() override;

  bool CreateTag(std::string_view tagName, std::string_view keyExpression,
                 std::string_view filterExpression, bool ascending, bool unique) override;
  bool DeleteTag(std::string_view tagName) override;
  int32_t AllocateBlock() override;
  int32_t RefreshEnd() override;
  bool ReadBlock(int64_t block, void* buffer, int32_t length) override;
  void WriteBlock(int64_t block, const void* buffer, int32_t length) override;
  void Reindex() override;
  bool Rename(std::string_view newName) override;
  void DiscardPages() override;
  bool UpdateTags(int32_t record, bool isNew) override;
  // True when the file's first block (next free block, tag table) changed since this handle last
  // wrote or read it: another program split pages or rebuilt. The block seen is kept, so each
  // change is reported once.
  bool ChangedByOthers() override;

  int PageLength() const { return geometry_.pageLength; }
  int HeaderLength() const { return geometry_.HeaderLength(); }
  int BlocksPerPage() const { return geometry_.blocksPerPage; }
  int HeaderBlocks() const { return geometry_.HeaderLength() / mdx::kBlockSize; }
  // The most tags the tag table takes.
  int MaxTags() const;
  // The header block the tag table on disk lists for a name; -1 when it lists none.
  int32_t ListedHeaderBlock(std::string_view tagName);

 protected:
  bool RewriteNoteSpot(int64_t& block, int& offset) const override {
    block = 0;
    offset = mdx::kHdrRewriteNote;
    return true;
  }
  void RewriteNoteWritten(const uint8_t* block) override;

 private:
  // The tag table as it is on disk.
  std::vector<mdx::TagEntry> ReadTagTable();
  // Writes `entries` as the tag table (sorted by name), zeroing the entries up to `clearUpTo`.
  void WriteTagTable(std::vector<mdx::TagEntry> entries, int clearUpTo);
  // Writes the next free block into the header when blocks were allocated since it was last
  // written.
  void WriteNextFree();
  // Reads the first block and keeps it as the one seen.
  void NoteFirstBlock();
  bool CreateTagLocked(const std::string& name, std::string_view keyExpression,
                       std::string_view filterExpression, bool ascending, bool unique);
  void DeleteTagLocked(HXobjIndexTag* tag);
  void ReindexLocked();
  // Runs `work` under the header lock (nothing to take on a file not opened shared).
  template <typename Work>
  void Locked(Work work);

  mdx::FileHeader geometry_;
  bool tagsChanged_ = false;  // tags created or deleted since the file was opened
  bool allocated_ = false;    // blocks allocated since the next free block was written
  std::array<uint8_t, mdx::kBlockSize> seen_{};
};

// hx6_indx: the format-independent half of every index the engine keeps.
//
// A tag (HXobjIndexTag) never works on disk nodes directly: it holds a lazily loaded tree of page
// objects (HXobjIndexKey), each a decoded list of keys (HXobjIndexKeyData). Searching, skipping,
// inserting and deleting work on these lists; a changed page is encoded back by the format's page
// writer when the tree is released, which may split it (the split step below inserts the split
// key into the parent and grows a new root that keeps the root's block). The format units (CDX)
// only translate keys, read and write pages and headers, and build a tag from the key sorter.
//
// Pages stay decoded between operations up to a bound per tag (the current path and changed pages
// always stay). Every operation that changes keys writes its changed pages before it returns, so
// the file is current whenever the index files are unlocked. A tree of a file opened shared is
// read afresh before searches from the top and after another handle changed the file (the
// format's change counter, checked under the header lock); an exclusive file keeps its tree.
//
// The index layer reaches its table only through HXobjIndexTable and its expressions only through
// HXobjIndexExpression, so the table handler, the index formats and the expression engine stay
// apart.
//
// Ownership: an index file owns its tags and its disk file; a tag owns its tree (the root page),
// its range keys and its expression objects; a page owns the child pages loaded below it. The
// table is not owned.
//
// Thread-safety: one thread uses a table and its indexes. Programs sharing an index file
// coordinate through the header lock and the format's change counter.
#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/hx6_disk.h"
#include "index/hx6_sort.h"
#include "base/hx6_tool.h"

// Expression result type codes the index layer looks at.
inline constexpr int kExpTypeUnknown = 0;
inline constexpr int kExpTypeText = 3;
inline constexpr int kExpTypeNumber = 4;
inline constexpr int kExpTypeInteger = 5;
inline constexpr int kExpTypeDate = 6;
inline constexpr int kExpTypeDateTime = 7;
inline constexpr int kExpTypeBoolean = 8;

// Search record numbers with a meaning of their own.
inline constexpr int32_t kAnyRecord = -1;
inline constexpr int32_t kAfterEqualKeys = 0x7FFFFFFF;

// Move codes of HXobjIndexTag::Move (and of the table handler's GoTo).
inline constexpr int kMoveNext = -1;
inline constexpr int kMovePrior = -2;
inline constexpr int kMoveTop = -3;
inline constexpr int kMoveBottom = -4;
inline constexpr int kMoveCurrent = -5;

// A compiled key or FOR expression over the table's current record.
class HXobjIndexExpression {
 public:
  virtual ~HXobjIndexExpression() = default;
  // Evaluates into `value` (text as text, numbers and date-times as doubles, dates as day
  // numbers, logicals as logicals); returns the result type code, 0 when nothing was produced.
  virtual int EvaluateKey(ThxVariant& value) = 0;
  virtual std::string Text() const = 0;
};

// One thread's view of the table in a parallel build: a record buffer of its own, filled from
// the table file, and expressions compiled over it. Used by one thread; several readers of one
// table run at once while the table's own handle waits for them.
class HXobjIndexRecordReader {
 public:
  virtual ~HXobjIndexRecordReader() = default;
  // Reads record `record` into the reader's buffer; false when it could not be read.
  virtual bool LoadRecord(int32_t record) = 0;
  // Compiles an expression over the reader's record; raises the expression engine's errors, also
  // for an expression that needs more than the record (memo text).
  virtual std::unique_ptr<HXobjIndexExpression> CompileExpression(const std::string& text) = 0;
};

// What the index layer needs of the table it orders.
class HXobjIndexTable {
 public:
  virtual ~HXobjIndexTable() = default;
  // Full path of the table file.
  virtual std::string IndexTableName() const = 0;
  virtual int32_t IndexRecordCount() = 0;
  // The current record number (0 none).
  virtual int32_t IndexCurrentRecord() const = 0;
  // Reads record `record` straight from the table file into the record buffer (unscrambled), so
  // that expressions see it; used by index builds. False when it could not be read.
  virtual bool IndexLoadRecord(int32_t record) = 0;
  // Whether a copy of the record as last read or written exists.
  virtual bool IndexHasSavedRecord() const = 0;
  // Aims expression evaluation at the saved copy (true) or back at the record buffer (false).
  virtual void IndexUseSavedRecord(bool saved) = 0;
  // The scrambling key of an encrypted table, empty otherwise.
  virtual std::string IndexPassword() const = 0;
  virtual bool IndexExact() const = 0;
  virtual void IndexStatus(int stat1, int stat2, int stat3) = 0;
  virtual bool ProductionIndexFlag() const = 0;
  // Sets the table's production-index flag and rewrites its header.
  virtual void MarkProductionIndex() = 0;
  // Compiles an expression over this table; raises the expression engine's errors.
  virtual std::unique_ptr<HXobjIndexExpression> CompileIndexExpression(const std::string& text) = 0;
  // The length and decimals of the table field named `name` (case ignored); false when the table
  // has no such field. Formats that size number keys after their field ask this.
  virtual bool IndexFieldSize(std::string_view /*name*/, int& /*length*/, int& /*decimals*/) {
    return false;
  }
  // A reader for one thread of a parallel build; null when the table has none to give (builds
  // then read the table on the calling thread alone).
  virtual std::unique_ptr<HXobjIndexRecordReader> IndexRecordReader() { return nullptr; }
};

// `s` without its trailing blanks: index pages never store them in text keys.
inline std::string TrimKeyBlanks(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

class HXobjIndexTag;
class HXobjIndexFile;

// Refuses an expression longer than `most` characters, the most a format's header stores: cut,
// it would be another expression when the file is read again. `what` is "key" or "FOR"; the
// error reads "The key expression of tag T in index file F is longer than N characters".
void RefuseLongExpression(std::string_view what, std::string_view tagName,
                          std::string_view fileName, std::string_view expression, int most);

// Holds an index file's whole region locked while the file is rebuilt or emptied. A shared file
// waits for other programs' updates as every index lock does, then raises "Can not Lock file %s";
// a file opened alone needs no lock. Locks of one handle on the same region nest.
class HXobjWholeFileLock {
 public:
  explicit HXobjWholeFileLock(HXO_DiskFile& disk);
  ~HXobjWholeFileLock();
  HXobjWholeFileLock(const HXobjWholeFileLock&) = delete;
  HXobjWholeFileLock& operator=(const HXobjWholeFileLock&) = delete;

 private:
  HXO_DiskFile& disk_;
};

// One key value with its record number and target (the record in a leaf, the child position in
// an interior page).
class HXobjIndexKeyData : public ThxVariant {
 public:
  HXobjIndexKeyData() = default;
  HXobjIndexKeyData(const HXobjIndexKeyData&) = default;
  HXobjIndexKeyData& operator=(const HXobjIndexKeyData&) = default;

  int32_t RecNo() const { return recNo_; }
  void SetRecNo(int32_t r) { recNo_ = r; }
  int32_t Target() const { return target_; }
  void SetTarget(int32_t t) { target_ = t; }
  // The value as bytes.
  std::string_view Bytes() const {
    return IsEmpty() ? std::string_view()
                     : std::string_view(reinterpret_cast<const char*>(Data()),
                                        static_cast<size_t>(Length()));
  }

 private:
  int32_t recNo_ = 0;
  int32_t target_ = 0;
};

// One page of a tag's tree held in memory.
class HXobjIndexKey {
 public:
  static constexpr int kLeaf = 3;
  static constexpr int kInterior = 0;
  // Pages a tag keeps decoded (the current path and changed pages always stay): about 8 KB
  // each, so at most some 8 MB for a tag whose keys land all over it, which holds every leaf of
  // a tag over 100,000 records.
  static constexpr int kMaxLoadedPages = 1024;
  // Deeper trees than this are taken for damaged files.
  static constexpr int kMaxDepth = 32;

  // A page at `block` (0: not yet on disk) loads itself through the tag's ReadPage.
  HXobjIndexKey(HXobjIndexTag* tag, HXobjIndexKey* parent, int32_t block);
  HXobjIndexKey(const HXobjIndexKey&) = delete;
  HXobjIndexKey& operator=(const HXobjIndexKey&) = delete;
  ~HXobjIndexKey();

  // The entries in order; each owned by the page.
  std::vector<std::unique_ptr<HXobjIndexKeyData>>& Keys() { return keys_; }
  const HXobjIndexKeyData& Key(int i) const { return *keys_[static_cast<size_t>(i)]; }
  int Count() const { return static_cast<int>(keys_.size()); }
  bool IsLeaf() const { return kind_ >= kLeaf; }
  int Kind() const { return kind_; }
  void SetKind(int kind) { kind_ = kind; }
  int32_t Block() const { return block_; }
  void SetBlock(int32_t b) { block_ = b; }
  int32_t Left() const { return left_; }
  void SetLeft(int32_t b) { left_ = b; }
  int32_t Right() const { return right_; }
  void SetRight(int32_t b) { right_ = b; }
  HXobjIndexKey* Parent() const { return parent_; }
  HXobjIndexKey* Child() const { return child_; }
  HXobjIndexTag* Tag() const { return tag_; }
  int Position() const { return pos_; }
  void SetPosition(int p) { pos_ = p; }
  bool Changed() const { return changed_; }
  bool Split() const { return split_; }
  // A value the format keeps with the page from its read to its write (MDX: the allocation
  // chain the page carries).
  int32_t Extra() const { return extra_; }
  void SetExtra(int32_t value) { extra_ = value; }

 private:
  friend class HXobjIndexTag;

  // The child page for the entry at the current position, loading it when needed.
  HXobjIndexKey* OpenChild();
  HXobjIndexKey* FindLoaded(int32_t block);
  // The entry whose target is `block`, -1 when none.
  int EntryFor(int32_t block) const;

  HXobjIndexTag* tag_;
  HXobjIndexKey* parent_;
  HXobjIndexKey* child_ = nullptr;
  std::vector<std::unique_ptr<HXobjIndexKey>> children_;
  std::vector<std::unique_ptr<HXobjIndexKeyData>> keys_;
  int32_t block_;
  int32_t left_ = -1;
  int32_t right_ = -1;
  int32_t extra_ = 0;
  int kind_ = kLeaf;
  int pos_ = -1;
  bool changed_ = false;
  bool split_ = false;
  bool atFirst_ = false;
  bool atLast_ = false;
  // When a search last passed through the page (the tag's use clock), for pruning.
  uint64_t lastUse_ = 0;
};

// One order over the table.
class HXobjIndexTag {
 public:
  HXobjIndexTag(HXobjIndexFile* file, int32_t headerPosition, std::string_view tagName);
  HXobjIndexTag(const HXobjIndexTag&) = delete;
  HXobjIndexTag& operator=(const HXobjIndexTag&) = delete;
  // Releases the tree (writing changed pages) and writes a changed header. A format that
  // overrides the page or header writers calls ReleasePages in its own destructor.
  virtual ~HXobjIndexTag();

  // Virtual operations, in slot order.
  virtual void TranslateKey(HXobjIndexKeyData& key, bool trim);
  virtual bool CreateTag(std::string_view tagName, std::string_view keyExpression,
                         std::string_view filterExpression, bool ascending, bool unique);
  virtual bool AddKey(const HXobjIndexKeyData& key);
  virtual int32_t RootBlock();
  virtual void ReadPage(int32_t position, HXobjIndexKey& page);
  virtual int WritePage(HXobjIndexKey& page);
  virtual bool ReadHeader();
  virtual void WriteHeader();
  virtual void CompileKey();
  virtual void CompileFilter();
  virtual bool EvaluateKey(HXobjIndexKeyData& result);
  virtual bool EvaluateFilter();
  // Whether a text key is stored as the text's own bytes: trailing blanks dropped and cut to the
  // key length, nothing else changed (no collation weights, no case folding). Then every record
  // whose key text begins with a text t has an entry that begins with TranslateKey(t), which lets
  // the table handler take a search's candidates from the tag (RecordsWithKeyPrefix). False here;
  // a format answers for its own tags.
  virtual bool KeysKeepText() const { return false; }
  // A sorter shaped as this tag's build sorter (key length, order, uniqueness, collation), whose
  // batches that sorter takes over; null when the format gathers no keys ahead of a build.
  virtual std::unique_ptr<ThxSort> BuildSortShape() const { return nullptr; }

  // How many threads a build's scan of the table uses (process-wide): 0, the default, chooses
  // from the machine and the table's size (small tables are read on the calling thread); 1
  // keeps every build on the calling thread; n > 1 uses n threads for any table. The files built
  // are the same whatever the choice.
  static void SetBuildThreads(int threads);
  static int BuildThreads();

  // Releases the tree and makes a new root; mode 2 stops there, mode 1 positions on the table's
  // current record (or the top), mode 0 goes to the top.
  void Reset(int mode);
  // -1 next, -2 previous, -3 top, -4 bottom, -5 current entry; the record reached or 0.
  int32_t Move(int code);
  // The record of the first entry equal to `key` (over its length unless the exact flag is set
  // or an update runs), else 0.
  int32_t Seek(const HXobjIndexKeyData& key);
  // Seek with whole-key compare on a temporary tree; the live tree and position are kept.
  int32_t FindRecord(const HXobjIndexKeyData& key);
  // Positions on the entry whose key is `key` (stored form, whole key) and whose record is
  // key.RecNo(); the record, or 0 when the tag holds no such entry (the position is then where
  // the search stopped).
  int32_t SeekEntry(const HXobjIndexKeyData& key);
  // The order of two entries (keys in stored form) in this tag's tree: by key, then by record
  // number where the file orders equal keys so. Negative, 0 or positive.
  int CompareEntries(const HXobjIndexKeyData& a, const HXobjIndexKeyData& b) const;
  // The records of every entry whose key begins with `prefix` (already in stored form), in key
  // order. Walked in a temporary tree under the header lock of a shared file, so the answer is
  // the file's as it stands; the live tree and position are kept.
  std::vector<int32_t> RecordsWithKeyPrefix(const HXobjIndexKeyData& prefix);
  int32_t Resync(int32_t record);
  bool SetRange(const ThxVariant* low, const ThxVariant* high, bool excludeHigh, bool partialLow,
                bool excludeLow);
  bool KeyUpdate(int32_t record, bool isNew);
  // Whether the tag holds what it should for record `record` as the record buffer has it: its
  // entry when the FOR condition holds (on a unique tag, any entry of its key), else true.
  // Asked under the index lock, of the tree in memory (read afresh by the caller first).
  bool HoldsRecord(int32_t record);
  // The entries (keys in stored form) that name record `record`, whatever their keys: a walk
  // of the whole tag in a temporary tree; the live tree and position are kept.
  std::vector<HXobjIndexKeyData> EntriesOfRecord(int32_t record);
  // Forgets the records HoldsRecord found by number (see HXobjIndexFile::SetHoldsByRecordNumber).
  void ForgetHeldRecords() {
    heldRecords_.clear();
    heldRecordsKnown_ = false;
  }
  // Removes the entry with this key and target (whole-key compare); false when there is none.
  // The change is written when the tree is released.
  bool DeleteKey(const HXobjIndexKeyData& key);
  // Frees the tree, writing every changed page, and a changed header. After a failed write to
  // the file the tree is dropped unwritten instead (see HXobjIndexFile::WriteFailed).
  void ReleasePages();
  // Drops the tree and a changed header without writing anything: the next operation reads
  // the pages from the file again.
  void DiscardTree();
  std::string KeyExpressionText() const;

  // The split step of the page writers: `page` did not fit one node; its first part was written
  // at key.Target() and `key` is that part's last key.
  void SplitPage(HXobjIndexKey& page, const HXobjIndexKeyData& key);
  // Sets a sibling field of the node at `position`: at once in the page object when it is
  // loaded (a changed page is written with it); on disk only once every changed page of the
  // update is written (WriteChangedPages), so that a link never names a block before it and
  // the parent that puts it in force are on disk.
  void SetSibling(int32_t position, bool right, int32_t value);

  // Properties.
  const std::string& FormatName() const { return formatName_; }
  const std::string& TagName() const { return tagName_; }
  const std::string& KeyExpression() const { return keyExpression_; }
  const std::string& FilterExpression() const { return filterExpression_; }
  int KeyLength() const { return keyLength_; }
  int EntryLength() const { return entryLength_; }
  int MaxKeys() const { return maxKeys_; }
  HXobjIndexFile* File() const { return file_; }
  int32_t HeaderPosition() const { return headerPosition_; }
  void SetHeaderPosition(int32_t p) { headerPosition_ = p; }
  int32_t Root() const { return root_; }
  bool Ascending() const { return ascending_; }
  bool Descending() const { return descending_; }
  // Keys are kept in descending order in the tree (a format that stores descending tags so).
  bool ReverseCompare() const { return reverseCompare_; }
  bool Unique() const { return unique_; }
  bool HasFilter() const { return hasFilter_; }
  char KeyType() const { return keyType_; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  const HXobjIndexKeyData& CurrentKey() const { return current_; }
  bool HasRange() const { return !low_.IsEmpty() || !high_.IsEmpty(); }
  const HXobjIndexKeyData& LowKey() const { return low_; }
  const HXobjIndexKeyData& HighKey() const { return high_; }
  bool HeaderChanged() const { return headerChanged_; }
  void SetHeaderChanged(bool on) { headerChanged_ = on; }
  bool Updating() const { return updating_; }
  bool TreeLoaded() const { return rootPage_ != nullptr; }
  HXobjIndexExpression* KeyHandler() const { return keyHandler_.get(); }
  HXobjIndexExpression* FilterHandler() const { return filterHandler_.get(); }
  bool Valid() const { return valid_; }
  // How many pages stay decoded before clean pages off the current path are freed.
  int PageCacheLimit() const { return pageCacheLimit_; }
  void SetPageCacheLimit(int pages) { pageCacheLimit_ = std::max(pages, 1); }
  int LoadedPages() const { return loadedPages_; }

 protected:
  // A build's scan of the table: each record that loads and passes the tag's filter, its key
  // evaluated, checked (CheckBuildKey), translated and put into the sorter; progress reported as
  // the build's first phase.
  void ScanKeys(HXobjIndexTable& table, int32_t count, ThxSort& sorter);
  // The scan split into record ranges, one thread each, every range's pairs sorted on its own
  // thread and handed to the sorter in record order; false (nothing done) when the table gives
  // no readers or the expressions do not compile over them.
  bool ScanKeysInParallel(HXobjIndexTable& table, int32_t count, ThxSort& sorter, int threads);

  // What a scan gathered for one tag: sorted batches in record order, or the failure the scan on
  // one thread would have met.
  struct PreparedScan {
    std::vector<std::unique_ptr<ThxSort::Batch>> batches;
    std::exception_ptr error;
    int32_t count = 0;
    bool ready = false;
  };
  struct ScanJob {
    HXobjIndexTag* tag;
    const ThxSort* sorter;  // makes the batches
    PreparedScan* out;
  };
  // One pass over the table, split into record ranges on `threads` threads, gathering the keys of
  // every job's tag; false (nothing done) as for ScanKeysInParallel.
  static bool ScanTogether(HXobjIndexTable& table, int32_t count, const std::vector<ScanJob>& jobs,
                           int threads);
  // A format that cannot store every key refuses one here by raising; nothing is refused here.
  virtual void CheckBuildKey(const HXobjIndexKeyData& /*key*/) const {}
  // A text key as a page of `keyLength` bytes holds it: trailing blanks dropped when `trim`, cut
  // to the key length (and trimmed again). The key in memory must be the key as it reads back, or
  // a later rewrite would not find it to replace it.
  static std::string StoredTextKey(const HXobjIndexKeyData& key, bool trim, int keyLength);

  // The tree's pages in memory; the format's writers use these.
  HXobjIndexKey* RootPage() const { return rootPage_.get(); }
  // Writes every changed page, children before parents, growing new roots as needed, then the
  // sibling links that follow from the splits.
  void WriteChangedPages();
  // Compares a search key with an entry's key (collation, partial option, reverse flag).
  int CompareKeys(const ThxVariant& search, const ThxVariant& entry, int partial) const;
  // Called when an emptied child was removed from the end of `page`, so that the entry before it
  // names the page's last child now. Formats that keep real keys in interior pages hear of it here.
  virtual void RightmostChildRemoved(HXobjIndexKey& /*page*/) {}
  // Marks the pages along the last entries below `page` (loading them) changed, down to a leaf,
  // so that they are written again.
  void MarkRightEdgeChanged(HXobjIndexKey* page);
  // Whether the keys of interior pages are entries of the tag themselves (a format whose pages
  // hand their last key to the parent). A page whose entry in its parent changes then holds
  // other entries on disk than before, and the two writes must not be seen apart: the page is
  // written to a new block, which only the parent, written after it, names (Relocate).
  virtual bool InteriorKeysAreEntries() const { return false; }

  std::string formatName_ = "UNK";
  std::string tagName_;
  std::string keyExpression_;
  int keyLength_ = 0;
  int entryLength_ = 0;
  int maxKeys_ = 0;
  std::string filterExpression_;
  HXobjIndexKeyData low_;
  HXobjIndexKeyData high_;
  HXobjIndexFile* file_;
  int32_t headerPosition_;
  int32_t root_ = 0;
  bool headerChanged_ = false;
  bool ascending_ = true;
  bool unique_ = false;
  bool hasFilter_ = false;
  char keyType_ = 'C';
  HXobjIndexKeyData current_;
  bool partialLow_ = false;
  bool excludeLow_ = false;
  bool excludeHigh_ = false;
  bool bof_ = false;
  bool eof_ = false;
  // bof_ and eof_ hold the sense a descending tag shows (exchanged) rather than the tree's own:
  // set by Move and AddKey, which hand the flags out so; Move takes them back first.
  bool shownFlags_ = false;
  bool reverseCompare_ = false;
  bool descending_ = false;
  bool updating_ = false;
  bool valid_ = true;
  std::unique_ptr<HXobjIndexKey> rootPage_;
  std::vector<HXobjIndexKey*> dirty_;  // changed pages of the tree, not owned
  int loadedPages_ = 0;
  int pageCacheLimit_ = HXobjIndexKey::kMaxLoadedPages;
  uint64_t useClock_ = 0;
  // The page the write under way has moved to a new block (it moves once per write).
  const HXobjIndexKey* relocated_ = nullptr;
  // Sibling links of nodes on disk that change once the changed pages are written.
  struct PendingLink {
    int32_t position;
    bool right;
    int32_t value;
  };
  std::vector<PendingLink> pendingLinks_;
  bool linkPhase_ = false;  // the pages are written, the links under way
  // Splits made so far (FlushPages finds its position again only after one).
  int64_t splits_ = 0;
  std::unique_ptr<HXobjIndexExpression> keyHandler_;
  std::unique_ptr<HXobjIndexExpression> filterHandler_;
  // Keys gathered ahead of the next build by HXobjIndexFile::PrepareBuilds.
  std::unique_ptr<PreparedScan> prepared_;

 private:
  friend class HXobjIndexKey;
  friend class HXobjIndexFile;

  // Whether any entry names `record` (HoldsRecord by record number): answered from the set of
  // records the tag names, walked once and kept current while the file asks so.
  bool NamesRecord(int32_t record);
  // Calls `visit` for every entry in order, in a temporary tree (the live one is kept).
  template <class Visit>
  void VisitEntries(Visit visit);
  // Builds a temporary tree (the live one and its position are kept), positions it by `start`
  // (false: nothing to walk) and calls `visit` on each entry from there until it returns false.
  template <class Start, class Visit>
  void WalkTemporaryTree(Start start, Visit visit);
  std::vector<int32_t> heldRecords_;  // sorted
  bool heldRecordsKnown_ = false;

  void EnsureTree();
  // WriteChangedPages' work.
  void WriteDirtyPages();
  // Moves a page with a parent to a newly allocated block, once per write of the changed pages:
  // its old block keeps what it held until the parent that names the new one is written.
  void Relocate(HXobjIndexKey* page);
  std::vector<const HXobjIndexKey*> relocatedPages_;
  // Positions on the first entry of the subtree / the last; false when the tree is empty.
  bool First(HXobjIndexKey* page);
  bool Last(HXobjIndexKey* page);
  // One step in the tree; false at the end.
  bool Next();
  bool Prior();
  HXobjIndexKey* CurrentLeaf() const;
  // Copies the leaf entry at the current position into the current key.
  void TakeCurrent(HXobjIndexKey* leaf);
  int Find(HXobjIndexKey* page, int32_t searchRecord, const ThxVariant& key, int partial);
  // Positions on the entry of `key` whose target is `target` (whole-key compare); false when
  // there is none. In a file that does not order equal keys by record number the walk goes
  // forward from the first equal key, across leaves, to the record's own entry.
  bool FindEntry(const HXobjIndexKeyData& key, int32_t target);
  void CollectEdgeFlags(bool& atFirst, bool& atLast) const;
  // Range test of the current key: -1 below the low bound, 1 above the high bound, 0 inside.
  int RangeTest() const;
  int32_t DoMove(int code);
  // Turns the flags to the sense the tag shows: exchanged on a descending tag.
  void ShowFlags();
  void InsertIntoPage(HXobjIndexKey* leaf, const HXobjIndexKeyData& key, bool after);
  void DeleteCurrent();
  // Makes the parent entries of `page` name its last key, up the tree while each is its page's
  // last entry.
  void FixParentKeys(HXobjIndexKey* page);
  // Removes an emptied page from its parent (and an emptied parent from its parent), closing
  // the sibling chain around it; an emptied root becomes an empty leaf root.
  void UnlinkEmptyPage(HXobjIndexKey* page);
  // Marks a page changed and lists it for writing.
  void MarkChanged(HXobjIndexKey* page);
  // Takes a page and the pages below it off the list of changed pages (they are being freed).
  void ForgetSubtree(HXobjIndexKey* page);
  // Frees loaded pages that are clean and off the current path.
  void PrunePages();
  HXobjIndexKey* FindLoadedPage(int32_t block) const;
  // Writes changed pages (and a changed header) now, keeps the tree and finds the current key
  // again.
  void FlushPages();
  // Before a search from the top: writes what changed and keeps the tree when no other handle
  // can have changed the file, else reads the tree afresh.
  void Refresh();
  bool TreeMayBeStale() const;
  // Before a step: whether the tree in memory may be out of date because another program
  // changed the shared file, and the step taken in a tree read again.
  bool StaleForStep();
  int32_t StepInFreshTree(int code);
  int32_t CurrentRecord() const { return (bof_ || eof_) ? 0 : current_.Target(); }
};

// While alive, an index file that this thread creates at `finalPath` is made at `stagedPath`
// instead, under the names (tag names, directory) it would have at `finalPath`; the creator
// puts it in place with HXobjIndexFile::CommitStaged once it is whole. So a new index file is
// never found half made under its name.
class HXobjStagedCreate {
 public:
  HXobjStagedCreate(std::string finalPath, std::string stagedPath);
  ~HXobjStagedCreate();
  HXobjStagedCreate(const HXobjStagedCreate&) = delete;
  HXobjStagedCreate& operator=(const HXobjStagedCreate&) = delete;

  const std::string& FinalPath() const { return finalPath_; }
  const std::string& StagedPath() const { return stagedPath_; }

 private:
  std::string finalPath_;
  std::string stagedPath_;
  const HXobjStagedCreate* previous_;
};

// The path an index file at `path` is staged at while it is rebuilt: the same folder, "~$"
// before the name (as a pack stages a table's files).
std::string StagedIndexPath(const std::string& path);

// One index file with its tags.
class HXobjIndexFile {
 public:
  HXobjIndexFile(HXobjIndexTable* table, std::string_view fileName);
  HXobjIndexFile(const HXobjIndexFile&) = delete;
  HXobjIndexFile& operator=(const HXobjIndexFile&) = delete;
  virtual ~HXobjIndexFile();

  // Virtual operations, in slot order.
  virtual bool CreateTag(std::string_view tagName, std::string_view keyExpression,
                         std::string_view filterExpression, bool ascending, bool unique);
  virtual bool DeleteTag(std::string_view tagName);
  virtual int32_t AllocateBlock();
  virtual int32_t RefreshEnd();
  virtual bool ReadBlock(int64_t position, void* buffer, int32_t length);
  virtual void WriteBlock(int64_t position, const void* buffer, int32_t length);
  virtual void Reindex();
  virtual bool Rename(std::string_view newName);
  virtual bool UpdateTags(int32_t record, bool isNew);
  virtual bool ChangedByOthers();
  virtual void SetLockProtocol(int protocol);
  virtual void Rescramble(std::string_view oldKey, std::string_view newKey);
  // A stamp that moves whenever a handle changes keys in the file, as it is on disk now (a
  // format's change counter); false when the format keeps none. Unlike ChangedByOthers it takes
  // no note of what it read.
  virtual bool ChangeStamp(uint32_t& stamp);
  // Called with the header lock just taken: another program may have grown the file, so the
  // end is taken from the file size (a format whose change counter tells may wait for that).
  virtual void EndMayHaveMoved() { RefreshEnd(); }
  // Drops every tag's tree unwritten, forgets where the file ends and clears WriteFailed: what
  // is in memory after a failed write may point at pages that never reached the disk. A format
  // with trees of its own (a tag directory) drops those too.
  virtual void DiscardPages();

  // A write to this file failed: its pages in memory are no longer written back (not by a
  // release, a flush or a destructor) until DiscardPages, which the next update or header lock
  // calls first.
  bool WriteFailed() const { return writeFailed_; }
  // Removes the entries of record `record` (keys evaluated on the record buffer) from every
  // tag, through UpdateTags so that the format's change counter moves; whether any was removed.
  bool RemoveRecordKeys(int32_t record);
  // Whether UpdateTags is running: a format that keeps the end of the file in its header
  // announces a block taken then before the block is written, so that no other program takes
  // it again after a failure or a crash.
  bool UpdatingTags() const { return updatingTags_; }
  bool RemovingKeys() const { return removingKeys_; }
  bool AddingMissingKeys() const { return addingMissing_; }
  // Adds the keys of record `record` (on the record buffer) to every tag that lacks them (one
  // whose FOR condition holds and, on a unique tag, whose key is not there at all); whether any
  // was added. Nothing else is changed.
  bool AddMissingKeys(int32_t record);
  // Whether every tag holds the keys of record `record` (on the record buffer) that it should.
  bool HoldsRecord(int32_t record);
  // While on, HoldsRecord decides by record number whether a tag lacks a record: a tag without
  // an entry under the key the record gives now is asked whether any of its entries names the
  // record (another program may store a key differently, and such a record is held all the
  // same). The end-of-table repair works so; turning it off forgets what was walked.
  void SetHoldsByRecordNumber(bool on);
  bool HoldsByRecordNumber() const { return byRecordNumber_; }

  // A record rewrite that a crash interrupts would leave tags with the old key. So before the
  // keys of a record change, its number is noted in the file's header (four bytes the format
  // leaves unused, which other programs ignore: RewriteNoteSpot), and the note is cleared once
  // every tag is current; the next read-write open re-keys a noted record (RekeyRecord). A
  // format without a spot notes nothing. Raises the disk layer's error when the note cannot be
  // written.
  void NoteRewrite(int32_t record);
  // The record noted in the file, 0 when none.
  int32_t NotedRewrite();
  // The note as this handle last wrote it: header writers that rewrite its block keep it.
  int32_t RewriteNote() const { return rewriteNote_; }
  // Takes every entry that names record `record` out of every tag, whatever its key, and adds
  // the keys of the record buffer where the FOR condition holds; whether any tag changed.
  bool RekeyRecord(int32_t record);
  bool RekeyingRecord() const { return rekeying_; }
  // After a crash in an update: makes the sibling links of every node agree with the tree (a
  // crash between the link writes of a split leaves one side of the chain old). Nothing here;
  // a format whose nodes link their neighbours does it. Drops every tag's tree.
  virtual void RepairSiblingLinks() {}
  // A sibling link the disk refused after the split it follows was in force: the links are
  // made to agree with the tree at the start of the next update (UpdateTags).
  void OweSiblingLinks() { linksOwed_ = true; }

  // Rebuilds and tag builds are made beside the file and put in place by rename, as a pack puts
  // a table's files: a crash, a refused write or a full disk at any point leaves under the
  // file's name either the old file whole or the new one.
  //  - BeginStaged holds the file against other handles' writes (its whole-file lock), writes
  //    every changed page, copies the file (its first `keep` bytes, all when negative) to
  //    StagedIndexPath and aims this object at the copy.
  //  - The caller then runs the work (Reindex, CreateTag) as it would on the file itself.
  //  - CommitStaged writes the copy to the disk, renames it over the file, flushes the folder,
  //    and aims this object at the file under its own name again, opened as it was; the old
  //    file and its lock go. Other handles follow the new file at their next header lock or
  //    search (FollowReplacement).
  //  - AbandonStaged (after a failure, never raises) removes the copy and lets the old file go
  //    (and its lock): the object is left without a disk file, since what it holds in memory
  //    belongs to neither file; the caller opens the file again to go on.
  // A file created under HXobjStagedCreate is staged from the start: only CommitStaged and
  // AbandonStaged apply.
  void BeginStaged(int64_t keep = -1);
  // Before a rebuild of every tag: one pass over the table gathers the keys of all of them at
  // once (on several threads, for a table large enough), each tag's build then takes its own
  // instead of reading the table again. DropPreparedBuilds frees what no build took.
  void PrepareBuilds();
  void DropPreparedBuilds();
  // How much of the file a rebuild (Reindex) reads or keeps, from its start: BeginStaged copies
  // that much for a rebuild. All of it (-1) unless the format knows better.
  virtual int64_t RebuildKeeps() const { return -1; }
  void CommitStaged();
  void AbandonStaged() noexcept;
  bool Staged() const { return !stagedFor_.empty(); }
  // When another handle has put a new file in place under this file's name, opens that one
  // instead (with the header lock when `locked`, as the caller holds it on the old one) and
  // reads from it from now on, as from a file another program rebuilt in place; whether it did. Only for files opened shared: no
  // other handle changes a file opened alone.
  bool FollowReplacement(bool locked);

  // Opens or creates the disk file (see the source for the rules); null when there is none.
  HXO_DiskFile* OpenDiskFile(HXobjIndexTable* table, std::string_view fileName, bool overwrite,
                             bool create, bool shared, bool readWrite,
                             std::string_view defaultExtension);
  // The header lock of the lock protocol: 100 attempts 50 ms apart, then "Can not Lock file %s".
  // Nothing to do on a file not opened shared.
  void LockHeader();
  void UnlockHeader();
  int TagCount() const { return tags_.Count(); }
  HXobjIndexTag* TagByIndex(int index) const;
  HXobjIndexTag* TagByName(std::string_view name) const;
  bool HasName(std::string_view fileName) const;

  const std::string& FileName() const { return fileName_; }
  HXobjIndexTable* Table() const { return table_; }
  HXO_DiskFile* DiskFile() const { return disk_.get(); }
  bool EqualKeysByRecord() const { return equalKeysByRecord_; }
  bool CaseFold() const { return caseFold_; }
  void SetCaseFold(bool on) { caseFold_ = on; }
  bool Exact() const { return exact_; }
  void SetExact(bool on) { exact_ = on; }
  bool Valid() const { return valid_ && !headerError_; }
  bool HeaderError() const { return headerError_; }
  void SetHeaderError(bool on) { headerError_ = on; }
  int LockProtocol() const { return protocol_; }
  int64_t LockOffsetA() const { return lockA_; }
  int64_t LockOffsetB() const { return lockB_; }
  int64_t LockOffsetC() const { return lockC_; }
  int64_t End() const { return end_; }

 protected:
  // Where a rewrite's note lives: the 512-byte block that holds it (in the format's units of
  // ReadBlock) and the offset of its four bytes (little-endian) in the block; false when the
  // format keeps none.
  virtual bool RewriteNoteSpot(int64_t& /*block*/, int& /*offset*/) const { return false; }
  // Told the block as written with a note, for a format that remembers its header as seen.
  virtual void RewriteNoteWritten(const uint8_t* /*block*/) {}

  // Scrambles (mode 1) or unscrambles (mode 0) a buffer in independent 512-byte pieces.
  static void ScrambleBlocks(std::string_view key, void* buffer, int32_t length, int mode);

  std::string fileName_;
  ThxCollection<HXobjIndexTag> tags_;
  HXobjIndexTable* table_;
  std::unique_ptr<HXO_DiskFile> disk_;
  int64_t end_ = -1;
  bool equalKeysByRecord_ = false;
  bool caseFold_ = false;
  bool exact_ = false;
  bool valid_ = true;
  bool headerError_ = false;
  int protocol_ = 0;
  int64_t lockA_ = 0x40000000;
  int64_t lockB_ = 0x7FFFFFFE;
  int64_t lockC_ = 0x3FFFFFFF;
  bool writeFailed_ = false;
  // While staged: the final path, and the old file held locked (none for a new file).
  std::string stagedFor_;
  std::unique_ptr<HXO_DiskFile> heldOriginal_;
  bool updatingTags_ = false;
  bool removingKeys_ = false;
  bool addingMissing_ = false;
  bool rekeying_ = false;
  bool linksOwed_ = false;
  bool byRecordNumber_ = false;
  int32_t rewriteNote_ = 0;
};

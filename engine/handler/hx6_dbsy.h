// hx6_dbsy: the database handler, through which a data set works with a table.
//
// HXO_dBHandler is an open table with typed field access (HXO_dBaseFld) plus what navigation and
// searching need: up to 63 open index files (slots 1..63) and one master tag that sets the
// navigation order, a filter kept as the set of passing record numbers, a 32768-byte read-ahead
// buffer for record-order scans, key search (Find), field search (Locate), index creation and
// rebuilding, packing and a change of the table's password. It keeps every open index current
// after each append and record write, with the header of every index file locked in slot order
// around the write.
//
// Where a tag's keys give the scan's answer, filters and Locate read only the records a tag names
// and moves through a small filter set go straight to the next passing entry of the master tag
// (hx6_dbsy_narrow.cpp).
//
// The data set's own handler (DBFObject) derives from it and overrides two hooks: StatusReport
// (the three integers that long operations report: (-1, phase, total) when a phase starts,
// (phase, current, 0) per step, (0, 0, 0) at the end) and AcceptRecord (its record filter).
//
// Owns its index files, the filter handler and set, and the read-ahead buffer; the master tag
// belongs to its index file. Index files are reached only through the index framework
// (hx6_indx); the one place that picks a format by extension is MakeIndexFile.
//
// Thread-safety: one handler is used by one thread. Between programs, appends and record writes
// are bracketed by the index header locks; the read-ahead buffer of a shared table serves one
// outside call at most, and single steps asked for from outside read the file directly.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "table/hx6_dbf_fld.h"
#include "index/hx6_indx.h"
#include "expr/hx6_sql.h"
#include "base/hx6_tool.h"

class ThxExpHandler;

// Handler states (the table's state byte).
inline constexpr uint8_t kHandlerIdle = 1;
inline constexpr uint8_t kHandlerIndexing = 4;
inline constexpr uint8_t kHandlerPasswordChange = 5;

// Status phase reported by Pack.
inline constexpr int kStatusPhasePack = 11;
// Reported as (-1, phase, n) and then (0, 0, 0) when opening an index file finds more than n
// records at the end of the table without their keys in a tag: the repair leaves them for a
// rebuild (Reindex), as the tag was not kept with this table.
inline constexpr int kStatusPhaseUnindexedTail = 12;
// The most records at the table's end the open's repair adds keys for.
inline constexpr int32_t kLongestTailRepair = 10000;

// Size of the read-ahead buffer.
inline constexpr int kReadBufferSize = 32768;

// A key expression as plain field names joined by "+": blanks dropped, upper case, parentheses
// around the whole expression removed ("(TIME)" gives "TIME").
std::string NormalisedKeyExpression(std::string_view text);

// The index formats an index file may have, by extension.
enum class ThxIndexFormat : uint8_t { Unknown, CDX, NDX, MDX, NTX };

// The format named by the extension of `fileName` (case ignored); Unknown for any other.
ThxIndexFormat IndexFormatOf(std::string_view fileName);

// Makes the index file object of `format` over `table`: opens the file, or creates it when
// `create` is set. Raises a clear engine error for a format this engine cannot read yet; the
// result may be an object whose file did not open (no disk file) or is not valid.
std::unique_ptr<HXobjIndexFile> MakeIndexFile(ThxIndexFormat format, HXobjIndexTable* table,
                                              const std::string& path, bool create, bool shared,
                                              bool readWrite);

class HXO_dBHandler : public HXO_dBaseFld, public HXobjIndexTable {
 public:
  static constexpr int kIndexSlots = 63;

  // Opens the table (see HXO_dBaseFld); read buffer allowed but off, no index files, no master
  // tag, no filter, near flag 0.
  HXO_dBHandler(std::string_view path, bool shared, bool readWrite, std::string_view password = {});
  // Frees the filter, every index file (writing their changed pages), the buffer, then the table.
  ~HXO_dBHandler() override;

  // Overrides of the disk file and the table.
  int32_t Read(int64_t offset, void* buffer, int32_t count) override;
  bool Rename(std::string_view newPath) override;
  void Write(int64_t offset, const void* buffer, int32_t count) override;
  void AppendRecord() override;
  void StatusNotify(int code, int32_t record) override;
  // The table's positioning slot runs GoTo.
  void GotoRecord(int32_t record) override { GoTo(record); }
  void UpdateRecord(int32_t record) override;
  void SetLockProtocol(ThxLokProtocol protocol) override;

  // Virtual operations added by the handler, in slot order.
  // Seeks `key` in the master tag; the result is the found flag (see Found()).
  virtual bool Find(std::string_view key);
  // Seeks `key` (whole-key match) in the first tag named `tagName`; the record or -1.
  virtual int32_t FindKeyInTag(std::string_view tagName, std::string_view key);
  virtual void Skip(int32_t count);
  // Whether the current record is to be shown; true here, the data set's filter in DBFObject.
  virtual bool AcceptRecord() { return true; }
  // Whether AcceptRecord runs a test of its own that must see every record a scan would show
  // it; filters and Locate then always scan instead of taking their candidates from a tag.
  virtual bool HasOwnRecordTest() const { return false; }

 protected:
  // Rebuilds write each index file in place instead of beside it: for a handle whose files are
  // themselves new copies that a swap puts in place whole (a pack's staged files).
  bool rebuildInPlace_ = false;
  // Whether moving through `passing` records of a filter set in a tag's order is quicker by
  // reading those records once than by stepping through the tag's entries (see PassingEntries).
  virtual bool PassingEntriesPay(int64_t passing, int64_t records) const;

 public:
  // Locks the header of every open index file in slot order; raises "Could not lock indexes for
  // Table %s" (with none left locked) when one cannot be had.
  virtual void LockIndexFiles();
  // Changes the table's password (empty: no encryption); exclusive access only.
  virtual void SetPassword(std::string_view password);

  // Positions: a record number, or -1 next, -2 prior, -3 top, -4 bottom, -5 the current record
  // (the next visible one when it is hidden now).
  void GoTo(int32_t code);
  void UnlockIndexFiles();

  // Key range on the master tag: empty keys are absent bounds. options: partial low bound,
  // include the low bound, include the high bound. False without a master tag.
  bool SetKeyRange(std::string_view lowKey, std::string_view highKey,
                   const std::array<uint8_t, 3>& options);
  void ClearKeyRange();

  // Finds the first record whose fields (";"-separated names) hold `values` (one per name, or one
  // for all); with partialKey the last field need only begin with its value.
  bool Locate(std::string_view fieldNames, const std::vector<std::optional<std::string>>& values,
              bool partialKey, bool caseInsensitive);

  // Filters. SetFilter parses and checks the expression before it replaces the filter in force.
  void SetFilter(std::string_view text, bool caseInsensitive, bool wildcards);
  void SetFilterActive(bool on);
  void RefreshFilter();
  const std::string& FilterText() const { return filterText_; }
  bool FilterActive() const { return filterActive_; }
  // Active, with an expression that has at least one operand.
  bool FilterInForce() const;
  // The records that passed the filter when it was last built (null before the first filter).
  const ThxHugeSet* FilterSet() const { return filterSet_.get(); }

  // Index files and tags.
  void SetIndexFiles(std::string_view list, std::string_view masterTagName);
  // 0 when opened, -1 when already open.
  int OpenIndexFile(std::string_view name);
  void CreateIndexTag(std::string_view fileName, std::string_view tagName,
                      std::string_view keyExpression, std::string_view forExpression, int option,
                      int order);
  void SelectMasterTag(std::string_view name, bool keepPosition);
  // The n-th tag (from 1) over the open files in slot order; null outside.
  HXobjIndexTag* TagByPosition(int n) const;
  int TagCount() const;
  void CloseIndexFiles();
  HXobjIndexFile* IndexFile(int slot) const;
  int IndexFileCount() const;
  HXobjIndexTag* MasterTag() const { return master_; }
  const std::string& MasterTagName() const { return masterName_; }

  void Reindex();
  void Pack();

  // Read-ahead buffer.
  void AllowReadBuffer(bool on);
  void SetReadBuffer(bool on);
  bool ReadBufferAllowed() const { return bufferAllowed_; }
  bool ReadBufferActive() const { return bufferActive_; }

  // State and flags.
  uint8_t State() const { return TableState(); }
  bool Found() const { return found_; }
  bool Near() const { return near_; }
  void SetNear(bool on) { near_ = on; }
  bool Exact() const { return exact_; }
  void SetExact(bool on) { exact_ = on; }
  bool ShowDeleted() const { return showDeleted_; }
  void SetShowDeleted(bool on) { showDeleted_ = on; }
  bool LastMoveOk() const { return lastMove_ != 0; }
  // Index keys met while moving along the master tag that name records past the table's end
  // (the table was cut by another program): passed over and counted here.
  int64_t StrayIndexKeys() const { return strayIndexKeys_; }

  // The index framework's view of this table.
  std::string IndexTableName() const override { return Name(); }
  int32_t IndexRecordCount() override { return RecordCount(); }
  int32_t IndexCurrentRecord() const override { return RecNo(); }
  bool IndexLoadRecord(int32_t record) override;
  bool IndexHasSavedRecord() const override { return true; }
  void IndexUseSavedRecord(bool saved) override;
  std::string IndexPassword() const override { return Password(); }
  bool IndexExact() const override { return exact_; }
  void IndexStatus(int stat1, int stat2, int stat3) override { StatusReport(stat1, stat2, stat3); }
  bool ProductionIndexFlag() const override { return ProductionIndex(); }
  void MarkProductionIndex() override;
  std::unique_ptr<HXobjIndexExpression> CompileIndexExpression(const std::string& text) override;
  bool IndexFieldSize(std::string_view name, int& length, int& decimals) override;
  std::unique_ptr<HXobjIndexRecordReader> IndexRecordReader() override;

 private:
  class BuildReader;
  // Marks a call from outside: the first one in a nest drops what the read-ahead buffer of a
  // shared table holds, since another program may have written since.
  struct CallScope {
    explicit CallScope(HXO_dBHandler& h) : handler(h) {
      if (handler.callDepth_++ == 0) {
        ++handler.callSerial_;
        handler.ValidateReadBuffer();
      }
    }
    ~CallScope() { --handler.callDepth_; }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
    HXO_dBHandler& handler;
  };

  // One positioning step of GoTo without the deleted/accept checks.
  void Position(int32_t code);
  void PositionByTag(int32_t code, int32_t direction);
  void PositionBySet(int32_t code);
  // Reads record `record` into the record buffer (the blank record for 0 or beyond the count).
  void ReadRecordAt(int32_t record);
  // Whether the current record passes the filter expression.
  bool EvaluateFilter(ThxExpHandler& handler);
  void BuildFilterSet();
  void ApplyFilterActive();
  bool KeyRangeSet() const;
  // The key text as a search key of `tag`'s type.
  HXobjIndexKeyData SearchKey(HXobjIndexTag* tag, std::string_view key) const;
  // Find with a key already in the master tag's type.
  bool FindKey(const HXobjIndexKeyData& key);
  HXobjIndexTag* LocateTag(const std::vector<std::string>& names, bool partialKey,
                           bool caseInsensitive);
  bool LocateByScan(const std::vector<const ThxFieldInfo*>& fields,
                    const std::vector<std::string>& texts, bool partialKey, bool caseInsensitive);
  // Whether the current record holds `texts` in `fields` as Locate compares them.
  bool RecordMatches(const std::vector<const ThxFieldInfo*>& fields,
                     const std::vector<std::string>& texts, bool partialKey,
                     bool caseInsensitive) const;

  // Narrowing by a tag whose key is one text field (hx6_dbsy_narrow.cpp): the records among
  // 1..count that a filter or a Locate can accept, in record order, or nothing when only a scan
  // can tell.
  std::optional<std::vector<int32_t>> FilterCandidates(int32_t count);
  std::optional<std::vector<int32_t>> LocateCandidates(const std::vector<const ThxFieldInfo*>& fields,
                                                       const std::vector<std::string>& texts,
                                                       int32_t count);
  std::optional<std::vector<int32_t>> TagCandidates(int field, std::string_view text,
                                                    int32_t count);
  // An open tag whose whole key is text field `field`, with every record's key as the field's
  // bytes; null when none.
  HXobjIndexTag* TextFieldTag(int field) const;
  // Locate over the candidates: the first one the scan would stop at.
  bool LocateByCandidates(const std::vector<int32_t>& candidates,
                          const std::vector<const ThxFieldInfo*>& fields,
                          const std::vector<std::string>& texts, bool partialKey);
  // Reads record `record` straight from the file (not through the read-ahead buffer).
  bool LoadRecordDirect(int32_t record);
  // Moving through a small filter set in the master tag's order (hx6_dbsy_narrow.cpp): the
  // entries of the passing records, sorted as the tag sorts them, so that a move goes straight
  // to the next passing entry instead of stepping over every entry in between. Null when the
  // step-by-step walk must do.
  const std::vector<HXobjIndexKeyData>* PassingEntries();
  // Whether passing entries can stand for moves in `tag`'s order: every record has its entry
  // there, equal keys in record order, and no key range.
  bool EntriesFollowTag(const HXobjIndexTag* tag) const;
  // Adds the current record's entry in `tag` to `entries`; false when its key does not evaluate.
  bool PassingEntryOf(HXobjIndexTag* tag, int32_t record, std::vector<HXobjIndexKeyData>& entries);
  void KeepPassingEntries(HXobjIndexTag* tag, std::vector<HXobjIndexKeyData> entries, bool stamped,
                          uint32_t stamp);
  // PositionByTag by way of PassingEntries; false, with nothing moved, when that does not apply.
  bool JumpToPassing(int32_t code);
  // The passing entries are made again before their next use (the filter set, the master tag or
  // a record changed).
  void ForgetPassingEntries() { ++passingGeneration_; }
  std::string ResolveIndexName(std::string_view name) const;
  void SetMasterTag(HXobjIndexTag* tag);
  void DropReadBuffer();
  // Record `record` inside the read-ahead buffer (refilled from it when needed); null when the
  // file ends before it.
  char* BufferedRecord(int32_t record);
  void ValidateReadBuffer();
  bool IsMemoField(char type) const;
  void ReadRawRecord(int32_t record, char* into);
  // Pack and SetPassword (hx6_dbsy_maint.cpp): writes the table, its memo file (compacted) and,
  // where they change, its open index files anew beside the old ones, then swaps the new set in
  // (hx6_swap). removeDeleted leaves deleted records out; newKey is the key of the new set.
  void RewriteTableFiles(bool removeDeleted, const std::string& newKey);

  std::array<std::unique_ptr<HXobjIndexFile>, kIndexSlots> slots_;
  HXobjIndexTag* master_ = nullptr;
  std::string masterName_;

  bool bufferAllowed_ = true;
  bool bufferActive_ = false;
  std::vector<char> buffer_;
  int32_t bufferRecords_ = 0;
  int64_t bufferStart_ = -1;  // file offset of the first buffered byte, -1 when empty
  int64_t bufferEnd_ = -1;    // offset after the last byte actually read
  bool directRead_ = false;
  int callDepth_ = 0;

  bool found_ = false;
  bool near_ = false;
  bool exact_ = false;
  bool showDeleted_ = false;

  std::string filterText_;
  bool filterCaseInsensitive_ = false;
  bool filterWildcards_ = true;
  std::unique_ptr<ThxExpHandler> filter_;
  ThxExpValue filterValue_;  // EvaluateFilter's result, reused from record to record
  std::unique_ptr<ThxHugeSet> filterSet_;
  bool filterActive_ = false;

  std::vector<HXobjIndexKeyData> passingEntries_;
  bool passingUnfit_ = false;  // the set was found too large for them
  const HXobjIndexTag* passingTag_ = nullptr;
  uint64_t passingGeneration_ = 1;
  uint64_t passingBuiltAt_ = 0;  // the generation they were made in, 0 never
  uint64_t passingCall_ = 0;     // the outside call they were last found current in
  uint32_t passingStamp_ = 0;    // the index file's change stamp when they were made
  bool passingStamped_ = false;
  uint64_t callSerial_ = 0;      // counts outside calls

  uint8_t lastMove_ = 0;
  char* savedSwap_ = nullptr;
  int indexLockDepth_ = 0;

  // Keeping the tags and the table in step when an update fails or was cut short.
  // An index repair that could not be done when an update failed (the disk refused): the
  // entries the record images in `remove` give come out of every tag, and those of the record
  // as the file holds it then go in.
  struct OwedRepair {
    int32_t record;
    std::vector<std::string> remove;
  };
  // Takes an append whose index update failed back: the entries that reached some tags, then
  // the record itself; what cannot be taken back is owed.
  void TakeBackAppend(int32_t previousCurrent);
  // Puts a rewritten record whose index update failed back as it was (`oldImage`), and the
  // tags after it. Whether the tags agree with the table afterwards (nothing was owed).
  bool TakeBackRewrite(int32_t record, const std::string& oldImage);
  // Notes `record` in every open index file before its keys change (HXobjIndexFile::NoteRewrite);
  // when one file refuses, the notes already written are cleared and the error raised.
  void NoteRewrite(int32_t record);
  // Clears the notes of every open index file; the first failure is raised after trying all.
  void ClearRewriteNotes();
  // A rewrite a crash interrupted: the record noted in `only` (every open index file when null)
  // gets its keys made again from the table, and the note is cleared. Needs the index locks;
  // failures other than a damaged index leave the note for the next time.
  void RekeyNotedRewrites(HXobjIndexFile* only);
  // Loads record `record` from the file into `image` (unscrambled); false past the end.
  bool LoadRecordImage(int32_t record, std::vector<char>& image);
  // Runs a repair; `addFromFile` false only takes entries out (the record is going).
  void MatchKeys(const OwedRepair& repair, bool addFromFile);
  // Runs the owed repairs (under the index locks); they stay owed while the disk refuses.
  void SettleOwedRepairs();
  // Before the index files close: a last attempt at the owed repairs, then they are dropped.
  void SettleBeforeClosing();
  // Adds the keys of records at the end of the table that the tags of `only` (every open index
  // file when null) do not hold: an append cut short between the record and the index update.
  // Walks back from the last record to the first one every tag holds. Needs the index locks.
  void RepairTail(HXobjIndexFile* only);
  // RepairTail where it can write; failures other than a damaged index leave it for later.
  void RepairTailQuietly(HXobjIndexFile* only);
  std::vector<OwedRepair> owedRepairs_;
  bool indexUpdateFailed_ = false;
  // The record count at which the tags were last found to hold the end of the table (-1 not
  // yet): a shared session checks again under the index lock when the file holds more.
  int32_t tailCheckedCount_ = -1;
  int64_t strayIndexKeys_ = 0;
};

// The handler's index files: the slot list, opening by format, the master tag, tag creation,
// rebuilding, the header locks around record writes, lock protocol and rename.
#include <algorithm>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "base/SysSorl.h"
#include "index/hx6_cdx.h"
#include "handler/hx6_dbsy.h"
#include "base/hx6_glbl.h"
#include "index/hx6_mdx.h"
#include "index/hx6_ndx.h"
#include "index/hx6_ntx.h"

namespace {

std::string TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return std::string(s);
}

// The extension of the last path component, with its dot; empty when there is none.
std::string Extension(std::string_view path) {
  const size_t slash = path.rfind(kPathDelimiter);
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return std::string(path.substr(dot));
}

std::string Folder(std::string_view path) {
  const size_t slash = path.rfind(kPathDelimiter);
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

}  // namespace

ThxIndexFormat IndexFormatOf(std::string_view fileName) {
  const std::string ext = SysUpperCase(Extension(fileName));
  if (ext == ".CDX") return ThxIndexFormat::CDX;
  if (ext == ".NDX") return ThxIndexFormat::NDX;
  if (ext == ".MDX") return ThxIndexFormat::MDX;
  if (ext == ".NTX") return ThxIndexFormat::NTX;
  return ThxIndexFormat::Unknown;
}

std::unique_ptr<HXobjIndexFile> MakeIndexFile(ThxIndexFormat format, HXobjIndexTable* table,
                                              const std::string& path, bool create, bool shared,
                                              bool readWrite) {
  switch (format) {
    case ThxIndexFormat::CDX:
      return std::make_unique<HXobjCDXFile>(table, path, false, create, shared, readWrite);
    case ThxIndexFormat::MDX:
      return std::make_unique<HXobjMDXFile>(table, path, false, create, shared, readWrite);
    case ThxIndexFormat::NDX:
      return std::make_unique<HXobjNDXFile>(table, path, false, create, shared, readWrite);
    case ThxIndexFormat::NTX:
      return std::make_unique<HXobjNTXFile>(table, path, false, create, shared, readWrite);
    case ThxIndexFormat::Unknown:
      break;
  }
  throw ESorrelError(smFileNotFound, {path});
}

std::string HXO_dBHandler::ResolveIndexName(std::string_view name) const {
  std::string path = TrimBlanks(name);
  if (path.find(kPathDelimiter) == std::string::npos) path = Folder(Name()) + path;
  return DefaultFileExt(path, ".ndx");
}

HXobjIndexFile* HXO_dBHandler::IndexFile(int slot) const {
  return slot >= 1 && slot <= kIndexSlots ? slots_[static_cast<size_t>(slot - 1)].get() : nullptr;
}

int HXO_dBHandler::IndexFileCount() const {
  return static_cast<int>(
      std::count_if(slots_.begin(), slots_.end(), [](const auto& f) { return f != nullptr; }));
}

void HXO_dBHandler::SettleBeforeClosing() {
  if (owedRepairs_.empty()) return;
  // The last chance for repairs a full disk refused: the disk may take writes again.
  try {
    LockIndexFiles();
    UnlockIndexFiles();
  } catch (const std::exception&) {
  }
  owedRepairs_.clear();
}

void HXO_dBHandler::CloseIndexFiles() {
  SettleBeforeClosing();
  ForgetPassingEntries();
  master_ = nullptr;
  masterName_.clear();
  for (auto& slot : slots_) slot.reset();
}

void HXO_dBHandler::SetIndexFiles(std::string_view list, std::string_view masterTagName) {
  CallScope call(*this);
  CloseIndexFiles();
  std::string text(list);
  while (!text.empty() && (text.back() == ' ' || text.back() == ',' || text.back() == ';'))
    text.pop_back();
  if (TrimBlanks(text).empty()) return;
  std::vector<std::string> names;
  std::string current;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == ',' || c == ';')) {
      names.push_back(TrimBlanks(current));
      current.clear();
    } else {
      current += c;
    }
  }
  names.push_back(TrimBlanks(current));
  for (const std::string& n : names) {
    if (n.empty()) continue;
    if (OpenIndexFile(n) != 0) return;
  }
  SelectMasterTag(masterTagName, true);
}

int HXO_dBHandler::OpenIndexFile(std::string_view name) {
  const std::string path = ResolveIndexName(name);
  {
    // The disk layer settles the full name and its case; a file open already is left alone.
    HXO_DiskFile probe(path, Shared(), ReadWrite());
    for (const auto& file : slots_)
      if (file && file->DiskFile() && file->DiskFile()->Name() == probe.Name()) return -1;
    if (IndexFormatOf(path) == ThxIndexFormat::Unknown || !probe.Exists())
      throw ESorrelError(smFileNotFound, {path});
  }
  const ThxIndexFormat format = IndexFormatOf(path);
  auto free = std::find(slots_.begin(), slots_.end(), nullptr);
  if (free == slots_.end()) return -1;
  std::unique_ptr<HXobjIndexFile> file =
      MakeIndexFile(format, this, path, false, Shared(), ReadWrite());
  if (!file->DiskFile()) throw ESorrelError(smFileNotFound, {path});
  if (!file->Valid()) throw ESorrelError(smIndexCorrupted, {path});
  file->SetLockProtocol(static_cast<int>(LockProtocol()));
  file->SetExact(exact_);
  HXobjIndexFile* opened = file.get();
  *free = std::move(file);
  if (ReadWrite() && TableState() == kHandlerIdle && indexLockDepth_ == 0) {
    // An append cut short (the program killed between the record and its keys) left records
    // at the end that the tags do not hold: their keys go in now, under the index lock.
    try {
      LockIndexFiles();
    } catch (const ESorrelError&) {
      return 0;  // another program holds it; the next index lock checks
    }
    try {
      RekeyNotedRewrites(opened);
      RepairTailQuietly(opened);
    } catch (...) {
      free->reset();
      UnlockIndexFiles();
      throw;
    }
    UnlockIndexFiles();
  }
  return 0;
}

int HXO_dBHandler::TagCount() const {
  int count = 0;
  for (const auto& file : slots_)
    if (file) count += file->TagCount();
  return count;
}

HXobjIndexTag* HXO_dBHandler::TagByPosition(int n) const {
  if (n < 1) return nullptr;
  for (const auto& file : slots_) {
    if (!file) continue;
    if (n <= file->TagCount()) return file->TagByIndex(n - 1);
    n -= file->TagCount();
  }
  return nullptr;
}

void HXO_dBHandler::SetMasterTag(HXobjIndexTag* tag) {
  ForgetPassingEntries();
  if (master_) {
    master_->SetRange(nullptr, nullptr, false, false, false);
    master_->ReleasePages();
  }
  master_ = tag;
}

void HXO_dBHandler::SelectMasterTag(std::string_view name, bool keepPosition) {
  CallScope call(*this);
  const std::string wanted = SysUpperCase(TrimBlanks(name));
  if (wanted.empty()) {
    SetMasterTag(nullptr);
    masterName_.clear();
    SetReadBuffer(true);
    if (!keepPosition) GoTo(kGotoFirst);
    return;
  }
  HXobjIndexTag* tag = nullptr;
  for (const auto& file : slots_) {
    if (file && (tag = file->TagByName(wanted)) != nullptr) break;
  }
  if (!tag) throw ESorrelError(smCannotFindTag, {std::string(name)});
  SetMasterTag(tag);
  tag->SetRange(nullptr, nullptr, false, false, false);
  SetReadBuffer(false);
  masterName_ = wanted;
  tag->Move(kGotoFirst);
  const int32_t record = RecNo();
  if (keepPosition && record >= 1 && record <= RecordCount()) {
    GoTo(record);
    if (master_->Resync(record) != record) GoTo(kGotoFirst);
  } else {
    GoTo(kGotoFirst);
  }
}

void HXO_dBHandler::LockIndexFiles() {
  if (indexLockDepth_++ > 0) return;
  int locked = 0;
  try {
    for (auto& file : slots_) {
      if (!file) continue;
      file->LockHeader();
      ++locked;
    }
  } catch (...) {
    // None stays locked: the files locked in this step are released before the error leaves.
    for (auto& file : slots_) {
      if (locked == 0) break;
      if (!file) continue;
      try {
        file->UnlockHeader();
      } catch (...) {
      }
      --locked;
    }
    indexLockDepth_ = 0;
    throw ESorrelError(smCannotLockIndexes, {Name()});
  }
  if (!ReadWrite() || locked == 0 || TableState() != kHandlerIdle) return;
  // Repairs owed from a failed update, and in a shared session records another program added
  // without their keys (it was killed in between): done before anything else under the lock.
  try {
    SettleOwedRepairs();
    if (Shared()) {
      // Another program of ours died in a rewrite: its note is found under this lock, before
      // any header write of ours could drop it.
      RekeyNotedRewrites(nullptr);
      if (CountFromFileSize() != tailCheckedCount_) RepairTailQuietly(nullptr);
    }
  } catch (...) {
    indexLockDepth_ = 1;
    try {
      UnlockIndexFiles();
    } catch (...) {
    }
    throw;
  }
}

void HXO_dBHandler::MatchKeys(const OwedRepair& repair, bool addFromFile) {
  std::vector<char> image(static_cast<size_t>(RecordLength()) + 1);
  std::string onFile;
  if (addFromFile) {
    if (HXO_DiskFile::Read(RecordOffset(repair.record), image.data(), RecordLength()) <
        RecordLength())
      throw ESorrelError(smReadError, {Name()});
    DescrambleRecord(image.data());
    onFile.assign(image.data(), static_cast<size_t>(RecordLength()));
  }
  char* const own = RecordBuffer();
  struct Back {
    HXO_dBHandler& h;
    char* own;
    ~Back() { h.SetRecordBuffer(own); }
  } back{*this, own};
  SetRecordBuffer(image.data());
  for (const std::string& gone : repair.remove) {
    if (addFromFile && gone == onFile) continue;  // its entries stay
    std::memcpy(image.data(), gone.data(), gone.size());
    for (auto& file : slots_)
      if (file) file->RemoveRecordKeys(repair.record);
  }
  if (!addFromFile) return;
  std::memcpy(image.data(), onFile.data(), onFile.size());
  for (auto& file : slots_)
    if (file) file->AddMissingKeys(repair.record);
}

void HXO_dBHandler::SettleOwedRepairs() {
  while (!owedRepairs_.empty()) {
    const OwedRepair& repair = owedRepairs_.front();
    // A record that is gone (another program packed or cut the table) only loses its entries.
    MatchKeys(repair, repair.record <= CountFromFileSize());
    owedRepairs_.erase(owedRepairs_.begin());
  }
}

void HXO_dBHandler::RepairTail(HXobjIndexFile* only) {
  const int32_t count = CountFromFileSize();
  std::vector<char> image(static_cast<size_t>(RecordLength()) + 1);
  char* const own = RecordBuffer();
  struct Back {
    HXO_dBHandler& h;
    char* own;
    ~Back() { h.SetRecordBuffer(own); }
  } back{*this, own};
  SetRecordBuffer(image.data());
  auto loads = [&](int32_t record) {
    if (HXO_DiskFile::Read(RecordOffset(record), image.data(), RecordLength()) < RecordLength())
      return false;
    DescrambleRecord(image.data());
    return true;
  };
  auto held = [&](int32_t record) {
    for (auto& file : slots_)
      if (file && (only == nullptr || file.get() == only) && !file->HoldsRecord(record))
        return false;
    return true;
  };
  // Another program may have changed the files before the lock was taken: the trees are read
  // afresh for the questions. What a tag lacks is decided by record number: another program
  // may store a key otherwise than this engine computes it (dates counted from another day),
  // and a record it holds under such a key must not get a second entry.
  struct ByNumber {
    HXO_dBHandler& h;
    HXobjIndexFile* only;
    void Set(bool on) {
      for (auto& file : h.slots_)
        if (file && (only == nullptr || file.get() == only)) file->SetHoldsByRecordNumber(on);
    }
    ~ByNumber() { Set(false); }
  } byNumber{*this, only};
  byNumber.Set(true);
  for (auto& file : slots_) {
    if (!file || (only != nullptr && file.get() != only)) continue;
    for (int i = 0; i < file->TagCount(); ++i) file->TagByIndex(i)->ReleasePages();
  }
  // An append cut short leaves a record or a few; a tag that lacks more than this many at the
  // end was never kept with the table (another program's file) and is left for a rebuild,
  // which the callers hear of.
  int32_t first = count + 1;
  while (first > 1 && loads(first - 1) && !held(first - 1)) {
    --first;
    if (count - first >= kLongestTailRepair) {
      tailCheckedCount_ = count;
      StatusReport(-1, kStatusPhaseUnindexedTail, kLongestTailRepair);
      StatusReport(0, 0, 0);
      return;
    }
  }
  for (int32_t record = first; record <= count; ++record) {
    if (!loads(record)) break;
    for (auto& file : slots_)
      if (file && (only == nullptr || file.get() == only)) file->AddMissingKeys(record);
  }
  if (only == nullptr || IndexFileCount() == 1) tailCheckedCount_ = count;
}

void HXO_dBHandler::RepairTailQuietly(HXobjIndexFile* only) {
  try {
    RepairTail(only);
  } catch (const ESorrelError& e) {
    // A damaged tree is reported; a disk that refuses the repair leaves it to the next lock.
    if (e.Number() == smIndexCorrupted) throw;
    for (auto& file : slots_)
      if (file) file->DiscardPages();
  }
}

void HXO_dBHandler::TakeBackAppend(int32_t previousCurrent) {
  indexUpdateFailed_ = false;
  const int32_t record = RecNo();
  const std::string image(RecordBuffer(), static_cast<size_t>(RecordLength()));
  if (filterSet_ && record >= 1) filterSet_->SetBit(record, ThxHugeSet::opClear);
  ForgetPassingEntries();
  DropReadBuffer();
  // Every file drops its pages (they may point at blocks that never reached the disk) and the
  // entries that did reach a tag come out again; only then can the record go.
  bool undone = false;
  try {
    MatchKeys({record, {image}}, false);
    undone = UndoAppendedRecord(record, previousCurrent);
  } catch (const std::exception&) {
  }
  for (auto& file : slots_)
    if (file) file->DiscardPages();
  if (!undone) {
    // The record stays (the disk refused to take it back): the tags are repaired from it.
    owedRepairs_.push_back({record, {image}});
    return;
  }
  SetEof(false);
  SetBof(false);
}

bool HXO_dBHandler::TakeBackRewrite(int32_t record, const std::string& oldImage) {
  indexUpdateFailed_ = false;
  const std::string newImage(RecordBuffer(), static_cast<size_t>(RecordLength()));
  ForgetPassingEntries();
  DropReadBuffer();
  // The record as it was goes back first; the tags then follow whatever the file holds.
  bool restored = false;
  {
    std::vector<char> old(oldImage.begin(), oldImage.end());
    old.push_back(static_cast<char>(0x1A));
    char* const own = SetRecordBuffer(old.data());
    try {
      Write(RecordOffset(record), RecordForWrite(), RecordLength());
      restored = true;
    } catch (const std::exception&) {
    }
    SetRecordBuffer(own);
  }
  const OwedRepair repair{record, {oldImage, newImage}};
  bool agree = true;
  try {
    MatchKeys(repair, true);
  } catch (const std::exception&) {
    owedRepairs_.push_back(repair);
    agree = false;
  }
  for (auto& file : slots_)
    if (file) file->DiscardPages();
  if (filterSet_ && filter_) {
    std::string now = restored ? oldImage : newImage;
    now.push_back(static_cast<char>(0x1A));
    char* const own = SetRecordBuffer(now.data());
    try {
      const bool passes = EvaluateFilter(*filter_);
      filterSet_->SetBit(record, passes ? ThxHugeSet::opSet : ThxHugeSet::opClear);
    } catch (const std::exception&) {
    }
    SetRecordBuffer(own);
  }
  return agree;
}

bool HXO_dBHandler::LoadRecordImage(int32_t record, std::vector<char>& image) {
  image.assign(static_cast<size_t>(RecordLength()) + 1, static_cast<char>(0x1A));
  if (record < 1 || record > CountFromFileSize()) return false;
  if (HXO_DiskFile::Read(RecordOffset(record), image.data(), RecordLength()) < RecordLength())
    throw ESorrelError(smReadError, {Name()});
  DescrambleRecord(image.data());
  return true;
}

void HXO_dBHandler::NoteRewrite(int32_t record) {
  for (auto& file : slots_) {
    if (!file) continue;
    try {
      file->NoteRewrite(record);
    } catch (...) {
      try {
        ClearRewriteNotes();
      } catch (...) {
      }
      throw;
    }
  }
}

void HXO_dBHandler::ClearRewriteNotes() {
  std::exception_ptr failure;
  for (auto& file : slots_) {
    if (!file || file->RewriteNote() == 0) continue;
    try {
      file->NoteRewrite(0);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void HXO_dBHandler::RekeyNotedRewrites(HXobjIndexFile* only) {
  for (auto& file : slots_) {
    if (!file || (only != nullptr && file.get() != only) || !file->DiskFile() ||
        !file->DiskFile()->ReadWrite())
      continue;
    try {
      const int32_t noted = file->NotedRewrite();
      if (noted == 0) continue;
      std::vector<char> image;
      // A record past the end (another program cut the table) has nothing to re-key.
      if (LoadRecordImage(noted, image)) {
        // The program that died may have changed pages without moving the change counter: the
        // trees are read afresh.
        for (int i = 0; i < file->TagCount(); ++i) file->TagByIndex(i)->ReleasePages();
        char* const own = SetRecordBuffer(image.data());
        struct Back {
          HXO_dBHandler& h;
          char* own;
          ~Back() { h.SetRecordBuffer(own); }
        } back{*this, own};
        file->RekeyRecord(noted);
      }
      // The crash may have come between the two sibling links a split patches.
      file->RepairSiblingLinks();
      file->NoteRewrite(0);
    } catch (const ESorrelError& e) {
      // A damaged tree is reported; a disk that refuses leaves the note for the next time.
      if (e.Number() == smIndexCorrupted) throw;
      file->DiscardPages();
    }
  }
}

void HXO_dBHandler::UnlockIndexFiles() {
  if (indexLockDepth_ == 0) return;
  if (--indexLockDepth_ > 0) return;
  // Every file is released even when one of them reports an error; the first error is raised.
  std::exception_ptr failure;
  for (auto& file : slots_) {
    if (!file) continue;
    try {
      file->UnlockHeader();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

// An append or rewrite whose index update fails is taken back as a whole (record, count and
// end-of-file byte, and the entries that reached some tags) before the error leaves; the handle
// stays usable, and what the disk refused to take back is repaired under the next index lock.
void HXO_dBHandler::AppendRecord() {
  LockIndexFiles();
  const int32_t previousCurrent = RecNo();
  indexUpdateFailed_ = false;
  try {
    HXO_dBaseFld::AppendRecord();
  } catch (...) {
    if (indexUpdateFailed_) TakeBackAppend(previousCurrent);
    try {
      UnlockIndexFiles();
    } catch (...) {
    }
    throw;
  }
  if (tailCheckedCount_ == RecordCount() - 1) tailCheckedCount_ = RecordCount();
  UnlockIndexFiles();
}

void HXO_dBHandler::UpdateRecord(int32_t record) {
  LockIndexFiles();
  const std::string oldImage(SavedRecord(), static_cast<size_t>(RecordLength()));
  indexUpdateFailed_ = false;
  // A rewrite in place that changes the record is noted in the index files first, so that the
  // next open puts right the keys of a rewrite a crash cut short (NoteRewrite).
  const bool noting = ReadWrite() && TableState() == kHandlerIdle && IndexFileCount() > 0 &&
                      record >= 1 && record <= RecordCount() &&
                      std::memcmp(oldImage.data(), RecordBuffer(), oldImage.size()) != 0;
  if (noting) {
    try {
      NoteRewrite(record);
    } catch (...) {
      try {
        UnlockIndexFiles();
      } catch (...) {
      }
      throw;
    }
  }
  try {
    HXO_dBaseFld::UpdateRecord(record);
    // Every tag is current: the note goes. When it cannot, the rewrite is taken back below, so
    // that the error reported leaves the record as it was.
    if (noting) ClearRewriteNotes();
  } catch (...) {
    // (A rewrite that turned into an append has been taken back by AppendRecord.) A write that
    // failed before the index update may have left the new record in place all the same.
    bool writeFailed = indexUpdateFailed_;
    try {
      throw;
    } catch (const ESorrelError& e) {
      writeFailed = writeFailed || e.Number() == smWriteError;
    } catch (...) {
    }
    if (writeFailed && record >= 1 && record <= RecordCount() && TableState() == kHandlerIdle &&
        TakeBackRewrite(record, oldImage) && noting) {
      // The tags agree with the table again; a note that stays (the disk refuses) is taken
      // care of by the next open.
      try {
        ClearRewriteNotes();
      } catch (...) {
      }
    }
    try {
      UnlockIndexFiles();
    } catch (...) {
    }
    throw;
  }
  UnlockIndexFiles();
}

void HXO_dBHandler::SetLockProtocol(ThxLokProtocol protocol) {
  HXO_dBaseFld::SetLockProtocol(protocol);
  for (auto& file : slots_)
    if (file) file->SetLockProtocol(static_cast<int>(protocol));
}

bool HXO_dBHandler::Rename(std::string_view newPath) {
  const std::string oldBase = StripFileExt(Name());
  const bool renamed = HXO_dBaseFld::Rename(newPath);
  if (!renamed) return false;
  const std::string newBase = StripFileExt(Name());
  for (auto& file : slots_) {
    if (!file || !file->DiskFile()) continue;
    const std::string& path = file->DiskFile()->Name();
    if (SysCompareText(StripFileExt(path), oldBase) != 0) continue;
    file->Rename(Folder(path) + newBase + Extension(path));
  }
  return true;
}

void HXO_dBHandler::CreateIndexTag(std::string_view fileName, std::string_view tagName,
                                   std::string_view keyExpression, std::string_view forExpression,
                                   int option, int order) {
  CallScope call(*this);
  const bool savedBuffer = bufferActive_;
  const int32_t savedRecord = RecNo();
  CloseIndexFiles();
  SetReadBuffer(true);
  struct Restore {
    HXO_dBHandler& h;
    bool buffer;
    int32_t record;
    ~Restore() {
      try {
        h.SetTableState(kHandlerIdle);
        h.SetReadBuffer(buffer);
        if (record >= 1 && record <= h.RecordCount())
          h.GoTo(record);
        else
          h.SetRecNo(record);
      } catch (...) {
      }
    }
  } restore{*this, savedBuffer, savedRecord};

  const std::string path = ResolveIndexName(fileName);
  const ThxIndexFormat format = IndexFormatOf(path);
  std::string name = TrimBlanks(tagName);
  if (format == ThxIndexFormat::CDX || format == ThxIndexFormat::MDX) {
    if (name.empty()) throw ESorrelError(smCannotFindTag, {std::string(tagName)});
  } else if (format == ThxIndexFormat::NDX || format == ThxIndexFormat::NTX) {
    name = StripFileExt(path);
  }
  // The tag is built beside the file and put in place whole (a new file too: it appears under
  // its name only once whole).
  std::unique_ptr<HXobjIndexFile> file;
  {
    const HXO_DiskFile probe(path, Shared(), ReadWrite());
    const HXobjStagedCreate staging(probe.Name(), StagedIndexPath(probe.Name()));
    file = MakeIndexFile(format, this, path, true, Shared(), ReadWrite());
  }
  const bool general = order == 7 || order == 8;
  if (format == ThxIndexFormat::CDX)
    HXobjCDXFile::SetNewTagCollation(general ? cdx::kCollateGeneral : cdx::kCollateNone);
  if (!file->DiskFile() || !file->Valid()) {
    if (file->DiskFile()) throw ESorrelError(smIndexCorrupted, {path});
    throw ESorrelError(smFileNotFound, {path});
  }
  file->SetCaseFold(general);
  if (order == 7) order = 0;
  if (order == 8) order = 1;
  file->SetLockProtocol(static_cast<int>(LockProtocol()));
  SetTableState(kHandlerIndexing);
  // Option 0 asks for a unique tag, order 0 for ascending keys (the logbook's 1, 0: every key,
  // ascending).
  try {
    file->BeginStaged();
    file->CreateTag(name, keyExpression, forExpression, /*ascending*/ order == 0,
                    /*unique*/ option == 0);
    file->CommitStaged();
  } catch (...) {
    file->AbandonStaged();
    throw;
  }
  file.reset();  // no index file stays open; the data set opens its list again
}

void HXO_dBHandler::Reindex() {
  CallScope call(*this);
  ForgetPassingEntries();
  HXobjIndexTag* savedMaster = master_;
  const bool savedBuffer = bufferActive_;
  master_ = nullptr;
  SetTableState(kHandlerIndexing);
  SetReadBuffer(true);
  {
    struct Restore {
      HXO_dBHandler& h;
      HXobjIndexTag* master;
      bool buffer;
      ~Restore() {
        try {
          h.SetTableState(kHandlerIdle);
          h.SetReadBuffer(buffer);
          h.master_ = master;
          if (master) master->Reset(0);
        } catch (...) {
        }
      }
    } restore{*this, savedMaster, savedBuffer};
    // Each file is rebuilt beside itself and put in place whole.
    for (auto& file : slots_) {
      if (!file) continue;
      if (rebuildInPlace_) {
        file->Reindex();
        continue;
      }
      const std::string path = file->DiskFile() ? file->DiskFile()->Name() : std::string();
      try {
        file->BeginStaged(file->RebuildKeeps());
        // One pass over the table for all the file's tags.
        file->PrepareBuilds();
        file->Reindex();
        file->DropPreparedBuilds();
        file->CommitStaged();
      } catch (...) {
        file->DropPreparedBuilds();
        // The object may hold the half-built file's state: the file (old or new, whole) is
        // opened again.
        file->AbandonStaged();
        const bool wasMaster = restore.master && restore.master->File() == file.get();
        const std::string masterName = wasMaster ? restore.master->TagName() : std::string();
        if (wasMaster) restore.master = nullptr;
        file.reset();
        try {
          if (!path.empty()) {
            file = MakeIndexFile(IndexFormatOf(path), this, path, false, Shared(), ReadWrite());
            if (!file->DiskFile() || !file->Valid()) file.reset();
          }
          if (file) {
            file->SetLockProtocol(static_cast<int>(LockProtocol()));
            file->SetExact(exact_);
            if (wasMaster) restore.master = file->TagByName(masterName);
          }
        } catch (...) {
          file.reset();
        }
        if (wasMaster && !restore.master) masterName_.clear();
        throw;
      }
    }
  }
  GoTo(kGotoFirst);
}

#include "index/hx6_indx.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/SysSorl.h"
#include "base/byteorder.h"
#include "base/hx6_encrxm.h"
#include "base/hx6_glbl.h"

namespace {

int Sign(int64_t v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// Keys compare equal here when their bytes do (range bounds, old and new keys of a record).
bool SameKey(const ThxVariant& a, const ThxVariant& b) {
  if (a.Length() != b.Length()) return false;
  if (a.IsEmpty()) return true;
  return std::memcmp(a.Data(), b.Data(), static_cast<size_t>(a.Length())) == 0;
}

// Runs a clean-up when a scope ends, also by an exception.
class ScopeExit {
 public:
  explicit ScopeExit(std::function<void()> f) : f_(std::move(f)) {}
  ~ScopeExit() {
    if (f_) f_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  std::function<void()> f_;
};

// Holds a shared index file's header lock for one reading step of a tag. Writers take the same
// lock for an update, and a rebuild locks the whole file, so the step never reads nodes that
// another program is rewriting at that moment. A handle that already holds a lock on the file
// (its own update or rebuild) reads as it is.
class HeaderReadLock {
 public:
  explicit HeaderReadLock(HXobjIndexFile* file) {
    HXO_DiskFile* disk = file ? file->DiskFile() : nullptr;
    if (disk == nullptr || !disk->Shared() || disk->LockCount() != 0) return;
    file->LockHeader();
    file_ = file;
  }
  ~HeaderReadLock() {
    if (file_ == nullptr) return;
    try {
      file_->UnlockHeader();
    } catch (...) {
      // Closing the handle releases the lock in any case.
    }
  }
  HeaderReadLock(const HeaderReadLock&) = delete;
  HeaderReadLock& operator=(const HeaderReadLock&) = delete;

 private:
  HXobjIndexFile* file_ = nullptr;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// HXobjWholeFileLock

HXobjWholeFileLock::HXobjWholeFileLock(HXO_DiskFile& disk) : disk_(disk) {
  if (disk.Shared())
    LockRegionWithRetry(disk, kWholeFileLockOffset, kWholeFileLockLength);
  else if (!disk.LockFile())
    throw ESorrelError(smCannotLockFile, {disk.Name()});
}

HXobjWholeFileLock::~HXobjWholeFileLock() {
  try {
    disk_.Unlock();
  } catch (...) {
    // Closing the handle releases the lock in any case.
  }
}

void RefuseLongExpression(std::string_view what, std::string_view tagName,
                          std::string_view fileName, std::string_view expression, int most) {
  if (static_cast<int64_t>(expression.size()) <= most) return;
  throw ESorrelError("The " + std::string(what) + " expression of tag " + std::string(tagName) +
                     " in index file " + std::string(fileName) + " is longer than " +
                     std::to_string(std::max(most, 0)) + " characters");
}

// ---------------------------------------------------------------------------------------------
// HXobjIndexKey

HXobjIndexKey::HXobjIndexKey(HXobjIndexTag* tag, HXobjIndexKey* parent, int32_t block)
    : tag_(tag), parent_(parent), block_(block) {
  ++tag_->loadedPages_;
  if (block_ != 0) {
    try {
      tag_->ReadPage(block_, *this);
    } catch (...) {
      --tag_->loadedPages_;
      throw;
    }
  }
}

HXobjIndexKey* HXobjIndexKey::OpenChild() {
  if (pos_ < 0 || pos_ >= Count()) return nullptr;
  const int32_t target = keys_[static_cast<size_t>(pos_)]->Target();
  if (child_ && child_->block_ == target) {
    child_->lastUse_ = ++tag_->useClock_;
    return child_;
  }
  child_ = nullptr;
  // Pages stay decoded beside the current path up to a bound; then the clean ones go.
  if (tag_->loadedPages_ >= tag_->pageCacheLimit_) tag_->PrunePages();
  child_ = FindLoaded(target);
  if (!child_) {
    // A damaged file can name a page above this one as a child: no real tree is that deep.
    int depth = 0;
    for (const HXobjIndexKey* p = this; p; p = p->parent_) {
      if (++depth > kMaxDepth || p->block_ == target) {
        const HXO_DiskFile* disk = tag_->File() ? tag_->File()->DiskFile() : nullptr;
        throw ESorrelError(smIndexCorrupted, {disk ? disk->Name() : tag_->TagName()});
      }
    }
    children_.push_back(std::make_unique<HXobjIndexKey>(tag_, this, target));
    child_ = children_.back().get();
  }
  child_->lastUse_ = ++tag_->useClock_;
  return child_;
}

HXobjIndexKey::~HXobjIndexKey() {
  children_.clear();
  --tag_->loadedPages_;
}

HXobjIndexKey* HXobjIndexKey::FindLoaded(int32_t block) {
  for (auto& c : children_)
    if (c->block_ == block) return c.get();
  return nullptr;
}

int HXobjIndexKey::EntryFor(int32_t block) const {
  if (pos_ >= 0 && pos_ < Count() && keys_[static_cast<size_t>(pos_)]->Target() == block) return pos_;
  for (int i = 0; i < Count(); ++i)
    if (keys_[static_cast<size_t>(i)]->Target() == block) return i;
  return -1;
}

// ---------------------------------------------------------------------------------------------
// HXobjIndexTag: construction and the base virtual operations

HXobjIndexTag::HXobjIndexTag(HXobjIndexFile* file, int32_t headerPosition, std::string_view tagName)
    : tagName_(tagName), file_(file), headerPosition_(headerPosition) {}

HXobjIndexTag::~HXobjIndexTag() {
  try {
    ReleasePages();
  } catch (...) {
    // A destructor cannot report; the file layer has raised and the caller saw earlier errors.
  }
}

void HXobjIndexTag::TranslateKey(HXobjIndexKeyData&, bool) {}

bool HXobjIndexTag::CreateTag(std::string_view tagName, std::string_view keyExpression,
                              std::string_view filterExpression, bool ascending, bool unique) {
  tagName_ = std::string(tagName);
  keyExpression_ = std::string(keyExpression);
  filterExpression_ = std::string(filterExpression);
  ascending_ = ascending;
  descending_ = !ascending;
  unique_ = unique;
  hasFilter_ = !filterExpression_.empty();
  CompileKey();
  CompileFilter();
  return true;
}

int32_t HXobjIndexTag::RootBlock() { return root_; }
void HXobjIndexTag::ReadPage(int32_t, HXobjIndexKey&) {}
int HXobjIndexTag::WritePage(HXobjIndexKey&) { return 0; }

bool HXobjIndexTag::ReadHeader() {
  headerChanged_ = false;
  return false;
}

void HXobjIndexTag::WriteHeader() { headerChanged_ = false; }

void HXobjIndexTag::CompileKey() {
  keyHandler_.reset();
  HXobjIndexTable* table = file_ ? file_->Table() : nullptr;
  if (table && !keyExpression_.empty())
    keyHandler_ = table->CompileIndexExpression(keyExpression_);
}

void HXobjIndexTag::CompileFilter() {
  filterHandler_.reset();
  HXobjIndexTable* table = file_ ? file_->Table() : nullptr;
  if (table && !filterExpression_.empty())
    filterHandler_ = table->CompileIndexExpression(filterExpression_);
}

bool HXobjIndexTag::EvaluateKey(HXobjIndexKeyData& result) {
  if (!keyHandler_) return false;
  return keyHandler_->EvaluateKey(result) != kExpTypeUnknown;
}

bool HXobjIndexTag::EvaluateFilter() {
  if (!filterHandler_) return false;
  ThxVariant v;
  return filterHandler_->EvaluateKey(v) == kExpTypeBoolean && v.GetBoolean();
}

std::string HXobjIndexTag::StoredTextKey(const HXobjIndexKeyData& key, bool trim, int keyLength) {
  std::string s = key.Type() == vtText || key.Type() == vtBinary ? std::string(key.Bytes())
                                                                  : key.GetString();
  if (trim) s = TrimKeyBlanks(std::move(s));
  if (keyLength > 0 && static_cast<int>(s.size()) > keyLength) {
    s.resize(static_cast<size_t>(keyLength));
    if (trim) s = TrimKeyBlanks(std::move(s));
  }
  return s;
}

namespace {

// The creation being staged on this thread (HXobjStagedCreate), if any.
thread_local const HXobjStagedCreate* gStagedCreate = nullptr;

std::atomic<int> gBuildThreads{0};

// Below this many records per thread a table is read on the calling thread: starting threads
// would cost more than they save.
constexpr int32_t kRecordsPerBuildThread = 16384;
constexpr unsigned kMostBuildThreads = 8;

int ThreadsForBuild(int32_t count) {
  const int asked = gBuildThreads.load();
  if (asked >= 1) return std::max(1, std::min<int>(asked, count));
  const unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(),
                                               kMostBuildThreads));
  return static_cast<int>(
      std::max<int64_t>(1, std::min<int64_t>(cores, count / kRecordsPerBuildThread)));
}

}  // namespace

void HXobjIndexTag::SetBuildThreads(int threads) { gBuildThreads.store(std::max(0, threads)); }
int HXobjIndexTag::BuildThreads() { return gBuildThreads.load(); }

bool HXobjIndexTag::ScanTogether(HXobjIndexTable& table, int32_t count,
                                 const std::vector<ScanJob>& jobs, int threads) {
  const size_t tags = jobs.size();
  struct Part {
    int index = 0;
    int32_t first = 0;
    int32_t last = 0;
    std::unique_ptr<HXobjIndexRecordReader> reader;
    std::vector<std::unique_ptr<HXobjIndexExpression>> keys;     // one per tag
    std::vector<std::unique_ptr<HXobjIndexExpression>> filters;  // one per tag (or none)
    std::vector<std::unique_ptr<ThxSort::Batch>> batches;         // one per tag
    std::vector<std::exception_ptr> errors;                       // one per tag
  };
  std::vector<Part> parts(static_cast<size_t>(threads));
  try {
    for (int i = 0; i < threads; ++i) {
      Part& p = parts[static_cast<size_t>(i)];
      p.index = i;
      p.first = static_cast<int32_t>(int64_t{count} * i / threads) + 1;
      p.last = static_cast<int32_t>(int64_t{count} * (i + 1) / threads);
      p.reader = table.IndexRecordReader();
      if (!p.reader) return false;
      for (const ScanJob& job : jobs) {
        p.keys.push_back(p.reader->CompileExpression(job.tag->keyExpression_));
        p.filters.push_back(job.tag->hasFilter_
                                ? p.reader->CompileExpression(job.tag->filterExpression_)
                                : nullptr);
        p.batches.push_back(job.sorter->NewBatch());
      }
      p.errors.resize(tags);
    }
  } catch (const std::exception&) {
    return false;  // the scan on the calling thread meets (and reports) what failed here
  }

  table.IndexStatus(-1, 1, count);
  std::atomic<int32_t> done{0};
  // Per tag, the first range (in record order) that failed: later ranges stop that tag, earlier
  // ones go on, so that the failure reported is the one the scan on one thread meets. A value
  // of -1 stops every range.
  std::vector<std::atomic<int>> failed(tags);
  for (auto& f : failed) f.store(threads);
  std::atomic<bool> cancelled{false};
  std::mutex mutex;
  std::condition_variable finished;
  int running = threads;
  auto work = [&](Part& p) {
    int32_t since = 0;
    ThxVariant flag;
    for (int32_t r = p.first; r <= p.last && !cancelled.load(std::memory_order_relaxed); ++r) {
      bool loaded = false;
      try {
        loaded = p.reader->LoadRecord(r);
      } catch (...) {
        // A failed read ends every tag's range here, as it ends the scan on one thread.
        for (size_t t = 0; t < tags; ++t)
          if (!p.errors[t]) p.errors[t] = std::current_exception();
        for (size_t t = 0; t < tags; ++t) {
          int seen = failed[t].load();
          while (p.index < seen && !failed[t].compare_exchange_weak(seen, p.index)) {
          }
        }
        break;
      }
      for (size_t t = 0; loaded && t < tags; ++t) {
        if (p.index >= failed[t].load(std::memory_order_relaxed)) continue;
        HXobjIndexTag& tag = *jobs[t].tag;
        try {
          if (p.filters[t] &&
              !(p.filters[t]->EvaluateKey(flag) == kExpTypeBoolean && flag.GetBoolean()))
            continue;
          HXobjIndexKeyData key;
          if (p.keys[t]->EvaluateKey(key) == kExpTypeUnknown) continue;
          tag.CheckBuildKey(key);
          tag.TranslateKey(key, true);
          p.batches[t]->Insert(key, r);
        } catch (...) {
          p.errors[t] = std::current_exception();
          int seen = failed[t].load();
          while (p.index < seen && !failed[t].compare_exchange_weak(seen, p.index)) {
          }
        }
      }
      if (++since == 4096) {
        done.fetch_add(since, std::memory_order_relaxed);
        since = 0;
      }
    }
    done.fetch_add(since, std::memory_order_relaxed);
    for (size_t t = 0; t < tags; ++t) {
      if (p.errors[t]) continue;
      try {
        p.batches[t]->Sort();
      } catch (...) {
        p.errors[t] = std::current_exception();
      }
    }
    std::lock_guard<std::mutex> lock(mutex);
    --running;
    finished.notify_all();
  };
  {
    std::vector<std::thread> pool;
    pool.reserve(parts.size());
    struct Join {
      std::vector<std::thread>& pool;
      std::atomic<bool>& cancelled;
      ~Join() {
        if (std::any_of(pool.begin(), pool.end(), [](std::thread& t) { return t.joinable(); }))
          cancelled.store(true);
        for (std::thread& t : pool)
          if (t.joinable()) t.join();
      }
    } join{pool, cancelled};
    size_t started = 0;
    try {
      for (; started < parts.size(); ++started) pool.emplace_back(work, std::ref(parts[started]));
    } catch (const std::system_error&) {
      // No more threads to be had: the calling thread reads the ranges left.
    }
    for (size_t i = started; i < parts.size(); ++i) work(parts[i]);
    // Progress from the calling thread, which the table's status report expects.
    int32_t reported = 0;
    std::unique_lock<std::mutex> lock(mutex);
    while (running > 0) {
      finished.wait_for(lock, std::chrono::milliseconds(25));
      const int32_t now = done.load(std::memory_order_relaxed);
      if (now != reported && running > 0) {
        reported = now;
        lock.unlock();
        table.IndexStatus(1, now, 0);
        lock.lock();
      }
    }
    lock.unlock();
    for (std::thread& t : pool) t.join();
  }
  table.IndexStatus(1, count, 0);
  table.IndexStatus(0, 0, 0);
  for (size_t t = 0; t < tags; ++t) {
    PreparedScan& out = *jobs[t].out;
    out = PreparedScan();
    out.count = count;
    out.ready = true;
    for (Part& p : parts) {
      if (p.errors[t]) {
        out.error = p.errors[t];  // the first in record order
        out.batches.clear();
        break;
      }
      out.batches.push_back(std::move(p.batches[t]));
    }
  }
  return true;
}

bool HXobjIndexTag::ScanKeysInParallel(HXobjIndexTable& table, int32_t count, ThxSort& sorter,
                                       int threads) {
  PreparedScan scan;
  if (!ScanTogether(table, count, {ScanJob{this, &sorter, &scan}}, threads)) return false;
  if (scan.error) std::rethrow_exception(scan.error);
  for (auto& batch : scan.batches) sorter.AdoptBatch(std::move(batch));
  return true;
}

void HXobjIndexFile::PrepareBuilds() {
  HXobjIndexTable* table = table_;
  if (!table) return;
  const int32_t count = table->IndexRecordCount();
  const int threads = ThreadsForBuild(count);
  if (threads < 2) return;
  std::vector<HXobjIndexTag::ScanJob> jobs;
  std::vector<std::unique_ptr<ThxSort>> shapes;
  for (int i = 0; i < tags_.Count(); ++i) {
    HXobjIndexTag* tag = tags_.Items(i);
    std::unique_ptr<ThxSort> shape = tag->BuildSortShape();
    if (!shape || tag->KeyExpression().empty()) continue;
    tag->prepared_ = std::make_unique<HXobjIndexTag::PreparedScan>();
    jobs.push_back({tag, shape.get(), tag->prepared_.get()});
    shapes.push_back(std::move(shape));
  }
  if (jobs.size() < 2 || !HXobjIndexTag::ScanTogether(*table, count, jobs, threads)) {
    DropPreparedBuilds();
    return;
  }
  // The batches outlive their shapes: each is taken over by its tag's own sorter.
  for (auto& job : jobs)
    for (auto& batch : job.out->batches) batch->Detach();
}

void HXobjIndexFile::DropPreparedBuilds() {
  for (int i = 0; i < tags_.Count(); ++i) tags_.Items(i)->prepared_.reset();
}

void HXobjIndexTag::ScanKeys(HXobjIndexTable& table, int32_t count, ThxSort& sorter) {
  if (prepared_) {
    // Read already, with the other tags of the file (HXobjIndexFile::PrepareBuilds).
    std::unique_ptr<PreparedScan> scan = std::move(prepared_);
    if (scan->ready && scan->count == count && sorter.CanAdopt(scan->batches)) {
      table.IndexStatus(-1, 1, count);
      table.IndexStatus(1, count, 0);
      table.IndexStatus(0, 0, 0);
      if (scan->error) std::rethrow_exception(scan->error);
      for (auto& batch : scan->batches) sorter.AdoptBatch(std::move(batch));
      return;
    }
  }
  const int threads = ThreadsForBuild(count);
  if (threads > 1 && ScanKeysInParallel(table, count, sorter, threads)) return;
  table.IndexStatus(-1, 1, count);
  for (int32_t r = 1; r <= count; ++r) {
    if (table.IndexLoadRecord(r) && (!hasFilter_ || EvaluateFilter())) {
      HXobjIndexKeyData key;
      if (EvaluateKey(key)) {
        CheckBuildKey(key);
        TranslateKey(key, true);
        sorter.InsertKey(key, r);
      }
    }
    table.IndexStatus(1, r, 0);
  }
  table.IndexStatus(0, 0, 0);
}

std::string HXobjIndexTag::KeyExpressionText() const {
  return keyHandler_ ? keyHandler_->Text() : std::string();
}

// ---------------------------------------------------------------------------------------------
// The tree in memory

void HXobjIndexTag::EnsureTree() {
  if (rootPage_) return;
  root_ = RootBlock();
  rootPage_ = std::make_unique<HXobjIndexKey>(this, nullptr, root_);
}

void HXobjIndexTag::TakeCurrent(HXobjIndexKey* leaf) {
  current_ = *leaf->keys_[static_cast<size_t>(leaf->pos_)];
}

HXobjIndexKey* HXobjIndexTag::CurrentLeaf() const {
  HXobjIndexKey* p = rootPage_.get();
  while (p && !p->IsLeaf()) p = p->child_;
  return p;
}

bool HXobjIndexTag::First(HXobjIndexKey* page) {
  if (!page) return false;
  if (page->IsLeaf()) {
    if (page->Count() == 0) {
      page->pos_ = -1;
      return false;
    }
    page->pos_ = 0;
    TakeCurrent(page);
    return true;
  }
  for (int i = 0; i < page->Count(); ++i) {
    page->pos_ = i;
    if (First(page->OpenChild())) return true;
  }
  return false;
}

bool HXobjIndexTag::Last(HXobjIndexKey* page) {
  if (!page) return false;
  if (page->IsLeaf()) {
    if (page->Count() == 0) {
      page->pos_ = -1;
      return false;
    }
    page->pos_ = page->Count() - 1;
    TakeCurrent(page);
    return true;
  }
  for (int i = page->Count() - 1; i >= 0; --i) {
    page->pos_ = i;
    if (Last(page->OpenChild())) return true;
  }
  return false;
}

bool HXobjIndexTag::Next() {
  HXobjIndexKey* leaf = CurrentLeaf();
  if (!leaf || leaf->Count() == 0) return false;
  if (leaf->pos_ + 1 < leaf->Count()) {
    ++leaf->pos_;
    TakeCurrent(leaf);
    return true;
  }
  for (HXobjIndexKey* p = leaf->parent_; p; p = p->parent_) {
    const int saved = p->pos_;
    while (p->pos_ + 1 < p->Count()) {
      ++p->pos_;
      if (First(p->OpenChild())) return true;
    }
    p->pos_ = saved;
    p->OpenChild();
  }
  return false;
}

bool HXobjIndexTag::Prior() {
  HXobjIndexKey* leaf = CurrentLeaf();
  if (!leaf || leaf->Count() == 0) return false;
  if (leaf->pos_ > 0) {
    --leaf->pos_;
    TakeCurrent(leaf);
    return true;
  }
  for (HXobjIndexKey* p = leaf->parent_; p; p = p->parent_) {
    const int saved = p->pos_;
    while (p->pos_ > 0) {
      --p->pos_;
      if (Last(p->OpenChild())) return true;
    }
    p->pos_ = saved;
    p->OpenChild();
  }
  return false;
}

int HXobjIndexTag::CompareKeys(const ThxVariant& search, const ThxVariant& entry,
                               int partial) const {
  int position = 0;
  int c = search.Compare(&entry, position, nullptr, partial);
  return reverseCompare_ ? -c : c;
}

int HXobjIndexTag::Find(HXobjIndexKey* page, int32_t searchRecord, const ThxVariant& key,
                        int partial) {
  const int n = page->Count();
  if (n == 0) {
    page->pos_ = -1;
    return 1;
  }
  const bool byRecord = file_ && file_->EqualKeysByRecord();
  auto compareAt = [&](int i) {
    const HXobjIndexKeyData& e = *page->keys_[static_cast<size_t>(i)];
    int c = CompareKeys(key, e, partial);
    if (c == 0 && searchRecord == kAfterEqualKeys)
      c = 1;
    else if (c == 0 && searchRecord != kAnyRecord && byRecord)
      c = Sign(static_cast<int64_t>(searchRecord) - e.RecNo());
    else if (c == 0 && searchRecord != kAnyRecord && page->IsLeaf())
      c = Sign(static_cast<int64_t>(searchRecord) - e.Target());
    return c;
  };
  // The position is the first entry the search key is not greater than, else the last entry.
  int i = 0;
  if (byRecord || searchRecord == kAnyRecord || searchRecord == kAfterEqualKeys) {
    // Entries are in (key, record) order, so "greater" holds for a leading run: bisect it.
    int lo = 0, hi = n - 1, first = n - 1;
    while (lo <= hi) {
      const int mid = lo + (hi - lo) / 2;
      if (compareAt(mid) > 0) {
        lo = mid + 1;
      } else {
        first = mid;
        hi = mid - 1;
      }
    }
    i = first;
  } else {
    while (i < n - 1 && compareAt(i) > 0) ++i;
  }
  const int c = compareAt(i);
  page->pos_ = i;
  if (!page->IsLeaf()) {
    HXobjIndexKey* child = page->OpenChild();
    return child ? Find(child, searchRecord, key, partial) : 1;
  }
  TakeCurrent(page);
  return c < 0 ? -1 : (c == 0 ? 0 : 1);
}

bool HXobjIndexTag::FindEntry(const HXobjIndexKeyData& key, int32_t target) {
  EnsureTree();
  if (rootPage_->Count() == 0) return false;
  if (file_ && file_->EqualKeysByRecord())
    return Find(rootPage_.get(), key.RecNo(), key, -1) == 0 && current_.Target() == target;
  // Equal keys lie in the order they were added: from the first of them, forward to the entry
  // of this record, so that another record's entry is never taken for it.
  if (Find(rootPage_.get(), kAnyRecord, key, -1) != 0) return false;
  while (current_.Target() != target)
    if (!Next() || CompareKeys(key, current_, -1) != 0) return false;
  return true;
}

void HXobjIndexTag::CollectEdgeFlags(bool& atFirst, bool& atLast) const {
  atFirst = atLast = true;
  for (HXobjIndexKey* p = rootPage_.get(); p; p = p->IsLeaf() ? nullptr : p->child_) {
    if (p->pos_ != 0) atFirst = false;
    if (p->pos_ != p->Count() - 1) atLast = false;
    p->atFirst_ = atFirst;
    p->atLast_ = atLast;
  }
}

int HXobjIndexTag::RangeTest() const {
  int position = 0;
  if (!low_.IsEmpty()) {
    int c = low_.Compare(&current_, position, nullptr, partialLow_ ? 0 : -1);
    if (reverseCompare_) c = -c;
    if (c > 0 || (c == 0 && excludeLow_)) return -1;
  }
  if (!high_.IsEmpty()) {
    int c = high_.Compare(&current_, position, nullptr, 0);
    if (reverseCompare_) c = -c;
    if (c < 0 || (c == 0 && excludeHigh_)) return 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Navigation

void HXobjIndexTag::Reset(int mode) {
  ReleasePages();
  EnsureTree();
  bof_ = eof_ = false;
  shownFlags_ = false;
  if (mode == 2) return;
  HXobjIndexTable* table = file_ ? file_->Table() : nullptr;
  if (mode == 1 && !keyExpression_.empty() && table && rootPage_->Count() > 0) {
    const int32_t rec = table->IndexCurrentRecord();
    if (rec >= 1 && rec <= table->IndexRecordCount()) {
      HXobjIndexKeyData key;
      if (EvaluateKey(key)) {
        key.SetRecNo(rec);
        key.SetTarget(rec);
        TranslateKey(key, true);
        if (FindEntry(key, rec)) return;
      }
    }
  }
  DoMove(descending_ ? kMoveBottom : kMoveTop);
}

int32_t HXobjIndexTag::Move(int code) {
  const HeaderReadLock reading(file_);
  // The steps read the flags in the tree's own sense; the last move left them as shown.
  if (shownFlags_) std::swap(bof_, eof_);
  shownFlags_ = false;
  if (descending_) {
    if (code == kMoveNext) code = kMovePrior;
    else if (code == kMovePrior) code = kMoveNext;
    else if (code == kMoveTop) code = kMoveBottom;
    else if (code == kMoveBottom) code = kMoveTop;
  }
  if ((code == kMoveTop || code == kMoveBottom) && !updating_) Refresh();
  if (!rootPage_) {
    if (code == kMoveTop || code == kMoveBottom) {
      EnsureTree();
    } else {
      // The tree was released: find the table's current record again first.
      Reset(1);
      if (code == kMoveCurrent) {
        ShowFlags();
        return CurrentRecord();
      }
    }
  }
  int32_t r = (code == kMoveNext || code == kMovePrior) && StaleForStep() ? StepInFreshTree(code)
                                                                          : DoMove(code);
  ShowFlags();
  return r;
}

void HXobjIndexTag::ShowFlags() {
  if (descending_) std::swap(bof_, eof_);
  shownFlags_ = descending_;
}

bool HXobjIndexTag::StaleForStep() {
  return rootPage_ && !updating_ && !bof_ && !eof_ && file_ && TreeMayBeStale() &&
         (file_->FollowReplacement(false) || file_->ChangedByOthers());
}

int32_t HXobjIndexTag::StepInFreshTree(int code) {
  // Another program changed the shared file since this tree was read: its pages may have split
  // or moved, and a step through them would pass over keys. The tree is read again and the
  // current entry found in it; the step goes on from there.
  const HXobjIndexKeyData here = current_;
  ReleasePages();
  EnsureTree();
  if (rootPage_->Count() == 0) {
    bof_ = eof_ = true;
    return 0;
  }
  int found;
  if (file_ && file_->EqualKeysByRecord())
    found = Find(rootPage_.get(), here.RecNo(), here, -1);
  else
    found = FindEntry(here, here.Target()) ? 0 : Find(rootPage_.get(), kAfterEqualKeys, here, -1);
  if (found == 0) return DoMove(code);
  // The entry is gone: the search stopped on the one after it (found < 0) or past the end.
  if (code == kMovePrior) return DoMove(found > 0 ? kMoveBottom : kMovePrior);
  if (found > 0) {
    eof_ = true;
    return 0;
  }
  const int t = RangeTest();
  if (t < 0) return DoMove(kMoveNext);
  if (t > 0) {
    eof_ = true;
    return 0;
  }
  return current_.Target();
}

int32_t HXobjIndexTag::DoMove(int code) {
  EnsureTree();
  HXobjIndexKey* root = rootPage_.get();
  switch (code) {
    case kMoveTop: {
      bof_ = eof_ = false;
      bool ok;
      if (!low_.IsEmpty())
        ok = root->Count() > 0 && Find(root, 0, low_, -1) != 1;
      else
        ok = First(root);
      if (!ok) {
        bof_ = eof_ = true;
        return 0;
      }
      for (;;) {
        int t = RangeTest();
        if (t < 0) {
          if (!Next()) {
            eof_ = true;
            return 0;
          }
          continue;
        }
        if (t > 0) {
          eof_ = true;
          return 0;
        }
        return current_.Target();
      }
    }
    case kMoveBottom: {
      bof_ = eof_ = false;
      bool ok;
      if (!high_.IsEmpty()) {
        ok = root->Count() > 0;
        if (ok) {
          int r = Find(root, kAfterEqualKeys, high_, 0);
          if (r < 0) ok = Prior();
        }
      } else {
        ok = Last(root);
      }
      if (!ok) {
        bof_ = eof_ = true;
        return 0;
      }
      for (;;) {
        int t = RangeTest();
        if (t > 0) {
          if (!Prior()) {
            bof_ = true;
            return 0;
          }
          continue;
        }
        if (t < 0) {
          bof_ = true;
          return 0;
        }
        return current_.Target();
      }
    }
    case kMoveNext: {
      if (bof_) return DoMove(kMoveTop);
      bof_ = eof_ = false;
      for (;;) {
        if (!Next()) {
          eof_ = true;
          return 0;
        }
        int t = RangeTest();
        if (t < 0) continue;
        if (t > 0) {
          eof_ = true;
          return 0;
        }
        return current_.Target();
      }
    }
    case kMovePrior: {
      if (eof_) return DoMove(kMoveBottom);
      bof_ = eof_ = false;
      for (;;) {
        if (!Prior()) {
          bof_ = true;
          return 0;
        }
        int t = RangeTest();
        if (t > 0) continue;
        if (t < 0) {
          bof_ = true;
          return 0;
        }
        return current_.Target();
      }
    }
    case kMoveCurrent:
    default:
      return CurrentRecord();
  }
}

int32_t HXobjIndexTag::Seek(const HXobjIndexKeyData& search) {
  const HeaderReadLock reading(file_);
  HXobjIndexKeyData key = search;
  TranslateKey(key, true);
  bof_ = eof_ = false;
  shownFlags_ = false;
  if (!updating_) Refresh();
  EnsureTree();
  const int partial = (file_ && file_->Exact()) || updating_ ? -1 : 0;
  if (rootPage_->Count() == 0) {
    eof_ = true;
    return 0;
  }
  int r = Find(rootPage_.get(), key.RecNo(), key, partial);
  if (r == 0) {
    if (RangeTest() == 0) return current_.Target();
    eof_ = true;
    return 0;
  }
  if (r < 0) {
    bool atFirst, atLast;
    CollectEdgeFlags(atFirst, atLast);
    if (atFirst && !atLast)
      bof_ = true;
    else if (atLast)
      eof_ = true;
    else if (RangeTest() != 0)
      eof_ = true;
    return 0;
  }
  eof_ = true;
  return 0;
}

int32_t HXobjIndexTag::FindRecord(const HXobjIndexKeyData& search) {
  // Pages changed in memory must reach the file before a second tree reads it.
  FlushPages();
  std::unique_ptr<HXobjIndexKey> live = std::move(rootPage_);
  HXobjIndexKeyData savedCurrent = current_;
  const bool savedBof = bof_, savedEof = eof_, savedUpdating = updating_;
  const bool savedShown = shownFlags_;
  ScopeExit restore([&] {
    rootPage_ = std::move(live);
    current_ = savedCurrent;
    bof_ = savedBof;
    eof_ = savedEof;
    shownFlags_ = savedShown;
    updating_ = savedUpdating;
  });
  // An update runs whole-key compares and keeps the temporary tree.
  updating_ = true;
  EnsureTree();
  int32_t r = Seek(search);
  rootPage_.reset();
  return r;
}

int32_t HXobjIndexTag::SeekEntry(const HXobjIndexKeyData& key) {
  const HeaderReadLock reading(file_);
  bof_ = eof_ = false;
  shownFlags_ = false;
  if (!updating_) Refresh();
  EnsureTree();
  if (rootPage_->Count() == 0) {
    bof_ = eof_ = true;
    return 0;
  }
  if (Find(rootPage_.get(), key.RecNo(), key, -1) != 0 || current_.Target() != key.RecNo())
    return 0;
  return current_.Target();
}

int HXobjIndexTag::CompareEntries(const HXobjIndexKeyData& a, const HXobjIndexKeyData& b) const {
  const int c = CompareKeys(a, b, -1);
  if (c != 0 || !file_ || !file_->EqualKeysByRecord()) return c;
  return Sign(static_cast<int64_t>(a.RecNo()) - b.RecNo());
}

template <class Start, class Visit>
void HXobjIndexTag::WalkTemporaryTree(Start start, Visit visit) {
  const HeaderReadLock reading(file_);
  // Pages changed in memory must reach the file before a second tree reads it.
  FlushPages();
  std::unique_ptr<HXobjIndexKey> live = std::move(rootPage_);
  const HXobjIndexKeyData savedCurrent = current_;
  const bool savedBof = bof_, savedEof = eof_, savedShown = shownFlags_;
  ScopeExit restore([&] {
    rootPage_ = std::move(live);
    current_ = savedCurrent;
    bof_ = savedBof;
    eof_ = savedEof;
    shownFlags_ = savedShown;
  });
  EnsureTree();
  if (rootPage_->Count() > 0 && start()) {
    do {
      if (!visit(current_)) break;
    } while (Next());
  }
  rootPage_.reset();
}

template <class Visit>
void HXobjIndexTag::VisitEntries(Visit visit) {
  WalkTemporaryTree([&] { return First(rootPage_.get()); },
                    [&](const HXobjIndexKeyData& k) {
                      visit(k);
                      return true;
                    });
}

std::vector<int32_t> HXobjIndexTag::RecordsWithKeyPrefix(const HXobjIndexKeyData& prefix) {
  std::vector<int32_t> records;
  // Equal over the prefix's length is "begins with"; the entries that do lie together.
  WalkTemporaryTree([&] { return Find(rootPage_.get(), kAnyRecord, prefix, 0) <= 0; },
                    [&](const HXobjIndexKeyData& k) {
                      if (CompareKeys(prefix, k, 0) != 0) return false;
                      records.push_back(k.Target());
                      return true;
                    });
  return records;
}

int32_t HXobjIndexTag::Resync(int32_t record) {
  const HeaderReadLock reading(file_);
  if (rootPage_ && !bof_ && !eof_ && current_.Target() == record && record != 0) return record;
  Reset(1);
  return CurrentRecord();
}

bool HXobjIndexTag::SetRange(const ThxVariant* low, const ThxVariant* high, bool excludeHigh,
                             bool partialLow, bool excludeLow) {
  auto stored = [this](const ThxVariant* bound) {
    HXobjIndexKeyData k;
    if (bound && !bound->IsEmpty()) {
      k.Assign(bound);
      std::string text = bound->GetString();
      bool blank = text.find_first_not_of(' ') == std::string::npos;
      TranslateKey(k, !blank);
    }
    return k;
  };
  HXobjIndexKeyData newLow = stored(low);
  HXobjIndexKeyData newHigh = stored(high);
  // New options with the same bounds are a change too: they decide which keys are in range.
  if (SameKey(newLow, low_) && SameKey(newHigh, high_) && excludeHigh == excludeHigh_ &&
      partialLow == partialLow_ && excludeLow == excludeLow_)
    return false;
  low_ = newLow;
  high_ = newHigh;
  excludeHigh_ = excludeHigh;
  partialLow_ = partialLow;
  excludeLow_ = excludeLow;
  Move(kMoveTop);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Key maintenance

bool HXobjIndexTag::AddKey(const HXobjIndexKeyData& key) {
  if (!updating_) Refresh();
  EnsureTree();
  HXobjIndexKeyData k = key;
  TranslateKey(k, true);
  bof_ = eof_ = false;
  shownFlags_ = false;
  const bool byRecord = file_ && file_->EqualKeysByRecord();
  const int32_t ins = byRecord ? k.RecNo() : (reverseCompare_ ? 0 : kAfterEqualKeys);
  HXobjIndexKey* root = rootPage_.get();
  if (unique_ && root->Count() > 0 && Find(root, kAnyRecord, k, -1) == 0) return false;
  const int r = Find(root, ins, k, -1);
  InsertIntoPage(CurrentLeaf(), k, r > 0);
  if (!updating_) {
    // The key reaches the file now.
    WriteChangedPages();
    if (headerChanged_) WriteHeader();
  }
  root = rootPage_.get();
  bool atFirst, atLast;
  if (r > 0) {
    Last(root);
    eof_ = true;
    ShowFlags();
    return true;
  }
  HXobjIndexKey* leaf = CurrentLeaf();
  if (updating_ && byRecord && leaf && leaf->pos_ >= 0 && leaf->pos_ < leaf->Count()) {
    // Nothing was written since the search, so the tree kept its shape: the new entry is where
    // it was put, on the path the search left (entries ordered by key and record number lead a
    // second search to the same place).
    TakeCurrent(leaf);
  } else {
    Find(root, ins, k, -1);
    if (ins == kAfterEqualKeys) Prior();
  }
  CollectEdgeFlags(atFirst, atLast);
  bof_ = atFirst;
  eof_ = atLast;
  ShowFlags();
  return true;
}

void HXobjIndexTag::InsertIntoPage(HXobjIndexKey* leaf, const HXobjIndexKeyData& key, bool after) {
  if (!leaf) return;
  int pos = leaf->pos_ + (after ? 1 : 0);
  pos = std::clamp(pos, 0, leaf->Count());
  leaf->keys_.insert(leaf->keys_.begin() + pos, std::make_unique<HXobjIndexKeyData>(key));
  leaf->pos_ = pos;
  MarkChanged(leaf);
  if (pos == leaf->Count() - 1) FixParentKeys(leaf);
}

void HXobjIndexTag::Relocate(HXobjIndexKey* page) {
  HXobjIndexKey* p = page->parent_;
  // The repairs after a failed update (taking its keys back on a disk that may be full) write
  // in place, as they must succeed where the file cannot grow.
  if (file_ && (file_->RemovingKeys() || file_->AddingMissingKeys() || file_->RekeyingRecord()))
    return;
  if (!p || std::find(relocatedPages_.begin(), relocatedPages_.end(), page) != relocatedPages_.end())
    return;
  const int i = p->EntryFor(page->block_);
  if (i < 0) return;
  page->block_ = file_->AllocateBlock();
  p->keys_[static_cast<size_t>(i)]->SetTarget(page->block_);
  MarkChanged(p);
  MarkChanged(page);
  relocatedPages_.push_back(page);
}

void HXobjIndexTag::FixParentKeys(HXobjIndexKey* page) {
  while (page->parent_ && page->Count() > 0) {
    HXobjIndexKey* p = page->parent_;
    if (InteriorKeysAreEntries()) Relocate(page);
    const int i = p->EntryFor(page->block_);
    if (i < 0) break;
    HXobjIndexKeyData k = *page->keys_.back();
    k.SetTarget(page->block_);
    *p->keys_[static_cast<size_t>(i)] = k;
    MarkChanged(p);
    if (i != p->Count() - 1) break;
    page = p;
  }
}

void HXobjIndexTag::DeleteCurrent() {
  HXobjIndexKey* leaf = CurrentLeaf();
  if (!leaf || leaf->pos_ < 0 || leaf->pos_ >= leaf->Count()) return;
  const bool wasLast = leaf->pos_ == leaf->Count() - 1;
  leaf->keys_.erase(leaf->keys_.begin() + leaf->pos_);
  MarkChanged(leaf);
  if (leaf->pos_ >= leaf->Count()) leaf->pos_ = leaf->Count() - 1;
  if (leaf->Count() == 0) {
    UnlinkEmptyPage(leaf);
  } else if (wasLast) {
    FixParentKeys(leaf);
  }
}

void HXobjIndexTag::UnlinkEmptyPage(HXobjIndexKey* page) {
  HXobjIndexKey* p = page->parent_;
  if (!p) {
    // An empty root is an empty leaf root, whatever it was before.
    page->kind_ = HXobjIndexKey::kLeaf;
    page->keys_.clear();
    page->child_ = nullptr;
    for (auto& c : page->children_) ForgetSubtree(c.get());
    page->children_.clear();
    page->pos_ = -1;
    MarkChanged(page);
    return;
  }
  const int32_t block = page->block_;
  const int32_t left = page->left_;
  const int32_t right = page->right_;
  // Drop the page object before touching its neighbours, so they are patched on disk or in
  // memory but never through the dead page.
  if (p->child_ == page) p->child_ = nullptr;
  ForgetSubtree(page);
  std::erase_if(p->children_,
                [page](const std::unique_ptr<HXobjIndexKey>& c) { return c.get() == page; });
  if (left > 0) SetSibling(left, true, right);
  if (right > 0) SetSibling(right, false, left);
  const int i = p->EntryFor(block);
  const bool wasLast = i >= 0 && i == p->Count() - 1;
  if (i >= 0) p->keys_.erase(p->keys_.begin() + i);
  MarkChanged(p);
  if (p->pos_ >= p->Count()) p->pos_ = p->Count() - 1;
  if (p->Count() == 0) {
    UnlinkEmptyPage(p);
  } else {
    if (wasLast) FixParentKeys(p);
    p->OpenChild();
    if (wasLast) RightmostChildRemoved(*p);
  }
}

void HXobjIndexTag::MarkRightEdgeChanged(HXobjIndexKey* page) {
  for (HXobjIndexKey* p = page; p && !p->IsLeaf() && p->Count() > 0;) {
    p->pos_ = p->Count() - 1;
    HXobjIndexKey* child = p->OpenChild();
    if (!child) break;
    MarkChanged(child);
    if (InteriorKeysAreEntries()) Relocate(child);
    p = child;
  }
}

HXobjIndexKey* HXobjIndexTag::FindLoadedPage(int32_t block) const {
  std::vector<HXobjIndexKey*> stack;
  if (rootPage_) stack.push_back(rootPage_.get());
  while (!stack.empty()) {
    HXobjIndexKey* p = stack.back();
    stack.pop_back();
    if (p->block_ == block) return p;
    for (auto& c : p->children_) stack.push_back(c.get());
  }
  return nullptr;
}

void HXobjIndexTag::SetSibling(int32_t position, bool right, int32_t value) {
  if (position <= 0) return;
  if (HXobjIndexKey* page = FindLoadedPage(position)) {
    if (right)
      page->right_ = value;
    else
      page->left_ = value;
    if (page->changed_) return;  // written with its new sibling later
  }
  for (PendingLink& link : pendingLinks_) {
    if (link.position == position && link.right == right) {
      link.value = value;
      return;
    }
  }
  pendingLinks_.push_back({position, right, value});
}

void HXobjIndexTag::SplitPage(HXobjIndexKey& page, const HXobjIndexKeyData& key) {
  if (!page.parent_) {
    // Grow a new root that keeps the root's block, so the header never changes.
    auto newRoot = std::make_unique<HXobjIndexKey>(this, nullptr, 0);
    newRoot->kind_ = HXobjIndexKey::kInterior;
    newRoot->block_ = page.block_;
    page.block_ = file_->AllocateBlock();
    HXobjIndexKeyData last;
    if (page.Count() > 0) last = *page.keys_.back();
    last.SetTarget(page.block_);
    newRoot->keys_.push_back(std::make_unique<HXobjIndexKeyData>(last));
    newRoot->pos_ = 0;
    MarkChanged(newRoot.get());
    newRoot->children_.push_back(std::move(rootPage_));
    newRoot->child_ = &page;
    page.parent_ = newRoot.get();
    rootPage_ = std::move(newRoot);
    headerChanged_ = true;
    relocated_ = &page;
  }
  HXobjIndexKey* p = page.parent_;
  int i = p->EntryFor(page.block_);
  if (i < 0) {
    i = p->Count();
  } else if (relocated_ != &page) {
    // The rest of the page goes to a new block as well, so that its old block keeps every key
    // until the parent, written after both parts, names the two new blocks instead: a write
    // that fails or a program killed in between leaves the old page in force, not a page that
    // lost its first part. The old block is left unused. A right sibling's link follows once
    // the page has been written (WriteChangedPages).
    const int32_t moved = file_->AllocateBlock();
    p->keys_[static_cast<size_t>(i)]->SetTarget(moved);
    if (page.right_ > 0) SetSibling(page.right_, false, moved);
    page.block_ = moved;
    relocated_ = &page;
  }
  p->keys_.insert(p->keys_.begin() + i, std::make_unique<HXobjIndexKeyData>(key));
  p->pos_ = i + 1;
  MarkChanged(p);
  page.split_ = true;
  ++splits_;
}

void HXobjIndexTag::MarkChanged(HXobjIndexKey* page) {
  if (page->changed_) return;
  page->changed_ = true;
  dirty_.push_back(page);
}

void HXobjIndexTag::ForgetSubtree(HXobjIndexKey* page) {
  if (page->changed_) std::erase(dirty_, page);
  for (auto& c : page->children_) ForgetSubtree(c.get());
}

void HXobjIndexTag::PrunePages() {
  // Kept: the current path, and every changed page with the pages above it.
  std::vector<const HXobjIndexKey*> keep;
  for (HXobjIndexKey* p = rootPage_.get(); p; p = p->child_) keep.push_back(p);
  for (HXobjIndexKey* d : dirty_)
    for (HXobjIndexKey* p = d; p; p = p->parent_) keep.push_back(p);
  std::sort(keep.begin(), keep.end());
  auto kept = [&keep](const HXobjIndexKey* p) {
    return std::binary_search(keep.begin(), keep.end(), p);
  };
  auto forEachPage = [this](auto&& visit) {
    std::vector<HXobjIndexKey*> stack;
    if (rootPage_) stack.push_back(rootPage_.get());
    while (!stack.empty()) {
      HXobjIndexKey* p = stack.back();
      stack.pop_back();
      visit(p);
      for (auto& c : p->children_) stack.push_back(c.get());
    }
  };
  // Leaves go first, the less recently used half of them: the other half is what the next
  // searches most likely need again (the right edge appends go to, the runs of equal keys),
  // and a tag whose leaves do not all fit keeps more of them on average than by starting empty.
  // Interior pages, which every search passes through, go only when they fill most of the
  // cache themselves, and then also the less recently used half (with the pages below them).
  for (bool leaves : {true, false}) {
    if (!leaves && loadedPages_ < pageCacheLimit_ * 3 / 4) break;
    std::vector<uint64_t> uses;
    forEachPage([&](HXobjIndexKey* p) {
      for (auto& c : p->children_)
        if (c->IsLeaf() == leaves && !kept(c.get())) uses.push_back(c->lastUse_);
    });
    if (uses.empty()) continue;
    auto middle = uses.begin() + static_cast<std::ptrdiff_t>(uses.size() / 2);
    std::nth_element(uses.begin(), middle, uses.end());
    const uint64_t cutoff = *middle;
    forEachPage([&](HXobjIndexKey* p) {
      std::erase_if(p->children_, [&](const std::unique_ptr<HXobjIndexKey>& c) {
        const bool drop = c->IsLeaf() == leaves && c->lastUse_ <= cutoff && !kept(c.get());
        if (drop && p->child_ == c.get()) p->child_ = nullptr;  // an off-path page's child
        return drop;
      });
    });
  }
}

void HXobjIndexTag::WriteChangedPages() {
  // The order of page writes keeps the file walkable at every moment a write may fail or the
  // program may die:
  //  1. Deepest first, children before the parents that point at them. A page that splits
  //     writes its first part to a newly allocated block (nothing points at it yet) and the
  //     rest to another new block (SplitPage); its old block still holds every key. The parent
  //     that names the two new blocks is shallower and so written after both: that one write
  //     puts the split in force.
  //  2. A root that grows moves its old content to a new block (written in step 1, as the new
  //     root's child) and the new root is written last, at the block the header names.
  //  3. The sibling links of neighbours on disk that now name the new blocks (SetSibling), once
  //     every page is written: until then the leaf chain that other programs follow runs
  //     through the old blocks, as the tree does.
  //  4. The tag header and the file's change counter follow the pages (ReleasePages, the
  //     formats' UpdateTags).
  // So no page on disk ever points at a block that has not been written, by a child entry or
  // by a sibling link. A write that fails stops the sequence: the pages still in memory and the
  // links not yet patched are dropped, never written (WriteFailed).
  linkPhase_ = false;
  try {
    WriteDirtyPages();
  } catch (...) {
    // The pages are in force but some neighbour's link is not: owed to the next update.
    if (linkPhase_ && file_) file_->OweSiblingLinks();
    pendingLinks_.clear();
    relocatedPages_.clear();
    throw;
  }
  relocatedPages_.clear();
}

void HXobjIndexTag::WriteDirtyPages() {
  while (!dirty_.empty()) {
    if (file_ && file_->WriteFailed()) {
      DiscardTree();
      return;
    }
    size_t best = 0;
    int bestDepth = -1;
    for (size_t i = 0; i < dirty_.size(); ++i) {
      int depth = 0;
      for (const HXobjIndexKey* p = dirty_[i]; p->parent_; p = p->parent_) ++depth;
      if (depth > bestDepth) {
        bestDepth = depth;
        best = i;
      }
    }
    HXobjIndexKey* page = dirty_[best];
    dirty_.erase(dirty_.begin() + static_cast<std::ptrdiff_t>(best));
    page->changed_ = false;
    relocated_ = nullptr;
    WritePage(*page);
    relocated_ = nullptr;
  }
  if (file_ && file_->WriteFailed()) {
    DiscardTree();
    return;
  }
  linkPhase_ = true;
  while (!pendingLinks_.empty()) {
    const PendingLink link = pendingLinks_.back();
    pendingLinks_.pop_back();
    if (HXobjIndexKey* page = FindLoadedPage(link.position)) {
      if (link.right)
        page->right_ = link.value;
      else
        page->left_ = link.value;
    }
    uint8_t node[512];
    if (!file_->ReadBlock(link.position, node, sizeof node)) continue;
    EncodeLE32(node + (link.right ? 8 : 4), static_cast<uint32_t>(link.value));
    file_->WriteBlock(link.position, node, sizeof node);
  }
}

void HXobjIndexTag::DiscardTree() {
  rootPage_.reset();
  dirty_.clear();
  pendingLinks_.clear();
  relocatedPages_.clear();
  headerChanged_ = false;
  current_.SetTarget(0);
}

void HXobjIndexTag::ReleasePages() {
  if (file_ && file_->WriteFailed()) {
    DiscardTree();
    return;
  }
  if (rootPage_) {
    WriteChangedPages();
    rootPage_.reset();
  }
  dirty_.clear();
  if (headerChanged_) WriteHeader();
  current_.SetTarget(0);
}

void HXobjIndexTag::FlushPages() {
  if (file_ && file_->WriteFailed()) {
    DiscardTree();
    return;
  }
  if (rootPage_ && !dirty_.empty()) {
    // Writing may split pages: the tree stays consistent with the file, positions do not.
    const HXobjIndexKeyData saved = current_;
    const bool b = bof_, e = eof_;
    const int64_t splitsBefore = splits_;
    WriteChangedPages();
    // Only a split moves entries between pages; without one the path still holds the current
    // entry.
    if (splits_ != splitsBefore && rootPage_ && saved.Target() != 0 && rootPage_->Count() > 0)
      FindEntry(saved, saved.Target());
    bof_ = b;
    eof_ = e;
  }
  if (headerChanged_) WriteHeader();
}

bool HXobjIndexTag::TreeMayBeStale() const {
  // Another handle may change a shared file between our operations; an exclusive one only we
  // change, and what we changed is in the tree.
  const HXO_DiskFile* disk = file_ ? file_->DiskFile() : nullptr;
  return disk == nullptr || disk->Shared();
}

void HXobjIndexTag::Refresh() {
  if (rootPage_ && !TreeMayBeStale()) {
    FlushPages();
    return;
  }
  ReleasePages();
  // Another handle's rebuild may have put a new file in place (nothing is locked here: the
  // search reads whichever file the name has now).
  if (file_ && !updating_) file_->FollowReplacement(false);
  EnsureTree();
}

bool HXobjIndexTag::DeleteKey(const HXobjIndexKeyData& key) {
  HXobjIndexKeyData k = key;
  TranslateKey(k, true);
  if (!FindEntry(k, k.Target())) return false;
  DeleteCurrent();
  return true;
}

bool HXobjIndexTag::HoldsRecord(int32_t record) {
  if (hasFilter_ && !EvaluateFilter()) return true;
  HXobjIndexKeyData key;
  if (!EvaluateKey(key)) return true;
  key.SetRecNo(record);
  key.SetTarget(record);
  TranslateKey(key, true);
  // Asked under the index lock (a repair), in the tree as it stands: the repair reads the
  // trees afresh once before its questions.
  EnsureTree();
  bool held = false;
  if (rootPage_->Count() > 0)
    held = unique_ ? Find(rootPage_.get(), kAnyRecord, key, -1) == 0 : FindEntry(key, record);
  // Not under the key computed now: by record number, when the file asks so.
  if (held || !file_ || !file_->HoldsByRecordNumber()) return held;
  return NamesRecord(record);
}

std::vector<HXobjIndexKeyData> HXobjIndexTag::EntriesOfRecord(int32_t record) {
  std::vector<HXobjIndexKeyData> entries;
  VisitEntries([&](const HXobjIndexKeyData& k) {
    if (k.Target() == record) entries.push_back(k);
  });
  return entries;
}

bool HXobjIndexTag::NamesRecord(int32_t record) {
  if (!heldRecordsKnown_) {
    heldRecords_.clear();
    VisitEntries([&](const HXobjIndexKeyData& k) { heldRecords_.push_back(k.Target()); });
    std::sort(heldRecords_.begin(), heldRecords_.end());
    heldRecordsKnown_ = true;
  }
  return std::binary_search(heldRecords_.begin(), heldRecords_.end(), record);
}

bool HXobjIndexTag::KeyUpdate(int32_t record, bool isNew) {
  HXobjIndexTable* table = file_ ? file_->Table() : nullptr;
  if (!table) return false;
  if (file_->RekeyingRecord()) {
    // A rewrite a crash interrupted: whatever entries name the record go, whatever their keys,
    // and the key the record gives now goes in.
    updating_ = true;
    ScopeExit clear([this] { updating_ = false; });
    bool changed = false;
    const std::vector<HXobjIndexKeyData> held = EntriesOfRecord(record);
    for (const HXobjIndexKeyData& k : held) {
      if (FindEntry(k, record)) {
        DeleteCurrent();
        changed = true;
      }
    }
    HXobjIndexKeyData key;
    if ((!hasFilter_ || EvaluateFilter()) && EvaluateKey(key)) {
      key.SetRecNo(record);
      key.SetTarget(record);
      if (AddKey(key)) changed = true;
    }
    FlushPages();
    return changed;
  }
  if (file_->RemovingKeys() || file_->AddingMissingKeys()) {
    // Repairs after a failed or interrupted update: one entry taken out or put in, nothing
    // else looked at.
    updating_ = true;
    ScopeExit clear([this] { updating_ = false; });
    bool changed = false;
    if (file_->RemovingKeys()) {
      HXobjIndexKeyData key;
      if (!EvaluateKey(key)) return false;
      key.SetRecNo(record);
      key.SetTarget(record);
      TranslateKey(key, true);
      EnsureTree();
      if (rootPage_->Count() > 0 && FindEntry(key, record)) {
        DeleteCurrent();
        changed = true;
      }
    } else if (!HoldsRecord(record)) {
      HXobjIndexKeyData key;
      EvaluateKey(key);
      key.SetRecNo(record);
      key.SetTarget(record);
      AddKey(key);
      changed = true;
      if (heldRecordsKnown_)
        heldRecords_.insert(std::upper_bound(heldRecords_.begin(), heldRecords_.end(), record),
                            record);
    }
    FlushPages();
    return changed;
  }
  if (!table->IndexHasSavedRecord()) return false;
  updating_ = true;
  ScopeExit clear([this] { updating_ = false; });
  const bool filterHolds = hasFilter_ ? EvaluateFilter() : true;
  // The evaluated key goes to AddKey as it is (AddKey translates); comparisons use the stored
  // form.
  HXobjIndexKeyData newRaw;
  if (!EvaluateKey(newRaw)) return false;
  newRaw.SetRecNo(record);
  newRaw.SetTarget(record);
  HXobjIndexKeyData newKey = newRaw;
  TranslateKey(newKey, true);
  bool changed = false;
  if (isNew) {
    if (filterHolds) {
      EnsureTree();
      AddKey(newRaw);
      changed = true;
    }
  } else {
    // The old key comes from the record as last read or written; the entry is looked for
    // whatever the table's change flags say, so a rewrite never leaves a stale key behind.
    HXobjIndexKeyData oldKey;
    bool oldOk;
    {
      table->IndexUseSavedRecord(true);
      ScopeExit back([table] { table->IndexUseSavedRecord(false); });
      oldOk = EvaluateKey(oldKey);
    }
    bool found = false;
    if (oldOk) {
      oldKey.SetRecNo(record);
      oldKey.SetTarget(record);
      TranslateKey(oldKey, true);
      found = FindEntry(oldKey, record);
    }
    if (oldOk && SameKey(oldKey, newKey) && filterHolds) {
      if (!found) {
        AddKey(newRaw);
        changed = true;
      }
    } else {
      if (found) {
        DeleteCurrent();
        changed = true;
      }
      if (filterHolds) {
        AddKey(newRaw);
        changed = true;
      }
    }
  }
  // Every page the update changed is written before the index files are unlocked. The tree
  // stays in memory for the next update: the file's change counter tells when another handle
  // made it stale (HXobjIndexFile::UpdateTags).
  FlushPages();
  return changed;
}


// ---------------------------------------------------------------------------------------------
// HXobjIndexFile

HXobjIndexFile::HXobjIndexFile(HXobjIndexTable* table, std::string_view fileName)
    : table_(table) {
  fileName_ = std::string(fileName);
  const size_t slash = fileName_.rfind(kPathDelimiter);
  if (slash != std::string::npos) fileName_.erase(0, slash + 1);
}

HXobjIndexFile::~HXobjIndexFile() { tags_.FreeAll(); }

bool HXobjIndexFile::CreateTag(std::string_view, std::string_view, std::string_view, bool, bool) {
  return false;
}
bool HXobjIndexFile::DeleteTag(std::string_view) { return false; }
int32_t HXobjIndexFile::AllocateBlock() { return -1; }
int32_t HXobjIndexFile::RefreshEnd() { return -1; }
void HXobjIndexFile::Reindex() {}

bool HXobjIndexFile::ReadBlock(int64_t position, void* buffer, int32_t length) {
  if (!disk_) return false;
  const int32_t got = disk_->Read(position, buffer, length);
  const std::string key = table_ ? table_->IndexPassword() : std::string();
  if (!key.empty()) ScrambleBlocks(key, buffer, std::min(length, 32768), 0);
  return got == length;
}

void HXobjIndexFile::WriteBlock(int64_t position, const void* buffer, int32_t length) {
  if (!disk_) return;
  const std::string key = table_ ? table_->IndexPassword() : std::string();
  try {
    if (key.empty()) {
      disk_->Write(position, buffer, length);
      return;
    }
    std::vector<uint8_t> copy(static_cast<const uint8_t*>(buffer),
                              static_cast<const uint8_t*>(buffer) + length);
    ScrambleBlocks(key, copy.data(), std::min(length, 32768), 1);
    disk_->Write(position, copy.data(), length);
  } catch (...) {
    writeFailed_ = true;
    throw;
  }
}

void HXobjIndexFile::DiscardPages() {
  writeFailed_ = false;
  for (int i = 0; i < tags_.Count(); ++i) tags_.Items(i)->DiscardTree();
  // Blocks the failed update took may never have been written: the end comes from the file.
  end_ = -1;
  try {
    RefreshEnd();
  } catch (const std::exception&) {
    // Taken again at the next allocation; the error of that use is the one reported.
  }
}

bool HXobjIndexFile::RemoveRecordKeys(int32_t record) {
  if (writeFailed_) DiscardPages();
  removingKeys_ = true;
  ScopeExit clear([this] { removingKeys_ = false; });
  return UpdateTags(record, true);
}

bool HXobjIndexFile::AddMissingKeys(int32_t record) {
  if (writeFailed_) DiscardPages();
  addingMissing_ = true;
  ScopeExit clear([this] { addingMissing_ = false; });
  return UpdateTags(record, true);
}

void HXobjIndexFile::SetHoldsByRecordNumber(bool on) {
  byRecordNumber_ = on;
  for (int i = 0; i < tags_.Count(); ++i) tags_.Items(i)->ForgetHeldRecords();
}

bool HXobjIndexFile::RekeyRecord(int32_t record) {
  if (writeFailed_) DiscardPages();
  rekeying_ = true;
  ScopeExit clear([this] { rekeying_ = false; });
  return UpdateTags(record, true);
}

void HXobjIndexFile::NoteRewrite(int32_t record) {
  int64_t block = 0;
  int offset = 0;
  if (!disk_ || !disk_->ReadWrite() || !RewriteNoteSpot(block, offset)) return;
  uint8_t b[512];
  if (!ReadBlock(block, b, sizeof b)) throw ESorrelError(smReadError, {disk_->Name()});
  EncodeLE32(b + offset, static_cast<uint32_t>(record));
  rewriteNote_ = record;
  WriteBlock(block, b, sizeof b);
  RewriteNoteWritten(b);
}

int32_t HXobjIndexFile::NotedRewrite() {
  int64_t block = 0;
  int offset = 0;
  if (!disk_ || !RewriteNoteSpot(block, offset)) return 0;
  uint8_t b[512];
  if (!ReadBlock(block, b, sizeof b)) return 0;
  return static_cast<int32_t>(DecodeLE32(b + offset));
}

bool HXobjIndexFile::HoldsRecord(int32_t record) {
  if (writeFailed_) DiscardPages();
  for (int i = 0; i < tags_.Count(); ++i)
    if (!tags_.Items(i)->HoldsRecord(record)) return false;
  return true;
}

void HXobjIndexFile::ScrambleBlocks(std::string_view key, void* buffer, int32_t length, int mode) {
  auto* p = static_cast<uint8_t*>(buffer);
  for (int32_t at = 0; at < length; at += 512) {
    const int32_t n = std::min<int32_t>(512, length - at);
    ScrambleBuffer(key, p + at, p + at, static_cast<size_t>(n), mode);
  }
}

bool HXobjIndexFile::Rename(std::string_view newName) {
  if (!disk_ || !disk_->Rename(newName)) return false;
  std::string name(newName);
  const size_t slash = name.rfind(kPathDelimiter);
  fileName_ = slash == std::string::npos ? name : name.substr(slash + 1);
  return true;
}

bool HXobjIndexFile::UpdateTags(int32_t record, bool isNew) {
  if (writeFailed_) DiscardPages();
  if (linksOwed_) {
    RepairSiblingLinks();
    linksOwed_ = false;
  }
  updatingTags_ = true;
  ScopeExit clear([this] { updatingTags_ = false; });
  bool changed = false;
  for (int i = 0; i < tags_.Count(); ++i)
    if (tags_.Items(i)->KeyUpdate(record, isNew)) changed = true;
  return changed;
}

bool HXobjIndexFile::ChangedByOthers() { return false; }

bool HXobjIndexFile::ChangeStamp(uint32_t&) { return false; }

void HXobjIndexFile::SetLockProtocol(int protocol) {
  protocol_ = protocol;
  switch (protocol) {
    case 1:  // DB4Lock
      lockA_ = 0x40000000;
      lockB_ = 0xEFFFFFFF;
      lockC_ = 0xB0000000;
      break;
    case 2:  // ClipLock
      lockA_ = lockB_ = lockC_ = 1000000000;
      break;
    default:  // Default, FoxLock
      lockA_ = 0x40000000;
      lockB_ = 0x7FFFFFFE;
      lockC_ = 0x3FFFFFFF;
      break;
  }
}

void HXobjIndexFile::Rescramble(std::string_view oldKey, std::string_view newKey) {
  if (!disk_) return;
  const int64_t blocks = disk_->FileSize() / 512;
  uint8_t block[512];
  for (int64_t b = 0; b < blocks; ++b) {
    if (disk_->Read(b * 512, block, 512) != 512) break;
    ScrambleBuffer(oldKey, block, block, 512, 0);
    ScrambleBuffer(newKey, block, block, 512, 1);
    disk_->Write(b * 512, block, 512);
  }
}

HXO_DiskFile* HXobjIndexFile::OpenDiskFile(HXobjIndexTable* table, std::string_view fileName,
                                           bool overwrite, bool create, bool shared,
                                           bool readWrite, std::string_view defaultExtension) {
  std::string name(fileName);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  while (!name.empty() && name.front() == ' ') name.erase(0, 1);
  name = DefaultFileExt(name, defaultExtension);
  if (name.find(kPathDelimiter) == std::string::npos && table) {
    const std::string tablePath = table->IndexTableName();
    const size_t slash = tablePath.rfind(kPathDelimiter);
    if (slash != std::string::npos) name = tablePath.substr(0, slash + 1) + name;
  }
  const size_t slash = name.rfind(kPathDelimiter);
  fileName_ = slash == std::string::npos ? name : name.substr(slash + 1);
  disk_.reset();
  if (create && !overwrite) {
    HXO_DiskFile probe(name, shared, readWrite);
    if (probe.Exists()) create = false;
  }
  if (create) {
    // A file made here is held exclusively while this object keeps it open.
    const HXobjStagedCreate* staging = gStagedCreate;
    const bool staged = staging != nullptr &&
                        HXO_DiskFile(name, false, true).Name() == staging->FinalPath();
    auto d = std::make_unique<HXO_DiskFile>(staged ? staging->StagedPath() : name, false, true);
    d->Rewrite();
    disk_ = std::move(d);
    if (staged) stagedFor_ = staging->FinalPath();
  } else {
    auto d = std::make_unique<HXO_DiskFile>(name, shared, readWrite);
    if (!d->Exists()) return nullptr;
    d->Open();
    disk_ = std::move(d);
  }
  return disk_.get();
}

void HXobjIndexFile::LockHeader() {
  if (writeFailed_) DiscardPages();
  if (!disk_ || !disk_->Shared()) return;
  int64_t offset = lockB_ - 1;
  int64_t length = 1;
  if (protocol_ == 1) {
    length = 2;
  } else if (protocol_ == 2) {
    offset = lockA_;
  }
  LockRegionWithRetry(*disk_, offset, length);
  // A rebuild by another handle holds the old file's whole-file lock until the new file is in
  // place: with the lock taken, the name tells which file is current.
  try {
    FollowReplacement(true);
  } catch (...) {
    UnlockHeader();
    throw;
  }
  // Another program may have grown the file since we last looked: new nodes go after its end.
  EndMayHaveMoved();
}

void HXobjIndexFile::UnlockHeader() {
  if (disk_) disk_->Unlock();
}

namespace {

// The header lock's region under `protocol` (see LockHeader).
void HeaderLockRegion(int protocol, int64_t lockA, int64_t lockB, int64_t& offset,
                      int64_t& length) {
  offset = lockB - 1;
  length = 1;
  if (protocol == 1) {
    length = 2;
  } else if (protocol == 2) {
    offset = lockA;
  }
}

bool SameFile(const std::string& path, int handle) {
  struct stat atName {};
  struct stat held {};
  if (::stat(path.c_str(), &atName) != 0 || ::fstat(handle, &held) != 0) return true;
  return atName.st_dev == held.st_dev && atName.st_ino == held.st_ino;
}

void SyncFolderOf(const std::string& path) {
  const size_t slash = path.rfind(kPathDelimiter);
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  int fd;
  do {
    fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd == -1 && errno == EINTR);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string StagedIndexPath(const std::string& path) {
  const size_t slash = path.rfind(kPathDelimiter);
  if (slash == std::string::npos) return "~$" + path;
  return path.substr(0, slash + 1) + "~$" + path.substr(slash + 1);
}

HXobjStagedCreate::HXobjStagedCreate(std::string finalPath, std::string stagedPath)
    : finalPath_(std::move(finalPath)), stagedPath_(std::move(stagedPath)),
      previous_(gStagedCreate) {
  gStagedCreate = this;
}

HXobjStagedCreate::~HXobjStagedCreate() { gStagedCreate = previous_; }

bool HXobjIndexFile::FollowReplacement(bool locked) {
  if (!disk_ || !disk_->Shared() || disk_->Closed() || Staged()) return false;
  if (SameFile(disk_->Name(), disk_->Handle())) return false;
  auto fresh = std::make_unique<HXO_DiskFile>(disk_->Name(), true, disk_->ReadWrite());
  if (!fresh->Exists()) return false;
  fresh->Open();
  if (locked) {
    int64_t offset = 0, length = 0;
    HeaderLockRegion(protocol_, lockA_, lockB_, offset, length);
    LockRegionWithRetry(*fresh, offset, length);
  }
  std::unique_ptr<HXO_DiskFile> old = std::move(disk_);
  disk_ = std::move(fresh);
  try {
    old->Unlock();
  } catch (...) {
  }
  old.reset();
  // To this handle the file has changed as if another program had rebuilt it in place: the
  // format's change counter (or header) tells so at the next search or update, which reads its
  // trees again from the new file. New blocks go after the new file's end.
  EndMayHaveMoved();
  return true;
}

void HXobjIndexFile::BeginStaged(int64_t keep) {
  if (!disk_ || Staged()) return;
  for (;;) {
    if (disk_->Shared())
      LockRegionWithRetry(*disk_, kWholeFileLockOffset, kWholeFileLockLength);
    else if (!disk_->LockFile())
      throw ESorrelError(smCannotLockFile, {disk_->Name()});
    // Another handle may have put a new file in place before the lock was taken: that one is
    // locked and copied instead.
    if (!FollowReplacement(false)) break;
  }
  const std::string path = disk_->Name();
  const std::string staged = StagedIndexPath(path);
  try {
    for (int i = 0; i < tags_.Count(); ++i) tags_.Items(i)->ReleasePages();
    if (writeFailed_) throw ESorrelError(smWriteError, {path});
    auto copy = std::make_unique<HXO_DiskFile>(staged, false, true);
    copy->Rewrite();
    const int64_t size = keep < 0 ? disk_->FileSize() : std::min(keep, disk_->FileSize());
    // The system copies the bytes itself when it can (one write operation to the fault seam);
    // else they pass through a buffer.
    int64_t at = 0;
    if (size > 0) {
      if (!DiskFaultPermits()) throw ESorrelError(smWriteError, {staged});
      loff_t from = 0, to = 0;
      while (at < size) {
        const ssize_t n = ::copy_file_range(disk_->Handle(), &from, copy->Handle(), &to,
                                            static_cast<size_t>(size - at), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          if (at == 0 && n < 0 && errno != ENOSPC && errno != EIO) break;  // not supported here
          throw ESorrelError(smWriteError, {staged});
        }
        at += n;
      }
    }
    std::vector<char> chunk(static_cast<size_t>(std::min<int64_t>(size - at, 4 << 20)));
    for (; at < size;) {
      const auto n = static_cast<int32_t>(std::min<int64_t>(size - at, static_cast<int64_t>(chunk.size())));
      if (disk_->Read(at, chunk.data(), n) != n) throw ESorrelError(smReadError, {path});
      copy->Write(at, chunk.data(), n);
      at += n;
    }
    heldOriginal_ = std::move(disk_);
    disk_ = std::move(copy);
    stagedFor_ = path;
  } catch (...) {
    if (!heldOriginal_) {
      // A copy the disk refused is removed all the same (a full disk still lets a file go).
      ::unlink(staged.c_str());
      try {
        disk_->Unlock();
      } catch (...) {
      }
    }
    throw;
  }
}

void HXobjIndexFile::CommitStaged() {
  if (!Staged()) return;
  for (int i = 0; i < tags_.Count(); ++i) tags_.Items(i)->ReleasePages();
  if (writeFailed_) throw ESorrelError(smWriteError, {stagedFor_});
  const std::string staged = disk_->Name();
  disk_->Flush();
  if (!disk_->Close()) throw ESorrelError(smCloseError, {staged});
  if (!DiskFaultPermits() || ::rename(staged.c_str(), stagedFor_.c_str()) != 0)
    throw ESorrelError(smRenameError, {staged});
  // The new file stands under the file's name from here on, whatever follows.
  const std::string path = stagedFor_;
  stagedFor_.clear();
  SyncFolderOf(path);
  const bool shared = heldOriginal_ ? heldOriginal_->Shared() : false;
  const bool readWrite = heldOriginal_ ? heldOriginal_->ReadWrite() : true;
  auto reopened = std::make_unique<HXO_DiskFile>(path, shared, readWrite);
  std::unique_ptr<HXO_DiskFile> old = std::move(heldOriginal_);
  disk_.reset();
  if (old) {
    try {
      old->Unlock();
    } catch (...) {
    }
    old.reset();
  }
  reopened->Open();
  disk_ = std::move(reopened);
}

void HXobjIndexFile::AbandonStaged() noexcept {
  if (!Staged()) return;
  try {
    const std::string staged = disk_ ? disk_->Name() : StagedIndexPath(stagedFor_);
    disk_.reset();
    ::unlink(staged.c_str());  // a full disk still lets a file go
  } catch (...) {
  }
  stagedFor_.clear();
  // The object is left without a file: what it holds in memory belongs to the copy, and a
  // page or header written from it into the old file would damage that file.
  if (heldOriginal_) {
    try {
      heldOriginal_->Unlock();
    } catch (...) {
    }
    heldOriginal_.reset();
  }
  end_ = -1;
}

HXobjIndexTag* HXobjIndexFile::TagByIndex(int index) const {
  return index >= 0 && index < tags_.Count() ? tags_.Items(index) : nullptr;
}

HXobjIndexTag* HXobjIndexFile::TagByName(std::string_view name) const {
  for (int i = 0; i < tags_.Count(); ++i)
    if (SysCompareText(tags_.Items(i)->TagName(), name) == 0) return tags_.Items(i);
  return nullptr;
}

bool HXobjIndexFile::HasName(std::string_view fileName) const {
  std::string_view n = fileName;
  const size_t slash = n.rfind(kPathDelimiter);
  if (slash != std::string_view::npos) n.remove_prefix(slash + 1);
  return SysCompareText(n, fileName_) == 0;
}

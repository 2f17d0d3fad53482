#include "index/hx6_sort.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <thread>

#include "base/byteorder.h"
#include "base/hx6_glbl.h"

// ---- ThxPageCollection ------------------------------------------------------------------------

void ThxPageCollection::AddEntry(uint8_t keyClass, const uint8_t* bytes, int length) {
  int shared = 0;
  const int limit = previousLength_ < length ? previousLength_ : length;
  while (shared < limit && previous_[shared] == bytes[shared]) ++shared;
  const int stored = length - shared;
  // Room for the 3 leading bytes, the stored bytes and the end mark.
  if (pages_.empty() || writePos_ + 3 + stored + 1 > kPageBytes) {
    pages_.push_back(std::make_unique<uint8_t[]>(kPageBytes));  // zero-filled: end marks in place
    writePos_ = 0;
  }
  uint8_t* page = pages_.back().get();
  page[writePos_++] = keyClass;
  page[writePos_++] = static_cast<uint8_t>(length);
  page[writePos_++] = static_cast<uint8_t>(stored);
  std::memcpy(page + writePos_, bytes + shared, static_cast<size_t>(stored));
  writePos_ += stored;
  std::memcpy(previous_ + shared, bytes + shared, static_cast<size_t>(stored));
  previousLength_ = length;
  ++entryCount_;
}

void ThxPageCollection::Close() {
  if (!pages_.empty() && writePos_ < kPageBytes) pages_.back()[writePos_] = 0;
  previousLength_ = 0;
  readPage_ = 0;
  readPos_ = 0;
  atEnd_ = false;
  current_.Clear();
  NextEntry();
}

bool ThxPageCollection::NextEntry() {
  if (atEnd_) return false;
  while (readPage_ < pages_.size() &&
         (readPos_ + 3 > kPageBytes || pages_[readPage_][readPos_] == 0)) {
    ++readPage_;
    readPos_ = 0;
  }
  if (readPage_ >= pages_.size()) {
    atEnd_ = true;
    current_.Clear();
    return false;
  }
  const uint8_t* entry = pages_[readPage_].get() + readPos_;
  currentClass_ = entry[0];
  const int total = entry[1];
  const int stored = entry[2];
  const int shared = total - stored;
  current_.SetCapacity(total);  // keeps the shared leading bytes of the previous entry
  std::memcpy(current_.Data() + shared, entry + 3, static_cast<size_t>(stored));
  current_.SetType(vtBinary);
  readPos_ += 3 + stored;
  return true;
}

// ---- ThxSort ----------------------------------------------------------------------------------

namespace {

// The first 8 bytes of a key, big-endian, zero-padded: when two heads differ they order the keys
// as a byte-wise comparison would (a key that ends early has zeros where the other has more).
uint64_t KeyHead(const uint8_t* bytes, int length) {
  uint8_t head[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  std::memcpy(head, bytes, static_cast<size_t>(length < 8 ? length : 8));
  return DecodeBE64(head);
}

}  // namespace

ThxSort::ThxSort(int maxKeyLength, const uint8_t* collation, bool ascending, bool unique)
    : maxKeyLength_(maxKeyLength),
      collation_(collation),
      ascending_(ascending),
      unique_(unique),
      lastKey_(static_cast<uint16_t>(kMaxKeyLength + 4)) {
  if (maxKeyLength < 1 || maxKeyLength > kMaxKeyLength)
    throw ESorrelError(smSortKeyLength, {kMaxKeyLength, maxKeyLength});
}

ThxSort::~ThxSort() = default;

int ThxSort::CompareKeys(uint8_t classA, const uint8_t* a, int lengthA, uint32_t recordA,
                         uint8_t classB, const uint8_t* b, int lengthB, uint32_t recordB,
                         int from) const {
  const int n = lengthA < lengthB ? lengthA : lengthB;
  const bool weighted = collation_ != nullptr && classA == kClassText && classB == kClassText;
  if (!weighted) {
    // Plain bytes: one library compare over the rest of the shorter key.
    const int c = n > from ? std::memcmp(a + from, b + from, static_cast<size_t>(n - from)) : 0;
    if (c != 0) return c < 0 ? -1 : 1;
    if (lengthA != lengthB) return lengthA < lengthB ? -1 : 1;
    if (recordA != recordB) return recordA < recordB ? -1 : 1;
    return 0;
  }
  for (int i = from; i < n; ++i) {
    const uint8_t p = a[i];
    const uint8_t q = b[i];
    if (p == q) continue;
    if (weighted && collation_[p] != collation_[q]) return collation_[p] < collation_[q] ? -1 : 1;
    return p < q ? -1 : 1;
  }
  if (lengthA != lengthB) return lengthA < lengthB ? -1 : 1;
  if (recordA != recordB) return recordA < recordB ? -1 : 1;
  return 0;
}

int ThxSort::ComparePending(const Pending& a, const uint8_t* bytesA, const Pending& b,
                            const uint8_t* bytesB) const {
  int from = 0;
  if (collation_ == nullptr || a.keyClass != kClassText) {
    if (a.head != b.head) return a.head < b.head ? -1 : 1;
    // Equal heads: the first min(8, shorter length) bytes agree.
    from = a.keyLength < b.keyLength ? a.keyLength : b.keyLength;
    if (from > 8) from = 8;
  }
  return CompareKeys(a.keyClass, bytesA + a.offset, a.keyLength, a.record, b.keyClass,
                     bytesB + b.offset, b.keyLength, b.record, from);
}

void ThxSort::SortPending(std::vector<Pending>& pending, const uint8_t* bytes) const {
  if (ascending_) {
    std::sort(pending.begin(), pending.end(), [this, bytes](const Pending& a, const Pending& b) {
      return ComparePending(a, bytes, b, bytes) < 0;
    });
  } else {
    std::sort(pending.begin(), pending.end(), [this, bytes](const Pending& a, const Pending& b) {
      return ComparePending(a, bytes, b, bytes) > 0;
    });
  }
}

void ThxSort::EncodeKey(const ThxVariant& key, uint8_t* out, int& keyLength,
                        uint8_t& keyClass) const {
  switch (key.Type()) {
    case vtText: keyClass = kClassText; break;
    case vtFloat: keyClass = kClassFloat; break;
    case vtDate: keyClass = kClassDate; break;
    case vtBinary: keyClass = kClassBinary; break;
    default: throw ESorrelError(smVariantCannotSort);
  }
  if (key.Length() > maxKeyLength_)
    throw ESorrelError(smSortKeyLength, {maxKeyLength_, key.Length()});

  keyLength = 0;
  switch (keyClass) {
    case kClassText:
      keyLength = key.Length();
      while (keyLength > 0 && key.Data()[keyLength - 1] == ' ') --keyLength;
      if (keyLength > 0) std::memcpy(out, key.Data(), static_cast<size_t>(keyLength));
      break;
    case kClassFloat: {
      // All 8 bytes are kept: dropping trailing zero bytes would make 14000 a prefix of
      // 14000.0001 and -12 a prefix of -12.3456, and let a shorter key's bytes meet a longer
      // key's in the wrong order.
      uint64_t bits;
      double value = key.GetFloat();
      if (value == 0) value = 0;  // -0 and 0 are one key
      std::memcpy(&bits, &value, 8);
      bits = (bits >> 63) == 0 ? bits | (uint64_t{1} << 63) : ~bits;
      EncodeBE64(out, bits);
      keyLength = 8;
      break;
    }
    case kClassDate:
      EncodeBE32(out, static_cast<uint32_t>(key.GetDate()));
      keyLength = 4;
      break;
    default:
      keyLength = key.Length();
      if (keyLength > 0) std::memcpy(out, key.Data(), static_cast<size_t>(keyLength));
      break;
  }
}

void ThxSort::InsertKey(const ThxVariant& key, int32_t recordNumber) {
  if (!accepting_) throw ESorrelError(smSortKeysAfterRetrieval);
  uint8_t out[kMaxKeyLength + 8];
  int keyLength = 0;
  uint8_t keyClass = 0;
  EncodeKey(key, out, keyLength, keyClass);
  if (pending_.size() >= runEntries_ ||
      keyBytes_.size() + static_cast<size_t>(keyLength) > kRunKeyBytes)
    FlushRun();
  const Pending pair{KeyHead(out, keyLength), static_cast<uint32_t>(keyBytes_.size()),
                     static_cast<uint32_t>(recordNumber), static_cast<uint8_t>(keyLength),
                     keyClass};
  keyBytes_.insert(keyBytes_.end(), out, out + keyLength);
  pending_.push_back(pair);
  ++keyCount_;
}

void ThxSort::FlushRun() {
  if (pending_.empty()) return;
  SortPending(pending_, keyBytes_.data());
  auto run = std::make_unique<ThxPageCollection>();
  uint8_t entry[kMaxKeyLength + 8];
  for (const Pending& pair : pending_) {
    // Keys may be empty (a blank text key): then there is nothing to copy, and no byte store.
    if (pair.keyLength > 0) std::memcpy(entry, keyBytes_.data() + pair.offset, pair.keyLength);
    EncodeBE32(entry + pair.keyLength, pair.record);
    run->AddEntry(pair.keyClass, entry, pair.keyLength + 4);
  }
  run->Close();
  runs_.push_back(std::move(run));
  pending_.clear();
  keyBytes_.clear();
}

void ThxSort::BeginRetrieval() {
  if (!accepting_) return;
  if (!batches_.empty() && runs_.empty()) {
    // Only batches (and perhaps a few pairs inserted here): the pairs gathered here become one
    // batch more, and retrieval merges the batches' sorted pairs as they are.
    if (!pending_.empty()) {
      auto own = NewBatch();
      own->pending_.swap(pending_);
      own->keyBytes_.swap(keyBytes_);
      own->sorted_ = false;
      own->Sort();
      batches_.push_back(std::move(own));  // its pairs are counted already
    }
    std::vector<Pending>().swap(pending_);
    std::vector<uint8_t>().swap(keyBytes_);
    accepting_ = false;
    mergingBatches_ = true;
    MergeBatches();
    heap_.clear();
    for (int i = 0; i < static_cast<int>(batches_.size()); ++i)
      if (!batches_[static_cast<size_t>(i)]->pending_.empty()) heap_.push_back(i);
    std::make_heap(heap_.begin(), heap_.end(), [this](int i, int j) { return BatchBefore(j, i); });
    return;
  }
  FlushRun();
  BatchesToRuns();
  std::vector<Pending>().swap(pending_);
  std::vector<uint8_t>().swap(keyBytes_);
  accepting_ = false;
  heap_.clear();
  for (int i = 0; i < static_cast<int>(runs_.size()); ++i)
    if (!runs_[static_cast<size_t>(i)]->AtEnd()) heap_.push_back(i);
  std::make_heap(heap_.begin(), heap_.end(), [this](int i, int j) { return RunBefore(j, i); });
}

bool ThxSort::RunBefore(int i, int j) const {
  const ThxPageCollection& a = *runs_[static_cast<size_t>(i)];
  const ThxPageCollection& b = *runs_[static_cast<size_t>(j)];
  const ThxVariant& x = a.Entry();
  const ThxVariant& y = b.Entry();
  const int keyA = x.Length() - 4;
  const int keyB = y.Length() - 4;
  const int c = CompareKeys(a.EntryClass(), x.Data(), keyA, DecodeBE32(x.Data() + keyA),
                            b.EntryClass(), y.Data(), keyB, DecodeBE32(y.Data() + keyB), 0);
  if (c == 0) return i < j;  // on a tie the earlier run comes first
  return ascending_ ? c < 0 : c > 0;
}

void ThxSort::DecodeKey(uint8_t keyClass, const uint8_t* bytes, int length, ThxVariant& key) const {
  switch (keyClass) {
    case kClassFloat: {
      uint8_t raw[8] = {0, 0, 0, 0, 0, 0, 0, 0};
      const int n = length < 8 ? length : 8;
      std::memcpy(raw, bytes, static_cast<size_t>(n));
      if (n > 0 && raw[0] < 0x80) {
        for (int i = 0; i < 8; ++i) raw[i] = static_cast<uint8_t>(~raw[i]);
      } else {
        raw[0] &= 0x7F;
      }
      const uint64_t bits = DecodeBE64(raw);
      double value;
      std::memcpy(&value, &bits, 8);
      key.PutFloat(value);
      break;
    }
    case kClassDate:
      key.PutDate(length >= 4 ? static_cast<int32_t>(DecodeBE32(bytes)) : 0);
      break;
    case kClassText:
      key.PutString(
          std::string_view(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length)));
      break;
    default:
      key.PutBinary(bytes, length);
      break;
  }
}

bool ThxSort::GetNextKey(ThxVariant& key, int32_t& recordNumber) {
  if (accepting_) BeginRetrieval();
  if (mergingBatches_) return NextFromBatches(key, recordNumber);
  const auto after = [this](int i, int j) { return RunBefore(j, i); };
  while (!heap_.empty()) {
    std::pop_heap(heap_.begin(), heap_.end(), after);
    const int index = heap_.back();
    ThxPageCollection& run = *runs_[static_cast<size_t>(index)];
    const ThxVariant& entry = run.Entry();
    const int keyLength = entry.Length() - 4;
    const uint8_t* bytes = entry.Data();
    const bool skip = unique_ && haveLastKey_ && lastKey_.Length() == keyLength &&
                      (keyLength == 0 ||
                       std::memcmp(lastKey_.Data(), bytes, static_cast<size_t>(keyLength)) == 0);
    if (!skip) {
      recordNumber = static_cast<int32_t>(DecodeBE32(bytes + keyLength));
      DecodeKey(run.EntryClass(), bytes, keyLength, key);
      if (unique_) {
        lastKey_.PutBinary(bytes, keyLength);
        haveLastKey_ = true;
      }
    }
    if (run.NextEntry()) {
      std::push_heap(heap_.begin(), heap_.end(), after);
    } else {
      heap_.pop_back();
    }
    if (!skip) return true;
  }
  return false;
}

// ---- Batches ----------------------------------------------------------------------------------

void ThxSort::Batch::Insert(const ThxVariant& key, int32_t recordNumber) {
  uint8_t out[kMaxKeyLength + 8];
  int keyLength = 0;
  uint8_t keyClass = 0;
  owner_->EncodeKey(key, out, keyLength, keyClass);
  const Pending pair{KeyHead(out, keyLength), static_cast<uint32_t>(keyBytes_.size()),
                     static_cast<uint32_t>(recordNumber), static_cast<uint8_t>(keyLength),
                     keyClass};
  keyBytes_.insert(keyBytes_.end(), out, out + keyLength);
  pending_.push_back(pair);
  sorted_ = false;
}

void ThxSort::Batch::Sort() {
  if (sorted_) return;
  owner_->SortPending(pending_, keyBytes_.data());
  sorted_ = true;
}

std::unique_ptr<ThxSort::Batch> ThxSort::NewBatch() const { return std::make_unique<Batch>(*this); }

bool ThxSort::CanAdopt(const std::vector<std::unique_ptr<Batch>>& batches) const {
  for (const auto& b : batches)
    if (b && (b->maxKeyLength_ != maxKeyLength_ || b->collation_ != collation_ ||
              b->ascending_ != ascending_ || b->unique_ != unique_))
      return false;
  return true;
}

void ThxSort::AdoptBatch(std::unique_ptr<Batch> batch) {
  if (!accepting_) throw ESorrelError(smSortKeysAfterRetrieval);
  if (!batch || batch->pending_.empty()) return;
  batch->owner_ = this;
  batch->Sort();
  batch->next_ = 0;
  keyCount_ += static_cast<int64_t>(batch->pending_.size());
  batches_.push_back(std::move(batch));
}

void ThxSort::BatchesToRuns() {
  uint8_t entry[kMaxKeyLength + 8];
  for (auto& batch : batches_) {
    auto run = std::make_unique<ThxPageCollection>();
    for (const Pending& pair : batch->pending_) {
      if (pair.keyLength > 0)
        std::memcpy(entry, batch->keyBytes_.data() + pair.offset, pair.keyLength);
      EncodeBE32(entry + pair.keyLength, pair.record);
      run->AddEntry(pair.keyClass, entry, pair.keyLength + 4);
    }
    run->Close();
    runs_.push_back(std::move(run));
  }
  batches_.clear();
}

bool ThxSort::BatchBefore(int i, int j) const {
  const Batch& a = *batches_[static_cast<size_t>(i)];
  const Batch& b = *batches_[static_cast<size_t>(j)];
  const int c = ComparePending(a.pending_[a.next_], a.keyBytes_.data(), b.pending_[b.next_],
                               b.keyBytes_.data());
  if (c == 0) return i < j;
  return ascending_ ? c < 0 : c > 0;
}

bool ThxSort::NextFromBatches(ThxVariant& key, int32_t& recordNumber) {
  const auto after = [this](int i, int j) { return BatchBefore(j, i); };
  while (!heap_.empty()) {
    int index = heap_.front();
    if (heap_.size() > 1) {
      std::pop_heap(heap_.begin(), heap_.end(), after);
      index = heap_.back();
    }
    Batch& batch = *batches_[static_cast<size_t>(index)];
    const Pending& pair = batch.pending_[batch.next_];
    const uint8_t* bytes = batch.keyBytes_.data() + pair.offset;
    const int keyLength = pair.keyLength;
    const bool skip = unique_ && haveLastKey_ && lastKey_.Length() == keyLength &&
                      (keyLength == 0 ||
                       std::memcmp(lastKey_.Data(), bytes, static_cast<size_t>(keyLength)) == 0);
    if (!skip) {
      recordNumber = static_cast<int32_t>(pair.record);
      DecodeKey(pair.keyClass, bytes, keyLength, key);
      if (unique_) {
        lastKey_.PutBinary(bytes, keyLength);
        haveLastKey_ = true;
      }
    }
    if (++batch.next_ < batch.pending_.size()) {
      if (heap_.size() > 1) std::push_heap(heap_.begin(), heap_.end(), after);
    } else {
      // Its pairs are all delivered: the batch's memory goes now.
      if (heap_.size() > 1)
        heap_.pop_back();
      else
        heap_.clear();
      std::vector<Pending>().swap(batch.pending_);
      std::vector<uint8_t>().swap(batch.keyBytes_);
    }
    if (!skip) return true;
  }
  return false;
}

void ThxSort::MergeBatches() {
  constexpr size_t kMostMergeThreads = 8;
  const size_t n = batches_.size();
  size_t total = 0;
  for (const auto& b : batches_) total += b->pending_.size();
  if (n < 2 || total < parallelMergePairs_) return;

  // The order of the whole merge: pairs by key and record, equal pairs by batch.
  auto before = [this](const Batch& a, size_t i, const Pending& x, const Batch& b, size_t j,
                       const Pending& y) {
    const int c = ComparePending(x, a.keyBytes_.data(), y, b.keyBytes_.data());
    if (c != 0) return ascending_ ? c < 0 : c > 0;
    return i < j;
  };
  // Splitters taken from the largest batch cut every batch into ranges that follow one another
  // in the merged order; each range of the output is merged on its own thread.
  size_t largest = 0;
  for (size_t i = 1; i < n; ++i)
    if (batches_[i]->pending_.size() > batches_[largest]->pending_.size()) largest = i;
  const size_t segments = std::min(kMostMergeThreads, n);
  const Batch& big = *batches_[largest];
  // cut[k][i]: where segment k begins in batch i.
  std::vector<std::vector<size_t>> cut(segments + 1, std::vector<size_t>(n, 0));
  for (size_t i = 0; i < n; ++i) cut[segments][i] = batches_[i]->pending_.size();
  for (size_t k = 1; k < segments; ++k) {
    const Pending& split = big.pending_[big.pending_.size() * k / segments];
    for (size_t i = 0; i < n; ++i) {
      const Batch& b = *batches_[i];
      size_t lo = cut[k - 1][i], hi = b.pending_.size();
      while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (before(b, i, b.pending_[mid], big, largest, split))
          lo = mid + 1;
        else
          hi = mid;
      }
      cut[k][i] = lo;
    }
  }
  auto merged = NewBatch();
  std::vector<size_t> base(n, 0);  // where each batch's key bytes go in the merged batch
  size_t bytes = 0;
  for (size_t i = 0; i < n; ++i) {
    base[i] = bytes;
    bytes += batches_[i]->keyBytes_.size();
  }
  merged->keyBytes_.resize(bytes);
  merged->pending_.resize(total);
  for (size_t i = 0; i < n; ++i)
    if (!batches_[i]->keyBytes_.empty())
      std::memcpy(merged->keyBytes_.data() + base[i], batches_[i]->keyBytes_.data(),
                  batches_[i]->keyBytes_.size());
  auto mergeSegment = [&](size_t k) {
    size_t out = 0;
    for (size_t i = 0; i < n; ++i) out += cut[k][i];
    std::vector<size_t> at(cut[k]);
    std::vector<size_t> heap;
    for (size_t i = 0; i < n; ++i)
      if (at[i] < cut[k + 1][i]) heap.push_back(i);
    auto after = [&](size_t i, size_t j) {
      return before(*batches_[j], j, batches_[j]->pending_[at[j]], *batches_[i], i,
                    batches_[i]->pending_[at[i]]);
    };
    std::make_heap(heap.begin(), heap.end(), after);
    while (!heap.empty()) {
      std::pop_heap(heap.begin(), heap.end(), after);
      const size_t i = heap.back();
      Pending pair = batches_[i]->pending_[at[i]];
      pair.offset += static_cast<uint32_t>(base[i]);
      merged->pending_[out++] = pair;
      if (++at[i] < cut[k + 1][i])
        std::push_heap(heap.begin(), heap.end(), after);
      else
        heap.pop_back();
    }
  };
  {
    std::vector<std::thread> pool;
    size_t started = 1;
    try {
      for (; started < segments; ++started) pool.emplace_back(mergeSegment, started);
    } catch (const std::system_error&) {
      // No more threads to be had: the calling thread merges the rest.
    }
    for (size_t k = started; k < segments; ++k) mergeSegment(k);
    mergeSegment(0);
    for (std::thread& t : pool) t.join();
  }
  merged->sorted_ = true;
  batches_.clear();
  batches_.push_back(std::move(merged));
}

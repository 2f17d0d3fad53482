#include "index/hx6_sort.h"

#include <algorithm>
#include <cstring>

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

int ThxSort::ComparePending(const Pending& a, const Pending& b) const {
  int from = 0;
  if (collation_ == nullptr || a.keyClass != kClassText) {
    if (a.head != b.head) return a.head < b.head ? -1 : 1;
    // Equal heads: the first min(8, shorter length) bytes agree.
    from = a.keyLength < b.keyLength ? a.keyLength : b.keyLength;
    if (from > 8) from = 8;
  }
  return CompareKeys(a.keyClass, keyBytes_.data() + a.offset, a.keyLength, a.record, b.keyClass,
                     keyBytes_.data() + b.offset, b.keyLength, b.record, from);
}

void ThxSort::InsertKey(const ThxVariant& key, int32_t recordNumber) {
  if (!accepting_) throw ESorrelError(smSortKeysAfterRetrieval);
  uint8_t keyClass;
  switch (key.Type()) {
    case vtText: keyClass = kClassText; break;
    case vtFloat: keyClass = kClassFloat; break;
    case vtDate: keyClass = kClassDate; break;
    case vtBinary: keyClass = kClassBinary; break;
    default: throw ESorrelError(smVariantCannotSort);
  }
  if (key.Length() > maxKeyLength_)
    throw ESorrelError(smSortKeyLength, {maxKeyLength_, key.Length()});

  uint8_t out[kMaxKeyLength + 8];
  int keyLength = 0;
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
  if (ascending_) {
    std::sort(pending_.begin(), pending_.end(),
              [this](const Pending& a, const Pending& b) { return ComparePending(a, b) < 0; });
  } else {
    std::sort(pending_.begin(), pending_.end(),
              [this](const Pending& a, const Pending& b) { return ComparePending(a, b) > 0; });
  }
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
  FlushRun();
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

#include "hx6_sort.h"

#include <cstring>

#include "byteorder.h"
#include "hx6_glbl.h"

// ---- ThxPageCollection ------------------------------------------------------------------------

void ThxPageCollection::AddEntry(uint8_t keyClass, const uint8_t* bytes, int length) {
  size_t shared = 0;
  const size_t limit = previous_.size() < static_cast<size_t>(length) ? previous_.size()
                                                                      : static_cast<size_t>(length);
  while (shared < limit && previous_[shared] == bytes[shared]) ++shared;
  const int stored = length - static_cast<int>(shared);
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
  previous_.assign(bytes, bytes + length);
  ++entryCount_;
}

void ThxPageCollection::Close() {
  if (!pages_.empty() && writePos_ < kPageBytes) pages_.back()[writePos_] = 0;
  previous_.clear();
  previous_.shrink_to_fit();
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

ThxSort::ThxSort(int maxKeyLength, const uint8_t* collation, bool ascending, bool unique)
    : maxKeyLength_(maxKeyLength),
      collation_(collation),
      ascending_(ascending),
      unique_(unique),
      work_(static_cast<uint16_t>(kMaxKeyLength + 4)),
      lastKey_(static_cast<uint16_t>(kMaxKeyLength + 4)) {
  if (maxKeyLength < 1 || maxKeyLength > kMaxKeyLength)
    throw ESorrelError(smSortKeyLength, {kMaxKeyLength, maxKeyLength});
  blocks_.push_back(std::make_unique<Node[]>(kNodesPerBlock));
}

ThxSort::~ThxSort() = default;

uint32_t ThxSort::NewNode(uint8_t byte) {
  if (usedNodes_ >= static_cast<int>(blocks_.size()) * kNodesPerBlock)
    blocks_.push_back(std::make_unique<Node[]>(kNodesPerBlock));
  const uint32_t ref = static_cast<uint32_t>(++usedNodes_);
  At(ref) = Node{0, 0, 0, byte};
  return ref;
}

// Gives each byte held in place its own node, so that the node can take siblings and children.
void ThxSort::Split(uint32_t ref) {
  const int count = At(ref).flags & kInPlaceMask;
  const uint8_t keyClass = At(ref).flags & static_cast<uint8_t>(~kInPlaceMask);
  const uint32_t packed = At(ref).next;
  At(ref).flags = 0;
  At(ref).next = 0;
  uint32_t current = ref;
  for (int i = 0; i < count; ++i) {
    const uint32_t child = NewNode(static_cast<uint8_t>(packed >> (8 * i)));
    At(current).child = child;
    current = child;
  }
  At(current).flags = keyClass;
}

// Whether byte a belongs before byte b in a sibling list.
bool ThxSort::Before(uint8_t a, uint8_t b, bool weighted) const {
  int x = a, y = b;
  if (weighted && collation_[a] != collation_[b]) {
    x = collation_[a];
    y = collation_[b];
  }
  return ascending_ ? x < y : x > y;
}

void ThxSort::AddString(const uint8_t* s, int length, int keyLength, uint8_t keyClass) {
  uint32_t* link = &root_;
  int pos = 0;
  for (;;) {
    const uint8_t c = s[pos];
    const bool weighted = collation_ != nullptr && keyClass == kClassText && pos < keyLength;
    uint32_t n = *link;
    while (n != 0) {
      Node& node = At(n);
      if (node.flags & kInPlaceMask) Split(n);
      if (node.byte == c || Before(c, node.byte, weighted)) break;
      link = &node.next;
      n = node.next;
    }
    if (n != 0 && At(n).byte == c) {
      if (pos == length - 1) {
        At(n).flags = keyClass;
        ++keyCount_;
        return;
      }
      link = &At(n).child;
      ++pos;
      continue;
    }
    // A new node in the list, then a leaf chain for the rest of the string.
    const uint32_t first = NewNode(c);
    At(first).next = n;
    *link = first;
    uint32_t current = first;
    int p = pos + 1;
    while (p < length) {
      const int rest = length - p;
      if (rest <= 3 && At(current).next == 0) {
        uint32_t packed = 0;
        for (int i = 0; i < rest; ++i) packed |= static_cast<uint32_t>(s[p + i]) << (8 * i);
        At(current).next = packed;
        At(current).flags = static_cast<uint8_t>(rest);
        break;
      }
      const uint32_t child = NewNode(s[p]);
      At(current).child = child;
      current = child;
      ++p;
    }
    At(current).flags |= keyClass;
    ++keyCount_;
    return;
  }
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

  int keyLength = 0;
  uint8_t* out = work_.Data();
  switch (keyClass) {
    case kClassText:
      keyLength = key.Length();
      while (keyLength > 0 && key.Data()[keyLength - 1] == ' ') --keyLength;
      if (keyLength > 0) std::memcpy(out, key.Data(), static_cast<size_t>(keyLength));
      break;
    case kClassFloat: {
      // All 8 bytes are kept: dropping trailing zero bytes would let the record number that
      // follows decide between values that differ only in their last bytes.
      uint64_t bits;
      const double value = key.GetFloat();
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
  EncodeBE32(out + keyLength, static_cast<uint32_t>(recordNumber));
  const int length = keyLength + 4;

  // Worst case: one node per byte plus up to three per level for splitting in-place nodes.
  if (usedNodes_ + 4 * length > kMaxNodes) FlushRun();
  AddString(out, length, keyLength, keyClass);
}

void ThxSort::Walk(uint32_t first, int depth, ThxPageCollection& run) {
  for (uint32_t n = first; n != 0;) {
    const Node& node = At(n);
    path_[depth] = node.byte;
    const int inPlace = node.flags & kInPlaceMask;
    const uint8_t keyClass = node.flags & static_cast<uint8_t>(~kInPlaceMask);
    if (inPlace > 0) {
      for (int i = 0; i < inPlace; ++i) path_[depth + 1 + i] = static_cast<uint8_t>(node.next >> (8 * i));
      run.AddEntry(keyClass, path_, depth + 1 + inPlace);
      break;  // a node holding bytes in place has no siblings
    }
    // A string that ends here is a prefix of those below: first when ascending, last otherwise.
    if (keyClass != 0 && ascending_) run.AddEntry(keyClass, path_, depth + 1);
    if (node.child != 0) Walk(node.child, depth + 1, run);
    if (keyClass != 0 && !ascending_) run.AddEntry(keyClass, path_, depth + 1);
    n = node.next;
  }
}

void ThxSort::FlushRun() {
  if (root_ == 0) return;
  auto run = std::make_unique<ThxPageCollection>();
  Walk(root_, 0, *run);
  run->Close();
  runs_.push_back(std::move(run));
  root_ = 0;
  usedNodes_ = 0;
}

void ThxSort::BeginRetrieval() {
  if (!accepting_) return;
  FlushRun();
  blocks_.clear();
  blocks_.shrink_to_fit();
  accepting_ = false;
}

// The order of two run entries: their bytes, text bytes weighed by the collation table when
// there is one, a proper prefix first.
int ThxSort::CompareEntries(const ThxPageCollection& a, const ThxPageCollection& b) const {
  int position;
  if (collation_ == nullptr) return a.Entry().CompareRaw(&b.Entry(), position, nullptr, -1);
  const ThxVariant& x = a.Entry();
  const ThxVariant& y = b.Entry();
  const int n = x.Length() < y.Length() ? x.Length() : y.Length();
  const bool text = a.EntryClass() == kClassText && b.EntryClass() == kClassText;
  const int keyLength = n - 4;
  for (int i = 0; i < n; ++i) {
    const uint8_t p = x.Data()[i];
    const uint8_t q = y.Data()[i];
    if (p == q) continue;
    if (text && i < keyLength && collation_[p] != collation_[q])
      return collation_[p] < collation_[q] ? -1 : 1;
    return p < q ? -1 : 1;
  }
  return x.Length() == y.Length() ? 0 : (x.Length() < y.Length() ? -1 : 1);
}

void ThxSort::DecodeKey(uint8_t keyClass, const uint8_t* bytes, int length, ThxVariant& key) const {
  switch (keyClass) {
    case kClassFloat: {
      uint8_t raw[8] = {0, 0, 0, 0, 0, 0, 0, 0};
      const int n = length < 8 ? length : 8;
      std::memcpy(raw, bytes, static_cast<size_t>(n));
      if (n > 0 && raw[0] < 0x80) {
        for (int i = 0; i < n; ++i) raw[i] = static_cast<uint8_t>(~raw[i]);
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
      key.PutString(std::string_view(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length)));
      break;
    default:
      key.PutBinary(bytes, length);
      break;
  }
}

bool ThxSort::GetNextKey(ThxVariant& key, int32_t& recordNumber) {
  if (accepting_) BeginRetrieval();
  for (;;) {
    ThxPageCollection* best = nullptr;
    for (const auto& run : runs_) {
      if (run->AtEnd()) continue;
      if (best == nullptr) {
        best = run.get();
        continue;
      }
      const int c = CompareEntries(*run, *best);
      if (ascending_ ? c < 0 : c > 0) best = run.get();  // on a tie the earlier run stays
    }
    if (best == nullptr) return false;

    const ThxVariant& entry = best->Entry();
    const int keyLength = entry.Length() - 4;
    const uint8_t* bytes = entry.Data();
    if (unique_ && haveLastKey_ && lastKey_.Length() == keyLength &&
        (keyLength == 0 || std::memcmp(lastKey_.Data(), bytes, static_cast<size_t>(keyLength)) == 0)) {
      best->NextEntry();
      continue;
    }
    recordNumber = static_cast<int32_t>(DecodeBE32(bytes + keyLength));
    DecodeKey(best->EntryClass(), bytes, keyLength, key);
    if (unique_) {
      lastKey_.PutBinary(bytes, keyLength);
      haveLastKey_ = true;
    }
    best->NextEntry();
    return true;
  }
}

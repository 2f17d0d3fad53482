#include "index/hx6_ntx.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/SysSorl.h"
#include "base/byteorder.h"
#include "base/hx6_date.h"
#include "base/hx6_glbl.h"

namespace {

bool IsSentinel(const HXobjIndexKeyData& key) {
  return key.Length() == 1 && static_cast<char>(key.Data()[0]) == ntx::kSentinel;
}

// Whether a text is a number key as stored (digits, their complements and the point).
bool LooksEncoded(std::string_view s, int width) {
  if (static_cast<int>(s.size()) != width) return false;
  return std::all_of(s.begin(), s.end(), [](char c) { return (c >= '#' && c <= '.') || (c >= '0' && c <= '9'); });
}

}  // namespace

namespace ntx {

std::optional<std::string> EncodeNumber(double value, int width, int decimals) {
  if (!std::isfinite(value) || width < 1) return std::nullopt;
  const std::string digits = SysFloatToFixed(std::fabs(value), decimals);
  if (static_cast<int>(digits.size()) > width) return std::nullopt;
  std::string out(static_cast<size_t>(width) - digits.size(), '0');
  out += digits;
  if (value < 0)
    for (char& c : out)
      if (c >= '0' && c <= '9') c = static_cast<char>(92 - c);
  return out;
}

std::string EncodeDate(int32_t day) {
  if (day < 1) return "00000000";
  std::string s = DBFDate().DTOS(day);
  // A date without an eight-digit form stands with the empty date.
  if (s.size() != 8 || s.find(' ') != std::string::npos) return "00000000";
  return s;
}

}  // namespace ntx

// ---------------------------------------------------------------------------------------------
// HXobjNTXTag

HXobjNTXTag::HXobjNTXTag(HXobjNTXFile* file, int32_t headerPosition, std::string_view tagName)
    : HXobjIndexTag(file, headerPosition, tagName), ntxFile_(file) {
  formatName_ = "NTX";
  if (headerPosition_ == -1) {
    headerPosition_ = file->AllocateBlock();
    headerChanged_ = true;
  } else if (!ReadHeader()) {
    valid_ = false;
    file->SetHeaderError(true);
  }
}

HXobjNTXTag::~HXobjNTXTag() {
  // The base destructor no longer reaches this class's page and header writers.
  try {
    ReleasePages();
  } catch (...) {
  }
}

void HXobjNTXTag::Corrupted() const {
  const HXO_DiskFile* disk = file_->DiskFile();
  throw ESorrelError(smIndexCorrupted, {disk ? disk->Name() : file_->FileName()});
}

void HXobjNTXTag::TranslateKey(HXobjIndexKeyData& key, bool trim) {
  const bool text = key.Type() == vtText || key.Type() == vtBinary;
  std::string s;
  if (keyType_ == 'N') {
    const std::string given = text ? std::string(key.Bytes()) : std::string();
    double value = 0.0;
    if (text && LooksEncoded(given, keyLength_)) {
      s = given;  // already in the stored form
    } else {
      value = NumberOf(key);
      std::optional<std::string> stored = ntx::EncodeNumber(value, keyLength_, decimals_);
      // A number wider than the key is no stored key (AddKey and builds refuse it): a search for
      // one goes past every key on its side.
      s = stored ? *stored : std::string(static_cast<size_t>(keyLength_), value < 0 ? '"' : ':');
    }
  } else if (keyType_ == 'D') {
    int32_t day = 0;
    try {
      day = key.Type() == vtFloat ? static_cast<int32_t>(key.GetFloat()) : key.GetDate();
    } catch (const EConvertError&) {
      day = 0;
    }
    s = ntx::EncodeDate(day);
  } else {
    s = text ? std::string(key.Bytes()) : key.GetString();
    if (trim) s = TrimKeyBlanks(std::move(s));
    if (file_->CaseFold()) s = SysUpperCase(s);
    // A page holds no more than the key length: the key in memory is the key as it reads back.
    if (keyLength_ > 0 && static_cast<int>(s.size()) > keyLength_) {
      s.resize(static_cast<size_t>(keyLength_));
      if (trim) s = TrimKeyBlanks(std::move(s));
    }
  }
  key.PutString(s);
}

double HXobjNTXTag::NumberOf(const ThxVariant& key) {
  try {
    return key.GetFloat();
  } catch (const EConvertError&) {
    return 0.0;
  }
}

void HXobjNTXTag::CheckStorable(const ThxVariant& key) const {
  if (keyType_ != 'N') return;
  if ((key.Type() == vtText || key.Type() == vtBinary) &&
      LooksEncoded(std::string_view(reinterpret_cast<const char*>(key.Data()),
                                    static_cast<size_t>(std::max(key.Length(), 0))),
                   keyLength_))
    return;
  // A number wider than the key cannot be stored: it is refused rather than cut.
  if (!ntx::EncodeNumber(NumberOf(key), keyLength_, decimals_))
    throw ESorrelError(smNumericTooBig, {keyExpression_});
}

bool HXobjNTXTag::AddKey(const HXobjIndexKeyData& key) {
  CheckStorable(key);
  return HXobjIndexTag::AddKey(key);
}

bool HXobjNTXTag::CreateTag(std::string_view tagName, std::string_view keyExpression,
                            std::string_view filterExpression, bool ascending, bool unique) {
  HXobjIndexTag::CreateTag(tagName, keyExpression, filterExpression, ascending, unique);
  // Descending keys are stored in descending order: the tree is walked forward with every
  // comparison turned round.
  descending_ = false;
  reverseCompare_ = !ascending;
  HXobjIndexKeyData v;
  switch (keyHandler_ ? keyHandler_->EvaluateKey(v) : kExpTypeUnknown) {
    case kExpTypeText:
      keyType_ = 'C';
      keyLength_ = static_cast<int>(v.GetString().size());
      decimals_ = 0;
      // The case-folding order is not kept in the file: the key expression carries it, so that
      // keys added after the file is opened again are folded too.
      if (file_->CaseFold() && !folded_) {
        keyExpression_ = "UPPER(" + keyExpression_ + ")";
        folded_ = true;
        CompileKey();
      }
      break;
    case kExpTypeBoolean:
      keyType_ = 'C';
      keyLength_ = static_cast<int>(v.GetString().size());
      decimals_ = 0;
      break;
    case kExpTypeNumber:
    case kExpTypeInteger:
    case kExpTypeDateTime: {
      keyType_ = 'N';
      keyLength_ = ntx::kNumberKeyLength;
      decimals_ = ntx::kNumberDecimals;
      std::string name = keyExpression_;
      name.erase(0, name.find_first_not_of(' '));
      name.erase(name.find_last_not_of(' ') + 1);
      int length = 0, decimals = 0;
      if (file_->Table() && file_->Table()->IndexFieldSize(name, length, decimals)) {
        keyLength_ = length;
        decimals_ = decimals;
      }
      break;
    }
    case kExpTypeDate:
      keyType_ = 'D';
      keyLength_ = ntx::kDateKeyLength;
      decimals_ = 0;
      break;
    default:
      // A key that cannot be evaluated builds nothing.
      return false;
  }
  // The build's sorter takes keys of key length + 1 bytes, at most 240.
  if (keyLength_ < 1 || keyLength_ >= ThxSort::kMaxKeyLength)
    throw ESorrelError(smSortKeyLength,
                       {ThxSort::kMaxKeyLength, keyLength_ < 1 ? keyLength_ : keyLength_ + 1});
  entryLength_ = keyLength_ + ntx::kEntryKey;
  maxKeys_ = ntx::MaxKeysFor(entryLength_);
  Build();
  return true;
}

int32_t HXobjNTXTag::RootBlock() {
  uint8_t h[ntx::kPageSize];
  if (!file_->ReadBlock(headerPosition_, h, sizeof h)) Corrupted();
  const auto root = static_cast<int32_t>(DecodeLE32(h + ntx::kHdrRoot));
  if (root < ntx::kPageSize || root % ntx::kPageSize != 0 ||
      root + ntx::kPageSize > file_->RefreshEnd())
    Corrupted();
  return root_ = root;
}

bool HXobjNTXTag::OnRightEdge(const HXobjIndexKey& page) {
  for (const HXobjIndexKey* p = &page; p->Parent(); p = p->Parent()) {
    const HXobjIndexKey* parent = p->Parent();
    if (parent->Count() == 0 || parent->Key(parent->Count() - 1).Target() != p->Block())
      return false;
  }
  return true;
}

const HXobjIndexKeyData* HXobjNTXTag::ParentEntry(const HXobjIndexKey& page) {
  const HXobjIndexKey* parent = page.Parent();
  if (!parent) return nullptr;
  const int at = parent->Position();
  if (at >= 0 && at < parent->Count() && parent->Key(at).Target() == page.Block())
    return &parent->Key(at);
  for (int i = 0; i < parent->Count(); ++i)
    if (parent->Key(i).Target() == page.Block()) return &parent->Key(i);
  return nullptr;
}

void HXobjNTXTag::ReadPage(int32_t offset, HXobjIndexKey& page) {
  uint8_t p[ntx::kPageSize];
  if (offset < ntx::kPageSize || offset % ntx::kPageSize != 0 ||
      !file_->ReadBlock(offset, p, sizeof p))
    Corrupted();
  const auto count = static_cast<int16_t>(DecodeLE16(p));
  if (count < 0 || count > maxKeys_) Corrupted();
  auto entry = [&](int i) -> const uint8_t* {
    const int at = DecodeLE16(p + 2 + 2 * i);
    if (at < 2 + 2 * (maxKeys_ + 1) || at + entryLength_ > ntx::kPageSize) Corrupted();
    return p + at;
  };
  // A zero-filled page (an empty root as made) has no offset table: it is an empty leaf.
  const bool interior =
      (count > 0 || DecodeLE16(p + 2) != 0) && DecodeLE32(entry(0) + ntx::kEntryChild) != 0;
  page.SetKind(interior ? HXobjIndexKey::kInterior : HXobjIndexKey::kLeaf);
  auto& keys = page.Keys();
  keys.clear();
  keys.reserve(static_cast<size_t>(count) + 1);
  int64_t end = file_->End();
  auto childOf = [&](const uint8_t* e) {
    const auto child = static_cast<int32_t>(DecodeLE32(e + ntx::kEntryChild));
    // Another program may have grown the file since this handle looked at its size.
    if (child + ntx::kPageSize > end) end = file_->RefreshEnd();
    if (child < ntx::kPageSize || child % ntx::kPageSize != 0 || child + ntx::kPageSize > end ||
        child == offset)
      Corrupted();
    return child;
  };
  for (int i = 0; i < count; ++i) {
    const uint8_t* e = entry(i);
    auto k = std::make_unique<HXobjIndexKeyData>();
    k->PutString(TrimKeyBlanks(std::string(reinterpret_cast<const char*>(e + ntx::kEntryKey),
                                        static_cast<size_t>(keyLength_))));
    const auto record = static_cast<int32_t>(DecodeLE32(e + ntx::kEntryRecord));
    if (record < 1) Corrupted();
    k->SetRecNo(record);
    k->SetTarget(interior ? childOf(e) : record);
    keys.push_back(std::move(k));
  }
  // The last entry: what lies after the page's keys in the tree (see the header comment).
  const bool root = page.Parent() == nullptr;
  if (root && !interior) return;
  if (!interior && OnRightEdge(page)) return;
  auto last = std::make_unique<HXobjIndexKeyData>();
  if (root) {
    last->PutString(std::string(1, ntx::kSentinel));
    last->SetRecNo(0);
  } else {
    const HXobjIndexKeyData* separator = ParentEntry(page);
    if (!separator) Corrupted();
    *last = *separator;
  }
  last->SetTarget(interior ? childOf(entry(count)) : last->RecNo());
  keys.push_back(std::move(last));
}

void HXobjNTXTag::PutPage(int32_t offset, const std::vector<const HXobjIndexKeyData*>& entries,
                          bool leaf, int counted) {
  uint8_t p[ntx::kPageSize] = {};
  const int base = ntx::EntriesOffset(maxKeys_);
  EncodeLE16(p, static_cast<uint16_t>(std::max(counted, 0)));
  for (int i = 0; i <= maxKeys_; ++i)
    EncodeLE16(p + 2 + 2 * i, static_cast<uint16_t>(base + i * entryLength_));
  for (size_t i = 0; i < entries.size(); ++i) {
    const HXobjIndexKeyData& k = *entries[i];
    uint8_t* e = p + base + static_cast<int>(i) * entryLength_;
    const bool rightmost = !leaf && static_cast<int>(i) == counted;
    EncodeLE32(e + ntx::kEntryChild, static_cast<uint32_t>(leaf ? 0 : k.Target()));
    EncodeLE32(e + ntx::kEntryRecord,
               static_cast<uint32_t>(leaf ? k.Target() : (rightmost ? 0 : k.RecNo())));
    std::memset(e + ntx::kEntryKey, ' ', static_cast<size_t>(keyLength_));
    if (!IsSentinel(k) && k.Length() > 0)  // a blank key has no bytes
      std::memcpy(e + ntx::kEntryKey, k.Data(),
                  static_cast<size_t>(std::min(k.Length(), keyLength_)));
  }
  file_->WriteBlock(offset, p, sizeof p);
}

int HXobjNTXTag::WritePage(HXobjIndexKey& page) {
  if (page.Block() == 0) page.SetBlock(file_->AllocateBlock());
  auto& keys = page.Keys();
  const bool leaf = page.IsLeaf();
  // A leaf counts every entry only on the rightmost path; elsewhere its last entry is the
  // separator stored in the parent, and an interior page's last entry names only the rightmost
  // child.
  auto counted = [&](size_t entries) {
    const int n = static_cast<int>(entries);
    return leaf && OnRightEdge(page) ? n : n - 1;
  };
  auto span = [&](size_t from, size_t to) {
    std::vector<const HXobjIndexKeyData*> out;
    for (size_t i = from; i < to; ++i) out.push_back(keys[i].get());
    return out;
  };
  while (counted(keys.size()) > maxKeys_) {
    // The first part goes to a new page on the left; its last entry becomes the separator above
    // it. A page far over gives full pages at a time.
    const size_t n = std::min(keys.size() - keys.size() / 2, static_cast<size_t>(maxKeys_) + 1);
    const int32_t offset = file_->AllocateBlock();
    HXobjIndexKeyData splitKey = *keys[n - 1];
    splitKey.SetTarget(offset);
    SplitPage(page, splitKey);
    PutPage(offset, span(0, n), leaf, static_cast<int>(n) - 1);
    keys.erase(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(n));
  }
  PutPage(page.Block(), span(0, keys.size()), leaf, counted(keys.size()));
  return 1;
}

void HXobjNTXTag::RightmostChildRemoved(HXobjIndexKey& page) {
  // The page's last entry now names a child that had a separator after it: that key is no
  // longer stored above, so the pages down the right edge are written again and keep it.
  if (OnRightEdge(page)) MarkRightEdgeChanged(&page);
}

bool HXobjNTXTag::ReadHeader() {
  headerChanged_ = false;
  uint8_t h[ntx::kPageSize];
  if (!file_->ReadBlock(headerPosition_, h, sizeof h)) return false;
  const uint16_t signature = DecodeLE16(h + ntx::kHdrSignature);
  const auto root = static_cast<int32_t>(DecodeLE32(h + ntx::kHdrRoot));
  const int itemSize = DecodeLE16(h + ntx::kHdrItemSize);
  const int keyLength = DecodeLE16(h + ntx::kHdrKeyLength);
  const int decimals = DecodeLE16(h + ntx::kHdrDecimals);
  const int maxKeys = DecodeLE16(h + ntx::kHdrMaxKeys);
  if (signature != ntx::kSignature && signature != ntx::kSignatureWithFilter) return false;
  if (keyLength < 1 || itemSize != keyLength + ntx::kEntryKey || maxKeys < 2 ||
      ntx::EntriesOffset(maxKeys) + (maxKeys + 1) * itemSize > ntx::kPageSize ||
      decimals >= keyLength)
    return false;
  if (root < ntx::kPageSize || root % ntx::kPageSize != 0 ||
      (file_->DiskFile() && root + ntx::kPageSize > file_->RefreshEnd()))
    return false;
  const char* text = reinterpret_cast<const char*>(h + ntx::kHdrExpression);
  const size_t length = strnlen(text, ntx::kExpressionArea);
  if (length == 0 || length >= static_cast<size_t>(ntx::kExpressionArea)) return false;
  std::string filter;
  if (signature == ntx::kSignatureWithFilter) {
    const char* f = reinterpret_cast<const char*>(h + ntx::kHdrFilter);
    const size_t room = ntx::kPageSize - ntx::kHdrFilter;
    const size_t filterLength = strnlen(f, room);
    if (filterLength >= room) return false;
    filter.assign(f, filterLength);
  }
  root_ = root;
  keyLength_ = keyLength;
  entryLength_ = itemSize;
  maxKeys_ = maxKeys;
  decimals_ = decimals;
  unique_ = (h[ntx::kHdrUnique] & 1) != 0;
  ascending_ = (h[ntx::kHdrDescending] & 1) == 0;
  descending_ = false;
  reverseCompare_ = !ascending_;
  ntxFile_->SetCounter(static_cast<int16_t>(DecodeLE16(h + ntx::kHdrCounter)));
  keyExpression_.assign(text, length);
  filterExpression_ = filter;
  hasFilter_ = !filter.empty();
  CompileKey();
  CompileFilter();
  HXobjIndexKeyData v;
  switch (keyHandler_ ? keyHandler_->EvaluateKey(v) : kExpTypeUnknown) {
    case kExpTypeNumber:
    case kExpTypeInteger:
    case kExpTypeDateTime: keyType_ = 'N'; break;
    case kExpTypeDate: keyType_ = 'D'; break;
    default: keyType_ = 'C'; break;
  }
  return true;
}

void HXobjNTXTag::WriteHeader() {
  if (!headerChanged_) return;
  uint8_t h[ntx::kPageSize] = {};
  EncodeLE16(h + ntx::kHdrSignature, hasFilter_ ? ntx::kSignatureWithFilter : ntx::kSignature);
  EncodeLE16(h + ntx::kHdrCounter, static_cast<uint16_t>(ntxFile_->Counter()));
  EncodeLE32(h + ntx::kHdrRoot, static_cast<uint32_t>(root_));
  EncodeLE16(h + ntx::kHdrItemSize, static_cast<uint16_t>(entryLength_));
  EncodeLE16(h + ntx::kHdrKeyLength, static_cast<uint16_t>(keyLength_));
  EncodeLE16(h + ntx::kHdrDecimals, static_cast<uint16_t>(decimals_));
  EncodeLE16(h + ntx::kHdrMaxKeys, static_cast<uint16_t>(maxKeys_));
  EncodeLE16(h + ntx::kHdrHalf, static_cast<uint16_t>(maxKeys_ / 2));
  // Texts that would not fit with their NUL are cut.
  std::memcpy(h + ntx::kHdrExpression, keyExpression_.data(),
              std::min(keyExpression_.size(), static_cast<size_t>(ntx::kExpressionArea - 1)));
  h[ntx::kHdrUnique] = unique_ ? 1 : 0;
  h[ntx::kHdrDescending] = ascending_ ? 0 : 1;
  if (hasFilter_)
    std::memcpy(h + ntx::kHdrFilter, filterExpression_.data(),
                std::min(filterExpression_.size(),
                         static_cast<size_t>(ntx::kPageSize - ntx::kHdrFilter - 1)));
  file_->WriteBlock(headerPosition_, h, sizeof h);
  headerChanged_ = false;
}

void HXobjNTXTag::Build() {
  ReleasePages();
  HXobjIndexTable* table = file_->Table();
  const int32_t count = table ? table->IndexRecordCount() : 0;
  HXobjSortNTX sorter(this, nullptr, ascending_, unique_);
  const bool scan = table && count > 0;
  if (scan) {
    ScanKeys(*table, count, sorter);
    table->IndexStatus(-1, 2, count);
  }
  // The file is written anew only now, when every key has been read and taken: a scan that
  // fails leaves it as it was.
  ntxFile_->StartOver();
  const uint8_t zero[ntx::kPageSize] = {};
  file_->WriteBlock(headerPosition_, zero, sizeof zero);
  const int64_t n = sorter.KeyCount();
  if (n == 0) {
    root_ = file_->AllocateBlock();
    file_->WriteBlock(root_, zero, sizeof zero);
    headerChanged_ = true;
    WriteHeader();
    if (scan) table->IndexStatus(0, 0, 0);
    return;
  }
  // The keys spread evenly over the leaves: n div maximum + 1 of them.
  const int64_t pages = n / maxKeys_ + 1;
  sorter.SetFill(static_cast<int>((n + pages - 1) / pages));
  ThxVariant key;
  int32_t record = 0;
  int emitted = 0;
  while (sorter.GetNextKey(key, record)) {
    ++emitted;
    if (scan) table->IndexStatus(2, emitted, 0);
    sorter.AddToLevel(0, std::string(reinterpret_cast<const char*>(key.Data()),
                                     static_cast<size_t>(std::max(key.Length(), 0))),
                      record, 0);
  }
  sorter.Finish();
  if (scan) table->IndexStatus(0, 0, 0);
}

// ---------------------------------------------------------------------------------------------
// HXobjSortNTX

HXobjSortNTX::HXobjSortNTX(HXobjNTXTag* tag, const uint8_t* collation, bool ascending,
                           bool unique)
    : ThxSort(tag->KeyLength() + 1, collation, ascending, unique), tag_(tag), levels_(kLevels) {}

int32_t HXobjSortNTX::WritePage(int level, std::vector<Item>& items) {
  std::vector<HXobjIndexKeyData> keys(items.size());
  std::vector<const HXobjIndexKeyData*> entries;
  for (size_t i = 0; i < items.size(); ++i) {
    keys[i].PutString(items[i].key);
    keys[i].SetRecNo(items[i].record);
    keys[i].SetTarget(level == 0 ? items[i].record : items[i].child);
    entries.push_back(&keys[i]);
  }
  const int32_t offset = tag_->File()->AllocateBlock();
  const int n = static_cast<int>(items.size());
  // Above the leaves the last entry carries only the rightmost child.
  tag_->PutPage(offset, entries, level == 0, level == 0 ? n : n - 1);
  return offset;
}

void HXobjSortNTX::ReleaseWaiting(int level) {
  Level& l = levels_[static_cast<size_t>(level)];
  if (!l.hasWaiting) return;
  l.hasWaiting = false;
  if (level == 0) {
    // A full leaf and the key that came after it: that key goes between this leaf and the next.
    const Item separator = l.waiting.back();
    l.waiting.pop_back();
    const int32_t offset = WritePage(0, l.waiting);
    l.waiting.clear();
    AddToLevel(1, separator.key, separator.record, offset);
  } else {
    const Item separator = l.waiting.back();
    const int32_t offset = WritePage(level, l.waiting);
    l.waiting.clear();
    AddToLevel(level + 1, separator.key, separator.record, offset);
  }
}

void HXobjSortNTX::AddToLevel(int level, const std::string& key, int32_t record, int32_t child) {
  if (level >= kLevels - 1) throw ESorrelError(smIndexCorrupted, {tag_->File()->FileName()});
  Level& l = levels_[static_cast<size_t>(level)];
  l.started = true;
  if (level == 0) {
    // A key after a full leaf and the key that followed it: a leaf follows, so that key goes
    // above, between the two.
    if (l.hasWaiting) ReleaseWaiting(0);
    if (static_cast<int>(l.items.size()) >= fill_) {
      l.waiting = std::move(l.items);
      l.waiting.push_back(Item{key, record, child});
      l.items.clear();
      l.hasWaiting = true;
      return;
    }
  } else if (static_cast<int>(l.items.size()) >= fill_) {
    if (l.hasWaiting) ReleaseWaiting(level);
    l.waiting = std::move(l.items);
    l.items.clear();
    l.hasWaiting = true;
  }
  l.items.push_back(Item{key, record, child});
}

void HXobjSortNTX::Finish() {
  const int maxKeys = tag_->MaxKeys();
  for (int level = 0; level < kLevels - 1; ++level) {
    Level& l = levels_[static_cast<size_t>(level)];
    if (!l.started) continue;
    if (l.hasWaiting) {
      if (level == 0) {
        // The last key came right after a full leaf, and no leaf follows: the leaf keeps it when
        // there is room, else its own last key goes above and the last key makes a leaf.
        l.hasWaiting = false;
        if (static_cast<int>(l.waiting.size()) <= maxKeys) {
          l.items = std::move(l.waiting);
        } else {
          l.items.assign(1, l.waiting.back());
          l.waiting.pop_back();
          l.hasWaiting = true;
          ReleaseWaiting(0);
        }
        l.waiting.clear();
      } else if (l.items.size() == 1) {
        // The last page would hold no key: the waiting page takes its entry as its rightmost.
        l.waiting.push_back(l.items.front());
        l.items = std::move(l.waiting);
        l.waiting.clear();
        l.hasWaiting = false;
      } else {
        ReleaseWaiting(level);
      }
    }
    const bool root = !levels_[static_cast<size_t>(level) + 1].started;
    if (level > 0) l.items.back().record = 0;
    const Item last = l.items.back();
    const int32_t offset = WritePage(level, l.items);
    l.items.clear();
    if (root) {
      tag_->SetRoot(offset);
      break;
    }
    AddToLevel(level + 1, last.key, last.record, offset);
  }
  tag_->SetHeaderChanged(true);
  tag_->WriteHeader();
}

// ---------------------------------------------------------------------------------------------
// HXobjNTXFile

HXobjNTXFile::HXobjNTXFile(HXobjIndexTable* table, std::string_view fileName, bool overwrite,
                           bool create, bool shared, bool readWrite)
    : HXobjIndexFile(table, fileName) {
  if (!OpenDiskFile(table, fileName, overwrite, create, shared, readWrite, ".ntx")) {
    valid_ = false;
    return;
  }
  const int64_t size = disk_->FileSize();
  if (size < 2 * ntx::kPageSize && !(size == 0 && create)) {
    // Shorter than the smallest whole file (the header page and a root page): a cut or damaged file, reported
    // and left as it is.
    headerError_ = true;
    return;
  }
  if (create && size == 0) {
    // The tag comes with CreateTag.
    end_ = 0;
    counter_ = 1;
    return;
  }
  RefreshEnd();
  tags_.Add(new HXobjNTXTag(this, 0, StripFileExt(fileName_)));
}

HXobjNTXFile::~HXobjNTXFile() {
  // The tag writes through this object's allocation: free it while the object is still whole.
  tags_.FreeAll();
}

HXobjNTXTag* HXobjNTXFile::Tag() const { return static_cast<HXobjNTXTag*>(TagByIndex(0)); }

bool HXobjNTXFile::CreateTag(std::string_view tagName, std::string_view keyExpression,
                             std::string_view filterExpression, bool ascending, bool unique) {
  if (!disk_) return false;
  // The file is written anew from its first page: nobody reads it meanwhile.
  HXobjWholeFileLock lock(*disk_);
  // A file made over one that other programs may hold shows them a new count.
  if (Tag()) counter_ = ntx::NextCounter(std::max(counter_, CounterOnDisk()));
  tags_.FreeAll();  // one tag per file: a new one replaces it
  end_ = 0;
  auto* tag = new HXobjNTXTag(this, -1, tagName);
  tags_.Add(tag);
  bool ok = false;
  try {
    ok = tag->CreateTag(tagName, keyExpression, filterExpression, ascending, unique);
  } catch (...) {
    tag->SetHeaderChanged(false);
    tags_.DeleteAndFree(tag);
    throw;
  }
  if (!ok) {
    tag->SetHeaderChanged(false);
    tags_.DeleteAndFree(tag);
  }
  return ok;
}

void HXobjNTXFile::StartOver() {
  // A file opened over an existing index keeps none of its old pages.
  if (disk_ && disk_->FileSize() > 0) disk_->Truncate(0);
  end_ = ntx::kPageSize;
}

int32_t HXobjNTXFile::AllocateBlock() {
  if (end_ < 0) RefreshEnd();
  const auto offset = static_cast<int32_t>(end_);
  end_ += ntx::kPageSize;
  return offset;
}

int32_t HXobjNTXFile::RefreshEnd() {
  const int64_t size = disk_ ? disk_->FileSize() : 0;
  end_ = (size + ntx::kPageSize - 1) / ntx::kPageSize * ntx::kPageSize;
  return static_cast<int32_t>(end_);
}

int16_t HXobjNTXFile::CounterOnDisk() {
  uint8_t h[ntx::kPageSize];
  if (!disk_ || disk_->FileSize() < ntx::kPageSize || !ReadBlock(0, h, sizeof h)) return counter_;
  return static_cast<int16_t>(DecodeLE16(h + ntx::kHdrCounter));
}

void HXobjNTXFile::Empty() {
  HXobjNTXTag* tag = Tag();
  if (!tag || !disk_) return;
  HXobjWholeFileLock lock(*disk_);
  tag->ReleasePages();
  // Other programs that hold pages in memory drop them when the counter moves: the emptied file
  // goes on from the count it had instead of starting again at a count they may hold.
  counter_ = ntx::NextCounter(std::max(counter_, CounterOnDisk()));
  disk_->Truncate(2 * ntx::kPageSize);
  end_ = 2 * ntx::kPageSize;
  const uint8_t zero[ntx::kPageSize] = {};
  WriteBlock(ntx::kPageSize, zero, sizeof zero);
  tag->SetRoot(ntx::kPageSize);
  tag->SetHeaderChanged(true);
  tag->WriteHeader();
}

void HXobjNTXFile::Reindex() {
  HXobjNTXTag* tag = Tag();
  if (!tag || !disk_) return;
  HXobjWholeFileLock lock(*disk_);
  // Made anew with its own settings; the old pages go only once every key has been read, and
  // other programs see the count move on.
  counter_ = ntx::NextCounter(std::max(counter_, CounterOnDisk()));
  tag->CreateTag(tag->TagName(), tag->KeyExpression(), tag->FilterExpression(), tag->Ascending(),
                 tag->Unique());
}

bool HXobjNTXFile::UpdateTags(int32_t record, bool isNew) {
  HXobjNTXTag* tag = Tag();
  if (!tag) return HXobjIndexFile::UpdateTags(record, isNew);
  if (disk_ && disk_->Shared()) {
    // Our count continues the one other programs left (read under the header lock), and what
    // this handle holds from before their changes is read again.
    counter_ = CounterOnDisk();
    tag->ReleasePages();
  }
  counter_ = ntx::NextCounter(counter_);
  tag->SetHeaderChanged(true);
  const bool changed = HXobjIndexFile::UpdateTags(record, isNew);
  tag->WriteHeader();
  return changed;
}

bool HXobjNTXFile::ChangedByOthers() {
  if (!disk_ || !disk_->Shared() || !Tag()) return false;
  const int16_t onDisk = CounterOnDisk();
  if (onDisk == counter_) return false;
  // Seen: the caller reads what it holds again, so the same change is reported once.
  counter_ = onDisk;
  return true;
}

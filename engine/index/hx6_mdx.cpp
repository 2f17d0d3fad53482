#include "index/hx6_mdx.h"

#include <algorithm>
#include <cstring>

#include "base/SysSorl.h"
#include "base/byteorder.h"
#include "base/hx6_date.h"
#include "base/hx6_glbl.h"

namespace {

[[noreturn]] void Corrupted(const HXobjIndexFile* file) {
  throw ESorrelError(smIndexCorrupted,
                     {file->DiskFile() ? file->DiskFile()->Name() : file->FileName()});
}

std::string TrimmedName(std::string_view name) {
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
  return SysUpperCase(name);
}

void Today(int& year, int& month, int& day) {
  if (!DBFDate().DecodeDate(DBFDate().Today(), year, month, day)) year = month = day = 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// HXobjMDXTag

HXobjMDXTag::HXobjMDXTag(HXobjMDXFile* file, int32_t headerBlock, std::string_view tagName)
    : HXobjIndexTag(file, headerBlock, SysUpperCase(tagName)), mdxFile_(file) {
  formatName_ = "MDX";
  if (headerPosition_ == -1) {
    headerPosition_ = file->AllocateBlock();
  } else if (!ReadHeader()) {
    valid_ = false;
    file->SetHeaderError(true);
  }
}

HXobjMDXTag::~HXobjMDXTag() {
  // The base destructor no longer reaches this class's page and header writers.
  try {
    ReleasePages();
  } catch (...) {
  }
}

void HXobjMDXTag::Restart(int32_t headerBlock) {
  ReleasePages();
  headerPosition_ = headerBlock;
  root_ = 0;
  firstBlock_ = newestBlock_ = 0;
}

int32_t HXobjMDXTag::AllocatePage(int32_t& chain) {
  const int32_t block = file_->AllocateBlock();
  chain = newestBlock_;
  newestBlock_ = block;
  if (firstBlock_ == 0) firstBlock_ = block;
  headerChanged_ = true;
  return block;
}

void HXobjMDXTag::TranslateKey(HXobjIndexKeyData& key, bool trim) {
  if (keyType_ == 'C') {
    key.PutString(StoredTextKey(key, trim, keyLength_));
    return;
  }
  double value = 0.0;
  try {
    value = keyType_ == 'D' && key.Type() == vtText ? static_cast<double>(key.GetDate())
                                                    : key.GetFloat();
  } catch (const EConvertError&) {
    value = 0.0;
  }
  if (keyType_ == 'D') {
    if (value < 0.1) value = mdx::kBlankDate;
  } else {
    // A search key takes exactly the precision of a stored key.
    value = mdx::StoredNumber(value);
  }
  key.PutFloat(value);
}

bool HXobjMDXTag::CreateTag(std::string_view tagName, std::string_view keyExpression,
                            std::string_view filterExpression, bool ascending, bool unique) {
  HXobjIndexTag::CreateTag(SysUpperCase(tagName), keyExpression, filterExpression, ascending,
                           unique);
  descending_ = false;
  reverseCompare_ = !ascending_;
  HXobjIndexKeyData v;
  const int type = keyHandler_ ? keyHandler_->EvaluateKey(v) : kExpTypeUnknown;
  switch (type) {
    case kExpTypeText:
    case kExpTypeBoolean:
      keyType_ = 'C';
      keyLength_ = static_cast<int>(v.GetString().size());
      // The build's sorter takes keys of key length + 1 bytes, at most 240.
      if (keyLength_ < 1 || keyLength_ >= ThxSort::kMaxKeyLength)
        throw ESorrelError(smSortKeyLength,
                           {ThxSort::kMaxKeyLength, keyLength_ < 1 ? keyLength_ : keyLength_ + 1});
      break;
    case kExpTypeNumber:
    case kExpTypeInteger:
    case kExpTypeDateTime:
      keyType_ = 'N';
      keyLength_ = mdx::kNumberKeyLength;
      break;
    case kExpTypeDate:
      keyType_ = 'D';
      keyLength_ = mdx::kDateKeyLength;
      break;
    default:
      // A key that cannot be evaluated builds nothing.
      return false;
  }
  itemLength_ = mdx::ItemLength(keyLength_);
  entryLength_ = itemLength_;
  maxKeys_ = mdx::MaxKeys(mdxFile_->PageLength(), itemLength_);
  std::vector<uint8_t> zero(static_cast<size_t>(mdxFile_->PageLength()), 0);
  file_->WriteBlock(headerPosition_, zero.data(), mdxFile_->PageLength());
  Build();
  return true;
}

bool HXobjMDXTag::AddKey(const HXobjIndexKeyData& key) {
  // Entries carry no record number of their own: equal keys stay in the order they came.
  HXobjIndexKeyData k = key;
  k.SetRecNo(0);
  return HXobjIndexTag::AddKey(k);
}

void HXobjMDXTag::FollowTagTable() {
  const int32_t listed = mdxFile_->ListedHeaderBlock(TagName());
  if (listed <= 0 || listed == headerPosition_) return;
  headerPosition_ = listed;
  if (!ReadHeader()) Corrupted(file_);
}

int32_t HXobjMDXTag::RootBlock() {
  // Another program's rebuild gives every tag a new header: a shared file says where it is now.
  // A tag the table does not list (yet) keeps its own.
  if (file_->DiskFile() && file_->DiskFile()->Shared()) FollowTagTable();
  uint8_t b[mdx::kBlockSize];
  if (headerPosition_ < mdxFile_->HeaderBlocks() || !file_->ReadBlock(headerPosition_, b, sizeof b))
    Corrupted(file_);
  const auto root = static_cast<int32_t>(DecodeLE32(b + mdx::kTagRoot));
  const int64_t size = file_->DiskFile() ? file_->DiskFile()->FileSize() : 0;
  if (root < mdxFile_->HeaderBlocks() || root == headerPosition_ ||
      int64_t{root} * mdx::kBlockSize + mdxFile_->PageLength() > size)
    Corrupted(file_);
  return root_ = root;
}

void HXobjMDXTag::Sentinel(HXobjIndexKeyData& key) const {
  if (keyType_ == 'C')
    key.PutString(ascending_ ? std::string(static_cast<size_t>(keyLength_) + 1, '\xFF') : "");
  else
    key.PutFloat(ascending_ ? 1.7E308 : -1.7E308);
}

void HXobjMDXTag::ReadPage(int32_t block, HXobjIndexKey& page) {
  const int pageLength = mdxFile_->PageLength();
  std::vector<uint8_t> buffer(static_cast<size_t>(pageLength));
  if (block < mdxFile_->HeaderBlocks() || !file_->ReadBlock(block, buffer.data(), pageLength))
    Corrupted(file_);
  const uint8_t* p = buffer.data();
  const auto n = static_cast<int32_t>(DecodeLE32(p + mdx::kPageCount));
  if (n < 0 || mdx::kPageEntries + (int64_t{n} + 1) * itemLength_ > pageLength) Corrupted(file_);
  const bool interior = DecodeLE32(p + mdx::kPageEntries + n * itemLength_) != 0;
  auto& keys = page.Keys();
  keys.clear();
  keys.reserve(static_cast<size_t>(n) + 1);
  for (int32_t i = 0; i <= n; ++i) {
    const uint8_t* e = p + mdx::kPageEntries + i * itemLength_;
    const auto number = static_cast<int32_t>(DecodeLE32(e));
    if (i == n && !interior) break;
    if (interior ? (number < mdxFile_->HeaderBlocks() || number == block) : number <= 0)
      Corrupted(file_);
    auto k = std::make_unique<HXobjIndexKeyData>();
    if (i == n) {
      Sentinel(*k);
    } else if (keyType_ == 'C') {
      k->PutString(TrimKeyBlanks(std::string(reinterpret_cast<const char*>(e + 4),
                                          static_cast<size_t>(keyLength_))));
    } else if (keyType_ == 'D') {
      double d;
      const uint64_t bits = DecodeLE64(e + 4);
      std::memcpy(&d, &bits, sizeof d);
      k->PutFloat(d);
    } else {
      k->PutFloat(mdx::DecodeNumber(e + 4));
    }
    k->SetRecNo(0);
    k->SetTarget(number);
    keys.push_back(std::move(k));
  }
  page.SetKind(interior ? HXobjIndexKey::kInterior : HXobjIndexKey::kLeaf);
  page.SetExtra(static_cast<int32_t>(DecodeLE32(p + mdx::kPageChain)));
}

void HXobjMDXTag::PutKey(uint8_t* at, const HXobjIndexKeyData& key) const {
  if (keyType_ == 'C') {
    std::memset(at, ' ', static_cast<size_t>(keyLength_));
    const std::string_view s = key.Bytes();
    if (!s.empty()) std::memcpy(at, s.data(), std::min(s.size(), static_cast<size_t>(keyLength_)));
  } else if (keyType_ == 'D') {
    const double d = key.GetFloat();
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    EncodeLE64(at, bits);
  } else {
    mdx::EncodeNumber(key.GetFloat(), at);
  }
}

void HXobjMDXTag::WriteEntries(int32_t block, int32_t chain, bool interior,
                               const std::vector<std::unique_ptr<HXobjIndexKeyData>>& keys,
                               size_t from, size_t count) {
  // A zeroed page every time: nothing of an earlier content is written again (in a leaf the
  // slot after the last key must read 0, or the page would pass for an interior one).
  std::vector<uint8_t> page(static_cast<size_t>(mdxFile_->PageLength()), 0);
  uint8_t* p = page.data();
  // An interior page counts one key fewer than it has entries; the last entry only names the
  // rightmost child. An emptied page never counts below zero.
  const size_t counted = interior ? (count > 0 ? count - 1 : 0) : count;
  EncodeLE32(p + mdx::kPageCount, static_cast<uint32_t>(counted));
  EncodeLE32(p + mdx::kPageChain, static_cast<uint32_t>(chain));
  for (size_t j = 0; j < count; ++j) {
    uint8_t* e = p + mdx::kPageEntries + j * static_cast<size_t>(itemLength_);
    const HXobjIndexKeyData& k = *keys[from + j];
    EncodeLE32(e, static_cast<uint32_t>(k.Target()));
    if (j < counted) PutKey(e + 4, k);
  }
  file_->WriteBlock(block, p, mdxFile_->PageLength());
}

int HXobjMDXTag::WritePage(HXobjIndexKey& page) {
  if (page.Block() == 0) {
    int32_t chain;
    page.SetBlock(AllocatePage(chain));
    page.SetExtra(chain);
  }
  auto& keys = page.Keys();
  const bool interior = !page.IsLeaf();
  const size_t capacity = static_cast<size_t>(maxKeys_) + (interior ? 1 : 0);
  while (keys.size() > capacity) {
    // The first part (half, a full page at most) goes to a new page left of this one.
    const size_t n = std::min(keys.size() - keys.size() / 2, capacity);
    int32_t chain;
    const int32_t newBlock = AllocatePage(chain);
    WriteEntries(newBlock, chain, interior, keys, 0, n);
    HXobjIndexKeyData splitKey = *keys[n - 1];
    splitKey.SetTarget(newBlock);
    const int32_t before = page.Block();
    const int32_t beforeChain = page.Extra();
    SplitPage(page, splitKey);
    if (page.Block() != before) {
      // The page moved to a new block, which is this tag's newest page now. A root keeps its
      // block (and chain) under a new root page.
      if (page.Parent()->Block() == before) page.Parent()->SetExtra(beforeChain);
      page.SetExtra(newestBlock_);
      newestBlock_ = page.Block();
      headerChanged_ = true;
    }
    keys.erase(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(n));
  }
  WriteEntries(page.Block(), page.Extra(), interior, keys, 0, keys.size());
  return 1;
}

bool HXobjMDXTag::ReadHeader() {
  headerChanged_ = false;
  const int pageLength = mdxFile_->PageLength();
  std::vector<uint8_t> page(static_cast<size_t>(pageLength));
  if (headerPosition_ < mdxFile_->HeaderBlocks() ||
      !file_->ReadBlock(headerPosition_, page.data(), pageLength))
    return false;
  mdx::TagHeader th;
  if (!mdx::ReadTagHeader(page.data(), pageLength, th)) return false;
  if (file_->DiskFile()) {
    const int64_t size = file_->DiskFile()->FileSize();
    if (th.root < mdxFile_->HeaderBlocks() || th.root == headerPosition_ ||
        int64_t{th.root} * mdx::kBlockSize + pageLength > size)
      return false;
  }
  root_ = th.root;
  keyType_ = th.keyType;
  keyLength_ = th.keyLength;
  itemLength_ = th.itemLength;
  entryLength_ = itemLength_;
  maxKeys_ = th.maxKeys;
  unique_ = th.unique;
  ascending_ = !th.descending;
  descending_ = false;
  reverseCompare_ = th.descending;
  firstBlock_ = th.firstBlock;
  newestBlock_ = th.newestBlock;
  keyExpression_ = th.keyExpression;
  filterExpression_ = th.filterExpression;
  hasFilter_ = !filterExpression_.empty();
  CompileKey();
  CompileFilter();
  return true;
}

void HXobjMDXTag::WriteHeader() {
  if (!headerChanged_) return;
  mdx::TagHeader th;
  th.root = root_;
  th.keyType = keyType_;
  th.keyLength = keyLength_;
  th.maxKeys = maxKeys_;
  th.itemLength = itemLength_;
  th.unique = unique_;
  th.descending = !ascending_;
  th.keyExpression = keyExpression_;
  th.filterExpression = filterExpression_;
  th.firstBlock = firstBlock_;
  th.newestBlock = newestBlock_;
  std::vector<uint8_t> page(static_cast<size_t>(mdxFile_->PageLength()));
  mdx::WriteTagHeader(page.data(), mdxFile_->PageLength(), th);
  file_->WriteBlock(headerPosition_, page.data(), mdxFile_->PageLength());
  headerChanged_ = false;
}

void HXobjMDXTag::WriteEmptyRoot() {
  int32_t chain;
  root_ = AllocatePage(chain);
  std::vector<uint8_t> page(static_cast<size_t>(mdxFile_->PageLength()), 0);
  EncodeLE32(page.data() + mdx::kPageChain, static_cast<uint32_t>(chain));
  file_->WriteBlock(root_, page.data(), mdxFile_->PageLength());
}

void HXobjMDXTag::Build() {
  ReleasePages();
  HXobjIndexTable* table = file_->Table();
  const int32_t count = table ? table->IndexRecordCount() : 0;
  bool built = false;
  if (count > 0) {
    HXobjSortMDX sorter(this);
    ScanKeys(*table, count, sorter);
    table->IndexStatus(-1, 2, count);
    HXobjIndexKeyData key;
    int32_t record = 0;
    int emitted = 0;
    while (sorter.GetNextKey(key, record)) {
      table->IndexStatus(2, ++emitted, 0);
      sorter.AddToLevel(0, record, key);
    }
    built = sorter.Finish();
    table->IndexStatus(0, 0, 0);
  }
  // A table without records, or with none that passes the FOR condition: an empty root page.
  if (!built) WriteEmptyRoot();
  headerChanged_ = true;
  WriteHeader();
}

// ---------------------------------------------------------------------------------------------
// HXobjSortMDX

HXobjSortMDX::HXobjSortMDX(HXobjMDXTag* tag, const uint8_t* collation)
    : ThxSort(tag->KeyType() == 'C' ? tag->KeyLength() + 1 : 9, collation, tag->Ascending(),
              tag->Unique()),
      tag_(tag),
      pageLength_(static_cast<HXobjMDXFile*>(tag->File())->PageLength()) {}

HXobjSortMDX::~HXobjSortMDX() = default;

int32_t HXobjSortMDX::WriteLevel(int level) {
  Level& l = levels_[static_cast<size_t>(level)];
  uint8_t* p = l.page.data();
  if (level > 0) {
    // The last entry only names the rightmost child: uncounted and keyless.
    --l.count;
    std::memset(p + mdx::kPageEntries + l.count * tag_->ItemLength() + 4, 0,
                static_cast<size_t>(tag_->KeyLength()));
  }
  int32_t chain;
  const int32_t block = tag_->AllocatePage(chain);
  EncodeLE32(p + mdx::kPageCount, static_cast<uint32_t>(l.count));
  EncodeLE32(p + mdx::kPageChain, static_cast<uint32_t>(chain));
  tag_->File()->WriteBlock(block, p, pageLength_);
  std::fill(l.page.begin(), l.page.end(), 0);
  l.count = 0;
  return block;
}

void HXobjSortMDX::AddToLevel(int level, int32_t number, const HXobjIndexKeyData& key) {
  if (level >= kLevels) throw ESorrelError(smIndexCorrupted, {tag_->File()->FileName()});
  Level& l = levels_[static_cast<size_t>(level)];
  if (!l.started) {
    l.started = true;
    l.page.assign(static_cast<size_t>(pageLength_), 0);
    l.count = 0;
  }
  if (l.count >= tag_->MaxKeys()) {
    HXobjIndexKeyData last = l.lastKey;
    const int32_t block = WriteLevel(level);
    AddToLevel(level + 1, block, last);
  }
  uint8_t* e = l.page.data() + mdx::kPageEntries + l.count * tag_->ItemLength();
  EncodeLE32(e, static_cast<uint32_t>(number));
  tag_->PutKey(e + 4, key);
  ++l.count;
  l.lastKey = key;
}

bool HXobjSortMDX::Finish() {
  bool any = false;
  for (int level = 0; level < kLevels && levels_[static_cast<size_t>(level)].started; ++level) {
    Level& l = levels_[static_cast<size_t>(level)];
    const bool top = level + 1 >= kLevels || !levels_[static_cast<size_t>(level) + 1].started;
    HXobjIndexKeyData last = l.lastKey;
    const int32_t block = WriteLevel(level);
    any = true;
    if (top) {
      tag_->SetRoot(block);
      break;
    }
    AddToLevel(level + 1, block, last);
  }
  return any;
}

// ---------------------------------------------------------------------------------------------
// HXobjMDXFile

template <typename Work>
void HXobjMDXFile::Locked(Work work) {
  const bool shared = disk_ && disk_->Shared();
  if (shared) LockHeader();
  try {
    work();
  } catch (...) {
    if (shared) {
      try {
        UnlockHeader();
      } catch (...) {
      }
    }
    throw;
  }
  if (shared) UnlockHeader();
}

HXobjMDXFile::HXobjMDXFile(HXobjIndexTable* table, std::string_view fileName, bool overwrite,
                           bool create, bool shared, bool readWrite)
    : HXobjIndexFile(table, fileName) {
  equalKeysByRecord_ = false;
  if (!OpenDiskFile(table, fileName, overwrite, create, shared, readWrite, ".mdx")) {
    valid_ = false;
    return;
  }
  const int64_t size = disk_->FileSize();
  if (size > 0 && size < mdx::kHeaderLength) {
    // Shorter than the file header: a cut or damaged file, reported and left as it is.
    headerError_ = true;
    return;
  }
  if (size > mdx::kBlockSize) {
    if (!ReadBlock(0, seen_.data(), mdx::kBlockSize) ||
        !mdx::ReadFileHeader(seen_.data(), size, geometry_)) {
      headerError_ = true;
      return;
    }
    std::vector<uint8_t> area(static_cast<size_t>(HeaderLength()));
    if (!ReadBlock(0, area.data(), HeaderLength())) {
      headerError_ = true;
      return;
    }
    end_ = size / mdx::kBlockSize;
    for (int i = 1; i <= geometry_.tagCount; ++i) {
      const mdx::TagEntry e = mdx::ReadTagEntry(area.data(), i);
      if (e.name.empty() || e.headerBlock < HeaderBlocks() ||
          int64_t{e.headerBlock} * mdx::kBlockSize + PageLength() > size) {
        headerError_ = true;
        return;
      }
      tags_.Add(new HXobjMDXTag(this, e.headerBlock, SysUpperCase(e.name)));
    }
  } else if (size == 0 && create && disk_->ReadWrite()) {
    // A new file: the header area with an empty tag table.
    int year, month, day;
    Today(year, month, day);
    std::vector<uint8_t> area(mdx::kHeaderLength);
    mdx::WriteNewFileHeader(area.data(), table ? StripFileExt(table->IndexTableName()) : "", year,
                            month, day);
    WriteBlock(0, area.data(), mdx::kHeaderLength);
    std::memcpy(seen_.data(), area.data(), seen_.size());
    end_ = mdx::kHeaderLength / mdx::kBlockSize;
  } else {
    // Too short for a header: a damaged file, left as it is rather than made empty.
    headerError_ = true;
    return;
  }
  if (Valid() && table && !table->ProductionIndexFlag() &&
      SysCompareText(StripFileExt(fileName_), StripFileExt(table->IndexTableName())) == 0)
    table->MarkProductionIndex();
}

HXobjMDXFile::~HXobjMDXFile() {
  // Tags write through this object's allocation: free them while it is still whole.
  tags_.FreeAll();
  if (!disk_ || !disk_->ReadWrite() || !Valid() || WriteFailed() || (!tagsChanged_ && !allocated_))
    return;
  try {
    Locked([this] {
      uint8_t b[mdx::kBlockSize];
      if (!ReadBlock(0, b, sizeof b)) return;
      if (tagsChanged_) {
        int year, month, day;
        Today(year, month, day);
        mdx::PutDate(b + mdx::kHdrDate, year, month, day);
      }
      EncodeLE32(b + mdx::kHdrNextFree, static_cast<uint32_t>(end_));
      WriteBlock(0, b, sizeof b);
    });
  } catch (...) {
    // A destructor cannot report; the header's date and next free block are informative only.
  }
}

int HXobjMDXFile::MaxTags() const {
  const int capacity = geometry_.Capacity();
  return geometry_.tagEntries > 0 ? std::min(capacity, geometry_.tagEntries - 1) : capacity;
}

int32_t HXobjMDXFile::AllocateBlock() {
  if (end_ < 0) RefreshEnd();
  const auto block = static_cast<int32_t>(end_);
  end_ += BlocksPerPage();
  allocated_ = true;
  // During an update the header's next free block moves on before the block is written, so
  // that no other program takes it again after a failure or a crash.
  if (UpdatingTags()) WriteNextFree();
  return block;
}

int32_t HXobjMDXFile::RefreshEnd() {
  const int64_t size = disk_ ? disk_->FileSize() : 0;
  end_ = std::max<int64_t>(size / mdx::kBlockSize, HeaderBlocks());
  return static_cast<int32_t>(end_);
}

bool HXobjMDXFile::ReadBlock(int64_t block, void* buffer, int32_t length) {
  return HXobjIndexFile::ReadBlock(block * mdx::kBlockSize, buffer, length);
}

void HXobjMDXFile::WriteBlock(int64_t block, const void* buffer, int32_t length) {
  HXobjIndexFile::WriteBlock(block * mdx::kBlockSize, buffer, length);
}

void HXobjMDXFile::NoteFirstBlock() {
  if (!ReadBlock(0, seen_.data(), mdx::kBlockSize)) seen_.fill(0);
}

void HXobjMDXFile::WriteNextFree() {
  if (!allocated_) return;
  uint8_t b[mdx::kBlockSize];
  if (!ReadBlock(0, b, sizeof b)) return;
  EncodeLE32(b + mdx::kHdrNextFree, static_cast<uint32_t>(end_));
  WriteBlock(0, b, sizeof b);
  std::memcpy(seen_.data(), b, sizeof b);
  allocated_ = false;
}

std::vector<mdx::TagEntry> HXobjMDXFile::ReadTagTable() {
  std::vector<uint8_t> area(static_cast<size_t>(HeaderLength()));
  if (!ReadBlock(0, area.data(), HeaderLength())) Corrupted(this);
  const int count = DecodeLE16(area.data() + mdx::kHdrTagCount);
  if (count > geometry_.Capacity()) Corrupted(this);
  std::vector<mdx::TagEntry> entries;
  for (int i = 1; i <= count; ++i) entries.push_back(mdx::ReadTagEntry(area.data(), i));
  return entries;
}

void HXobjMDXFile::WriteTagTable(std::vector<mdx::TagEntry> entries, int clearUpTo) {
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return SysCompareText(a.name, b.name) < 0;
  });
  std::vector<uint8_t> area(static_cast<size_t>(HeaderLength()));
  if (!ReadBlock(0, area.data(), HeaderLength())) Corrupted(this);
  mdx::WriteTagTable(area.data(), entries.data(), static_cast<int>(entries.size()),
                     std::min(clearUpTo, geometry_.Capacity()));
  WriteBlock(0, area.data(), HeaderLength());
  std::memcpy(seen_.data(), area.data(), seen_.size());
}

int32_t HXobjMDXFile::ListedHeaderBlock(std::string_view tagName) {
  for (const mdx::TagEntry& e : ReadTagTable())
    if (SysCompareText(e.name, tagName) == 0) return e.headerBlock;
  return -1;
}

bool HXobjMDXFile::CreateTag(std::string_view tagName, std::string_view keyExpression,
                             std::string_view filterExpression, bool ascending, bool unique) {
  const std::string name = TrimmedName(tagName);
  // The tag table holds names of ten characters: a longer one would be cut onto another tag.
  if (name.empty() || static_cast<int>(name.size()) > mdx::kMaxTagName)
    throw ESorrelError(smCannotFindTag, {std::string(tagName)});
  if (!disk_ || !Valid()) return false;
  const std::string file = disk_->Name();
  if (static_cast<int>(keyExpression.size()) > mdx::kMaxKeyExpression)
    throw ESorrelError("The key expression of tag " + name + " in index file " + file +
                       " is longer than " + std::to_string(mdx::kMaxKeyExpression) +
                       " characters");
  if (static_cast<int>(filterExpression.size()) > mdx::MaxFilterExpression(PageLength()))
    throw ESorrelError("The FOR expression of tag " + name + " in index file " + file +
                       " is longer than " +
                       std::to_string(mdx::MaxFilterExpression(PageLength())) + " characters");
  bool created = false;
  // Other programs sharing the file allocate at its end under the header lock: the new tag's
  // pages and the tag table are written under it too.
  Locked([&] {
    created = CreateTagLocked(name, keyExpression, filterExpression, ascending, unique);
  });
  return created;
}

bool HXobjMDXFile::CreateTagLocked(const std::string& name, std::string_view keyExpression,
                                   std::string_view filterExpression, bool ascending,
                                   bool unique) {
  // The table on disk is the one to change: another handle may have listed tags this one has
  // not read.
  std::vector<mdx::TagEntry> entries = ReadTagTable();
  const int before = static_cast<int>(entries.size());
  auto listed = std::find_if(entries.begin(), entries.end(),
                             [&](const auto& e) { return SysCompareText(e.name, name) == 0; });
  if (listed == entries.end() && before >= MaxTags())
    throw ESorrelError("Index file " + disk_->Name() + " holds " + std::to_string(before) +
                       " tags, the most it can take; tag " + name + " was not added");
  std::unique_ptr<HXobjMDXTag> tag(new HXobjMDXTag(this, -1, name));
  // A tag refused before its build wrote anything gives its header block back.
  const int32_t header = tag->HeaderPosition();
  auto giveBack = [&] {
    tag.reset();
    if (end_ == int64_t{header} + BlocksPerPage()) end_ = header;
  };
  bool ok;
  try {
    ok = tag->CreateTag(name, keyExpression, filterExpression, ascending, unique);
  } catch (...) {
    giveBack();
    throw;
  }
  if (!ok) {
    giveBack();
    WriteNextFree();
    return false;
  }
  // The new tag is whole on disk: now it replaces a tag of the same name, and the table lists it.
  if (HXobjIndexTag* old = TagByName(name)) tags_.DeleteAndFree(old);
  std::vector<HXobjIndexTag*> after;
  for (int i = 0; i < tags_.Count();) {
    HXobjIndexTag* t = tags_.Items(i);
    if (SysCompareText(t->TagName(), name) > 0) {
      after.push_back(t);
      tags_.Remove(t);
    } else {
      ++i;
    }
  }
  mdx::TagEntry entry{tag->HeaderPosition(), name, tag->KeyType()};
  tags_.Add(tag.release());
  for (HXobjIndexTag* t : after) tags_.Add(t);
  if (listed != entries.end())
    *listed = entry;
  else
    entries.push_back(entry);
  WriteTagTable(std::move(entries), before);
  tagsChanged_ = true;
  WriteNextFree();
  return true;
}

bool HXobjMDXFile::DeleteTag(std::string_view tagName) {
  HXobjIndexTag* tag = TagByName(TrimmedName(tagName));
  if (!tag || !disk_) return false;
  bool emptied = false;
  Locked([&] {
    std::vector<mdx::TagEntry> entries = ReadTagTable();
    const int before = static_cast<int>(entries.size());
    const std::string name = tag->TagName();
    std::erase_if(entries, [&](const auto& e) { return SysCompareText(e.name, name) == 0; });
    tags_.DeleteAndFree(tag);
    // The entry the tag leaves behind is zeroed, not left as it was.
    WriteTagTable(entries, before);
    tagsChanged_ = true;
    WriteNextFree();
    emptied = entries.empty();
  });
  // The blocks of the removed tag stay in the file unused, until no tag is left.
  if (emptied) Reindex();
  return true;
}

void HXobjMDXFile::Reindex() {
  if (!disk_) return;
  // Other programs' writers hold the header lock for the moment of one update: the rebuild
  // waits for them as every index lock does.
  const HXobjWholeFileLock lock(*disk_);
  ReindexLocked();
}

void HXobjMDXFile::ReindexLocked() {
  const int before = static_cast<int>(ReadTagTable().size());
  for (int i = 0; i < tags_.Count(); ++i) tags_.Items(i)->ReleasePages();
  disk_->Truncate(HeaderLength());
  end_ = HeaderBlocks();
  allocated_ = true;
  std::vector<mdx::TagEntry> entries;
  for (int i = 0; i < tags_.Count(); ++i) {
    auto* tag = static_cast<HXobjMDXTag*>(tags_.Items(i));
    tag->Restart(AllocateBlock());
    std::vector<uint8_t> zero(static_cast<size_t>(PageLength()), 0);
    WriteBlock(tag->HeaderPosition(), zero.data(), PageLength());
    tag->Build();
    entries.push_back({tag->HeaderPosition(), tag->TagName(), tag->KeyType()});
  }
  WriteTagTable(std::move(entries), before);
  WriteNextFree();
}

bool HXobjMDXFile::Rename(std::string_view newName) {
  if (!HXobjIndexFile::Rename(newName)) return false;
  uint8_t b[mdx::kBlockSize];
  if (disk_->ReadWrite() && ReadBlock(0, b, sizeof b)) {
    mdx::PutDataName(b, SysUpperCase(StripFileExt(newName)).substr(0, 8));
    WriteBlock(0, b, sizeof b);
    std::memcpy(seen_.data(), b, sizeof b);
  }
  return true;
}

void HXobjMDXFile::DiscardPages() {
  HXobjIndexFile::DiscardPages();
  // The tags' allocation chains as the file has them: blocks the failed update chained may
  // never have been written.
  for (int i = 0; i < tags_.Count(); ++i) {
    try {
      tags_.Items(i)->ReadHeader();
    } catch (const std::exception&) {
    }
  }
}

bool HXobjMDXFile::UpdateTags(int32_t record, bool isNew) {
  if (disk_ && disk_->Shared()) {
    // Under the header lock the handler holds: pages held from before another program's change
    // are stale, so every tag reads its path again (and finds its header where the tag table
    // says it is now).
    for (int i = 0; i < tags_.Count(); ++i) tags_.Items(i)->ReleasePages();
    NoteFirstBlock();
  }
  const bool changed = HXobjIndexFile::UpdateTags(record, isNew);
  // Other programs learn of the pages this update added from the next free block.
  WriteNextFree();
  return changed;
}

void HXobjMDXFile::RewriteNoteWritten(const uint8_t* block) {
  // Our own note is no change by others.
  std::memcpy(seen_.data(), block, seen_.size());
}

bool HXobjMDXFile::ChangedByOthers() {
  if (!disk_ || !disk_->Shared()) return false;
  uint8_t b[mdx::kBlockSize];
  if (!ReadBlock(0, b, sizeof b)) return false;
  if (std::memcmp(b, seen_.data(), sizeof b) == 0) return false;
  std::memcpy(seen_.data(), b, sizeof b);
  return true;
}

#include "index/hx6_ndx.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "base/byteorder.h"
#include "base/hx6_date.h"
#include "base/hx6_glbl.h"

namespace {

double DecodeKeyDouble(const uint8_t* p) { return std::bit_cast<double>(DecodeLE64(p)); }
void EncodeKeyDouble(uint8_t* p, double d) { EncodeLE64(p, std::bit_cast<uint64_t>(d)); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// HXobjNDXTag

HXobjNDXTag::HXobjNDXTag(HXobjNDXFile* file, int32_t headerPosition, std::string_view tagName)
    : HXobjIndexTag(file, headerPosition, tagName), ndxFile_(file) {
  formatName_ = "NDX";
  if (headerPosition_ == -1) {
    headerPosition_ = file->AllocateBlock();
    headerChanged_ = true;
  } else if (!ReadHeader()) {
    valid_ = false;
    file->SetHeaderError(true);
  }
}

HXobjNDXTag::~HXobjNDXTag() {
  // The base destructor no longer reaches this class's page and header writers.
  try {
    ReleasePages();
  } catch (...) {
  }
}

void HXobjNDXTag::Corrupted() const {
  const HXO_DiskFile* disk = file_->DiskFile();
  throw ESorrelError(smIndexCorrupted, {disk ? disk->Name() : file_->FileName()});
}

void HXobjNDXTag::TranslateKey(HXobjIndexKeyData& key, bool trim) {
  if (keyType_ == 'C') {
    key.PutString(StoredTextKey(key, trim, keyLength_));
    return;
  }
  double value = 0.0;
  try {
    if (key.Type() == vtFloat)
      value = key.GetFloat();
    else if (keyType_ == 'D')
      value = static_cast<double>(key.GetDate());
    else
      value = key.GetFloat();
  } catch (const EConvertError&) {
    value = 0.0;
  }
  if (keyType_ == 'D' && value < 0.1) value = ndx::kEmptyDateKey;
  key.PutFloat(value);
}

std::string HXobjNDXTag::NodeKey(const ThxVariant& key) const {
  std::string out(static_cast<size_t>(keyLength_), keyType_ == 'C' ? ' ' : '\0');
  if (keyType_ == 'C') {
    const std::string s = key.Type() == vtText || key.Type() == vtBinary
                              ? std::string(reinterpret_cast<const char*>(key.Data()),
                                            static_cast<size_t>(std::max(key.Length(), 0)))
                              : key.GetString();
    std::memcpy(out.data(), s.data(), std::min(s.size(), out.size()));
  } else {
    EncodeKeyDouble(reinterpret_cast<uint8_t*>(out.data()), key.GetFloat());
  }
  return out;
}

bool HXobjNDXTag::CreateTag(std::string_view tagName, std::string_view keyExpression,
                            std::string_view /*filterExpression*/, bool /*ascending*/,
                            bool unique) {
  // The header stores neither a FOR condition nor an order: the tag is made ascending and over
  // every record, as it reads back when the file is opened again.
  HXobjIndexTag::CreateTag(tagName, keyExpression, "", true, unique);
  HXobjIndexKeyData v;
  switch (keyHandler_ ? keyHandler_->EvaluateKey(v) : kExpTypeUnknown) {
    case kExpTypeText:
    case kExpTypeBoolean:
      keyType_ = 'C';
      keyLength_ = static_cast<int>(v.GetString().size());
      break;
    case kExpTypeNumber:
    case kExpTypeInteger:
    case kExpTypeDateTime:
      keyType_ = 'N';
      keyLength_ = ndx::kNumberKeyLength;
      break;
    case kExpTypeDate:
      keyType_ = 'D';
      keyLength_ = ndx::kStoredNumberLength;
      break;
    default:
      // A key that cannot be evaluated builds nothing.
      return false;
  }
  // The build's sorter takes keys of key length + 1 bytes, at most 240.
  if (keyLength_ < 1 || keyLength_ >= ThxSort::kMaxKeyLength)
    throw ESorrelError(smSortKeyLength,
                       {ThxSort::kMaxKeyLength, keyLength_ < 1 ? keyLength_ : keyLength_ + 1});
  entryLength_ = ndx::EntryLengthFor(keyLength_);
  maxKeys_ = ndx::MaxKeysFor(entryLength_);
  Build();
  return true;
}

bool HXobjNDXTag::AddKey(const HXobjIndexKeyData& key) {
  HXobjIndexKeyData k = key;
  k.SetRecNo(0);
  return HXobjIndexTag::AddKey(k);
}

int32_t HXobjNDXTag::RootBlock() {
  uint8_t h[ndx::kBlockSize];
  if (!file_->ReadBlock(0, h, sizeof h)) Corrupted();
  ndxFile_->NoteHeader(h);
  const auto root = static_cast<int32_t>(DecodeLE32(h + ndx::kHdrRoot));
  if (root < 1 || root >= file_->RefreshEnd()) Corrupted();
  return root_ = root;
}

void HXobjNDXTag::ReadPage(int32_t block, HXobjIndexKey& page) {
  uint8_t node[ndx::kBlockSize];
  if (block < 1 || !file_->ReadBlock(block, node, sizeof node)) Corrupted();
  const int count = DecodeLE16(node);
  const bool interior = DecodeLE32(node + ndx::kNodeEntries + ndx::kEntryChild) != 0;
  const int entries = interior ? count + 1 : count;
  if (ndx::kNodeEntries + entries * entryLength_ > ndx::kBlockSize) Corrupted();
  page.SetKind(interior ? HXobjIndexKey::kInterior : HXobjIndexKey::kLeaf);
  auto& keys = page.Keys();
  keys.clear();
  keys.reserve(static_cast<size_t>(entries));
  int64_t end = file_->End();
  const int stored = keyType_ == 'C' ? std::min(keyLength_, entryLength_ - ndx::kEntryKey)
                                     : ndx::kStoredNumberLength;
  for (int i = 0; i < entries; ++i) {
    const uint8_t* e = node + ndx::kNodeEntries + i * entryLength_;
    auto k = std::make_unique<HXobjIndexKeyData>();
    const bool last = interior && i == count;
    if (keyType_ == 'C') {
      if (last)
        k->PutString(std::string(1, ndx::kTextSentinel));
      else
        k->PutString(TrimKeyBlanks(std::string(reinterpret_cast<const char*>(e + ndx::kEntryKey),
                                            static_cast<size_t>(stored))));
    } else {
      k->PutFloat(last ? ndx::kNumberSentinel : DecodeKeyDouble(e + ndx::kEntryKey));
    }
    k->SetRecNo(0);
    if (interior) {
      const auto child = static_cast<int32_t>(DecodeLE32(e + ndx::kEntryChild));
      // Another program may have grown the file since this handle looked at its size.
      if (child >= end) end = file_->RefreshEnd();
      if (child < 1 || child >= end || child == block) Corrupted();
      k->SetTarget(child);
    } else {
      const auto record = static_cast<int32_t>(DecodeLE32(e + ndx::kEntryRecord));
      if (record < 1) Corrupted();
      k->SetTarget(record);
    }
    keys.push_back(std::move(k));
  }
}

int HXobjNDXTag::WritePage(HXobjIndexKey& page) {
  if (page.Block() == 0) page.SetBlock(file_->AllocateBlock());
  auto& keys = page.Keys();
  const bool leaf = page.IsLeaf();
  uint8_t node[ndx::kBlockSize];
  auto writeNode = [&](int32_t block, size_t count) {
    std::memset(node, 0, sizeof node);
    const int n = static_cast<int>(count);
    // An interior node's last entry is the rightmost child, not counted.
    EncodeLE32(node, static_cast<uint32_t>(leaf ? n : std::max(n - 1, 0)));
    for (size_t i = 0; i < count; ++i) {
      uint8_t* e = node + ndx::kNodeEntries + static_cast<int>(i) * entryLength_;
      EncodeLE32(e + (leaf ? ndx::kEntryRecord : ndx::kEntryChild),
                 static_cast<uint32_t>(keys[i]->Target()));
      const std::string k = NodeKey(*keys[i]);
      std::memcpy(e + ndx::kEntryKey, k.data(),
                  std::min(k.size(), static_cast<size_t>(entryLength_ - ndx::kEntryKey)));
    }
    file_->WriteBlock(block, node, sizeof node);
  };
  while (static_cast<int>(keys.size()) > maxKeys_) {
    // Half goes to a new node on the left; a page more than two nodes over gives a full node at
    // a time.
    const size_t n = std::min(keys.size() - keys.size() / 2, static_cast<size_t>(maxKeys_));
    const int32_t newBlock = file_->AllocateBlock();
    HXobjIndexKeyData splitKey = *keys[n - 1];
    splitKey.SetTarget(newBlock);
    SplitPage(page, splitKey);
    writeNode(newBlock, n);
    keys.erase(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(n));
  }
  writeNode(page.Block(), keys.size());
  return 1;
}

bool HXobjNDXTag::ReadHeader() {
  headerChanged_ = false;
  uint8_t h[ndx::kBlockSize];
  if (!file_->ReadBlock(0, h, sizeof h)) return false;
  ndxFile_->NoteHeader(h);
  const auto root = static_cast<int32_t>(DecodeLE32(h + ndx::kHdrRoot));
  const int keyLength = DecodeLE16(h + ndx::kHdrKeyLength);
  const int maxKeys = DecodeLE16(h + ndx::kHdrMaxKeys);
  const bool numeric = DecodeLE16(h + ndx::kHdrKeyType) != 0;
  const int entryLength = DecodeLE16(h + ndx::kHdrEntryLength);
  if (keyLength < 1 || entryLength < keyLength + ndx::kEntryKey || maxKeys < 2 ||
      maxKeys * entryLength > ndx::kNodeArea || (numeric && keyLength != ndx::kStoredNumberLength))
    return false;
  if (root < 1 || (file_->DiskFile() && root >= file_->RefreshEnd())) return false;
  const char* text = reinterpret_cast<const char*>(h + ndx::kHdrExpression);
  const size_t length = strnlen(text, ndx::kExpressionArea);
  if (length == 0 || length >= static_cast<size_t>(ndx::kExpressionArea)) return false;
  root_ = root;
  keyLength_ = keyLength;
  entryLength_ = entryLength;
  maxKeys_ = maxKeys;
  unique_ = (h[ndx::kHdrUnique] & 1) != 0;
  ascending_ = true;
  descending_ = false;
  filterExpression_.clear();
  hasFilter_ = false;
  keyExpression_.assign(text, length);
  CompileKey();
  HXobjIndexKeyData v;
  switch (keyHandler_ ? keyHandler_->EvaluateKey(v) : kExpTypeUnknown) {
    case kExpTypeText:
    case kExpTypeBoolean: keyType_ = 'C'; break;
    case kExpTypeNumber:
    case kExpTypeInteger:
    case kExpTypeDateTime: keyType_ = 'N'; break;
    case kExpTypeDate: keyType_ = 'D'; break;
    default: keyType_ = numeric ? 'N' : 'C'; break;
  }
  // Keys stored as numbers cannot serve a text expression, nor text keys a number.
  return (keyType_ != 'C') == numeric;
}

void HXobjNDXTag::WriteHeader() {
  if (!headerChanged_) return;
  uint8_t h[ndx::kBlockSize] = {};
  const bool numeric = keyType_ != 'C';
  if (file_->End() < 0) file_->RefreshEnd();
  EncodeLE32(h + ndx::kHdrRoot, static_cast<uint32_t>(root_));
  EncodeLE32(h + ndx::kHdrBlocks, static_cast<uint32_t>(file_->End()));
  EncodeLE16(h + ndx::kHdrKeyLength,
             static_cast<uint16_t>(numeric ? ndx::kStoredNumberLength : keyLength_));
  EncodeLE16(h + ndx::kHdrMaxKeys, static_cast<uint16_t>(maxKeys_));
  EncodeLE16(h + ndx::kHdrKeyType, numeric ? 1 : 0);
  EncodeLE16(h + ndx::kHdrEntryLength, static_cast<uint16_t>(entryLength_));
  h[ndx::kHdrUnique] = unique_ ? 1 : 0;
  // A text that would not fit with its NUL is cut.
  const size_t length =
      std::min(keyExpression_.size(), static_cast<size_t>(ndx::kExpressionArea - 1));
  std::memcpy(h + ndx::kHdrExpression, keyExpression_.data(), length);
  // A rewrite's note lives in the header, which a header write must not drop.
  EncodeLE32(h + ndx::kHdrRewriteNote, static_cast<uint32_t>(file_->RewriteNote()));
  file_->WriteBlock(headerPosition_, h, sizeof h);
  ndxFile_->NoteHeader(h);
  headerChanged_ = false;
}

void HXobjNDXTag::WriteEmptyRoot() {
  uint8_t node[ndx::kBlockSize] = {};
  const int32_t block = file_->AllocateBlock();
  file_->WriteBlock(block, node, sizeof node);
  root_ = block;
}

void HXobjNDXTag::Build() {
  ReleasePages();
  HXobjIndexTable* table = file_->Table();
  const int32_t count = table ? table->IndexRecordCount() : 0;
  HXobjSortNdx sorter(this, nullptr, true, unique_);
  if (table && count > 0) {
    ScanKeys(*table, count, sorter);
  }
  // The file is written anew only now, when every key has been read: a scan that fails leaves
  // it as it was.
  ndxFile_->StartOver();
  const uint8_t zero[ndx::kBlockSize] = {};
  file_->WriteBlock(headerPosition_, zero, sizeof zero);
  if (sorter.KeyCount() == 0) {
    WriteEmptyRoot();
    headerChanged_ = true;
    WriteHeader();
    return;
  }
  if (table) table->IndexStatus(-1, 2, count);
  ThxVariant key;
  int32_t record = 0;
  int emitted = 0;
  while (sorter.GetNextKey(key, record)) {
    ++emitted;
    if (table) table->IndexStatus(2, emitted, 0);
    sorter.AddToLevel(0, record, NodeKey(key));
  }
  sorter.Finish();
  if (table) table->IndexStatus(0, 0, 0);
}

// ---------------------------------------------------------------------------------------------
// HXobjSortNdx

HXobjSortNdx::HXobjSortNdx(HXobjNDXTag* tag, const uint8_t* collation, bool ascending,
                           bool unique)
    : ThxSort(tag->KeyLength() + 1, collation, ascending, unique),
      tag_(tag),
      entryLength_(tag->EntryLength()),
      keyLength_(tag->KeyLength()) {}

uint8_t* HXobjSortNdx::Entry(Node& node, int index) const {
  return node.bytes.data() + ndx::kNodeEntries + index * entryLength_;
}

void HXobjSortNdx::AddToLevel(int level, int32_t value, const std::string& nodeKey) {
  if (level >= kLevels - 1) throw ESorrelError(smIndexCorrupted, {tag_->File()->FileName()});
  Level& l = levels_[static_cast<size_t>(level)];
  l.started = true;
  if (l.current.count >= tag_->MaxKeys()) {
    if (level == 0) {
      WriteNode(0, l.current, false);
    } else {
      if (l.hasWaiting) WriteNode(level, l.waiting, false);
      std::swap(l.waiting, l.current);
      l.hasWaiting = true;
    }
  }
  uint8_t* e = Entry(l.current, l.current.count);
  EncodeLE32(e + (level == 0 ? ndx::kEntryRecord : ndx::kEntryChild), static_cast<uint32_t>(value));
  std::memcpy(e + ndx::kEntryKey, nodeKey.data(),
              std::min(nodeKey.size(), static_cast<size_t>(entryLength_ - ndx::kEntryKey)));
  ++l.current.count;
}

void HXobjSortNdx::WriteNode(int level, Node& node, bool root) {
  HXobjIndexFile* file = tag_->File();
  const int32_t block = file->AllocateBlock();
  // On an interior level the last entry is the rightmost child, not counted.
  EncodeLE32(node.bytes.data(), static_cast<uint32_t>(level == 0 ? node.count : node.count - 1));
  file->WriteBlock(block, node.bytes.data(), ndx::kBlockSize);
  const std::string last(reinterpret_cast<const char*>(Entry(node, node.count - 1) + ndx::kEntryKey),
                         static_cast<size_t>(keyLength_));
  node.bytes.fill(0);
  node.count = 0;
  if (root)
    tag_->SetRoot(block);
  else
    AddToLevel(level + 1, block, last);
}

void HXobjSortNdx::Finish() {
  for (int level = 0; level < kLevels - 1; ++level) {
    Level& l = levels_[static_cast<size_t>(level)];
    if (!l.started) continue;
    if (l.hasWaiting) {
      // A last node with one entry would count no key: it takes the waiting node's last entry.
      if (l.current.count == 1 && l.waiting.count > 2) {
        std::memmove(Entry(l.current, 1), Entry(l.current, 0), static_cast<size_t>(entryLength_));
        std::memcpy(Entry(l.current, 0), Entry(l.waiting, l.waiting.count - 1),
                    static_cast<size_t>(entryLength_));
        std::memset(Entry(l.waiting, l.waiting.count - 1), 0, static_cast<size_t>(entryLength_));
        --l.waiting.count;
        ++l.current.count;
      }
      WriteNode(level, l.waiting, false);
      l.hasWaiting = false;
    }
    const bool root = !levels_[static_cast<size_t>(level) + 1].started;
    WriteNode(level, l.current, root);
    if (root) break;
  }
  tag_->SetHeaderChanged(true);
  tag_->WriteHeader();
}

// ---------------------------------------------------------------------------------------------
// HXobjNDXFile

HXobjNDXFile::HXobjNDXFile(HXobjIndexTable* table, std::string_view fileName, bool overwrite,
                           bool create, bool shared, bool readWrite)
    : HXobjIndexFile(table, fileName) {
  if (!OpenDiskFile(table, fileName, overwrite, create, shared, readWrite, ".ndx")) {
    valid_ = false;
    return;
  }
  const int64_t size = disk_->FileSize();
  if (size < 2 * ndx::kBlockSize && !(size == 0 && create)) {
    // Shorter than the smallest whole file (the header block and a root node): a cut or damaged file, reported
    // and left as it is.
    headerError_ = true;
    return;
  }
  if (create && size == 0) {
    // The tag comes with CreateTag.
    end_ = 0;
    return;
  }
  RefreshEnd();
  tags_.Add(new HXobjNDXTag(this, 0, StripFileExt(fileName_)));
}

HXobjNDXFile::~HXobjNDXFile() {
  // The tag writes through this object's allocation: free it while the object is still whole.
  tags_.FreeAll();
}

HXobjNDXTag* HXobjNDXFile::Tag() const { return static_cast<HXobjNDXTag*>(TagByIndex(0)); }

void HXobjNDXFile::NoteHeader(const uint8_t* header) {
  std::memcpy(seenHeader_.data(), header, seenHeader_.size());
}

bool HXobjNDXFile::CreateTag(std::string_view tagName, std::string_view keyExpression,
                             std::string_view filterExpression, bool ascending, bool unique) {
  if (!disk_) return false;
  RefuseLongExpression("key", tagName, disk_->Name(), keyExpression, ndx::kExpressionArea - 1);
  // The file is written anew from its first block: nobody reads it meanwhile.
  HXobjWholeFileLock lock(*disk_);
  tags_.FreeAll();  // one tag per file: a new one replaces it
  end_ = 0;
  auto* tag = new HXobjNDXTag(this, -1, tagName);
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

void HXobjNDXFile::StartOver() {
  // Nothing of an old tree is kept: the header is block 0 and the tree follows.
  if (disk_ && disk_->FileSize() > 0) disk_->Truncate(0);
  end_ = 1;
}

int32_t HXobjNDXFile::AllocateBlock() {
  if (end_ < 0) RefreshEnd();
  const auto block = static_cast<int32_t>(end_);
  ++end_;
  // The header's block count follows every allocation, so that other programs that take new
  // blocks from it never take ours. During an update it is written before the block is.
  if (HXobjNDXTag* tag = Tag()) {
    tag->SetHeaderChanged(true);
    if (UpdatingTags()) tag->WriteHeader();
  }
  return block;
}

int32_t HXobjNDXFile::RefreshEnd() {
  const int64_t size = disk_ ? disk_->FileSize() : 0;
  end_ = (size + ndx::kBlockSize - 1) / ndx::kBlockSize;
  return static_cast<int32_t>(end_);
}

bool HXobjNDXFile::ReadBlock(int64_t block, void* buffer, int32_t length) {
  return HXobjIndexFile::ReadBlock(block * ndx::kBlockSize, buffer, length);
}

void HXobjNDXFile::WriteBlock(int64_t block, const void* buffer, int32_t length) {
  HXobjIndexFile::WriteBlock(block * ndx::kBlockSize, buffer, length);
}

void HXobjNDXFile::Empty() {
  HXobjNDXTag* tag = Tag();
  if (!tag || !disk_) return;
  HXobjWholeFileLock lock(*disk_);
  tag->ReleasePages();
  disk_->Truncate(2 * ndx::kBlockSize);
  end_ = 2;
  const uint8_t zero[ndx::kBlockSize] = {};
  WriteBlock(1, zero, sizeof zero);
  tag->SetRoot(1);
  tag->SetHeaderChanged(true);
  tag->WriteHeader();
}

void HXobjNDXFile::Reindex() {
  HXobjNDXTag* tag = Tag();
  if (!tag || !disk_) return;
  HXobjWholeFileLock lock(*disk_);
  tag->Build();  // from block 1 after the header, as in an emptied file
}

bool HXobjNDXFile::UpdateTags(int32_t record, bool isNew) {
  if (disk_ && disk_->Shared()) {
    // Without a change counter nothing tells whether another program changed the file since
    // this handle read it: what it holds is read again under the header lock.
    for (int i = 0; i < tags_.Count(); ++i) tags_.Items(i)->ReleasePages();
  }
  return HXobjIndexFile::UpdateTags(record, isNew);
}

bool HXobjNDXFile::ChangedByOthers() {
  if (!disk_ || !disk_->Shared()) return false;
  uint8_t h[ndx::kBlockSize];
  if (!ReadBlock(0, h, sizeof h)) return false;
  if (std::memcmp(h, seenHeader_.data(), seenHeader_.size()) == 0) return false;
  // Seen: the caller reads what it holds again, so the same change is reported once.
  NoteHeader(h);
  return true;
}

#include "index/hx6_cdx.h"

#include <algorithm>
#include <cstring>

#include "base/SysSorl.h"
#include "base/byteorder.h"
#include "base/hx6_date.h"
#include "base/hx6_glbl.h"

namespace {

int gNewTagCollation = cdx::kCollateNone;

constexpr int kTagNameLength = 10;

[[noreturn]] void Corrupted(const HXobjIndexFile* file) {
  throw ESorrelError(smIndexCorrupted, {file->DiskFile() ? file->DiskFile()->Name() : file->FileName()});
}

// Sets the right-sibling field of a node on disk.
void PatchRightSibling(HXobjIndexFile* file, int32_t position, int32_t value) {
  uint8_t node[cdx::kNodeSize];
  if (!file->ReadBlock(position, node, sizeof node)) return;
  EncodeLE32(node + cdx::kNodeRight, static_cast<uint32_t>(value));
  file->WriteBlock(position, node, sizeof node);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// HXobjCDXTag

HXobjCDXTag::HXobjCDXTag(HXobjCDXFile* file, int32_t headerPosition, std::string_view tagName)
    : HXobjIndexTag(file, headerPosition, SysUpperCase(tagName)), cdxFile_(file) {
  formatName_ = "CDX";
  if (headerPosition_ == -1) {
    headerPosition_ = file->AllocateBlock();
    file->AllocateBlock();
    options_ = cdx::kOptNewTag;
  } else if (!ReadHeader()) {
    valid_ = false;
    file->SetHeaderError(true);
  } else {
    options_ = (options_ & cdx::kOptDirectory) ? cdx::kOptNewDirectory : cdx::kOptNewTag;
  }
}

HXobjCDXTag::~HXobjCDXTag() {
  // The base destructor no longer reaches this class's page and header writers.
  try {
    ReleasePages();
  } catch (...) {
  }
}

cdx::KeyForm HXobjCDXTag::Form() const {
  return cdx::KeyForm{keyLength_, keyType_ == 'C', collation_ == cdx::kCollateGeneral && !IsDirectory()};
}

cdx::LeafLayout HXobjCDXTag::Layout(int64_t largestRecord) const {
  int64_t n = largestRecord;
  if (IsDirectory()) {
    if (file_->DiskFile()) n = std::max(n, file_->DiskFile()->FileSize());
  } else if (file_->Table()) {
    n = std::max<int64_t>(n, file_->Table()->IndexRecordCount());
  }
  return cdx::ChooseLeafLayout(keyLength_, n);
}

void HXobjCDXTag::TranslateKey(HXobjIndexKeyData& key, bool trim) {
  if (keyType_ == 'C') {
    std::string s = key.Type() == vtText || key.Type() == vtBinary
                        ? std::string(key.Bytes())
                        : key.GetString();
    if (trim) s = cdx::TrimKey(s, ' ');
    if (collation_ == cdx::kCollateGeneral && !IsDirectory()) s = cdx::EncodeGeneralKey(s);
    // A key longer than the tag's key length is cut, as it would be in a leaf.
    if (keyLength_ > 0 && static_cast<int>(s.size()) > keyLength_)
      s.resize(static_cast<size_t>(keyLength_));
    // A node never stores trailing blanks (its trailing count stands for them), and a GENERAL key
    // can end in the blank's weight ('/' weighs 0x20): the key in memory is the key as it will be
    // read back, or a later rewrite would not find it to replace it.
    if (trim) s = cdx::TrimKey(s, ' ');
    key.PutString(s);
    return;
  }
  if (key.Type() == vtBinary) return;  // already in the stored form
  double value = 0.0;
  try {
    if (keyType_ == 'D')
      value = key.Type() == vtFloat ? key.GetFloat() : static_cast<double>(key.GetDate());
    else
      value = key.GetFloat();
  } catch (const EConvertError&) {
    value = 0.0;
  }
  std::string bytes = cdx::EncodeNumberKey(value);
  key.PutBinary(bytes.data(), static_cast<int>(bytes.size()));
}

bool HXobjCDXTag::CreateTag(std::string_view tagName, std::string_view keyExpression,
                            std::string_view filterExpression, bool ascending, bool unique) {
  HXobjIndexTag::CreateTag(SysUpperCase(tagName), keyExpression, filterExpression, ascending,
                           unique);
  if (keyExpression_.empty()) {
    keyType_ = 'C';
    keyLength_ = kTagNameLength;
  } else {
    HXobjIndexKeyData v;
    const int type = keyHandler_ ? keyHandler_->EvaluateKey(v) : kExpTypeUnknown;
    switch (type) {
      case kExpTypeText:
      case kExpTypeBoolean:
        keyType_ = 'C';
        keyLength_ = static_cast<int>(v.GetString().size());
        if (collation_ == cdx::kCollateGeneral) keyLength_ *= 2;
        break;
      case kExpTypeNumber:
      case kExpTypeInteger:
      case kExpTypeDateTime:
        keyType_ = 'N';
        keyLength_ = 8;
        break;
      case kExpTypeDate:
        keyType_ = 'D';
        keyLength_ = 8;
        break;
      default:
        // A key that cannot be evaluated builds nothing.
        return false;
    }
    // The build's sorter takes keys of key length + 1 bytes, at most 240.
    if (keyLength_ < 1 || keyLength_ >= cdx::kMaxKeyLength)
      throw ESorrelError(smSortKeyLength,
                         {ThxSort::kMaxKeyLength, keyLength_ < 1 ? keyLength_ : keyLength_ + 1});
  }
  entryLength_ = keyLength_ + 8;
  maxKeys_ = cdx::kInteriorArea / entryLength_;
  uint8_t zero[cdx::kHeaderSize] = {};
  file_->WriteBlock(headerPosition_, zero, sizeof zero);
  Build();
  headerChanged_ = true;
  WriteHeader();
  return true;
}

bool HXobjCDXTag::AddKey(const HXobjIndexKeyData& key) {
  HXobjIndexKeyData k = key;
  k.SetRecNo(k.Target());
  return HXobjIndexTag::AddKey(k);
}

int32_t HXobjCDXTag::RootBlock() {
  auto readRoot = [this](int32_t& root) {
    uint8_t b[4];
    if (!file_->ReadBlock(headerPosition_ + cdx::kHdrRoot, b, 4)) return false;
    root = static_cast<int32_t>(DecodeLE32(b));
    const int64_t size = file_->DiskFile() ? file_->DiskFile()->FileSize() : 0;
    return root > 0 && root % cdx::kNodeSize == 0 && root + cdx::kNodeSize <= size;
  };
  int32_t root = 0;
  const bool shared = !IsDirectory() && headerPosition_ != 0 && file_->DiskFile() &&
                      file_->DiskFile()->Shared();
  if (!shared) {
    if (!readRoot(root)) Corrupted(file_);
    return root_ = root;
  }
  // Another program's rebuild lays every tag out anew after the truncated directory, so the
  // header this tag read at opening may now hold another tag's nodes: the directory on disk says
  // where the header is now. A tag the directory does not list yet, one being created, keeps its
  // own. While the rebuild runs
  // the file is cut short and half written; the rebuilder holds the whole file locked, so a
  // header that does not read is read once more after waiting for that lock.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0) {
      file_->LockHeader();
      file_->UnlockHeader();
    }
    try {
      const int32_t position = cdxFile_->DirectoryPosition(TagName());
      if (position > 0) headerPosition_ = position;
    } catch (const ESorrelError&) {
      continue;
    }
    if (readRoot(root)) return root_ = root;
  }
  Corrupted(file_);
}

void HXobjCDXTag::ReadPage(int32_t position, HXobjIndexKey& page) {
  uint8_t node[cdx::kNodeSize];
  if (position <= 0 || position % cdx::kNodeSize != 0 ||
      !file_->ReadBlock(position, node, sizeof node))
    Corrupted(file_);
  const cdx::NodeHeader h = cdx::ReadNodeHeader(node);
  const bool leaf = h.attributes >= cdx::kAttrLeaf;
  page.SetKind(leaf ? HXobjIndexKey::kLeaf : HXobjIndexKey::kInterior);
  page.SetLeft(h.left);
  page.SetRight(h.right);
  // The decoded entries go through one buffer per thread that keeps its capacity (and its
  // keys' capacities) from page to page: a page read on every cache miss of an append would
  // otherwise allocate and free a node's worth of entries each time.
  thread_local std::vector<cdx::NodeEntry> entries;
  const cdx::KeyForm form = Form();
  if (!(leaf ? cdx::DecodeLeaf(node, form, entries) : cdx::DecodeInterior(node, form, entries)))
    Corrupted(file_);
  auto& keys = page.Keys();
  keys.clear();
  // Room for the few entries an update adds before the page is written and split.
  keys.reserve(entries.size() + 4);
  for (const auto& e : entries) {
    auto k = std::make_unique<HXobjIndexKeyData>();
    if (keyType_ == 'C')
      k->PutString(e.key);
    else
      k->PutBinary(e.key.data(), static_cast<int>(e.key.size()));
    k->SetRecNo(static_cast<int32_t>(e.record));
    if (leaf) {
      k->SetTarget(static_cast<int32_t>(e.record));
    } else {
      if (e.child <= 0 || e.child % cdx::kNodeSize != 0 || e.child == position) Corrupted(file_);
      k->SetTarget(e.child);
    }
    keys.push_back(std::move(k));
  }
}

int HXobjCDXTag::WritePage(HXobjIndexKey& page) {
  if (page.Block() == 0) page.SetBlock(file_->AllocateBlock());
  const cdx::KeyForm form = Form();
  auto& keys = page.Keys();
  uint8_t node[cdx::kNodeSize];
  auto writeNode = [&](int32_t position, uint16_t attributes, int32_t left, int32_t right,
                       size_t from, size_t to, const cdx::LeafLayout* layout) {
    std::memset(node, 0, sizeof node);
    cdx::NodeHeader h;
    h.attributes = attributes;
    h.count = static_cast<uint16_t>(to - from);
    h.left = left;
    h.right = right;
    cdx::WriteNodeHeader(node, h);
    if (layout) {
      cdx::LeafBuilder b(node, form, *layout);
      for (size_t i = from; i < to; ++i)
        if (!b.Add(keys[i]->Bytes(), static_cast<uint32_t>(keys[i]->Target()))) Corrupted(file_);
    } else {
      std::memset(node + cdx::kInteriorEntries, form.Pad(), cdx::kInteriorArea);
      for (size_t i = from; i < to; ++i)
        cdx::PutInteriorEntry(node, form, static_cast<int>(i - from), keys[i]->Bytes(),
                              static_cast<uint32_t>(keys[i]->RecNo()), keys[i]->Target());
    }
    file_->WriteBlock(position, node, sizeof node);
  };
  // Splits off the first `n` entries into a new node left of the page.
  auto splitOff = [&](size_t n, uint16_t attributes, const cdx::LeafLayout* layout) {
    const int32_t newPos = file_->AllocateBlock();
    HXobjIndexKeyData splitKey = *keys[n - 1];
    splitKey.SetTarget(newPos);
    // The split step may move a root page to a new block: the new node's right sibling is the
    // page's position after that.
    SplitPage(page, splitKey);
    const int32_t oldLeft = page.Left();
    writeNode(newPos, attributes, oldLeft, page.Block(), 0, n, layout);
    if (oldLeft > 0) SetSibling(oldLeft, true, newPos);
    page.SetLeft(newPos);
    keys.erase(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(n));
  };

  if (page.IsLeaf()) {
    // Wide enough for every record number on the page, also when our record count is older
    // than keys another program added.
    int64_t largest = 0;
    for (const auto& k : keys) largest = std::max<int64_t>(largest, static_cast<uint32_t>(k->Target()));
    const cdx::LeafLayout layout = Layout(largest);
    const uint16_t attributes = cdx::kAttrLeaf + (page.Parent() ? 0 : cdx::kAttrRoot);
    {
      // Most writes fit one node: encode straight away, and split only when that fails.
      std::memset(node, 0, sizeof node);
      cdx::NodeHeader h;
      h.attributes = attributes;
      h.left = page.Left();
      h.right = page.Right();
      cdx::WriteNodeHeader(node, h);
      cdx::LeafBuilder b(node, form, layout);
      size_t i = 0;
      while (i < keys.size() && b.Add(keys[i]->Bytes(), static_cast<uint32_t>(keys[i]->Target()))) ++i;
      if (i == keys.size() && b.Free() > 0) {
        file_->WriteBlock(page.Block(), node, sizeof node);
        return 1;
      }
    }
    for (;;) {
      // The entry cost of every key, and the split point of the first part (below 250 bytes).
      int sum = 0;
      size_t firstPart = 0;
      std::string previousCopy, storedCopy;
      std::string_view previous;
      for (size_t i = 0; i < keys.size(); ++i) {
        std::string_view stored = keys[i]->Bytes();
        if (!cdx::IsStoredForm(form, stored)) {
          storedCopy = cdx::StoredKey(form, stored);
          stored = storedCopy;
        }
        sum += cdx::LeafEntryCost(layout, stored, previous);
        if (sum < 250) firstPart = i + 1;
        previousCopy.assign(stored.data(), stored.size());
        previous = previousCopy;
      }
      if (sum < cdx::kLeafAreaSize) break;
      firstPart = std::clamp<size_t>(firstPart, 1, keys.size() - 1);
      splitOff(firstPart, cdx::kAttrLeaf, &layout);
    }
    // A root that split has a parent now.
    const uint16_t finalAttributes = cdx::kAttrLeaf + (page.Parent() ? 0 : cdx::kAttrRoot);
    writeNode(page.Block(), finalAttributes, page.Left(), page.Right(), 0, keys.size(), &layout);
  } else {
    while (static_cast<int>(keys.size()) > maxKeys_) {
      // Half goes left; a page more than two nodes over gives a full node at a time.
      const size_t n = std::min(keys.size() - keys.size() / 2, static_cast<size_t>(maxKeys_));
      splitOff(n, cdx::kAttrInterior, nullptr);
    }
    const uint16_t attributes = cdx::kAttrInterior + (page.Parent() ? 0 : cdx::kAttrRoot);
    writeNode(page.Block(), attributes, page.Left(), page.Right(), 0, keys.size(), nullptr);
  }
  return 1;
}

bool HXobjCDXTag::ReadHeader() {
  headerChanged_ = false;
  uint8_t h[cdx::kHeaderSize];
  if (!file_->ReadBlock(headerPosition_, h, sizeof h)) return false;
  cdx::TagHeader th;
  if (!cdx::ReadTagHeader(h, th)) return false;
  if (th.root == 0) return false;
  if (file_->DiskFile()) {
    const int64_t size = file_->DiskFile()->FileSize();
    if (th.root < 0 || th.root % cdx::kNodeSize != 0 || th.root + cdx::kNodeSize > size) return false;
  }
  if (th.keyLength < 1 || th.keyLength > cdx::kMaxKeyLength) return false;
  const bool directory = (th.options & cdx::kOptDirectory) != 0 || headerPosition_ == 0;
  if (!directory && th.keyExpression.empty()) return false;
  root_ = th.root;
  keyLength_ = th.keyLength;
  entryLength_ = keyLength_ + 8;
  maxKeys_ = cdx::kInteriorArea / entryLength_;
  options_ = th.options;
  changeCounter_ = th.changeCounter;
  unique_ = (th.options & cdx::kOptUnique) != 0;
  hasFilter_ = (th.options & cdx::kOptFor) != 0;
  ascending_ = !th.descending;
  descending_ = th.descending;
  collation_ = th.general ? cdx::kCollateGeneral
                          : (th.machine ? cdx::kCollateMachine : cdx::kCollateNone);
  keyExpression_ = th.keyExpression;
  filterExpression_ = hasFilter_ ? th.forExpression : std::string();
  hasFilter_ = !filterExpression_.empty();
  CompileKey();
  CompileFilter();
  keyType_ = 'C';
  if (keyHandler_) {
    HXobjIndexKeyData v;
    switch (keyHandler_->EvaluateKey(v)) {
      case kExpTypeNumber:
      case kExpTypeInteger:
      case kExpTypeDateTime: keyType_ = 'N'; break;
      case kExpTypeDate: keyType_ = 'D'; break;
      default: keyType_ = 'C'; break;
    }
  }
  return true;
}

void HXobjCDXTag::WriteHeader() {
  if (!headerChanged_) return;
  uint8_t options = options_ & static_cast<uint8_t>(~(cdx::kOptUnique | cdx::kOptFor));
  if (unique_) options |= cdx::kOptUnique;
  if (hasFilter_) options |= cdx::kOptFor;
  cdx::TagHeader th;
  th.root = root_;
  th.changeCounter = changeCounter_;
  th.keyLength = keyLength_;
  th.options = options;
  th.general = collation_ == cdx::kCollateGeneral;
  th.descending = descending_;
  th.keyExpression = keyExpression_;
  th.forExpression = filterExpression_;
  uint8_t h[cdx::kHeaderSize];
  cdx::WriteTagHeader(h, th, IsDirectory());
  // The directory's header carries a rewrite's note, which a header write must not drop.
  if (IsDirectory())
    EncodeLE32(h + cdx::kHdrRewriteNote, static_cast<uint32_t>(file_->RewriteNote()));
  file_->WriteBlock(headerPosition_, h, sizeof h);
  headerChanged_ = false;
}

void HXobjCDXTag::WriteEmptyRoot() {
  uint8_t node[cdx::kNodeSize] = {};
  cdx::NodeHeader h;
  h.attributes = cdx::kAttrLeaf + cdx::kAttrRoot;
  cdx::WriteNodeHeader(node, h);
  cdx::LeafBuilder b(node, Form(), cdx::ChooseLeafLayout(keyLength_, 0));
  const int32_t position = file_->AllocateBlock();
  file_->WriteBlock(position, node, sizeof node);
  root_ = position;
}

void HXobjCDXTag::Build() {
  ReleasePages();
  if (IsDirectory()) {
    WriteEmptyRoot();
    return;
  }
  HXobjIndexTable* table = file_->Table();
  const int32_t count = table ? table->IndexRecordCount() : 0;
  HXobjSortCDX sorter(this, nullptr, unique_);
  if (table) {
    ScanKeys(*table, count, sorter);
  }
  if (sorter.KeyCount() == 0) {
    WriteEmptyRoot();
    return;
  }
  if (table) table->IndexStatus(-1, 2, count);
  HXobjIndexKeyData key;
  int32_t record = 0;
  int64_t emitted = 0;
  while (sorter.GetNextKey(key, record)) {
    ++emitted;
    if (table) table->IndexStatus(2, static_cast<int>(emitted), 0);
    sorter.CountEmitted();
    sorter.AddToLevel(0, record, key, record);
  }
  sorter.Finish();
  if (table) table->IndexStatus(0, 0, 0);
}

// ---------------------------------------------------------------------------------------------
// HXobjSortCDX

HXobjSortCDX::HXobjSortCDX(HXobjCDXTag* tag, const uint8_t* collation, bool unique)
    : ThxSort(tag->KeyLength() + 1, collation, true, unique), tag_(tag) {
  // Keys are stored as the sorter returns them (GENERAL weights included).
  form_ = tag->Form();
  form_.general = false;
  layout_ = tag->Layout();
  recordCount_ = tag->File()->Table() ? tag->File()->Table()->IndexRecordCount() : 0;
}

HXobjSortCDX::~HXobjSortCDX() = default;

void HXobjSortCDX::StartLevel(int level) {
  Level& l = levels_[static_cast<size_t>(level)];
  l.started = true;
  l.node.fill(0);
  cdx::NodeHeader h;
  h.attributes = level == 0 ? cdx::kAttrLeaf : cdx::kAttrInterior;
  h.left = -1;
  h.right = tag_->File()->AllocateBlock();
  cdx::WriteNodeHeader(l.node.data(), h);
  l.count = 0;
  if (level == 0) l.leaf = std::make_unique<cdx::LeafBuilder>(l.node.data(), form_, layout_);
}

void HXobjSortCDX::AddToLevel(int level, int32_t value, const HXobjIndexKeyData& key,
                              int32_t record) {
  if (level >= kLevels) throw ESorrelError(smIndexCorrupted, {tag_->File()->FileName()});
  Level& l = levels_[static_cast<size_t>(level)];
  if (!l.started) StartLevel(level);
  uint8_t* node = l.node.data();
  if (static_cast<int32_t>(DecodeLE32(node + cdx::kNodeRight)) == -1)
    EncodeLE32(node + cdx::kNodeRight, static_cast<uint32_t>(tag_->File()->AllocateBlock()));
  if (level == 0) {
    if (l.count == 0) l.leaf->Reset();
    if (!l.leaf->Add(key.Bytes(), static_cast<uint32_t>(value)))
      throw ESorrelError(smIndexCorrupted, {tag_->File()->FileName()});
    ++l.count;
    l.lastKey = key;
    l.lastKey.SetRecNo(record);
    if (l.leaf->Free() < 2 * (layout_.entryBytes + tag_->KeyLength() + 8))
      WriteLevelNode(0, finishing_);
  } else {
    if (l.count == 0)
      std::memset(node + cdx::kInteriorEntries, 0, cdx::kInteriorArea);
    cdx::PutInteriorEntry(node, form_, l.count, key.Bytes(), static_cast<uint32_t>(record), value);
    ++l.count;
    EncodeLE16(node + cdx::kNodeCount, static_cast<uint16_t>(l.count));
    l.lastKey = key;
    l.lastKey.SetRecNo(record);
    if (l.count >= tag_->MaxKeys()) WriteLevelNode(level, finishing_);
  }
}

void HXobjSortCDX::WriteLevelNode(int level, bool finishing) {
  Level& l = levels_[static_cast<size_t>(level)];
  uint8_t* node = l.node.data();
  HXobjIndexFile* file = tag_->File();
  const auto position = static_cast<int32_t>(DecodeLE32(node + cdx::kNodeRight));
  int32_t right;
  if (level == 0)
    right = emitted_ >= recordCount_ ? -1 : file->AllocateBlock();
  else
    right = finishing ? -1 : file->AllocateBlock();
  EncodeLE32(node + cdx::kNodeRight, static_cast<uint32_t>(right));
  file->WriteBlock(position, node, cdx::kNodeSize);
  l.lastWritten = position;
  EncodeLE32(node + cdx::kNodeLeft, static_cast<uint32_t>(position));
  l.count = 0;
  EncodeLE16(node + cdx::kNodeCount, 0);
  const HXobjIndexKeyData last = l.lastKey;
  AddToLevel(level + 1, position, last, last.RecNo());
}

void HXobjSortCDX::Finish() {
  if (finished_) return;
  finishing_ = true;
  HXobjIndexFile* file = tag_->File();
  for (int level = 0; level < kLevels - 1; ++level) {
    Level& l = levels_[static_cast<size_t>(level)];
    if (!l.started) continue;
    uint8_t* node = l.node.data();
    const auto position = static_cast<int32_t>(DecodeLE32(node + cdx::kNodeRight));
    EncodeLE32(node + cdx::kNodeRight, 0xFFFFFFFFu);
    if (l.count > 0) {
      const bool above = levels_[static_cast<size_t>(level) + 1].started;
      if (!above) EncodeLE16(node + cdx::kNodeAttributes, DecodeLE16(node) + cdx::kAttrRoot);
      file->WriteBlock(position, node, cdx::kNodeSize);
      l.lastWritten = position;
      if (above) {
        const HXobjIndexKeyData last = l.lastKey;
        AddToLevel(level + 1, position, last, last.RecNo());
      } else {
        tag_->SetRoot(position);
      }
    } else if (position > 0) {
      // The node written last on this level named a right sibling that will never exist.
      if (l.lastWritten > 0) PatchRightSibling(file, l.lastWritten, -1);
      static_cast<HXobjCDXFile*>(file)->ReleaseLastBlock(position);
    }
  }
  finished_ = true;
}

// ---------------------------------------------------------------------------------------------
// HXobjCDXFile

int HXobjCDXFile::NewTagCollation() { return gNewTagCollation; }
void HXobjCDXFile::SetNewTagCollation(int code) { gNewTagCollation = code; }

HXobjCDXFile::HXobjCDXFile(HXobjIndexTable* table, std::string_view fileName, bool overwrite,
                           bool create, bool shared, bool readWrite)
    : HXobjIndexFile(table, fileName) {
  equalKeysByRecord_ = true;
  building_ = true;
  SetNewTagCollation(cdx::kCollateNone);
  if (!OpenDiskFile(table, fileName, overwrite, create, shared, readWrite, ".cdx")) {
    valid_ = false;
    building_ = false;
    return;
  }
  const std::string base = StripFileExt(fileName_);
  const int64_t size = disk_->FileSize();
  if (size < 2 * cdx::kHeaderSize - cdx::kNodeSize && !(size == 0 && create)) {
    // Shorter than the smallest whole file (the directory's header and its root node): a cut or
    // damaged file, reported and left as it is rather than made an empty index.
    valid_ = false;
    building_ = false;
    return;
  }
  if (size > cdx::kNodeSize) {
    directory_ = std::make_unique<HXobjCDXTag>(this, 0, base);
    if (directory_->Valid()) {
      directory_->SetOptions(cdx::kOptNewDirectory);
      RefreshEnd();
      ReadDirectory();
    }
  } else {
    end_ = 0;
    directory_ = std::make_unique<HXobjCDXTag>(this, -1, base);
    directory_->SetOptions(cdx::kOptNewDirectory);
    directory_->CreateTag(base, "", "", true, false);
  }
  building_ = false;
  if (Valid() && table && !table->ProductionIndexFlag() &&
      SysCompareText(StripFileExt(fileName_), StripFileExt(table->IndexTableName())) == 0)
    table->MarkProductionIndex();
}

HXobjCDXFile::~HXobjCDXFile() {
  // Tags write through this object's allocation: free them while it is still whole.
  tags_.FreeAll();
  directory_.reset();
}

void HXobjCDXFile::ReadDirectory() {
  directory_->Move(kMoveTop);
  while (!directory_->Eof() && !directory_->Bof()) {
    const HXobjIndexKeyData& k = directory_->CurrentKey();
    std::string name = cdx::TrimKey(SysUpperCase(k.Bytes()), ' ');
    tags_.Add(new HXobjCDXTag(this, k.RecNo(), name));
    directory_->Move(kMoveNext);
  }
  directory_->ReleasePages();
}

int32_t HXobjCDXFile::DirectoryPosition(std::string_view tagName) {
  if (!directory_ || !directory_->Valid()) return -1;
  const std::string wanted = SysUpperCase(tagName);
  int32_t position = -1;
  directory_->Move(kMoveTop);
  while (!directory_->Eof() && !directory_->Bof()) {
    const HXobjIndexKeyData& k = directory_->CurrentKey();
    if (cdx::TrimKey(SysUpperCase(k.Bytes()), ' ') == wanted) {
      position = k.RecNo();
      break;
    }
    directory_->Move(kMoveNext);
  }
  directory_->ReleasePages();
  return position;
}

HXobjIndexKeyData HXobjCDXFile::DirectoryKey(std::string_view name, int32_t headerPosition) const {
  HXobjIndexKeyData k;
  k.PutString(SysUpperCase(name));
  k.SetRecNo(headerPosition);
  k.SetTarget(headerPosition);
  return k;
}

void HXobjCDXFile::AddDirectoryEntry(HXobjCDXTag* tag) {
  directory_->AddKey(DirectoryKey(tag->TagName(), tag->HeaderPosition()));
  directory_->ReleasePages();
}

bool HXobjCDXFile::CreateTag(std::string_view tagName, std::string_view keyExpression,
                             std::string_view filterExpression, bool ascending, bool unique) {
  std::string name(tagName);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  while (!name.empty() && name.front() == ' ') name.erase(0, 1);
  name = SysUpperCase(name);
  // Directory keys hold 10 characters: a longer name would be cut and could replace another tag.
  if (name.empty() || static_cast<int>(name.size()) > kTagNameLength)
    throw ESorrelError(smCannotFindTag, {std::string(tagName)});
  if (!disk_ || !directory_ || !directory_->Valid()) return false;
  // The key and FOR texts share the header's last 512 bytes, each with its NUL.
  RefuseLongExpression("key", name, disk_->Name(), keyExpression, cdx::kExpressionRoom);
  if (!filterExpression.empty())
    RefuseLongExpression("FOR", name, disk_->Name(), filterExpression,
                         cdx::kExpressionRoom - static_cast<int>(keyExpression.size()));
  // Other programs sharing the file take new nodes at its end under the header lock: the new
  // tag's nodes and the directory change are written under it too, from the end as it is now.
  LockHeader();
  bool created = false;
  try {
    created = CreateTagLocked(name, keyExpression, filterExpression, ascending, unique);
  } catch (...) {
    try {
      UnlockHeader();
    } catch (...) {
    }
    throw;
  }
  UnlockHeader();
  return created;
}

bool HXobjCDXFile::CreateTagLocked(const std::string& name, std::string_view keyExpression,
                                   std::string_view filterExpression, bool ascending,
                                   bool unique) {
  const bool replacing = TagByName(name) != nullptr;
  if (HXobjIndexTag* old = TagByName(name)) {
    directory_->DeleteKey(DirectoryKey(old->TagName(), old->HeaderPosition()));
    tags_.DeleteAndFree(old);
  }
  auto* tag = new HXobjCDXTag(this, -1, name);
  tag->SetCollation(NewTagCollation());
  tags_.Add(tag);
  bool ok = false;
  try {
    ok = tag->CreateTag(name, keyExpression, filterExpression, ascending, unique);
  } catch (...) {
    tags_.DeleteAndFree(tag);
    directory_->ReleasePages();
    throw;
  }
  if (!ok) {
    tags_.DeleteAndFree(tag);
    directory_->ReleasePages();
    return false;
  }
  AddDirectoryEntry(tag);
  if (!replacing) return true;
  // Other programs with the file open learn from the counter that the tag of this name now has
  // another header.
  uint32_t counter = directory_->ChangeCounter();
  uint8_t h[cdx::kHdrChangeCounter + 4];
  if (ReadBlock(0, h, sizeof h)) counter = std::max(counter, DecodeLE32(h + cdx::kHdrChangeCounter));
  directory_->SetChangeCounter(counter + 1);
  directory_->SetHeaderChanged(true);
  directory_->WriteHeader();
  return true;
}

bool HXobjCDXFile::DeleteTag(std::string_view tagName) {
  HXobjIndexTag* tag = TagByName(tagName);
  if (!tag || !directory_) return false;
  directory_->DeleteKey(DirectoryKey(tag->TagName(), tag->HeaderPosition()));
  tags_.DeleteAndFree(tag);
  directory_->ReleasePages();
  if (tags_.Count() == 0) Reindex();
  return true;
}

int32_t HXobjCDXFile::AllocateBlock() {
  if (end_ < 0) RefreshEnd();
  const auto position = static_cast<int32_t>(end_);
  end_ += cdx::kNodeSize;
  return position;
}

int32_t HXobjCDXFile::RefreshEnd() {
  const int64_t size = disk_ ? disk_->FileSize() : 0;
  end_ = (size + cdx::kNodeSize - 1) / cdx::kNodeSize * cdx::kNodeSize;
  return static_cast<int32_t>(end_);
}

void HXobjCDXFile::ReleaseLastBlock(int32_t position) {
  if (end_ == static_cast<int64_t>(position) + cdx::kNodeSize) end_ = position;
}

void HXobjCDXFile::Reindex() {
  if (!disk_ || !directory_) return;
  // Other programs' writers hold the header lock for the moment of one update: the rebuild
  // waits for them as every index lock does, rather than failing at the first refusal.
  if (disk_->Shared())
    LockRegionWithRetry(*disk_, kWholeFileLockOffset, kWholeFileLockLength);
  else if (!disk_->LockFile())
    throw ESorrelError(smCannotLockFile, {disk_->Name()});
  struct Unlock {
    HXO_DiskFile* d;
    ~Unlock() {
      try {
        d->Unlock();
      } catch (...) {
      }
    }
  } unlock{disk_.get()};
  for (int i = 0; i < tags_.Count(); ++i) tags_.Items(i)->ReleasePages();
  directory_->ReleasePages();
  // Other programs that keep a tree in memory drop it when the change counter moves: the rebuilt
  // file continues the count it had instead of starting again, where a count they have seen
  // would come back.
  uint32_t counter = directory_->ChangeCounter();
  uint8_t h[cdx::kHdrChangeCounter + 4];
  if (ReadBlock(0, h, sizeof h)) counter = std::max(counter, DecodeLE32(h + cdx::kHdrChangeCounter));
  // The directory alone: its header at 0 and an empty root leaf at 1024.
  disk_->Truncate(2 * cdx::kHeaderSize - cdx::kNodeSize);
  end_ = cdx::kHeaderSize;
  directory_->SetChangeCounter(counter + 1);
  directory_->WriteEmptyRoot();
  directory_->SetHeaderChanged(true);
  directory_->WriteHeader();
  for (int i = 0; i < tags_.Count(); ++i) {
    auto* tag = static_cast<HXobjCDXTag*>(tags_.Items(i));
    const int32_t position = AllocateBlock();
    AllocateBlock();
    tag->SetHeaderPosition(position);
    tag->SetChangeCounter(0);
    uint8_t zero[cdx::kHeaderSize] = {};
    WriteBlock(position, zero, sizeof zero);
    tag->Build();
    tag->SetHeaderChanged(true);
    tag->WriteHeader();
    AddDirectoryEntry(tag);
  }
  directory_->ReleasePages();
}

bool HXobjCDXFile::UpdateTags(int32_t record, bool isNew) {
  uint32_t counter = directory_ ? directory_->ChangeCounter() : 0;
  const bool shared = disk_ && disk_->Shared() && directory_;
  if (shared) {
    // The counter as other programs left it (read under the header lock): our count continues
    // theirs. Every writer moves it, and a rebuild continues it rather than starting again, so
    // the trees held since our last update are read again only when it moved since then.
    uint8_t h[cdx::kHdrChangeCounter + 4];
    if (!ReadBlock(0, h, sizeof h)) throw ESorrelError(smReadError, {disk_->Name()});
    const uint32_t onDisk = DecodeLE32(h + cdx::kHdrChangeCounter);
    if (!treesKnown_ || onDisk != treesCounter_) {
      for (int i = 0; i < tags_.Count(); ++i) tags_.Items(i)->ReleasePages();
      // After a rebuild the tags' headers have moved, and new nodes go after the end left.
      FollowDirectory();
      end_ = -1;
    }
    counter = onDisk;
    directory_->SetChangeCounter(onDisk);
    treesKnown_ = false;
  }
  const bool changed = HXobjIndexFile::UpdateTags(record, isNew);
  if (changed && directory_) {
    directory_->SetChangeCounter(counter + 1);
    directory_->SetHeaderChanged(true);
    directory_->WriteHeader();
  }
  if (shared) {
    // Every tag's tree in memory is the file's now, at this count.
    treesCounter_ = directory_->ChangeCounter();
    treesKnown_ = true;
  }
  return changed;
}

void HXobjCDXFile::EndMayHaveMoved() {
  // Taken from the file size at the next allocation (one size check, only when an update
  // splits a page), also when the change counter did not move: another program's new tag
  // grows the file without moving it.
  end_ = -1;
}

void HXobjCDXFile::FollowDirectory() {
  // Another program may have rebuilt the file, which moves every tag's header: each tag takes the
  // header its name has in the directory now, so that its keys are not written into another
  // tag's nodes. A tag no longer listed is left as it is.
  std::vector<std::pair<std::string, int32_t>> entries;
  directory_->ReleasePages();
  directory_->Move(kMoveTop);
  while (!directory_->Eof() && !directory_->Bof()) {
    const HXobjIndexKeyData& k = directory_->CurrentKey();
    entries.emplace_back(cdx::TrimKey(SysUpperCase(k.Bytes()), ' '), k.RecNo());
    directory_->Move(kMoveNext);
  }
  directory_->ReleasePages();
  for (int i = 0; i < tags_.Count(); ++i) {
    auto* tag = static_cast<HXobjCDXTag*>(tags_.Items(i));
    for (const auto& [name, position] : entries) {
      if (SysCompareText(name, tag->TagName()) != 0) continue;
      if (position != tag->HeaderPosition()) {
        tag->SetHeaderPosition(position);
        if (!tag->ReadHeader()) Corrupted(this);
        tag->SetOptions(tag->IsDirectory() ? cdx::kOptNewDirectory : cdx::kOptNewTag);
      }
      break;
    }
  }
}

void HXobjCDXFile::RepairSiblingLinks() {
  if (!disk_ || !disk_->ReadWrite()) return;
  for (int t = 0; t < tags_.Count(); ++t) {
    auto* tag = static_cast<HXobjCDXTag*>(tags_.Items(t));
    tag->ReleasePages();
    const int keyLength = tag->KeyLength();
    std::vector<int32_t> level{tag->RootBlock()};
    const int64_t nodes = disk_->FileSize() / cdx::kNodeSize;
    int64_t seen = 0;
    while (!level.empty()) {
      std::vector<int32_t> below;
      for (size_t i = 0; i < level.size(); ++i) {
        uint8_t node[cdx::kNodeSize];
        if (!ReadBlock(level[i], node, sizeof node)) Corrupted(this);
        if (++seen > nodes) Corrupted(this);  // a loop in a damaged file
        const cdx::NodeHeader h = cdx::ReadNodeHeader(node);
        const int32_t left = i == 0 ? -1 : level[i - 1];
        const int32_t right = i + 1 == level.size() ? -1 : level[i + 1];
        if (h.left != left || h.right != right) {
          EncodeLE32(node + cdx::kNodeLeft, static_cast<uint32_t>(left));
          EncodeLE32(node + cdx::kNodeRight, static_cast<uint32_t>(right));
          WriteBlock(level[i], node, sizeof node);
        }
        if (h.attributes >= cdx::kAttrLeaf) continue;
        if (h.count > cdx::MaxInteriorKeys(keyLength)) Corrupted(this);
        for (int e = 0; e < h.count; ++e)
          below.push_back(static_cast<int32_t>(DecodeBE32(
              node + cdx::kInteriorEntries + e * (keyLength + 8) + keyLength + 4)));
      }
      level = std::move(below);
    }
  }
}

void HXobjCDXFile::DiscardPages() {
  treesKnown_ = false;
  if (directory_) directory_->DiscardTree();
  HXobjIndexFile::DiscardPages();
}

bool HXobjCDXFile::ChangeStamp(uint32_t& stamp) {
  if (!disk_ || !directory_) return false;
  uint8_t h[4];
  if (!ReadBlock(cdx::kHdrChangeCounter, h, sizeof h)) return false;
  stamp = DecodeLE32(h);
  return true;
}

bool HXobjCDXFile::ChangedByOthers() {
  if (!disk_ || !disk_->Shared() || !directory_) return false;
  uint8_t h[4];
  if (!ReadBlock(cdx::kHdrChangeCounter, h, sizeof h)) return false;
  const uint32_t onDisk = DecodeLE32(h);
  if (onDisk == directory_->ChangeCounter()) return false;
  // Seen: the caller reads what it holds again, so the same change is reported once.
  directory_->SetChangeCounter(onDisk);
  return true;
}

#include "index/hx6_cdxfmt.h"

#include <algorithm>
#include <cstring>

#include "base/byteorder.h"

namespace cdx {

namespace {

int BitsFor(int value) {
  int bits = 0;
  while (value > 0) {
    ++bits;
    value >>= 1;
  }
  return std::max(bits, 1);
}

// Reads an entry of up to 8 bytes as a little-endian integer.
uint64_t ReadEntry(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void WriteEntry(uint8_t* p, int bytes, uint64_t v) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// GENERAL keys keep their trailing weight bytes (0xF0 and above) as their low nibble on disk.
std::string ToStoredGeneral(std::string_view key) {
  std::string out(key);
  for (size_t i = out.size(); i > 0; --i) {
    auto c = static_cast<uint8_t>(out[i - 1]);
    if (c < 0xF0) break;
    out[i - 1] = static_cast<char>(c & 0x0F);
  }
  return out;
}

void FromStoredGeneral(std::string& key) {
  for (size_t i = key.size(); i > 0; --i) {
    auto c = static_cast<uint8_t>(key[i - 1]);
    if (c >= 16) break;
    key[i - 1] = static_cast<char>(c + 0xF0);
  }
}

// GENERAL weight tables, by character code.
constexpr uint8_t kPrimary[256] = {
    0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x11, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,
    0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,
    0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20,
    0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26,
    0x27, 0x60, 0x61, 0x62, 0x64, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6F, 0x70, 0x72,
    0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x28, 0x29, 0x2A, 0x2B, 0x2C,
    0x2D, 0x60, 0x61, 0x62, 0x64, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6F, 0x70, 0x72,
    0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x2E, 0x2F, 0x30, 0x31, 0x10,
    0x10, 0x10, 0x18, 0x32, 0x13, 0x33, 0x34, 0x35, 0x36, 0x37, 0x76, 0x18, 0x00, 0x10, 0x10, 0x10,
    0x10, 0x18, 0x18, 0x13, 0x13, 0x38, 0x1E, 0x1E, 0x39, 0x3A, 0x76, 0x18, 0x00, 0x10, 0x10, 0x7D,
    0x20, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x13, 0x45, 0x1E, 0x46, 0x47,
    0x48, 0x49, 0x58, 0x59, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x57, 0x4F, 0x13, 0x50, 0x51, 0x52, 0x53,
    0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0x06, 0x62, 0x66, 0x66, 0x66, 0x66, 0x6A, 0x6A, 0x6A, 0x6A,
    0x65, 0x70, 0x72, 0x72, 0x72, 0x72, 0x72, 0x54, 0x81, 0x78, 0x78, 0x78, 0x78, 0x7D, 0x12, 0x0C,
    0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0x06, 0x62, 0x66, 0x66, 0x66, 0x66, 0x6A, 0x6A, 0x6A, 0x6A,
    0x65, 0x70, 0x72, 0x72, 0x72, 0x72, 0x72, 0x55, 0x81, 0x78, 0x78, 0x78, 0x78, 0x7D, 0x12, 0x7D,
};

constexpr uint8_t kSecondaryRows[12][16] = {
    // 0x40
    {0x00, 0x20, 0x00, 0x20, 0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x20, 0x20},
    // 0x50
    {0x00, 0x00, 0x00, 0x20, 0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
    // 0x60
    {0x00, 0x20, 0x00, 0x20, 0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x20, 0x20},
    // 0x70
    {0x00, 0x00, 0x00, 0x20, 0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
    // 0x80
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x80, 0x00, 0x00, 0x00},
    // 0x90
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x80, 0x00, 0x00, 0x24},
    // 0xA0
    {0x21, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
    // 0xB0
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
    // 0xC0
    {0x22, 0x21, 0x23, 0x25, 0x24, 0x26, 0x80, 0x27, 0x22, 0x21, 0x23, 0x24, 0x22, 0x21, 0x23, 0x24},
    // 0xD0
    {0x00, 0x25, 0x22, 0x21, 0x23, 0x25, 0x24, 0x00, 0x00, 0x22, 0x21, 0x23, 0x24, 0x21, 0x80, 0x80},
    // 0xE0
    {0x22, 0x21, 0x23, 0x25, 0x24, 0x26, 0x80, 0x27, 0x22, 0x21, 0x23, 0x24, 0x22, 0x21, 0x23, 0x24},
    // 0xF0
    {0x00, 0x25, 0x22, 0x21, 0x23, 0x25, 0x24, 0x00, 0x00, 0x22, 0x21, 0x23, 0x24, 0x21, 0x80, 0x24},
};

uint8_t Secondary(uint8_t c) { return c < 0x40 ? 0 : kSecondaryRows[(c - 0x40) >> 4][c & 0x0F]; }

// Expansion groups for the primary weights 0x00, 0x06, 0x0C and 0x12:
// {flag, first primary, first secondary, second primary, second secondary}.
struct Expansion {
  uint8_t flag, p1, s1, p2, s2;
};
constexpr Expansion kExpansions[4] = {
    {0x02, 0x72, 0x20, 0x66, 0x20},  // O, E
    {0x02, 0x60, 0x20, 0x66, 0x20},  // A, E
    {0x02, 0x76, 0x20, 0x76, 0x20},  // S, S
    {0x02, 0x77, 0x00, 0x69, 0x00},  // T, H
};

const Expansion* ExpansionFor(uint8_t primary) {
  switch (primary) {
    case 0x00: return &kExpansions[0];
    case 0x06: return &kExpansions[1];
    case 0x0C: return &kExpansions[2];
    case 0x12: return &kExpansions[3];
    default: return nullptr;
  }
}

}  // namespace

LeafLayout ChooseLeafLayout(int keyLength, int64_t recordCount) {
  LeafLayout l;
  int b = BitsFor(keyLength);
  l.dupBits = l.trailBits = static_cast<uint8_t>(b);
  l.dupMask = l.trailMask = static_cast<uint8_t>((1u << b) - 1);
  int entry = 3;
  int recBits = 24 - 2 * b;
  uint64_t mask = (uint64_t{1} << recBits) - 1;
  while (recordCount > 0 && static_cast<uint64_t>(recordCount) > mask) {
    ++entry;
    recBits += 8;
    mask = mask * 256 + 255;
    if (mask > 0x7FFFFFFF) {
      mask = 0x7FFFFFFF;
      recBits = 31;
      break;
    }
  }
  l.entryBytes = static_cast<uint8_t>(entry);
  l.recordBits = static_cast<uint8_t>(recBits);
  l.recordMask = static_cast<uint32_t>(mask);
  return l;
}

NodeHeader ReadNodeHeader(const uint8_t* node) {
  NodeHeader h;
  h.attributes = DecodeLE16(node + kNodeAttributes);
  h.count = DecodeLE16(node + kNodeCount);
  h.left = static_cast<int32_t>(DecodeLE32(node + kNodeLeft));
  h.right = static_cast<int32_t>(DecodeLE32(node + kNodeRight));
  return h;
}

void WriteNodeHeader(uint8_t* node, const NodeHeader& header) {
  EncodeLE16(node + kNodeAttributes, header.attributes);
  EncodeLE16(node + kNodeCount, header.count);
  EncodeLE32(node + kNodeLeft, static_cast<uint32_t>(header.left));
  EncodeLE32(node + kNodeRight, static_cast<uint32_t>(header.right));
}

std::string TrimKey(std::string_view key, uint8_t pad) {
  size_t n = key.size();
  while (n > 0 && static_cast<uint8_t>(key[n - 1]) == pad) --n;
  return std::string(key.substr(0, n));
}

bool IsStoredForm(const KeyForm& form, std::string_view key) {
  return !form.general && static_cast<int>(key.size()) <= form.keyLength &&
         (key.empty() || static_cast<uint8_t>(key.back()) != form.Pad());
}

std::string StoredKey(const KeyForm& form, std::string_view rawKey) {
  std::string key = form.general ? ToStoredGeneral(rawKey) : std::string(rawKey);
  if (static_cast<int>(key.size()) > form.keyLength) key.resize(static_cast<size_t>(form.keyLength));
  return TrimKey(key, form.Pad());
}

bool DecodeLeaf(const uint8_t* node, const KeyForm& form, std::vector<NodeEntry>& out) {
  // Entries `out` already holds are overwritten, not rebuilt: a caller that decodes page after
  // page into one vector keeps its keys' storage.
  int count = DecodeLE16(node + kNodeCount);
  out.resize(0 < count && count <= kLeafAreaSize ? static_cast<size_t>(count) : 0);
  int e = node[kLeafEntryBytes];
  int r = node[kLeafRecordBits];
  int d = node[kLeafDupBits];
  int t = node[kLeafTrailBits];
  if (count == 0) return true;
  if (e < 3 || e > 8 || r < 1 || r > 32 || d > 16 || t > 16 || r + d + t > 8 * e) return false;
  if (count * e > kLeafAreaSize) return false;
  const uint64_t recMask = (r >= 32) ? 0xFFFFFFFFull : ((uint64_t{1} << r) - 1);
  const int trailShift = 8 * e - t;
  const int dupShift = trailShift - d;
  if (dupShift < r) return false;
  const uint8_t pad = form.Pad();
  // The previous key in full (padded) form; each key is rebuilt in place over it.
  char full[kNodeSize];
  std::memset(full, pad, sizeof full);
  int keyEnd = kNodeSize;
  const int entriesEnd = kLeafArea + count * e;
  for (int i = 0; i < count; ++i) {
    uint64_t v = ReadEntry(node + kLeafArea + i * e, e);
    NodeEntry& entry = out[static_cast<size_t>(i)];
    entry.record = static_cast<uint32_t>(v & recMask);
    int dup = static_cast<int>((v >> dupShift) & ((uint64_t{1} << d) - 1));
    int trail = static_cast<int>((v >> trailShift) & ((uint64_t{1} << t) - 1));
    int stored = form.keyLength - dup - trail;
    if (stored < 0 || dup > form.keyLength) return false;
    keyEnd -= stored;
    if (keyEnd < entriesEnd) return false;
    std::memcpy(full + dup, node + keyEnd, static_cast<size_t>(stored));
    std::memset(full + dup + stored, pad, static_cast<size_t>(trail));
    int len = form.keyLength;
    while (len > 0 && static_cast<uint8_t>(full[len - 1]) == pad) --len;
    entry.key.assign(full, static_cast<size_t>(len));
    if (form.general) FromStoredGeneral(entry.key);
    entry.child = static_cast<int32_t>(entry.record);
  }
  return true;
}

bool DecodeInterior(const uint8_t* node, const KeyForm& form, std::vector<NodeEntry>& out) {
  int count = DecodeLE16(node + kNodeCount);
  const int width = form.keyLength + 8;
  if (count * width > kInteriorArea) {
    out.clear();
    return false;
  }
  out.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const uint8_t* p = node + kInteriorEntries + i * width;
    NodeEntry& entry = out[static_cast<size_t>(i)];
    size_t len = static_cast<size_t>(form.keyLength);
    while (len > 0 && p[len - 1] == form.Pad()) --len;
    entry.key.assign(reinterpret_cast<const char*>(p), len);
    if (form.general) FromStoredGeneral(entry.key);
    entry.record = DecodeBE32(p + form.keyLength);
    entry.child = static_cast<int32_t>(DecodeBE32(p + form.keyLength + 4));
  }
  return true;
}

int DuplicateCount(std::string_view key, std::string_view previous, int limit) {
  int n = static_cast<int>(std::min(key.size(), previous.size()));
  n = std::min(n, limit);
  int i = 0;
  while (i < n && key[static_cast<size_t>(i)] == previous[static_cast<size_t>(i)]) ++i;
  return i;
}

int LeafEntryCost(const LeafLayout& layout, std::string_view key, std::string_view previous) {
  return layout.entryBytes + static_cast<int>(key.size()) -
         DuplicateCount(key, previous, layout.dupMask);
}

LeafBuilder::LeafBuilder(uint8_t* node, const KeyForm& form, const LeafLayout& layout)
    : node_(node), form_(form), layout_(layout) {
  Reset();
}

void LeafBuilder::Reset() {
  std::memset(node_ + kLeafArea, 0, kLeafAreaSize);
  EncodeLE32(node_ + kLeafRecordMask, layout_.recordMask);
  node_[kLeafDupMask] = layout_.dupMask;
  node_[kLeafTrailMask] = layout_.trailMask;
  node_[kLeafRecordBits] = layout_.recordBits;
  node_[kLeafDupBits] = layout_.dupBits;
  node_[kLeafTrailBits] = layout_.trailBits;
  node_[kLeafEntryBytes] = layout_.entryBytes;
  count_ = 0;
  free_ = kLeafAreaSize;
  keyEnd_ = kNodeSize;
  previousLength_ = 0;
  EncodeLE16(node_ + kLeafFree, static_cast<uint16_t>(free_));
  EncodeLE16(node_ + kNodeCount, 0);
}

bool LeafBuilder::Add(std::string_view rawKey, uint32_t record) {
  std::string converted;
  std::string_view key = rawKey;
  if (!IsStoredForm(form_, rawKey)) {
    converted = StoredKey(form_, rawKey);
    key = converted;
  }
  const int e = layout_.entryBytes;
  int len = static_cast<int>(key.size());
  if (len > kNodeSize) return false;
  int dup = DuplicateCount(key, LastKey(), layout_.dupMask);
  int trail = form_.keyLength - len;
  if (trail > layout_.trailMask) return false;  // cannot happen for a key length the layout fits
  if (record > layout_.recordMask) return false;  // never cut a record number
  int stored = len - dup;
  if (e + stored > free_) return false;
  keyEnd_ -= stored;
  if (stored > 0) std::memcpy(node_ + keyEnd_, key.data() + dup, static_cast<size_t>(stored));
  const int trailShift = 8 * e - layout_.trailBits;
  const int dupShift = trailShift - layout_.dupBits;
  uint64_t v = (record & layout_.recordMask) | (static_cast<uint64_t>(dup) << dupShift) |
               (static_cast<uint64_t>(trail) << trailShift);
  WriteEntry(node_ + kLeafArea + count_ * e, e, v);
  ++count_;
  free_ -= e + stored;
  // The first `dup` bytes are the previous key's already.
  if (len > dup) std::memcpy(previous_.data() + dup, key.data() + dup, static_cast<size_t>(len - dup));
  previousLength_ = len;
  EncodeLE16(node_ + kLeafFree, static_cast<uint16_t>(free_));
  EncodeLE16(node_ + kNodeCount, static_cast<uint16_t>(count_));
  return true;
}

void PutInteriorEntry(uint8_t* node, const KeyForm& form, int index, std::string_view rawKey,
                      uint32_t record, int32_t child) {
  std::string general;
  std::string_view key = rawKey;
  if (form.general) {
    general = ToStoredGeneral(rawKey);
    key = general;
  }
  if (static_cast<int>(key.size()) > form.keyLength) key = key.substr(0, static_cast<size_t>(form.keyLength));
  uint8_t* p = node + kInteriorEntries + index * (form.keyLength + 8);
  std::memset(p, form.Pad(), static_cast<size_t>(form.keyLength));
  if (!key.empty()) std::memcpy(p, key.data(), key.size());  // a blank key has no bytes
  EncodeBE32(p + form.keyLength, record);
  EncodeBE32(p + form.keyLength + 4, static_cast<uint32_t>(child));
}

int MaxInteriorKeys(int keyLength) { return kInteriorArea / (keyLength + 8); }

std::string EncodeNumberKey(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  if (bits & 0x8000000000000000ull)
    bits = ~bits;
  else
    bits |= 0x8000000000000000ull;
  std::string out(8, '\0');
  EncodeBE64(out.data(), bits);
  return TrimKey(out, 0);
}

double DecodeNumberKey(std::string_view key) {
  uint8_t b[8] = {};
  if (!key.empty()) std::memcpy(b, key.data(), std::min<size_t>(key.size(), 8));
  uint64_t bits = DecodeBE64(b);
  if (bits & 0x8000000000000000ull)
    bits &= ~0x8000000000000000ull;
  else
    bits = ~bits;
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::string EncodeGeneralKey(std::string_view text) {
  std::string primary, secondary;
  primary.reserve(text.size() * 2);
  for (char ch : text) {
    auto c = static_cast<uint8_t>(ch);
    uint8_t p = kPrimary[c];
    const Expansion* x = ExpansionFor(p);
    if (x && x->flag != 0) {
      primary.push_back(static_cast<char>(x->p1));
      primary.push_back(static_cast<char>(x->p2));
    } else {
      primary.push_back(static_cast<char>(p));
    }
    uint8_t s = Secondary(c);
    if (s == 0) continue;
    if (s == 0x80) {
      // The secondary weights of the expansion group of this character's primary weight.
      const Expansion* g = ExpansionFor(p);
      if (g) {
        if (g->s1) secondary.push_back(static_cast<char>(g->s1 | 0xF0));
        if (g->s2) secondary.push_back(static_cast<char>(g->s2 | 0xF0));
      }
    } else {
      secondary.push_back(static_cast<char>(s | 0xF0));
    }
  }
  while (!secondary.empty() && static_cast<uint8_t>(secondary.back()) == 0xF0) secondary.pop_back();
  return primary + secondary;
}

bool ReadTagHeader(const uint8_t* h, TagHeader& out) {
  out.root = static_cast<int32_t>(DecodeLE32(h + kHdrRoot));
  out.changeCounter = DecodeLE32(h + kHdrChangeCounter);
  out.keyLength = DecodeLE16(h + kHdrKeyLength);
  out.options = h[kHdrOptions];
  std::string_view coll(reinterpret_cast<const char*>(h + kHdrCollation), 8);
  out.general = coll.substr(0, 7) == "GENERAL";
  out.machine = coll.substr(0, 7) == "MACHINE";
  out.descending = DecodeLE16(h + kHdrOrder) != 0;
  const char* text = reinterpret_cast<const char*>(h + kHdrExpressions);
  size_t keyLen = strnlen(text, kNodeSize);
  if (keyLen >= static_cast<size_t>(kNodeSize)) return false;
  out.keyExpression.assign(text, keyLen);
  out.forExpression.clear();
  if (out.options & kOptFor) {
    const char* f = text + keyLen + 1;
    size_t room = static_cast<size_t>(kNodeSize) - keyLen - 1;
    size_t forLen = strnlen(f, room);
    if (forLen >= room) return false;
    out.forExpression.assign(f, forLen);
  }
  return true;
}

void WriteTagHeader(uint8_t* h, const TagHeader& in, bool directory) {
  std::memset(h, 0, kHeaderSize);
  EncodeLE32(h + kHdrRoot, static_cast<uint32_t>(in.root));
  EncodeLE32(h + kHdrChangeCounter, in.changeCounter);
  EncodeLE16(h + kHdrKeyLength, static_cast<uint16_t>(in.keyLength));
  h[kHdrOptions] = in.options;
  const bool general = in.general && !directory;
  h[kHdrSignature] = general ? 2 : 1;
  if (general) std::memcpy(h + kHdrCollation, "GENERAL", 8);
  EncodeLE16(h + kHdrOrder, in.descending ? 1 : 0);
  const bool hasFor = (in.options & kOptFor) != 0;
  // Expressions share the last 512 bytes; a text that would not fit with its NUL is cut.
  size_t keyLen = std::min(in.keyExpression.size(), static_cast<size_t>(kNodeSize - 2));
  size_t forLen = hasFor ? std::min(in.forExpression.size(), kNodeSize - keyLen - 2) : 0;
  EncodeLE16(h + kHdrKeyExprLen, static_cast<uint16_t>(keyLen + 1));
  EncodeLE16(h + kHdrForExprLen, static_cast<uint16_t>(hasFor ? forLen + 1 : 1));
  EncodeLE16(h + kHdrKeyExprLen2, static_cast<uint16_t>(keyLen + 1));
  std::memcpy(h + kHdrExpressions, in.keyExpression.data(), keyLen);
  if (hasFor) std::memcpy(h + kHdrExpressions + keyLen + 1, in.forExpression.data(), forLen);
}

}  // namespace cdx

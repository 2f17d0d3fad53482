// hx6_cdxfmt: the byte layouts of the compound index file (".cdx") and its key encodings.
//
// Every read and write of a CDX node or tag header goes through this module; the tag and file
// classes (hx6_cdx) only move whole nodes. Keys handled here are "trimmed" keys: the bytes of a
// key without its trailing pad (blanks for text keys, zero bytes for number and date keys), which
// is also the form in which keys live in memory and compare.
//
// File: 512-byte nodes, positions are byte offsets (multiples of 512). Integers little-endian
// unless noted.
//
// Tag header (1024 bytes; the directory tag's at offset 0):
//   0   4  root node position
//   4   4  0
//   8   4  change counter (the directory's counts index changes)
//   12  2  key length (1..240)
//   14  1  options: 0x01 unique, 0x08 FOR condition, 0x20 compact, 0x40 compound, 0x80 directory
//   15  1  signature: 1, or 2 for GENERAL collation
//   494 8  collation name ("GENERAL" NUL for GENERAL tags, else zero)
//   502 2  order: 1 descending, 0 ascending
//   504 2  key expression length + 1
//   506 2  FOR expression length + 1 (1 without a FOR condition)
//   510 2  key expression length + 1
//   512 .. key expression, NUL, FOR expression, NUL
//
// Node header: 0 attributes (0 interior, 1 interior root, 2 leaf, 3 leaf root), 2 key count,
// 4 left sibling, 8 right sibling (-1 none).
// Interior node: from 12, entries of key length + 8 bytes: key padded, record number (big-endian),
// child position (big-endian).
// Compact leaf: 12 free bytes, 14 record-number mask, 18 duplicate mask, 19 trailing mask,
// 20 record bits R, 21 duplicate bits D, 22 trailing bits T, 23 bytes per entry E; from 24 the
// 488-byte entry area: E-byte entries from the front (little-endian: record number in the low R
// bits, duplicate count above it, trailing count in the top T bits), key bytes from the back.
//
// Thread-safety: pure functions and plain values; safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cdx {

inline constexpr int kNodeSize = 512;
inline constexpr int kHeaderSize = 1024;
inline constexpr int kMaxKeyLength = 240;

// Node header offsets.
inline constexpr int kNodeAttributes = 0;
inline constexpr int kNodeCount = 2;
inline constexpr int kNodeLeft = 4;
inline constexpr int kNodeRight = 8;
inline constexpr int kInteriorEntries = 12;
inline constexpr int kInteriorArea = 500;

// Compact leaf offsets.
inline constexpr int kLeafFree = 12;
inline constexpr int kLeafRecordMask = 14;
inline constexpr int kLeafDupMask = 18;
inline constexpr int kLeafTrailMask = 19;
inline constexpr int kLeafRecordBits = 20;
inline constexpr int kLeafDupBits = 21;
inline constexpr int kLeafTrailBits = 22;
inline constexpr int kLeafEntryBytes = 23;
inline constexpr int kLeafArea = 24;
inline constexpr int kLeafAreaSize = 488;

// Node attributes.
inline constexpr uint16_t kAttrInterior = 0;
inline constexpr uint16_t kAttrRoot = 1;
inline constexpr uint16_t kAttrLeaf = 2;

// Tag header offsets and option bits.
inline constexpr int kHdrRoot = 0;
inline constexpr int kHdrChangeCounter = 8;
inline constexpr int kHdrKeyLength = 12;
inline constexpr int kHdrOptions = 14;
inline constexpr int kHdrSignature = 15;
inline constexpr int kHdrCollation = 494;
// Four bytes of the directory header's reserved area (16..493, zero in every file and skipped
// by other programs' readers): the record whose rewrite is under way (HXobjIndexFile::NoteRewrite),
// 0 for none.
inline constexpr int kHdrRewriteNote = 16;
inline constexpr int kHdrOrder = 502;
inline constexpr int kHdrKeyExprLen = 504;
inline constexpr int kHdrForExprLen = 506;
inline constexpr int kHdrKeyExprLen2 = 510;
// Characters of key and FOR expression together that the header's expression area holds (512
// bytes, each text with its NUL; the FOR text only when there is one).
inline constexpr int kExpressionRoom = 510;
inline constexpr int kHdrExpressions = 512;
inline constexpr uint8_t kOptUnique = 0x01;
inline constexpr uint8_t kOptFor = 0x08;
inline constexpr uint8_t kOptCompact = 0x20;
inline constexpr uint8_t kOptCompound = 0x40;
inline constexpr uint8_t kOptDirectory = 0x80;
inline constexpr uint8_t kOptNewTag = 0x60;
inline constexpr uint8_t kOptNewDirectory = 0xE0;

// Collation codes of a tag.
inline constexpr int kCollateMachine = 0;
inline constexpr int kCollateNone = 1;
inline constexpr int kCollateGeneral = 2;

// The bit packing of compact leaf entries.
struct LeafLayout {
  uint32_t recordMask = 0;
  uint8_t dupMask = 0;
  uint8_t trailMask = 0;
  uint8_t recordBits = 0;
  uint8_t dupBits = 0;
  uint8_t trailBits = 0;
  uint8_t entryBytes = 0;
};

// The layout for a key length and a record count (for the directory: the file's size); a count
// of 0 gives the smallest layout (three bytes per entry).
LeafLayout ChooseLeafLayout(int keyLength, int64_t recordCount);

// One key of a node: trimmed key bytes, record number, child position (interior nodes only).
struct NodeEntry {
  std::string key;
  uint32_t record = 0;
  int32_t child = 0;
};

struct NodeHeader {
  uint16_t attributes = 0;
  uint16_t count = 0;
  int32_t left = -1;
  int32_t right = -1;
};

NodeHeader ReadNodeHeader(const uint8_t* node);
void WriteNodeHeader(uint8_t* node, const NodeHeader& header);

// How a tag's keys are padded and stored.
struct KeyForm {
  int keyLength = 0;
  bool text = true;      // pad with blanks (else zero bytes)
  bool general = false;  // GENERAL collation: trailing weight bytes stored as their low nibble
  uint8_t Pad() const { return text ? 0x20 : 0x00; }
};

// Drops trailing pad bytes.
std::string TrimKey(std::string_view key, uint8_t pad);
// The bytes a key is stored with: GENERAL trailing weights as nibbles, cut to the key length,
// trailing pad dropped.
std::string StoredKey(const KeyForm& form, std::string_view key);
// Whether a key is already in its stored form (StoredKey would return it unchanged).
bool IsStoredForm(const KeyForm& form, std::string_view key);

// Decodes the entries of a compact leaf. False when the node is inconsistent (counts or bit
// widths out of range, key bytes overlapping the entries); `out` is then incomplete.
bool DecodeLeaf(const uint8_t* node, const KeyForm& form, std::vector<NodeEntry>& out);
// Decodes the entries of an interior node; false when the count does not fit the node.
bool DecodeInterior(const uint8_t* node, const KeyForm& form, std::vector<NodeEntry>& out);

// The bytes a key costs in a leaf after `previous` (E + stored bytes).
int LeafEntryCost(const LeafLayout& layout, std::string_view key, std::string_view previous);
// Leading bytes `key` shares with `previous`, at most the key's own length and the duplicate
// mask.
int DuplicateCount(std::string_view key, std::string_view previous, int limit);

// Fills a compact leaf from the front: entries and key bytes. The node header (attributes,
// siblings) is the caller's; Add sets the count and the free bytes as it goes.
class LeafBuilder {
 public:
  LeafBuilder(uint8_t* node, const KeyForm& form, const LeafLayout& layout);
  // Starts an empty entry area (zeroed, free 488, no previous key).
  void Reset();
  // Appends a key; false (nothing written) when it does not fit the free bytes.
  bool Add(std::string_view key, uint32_t record);
  int Count() const { return count_; }
  int Free() const { return free_; }
  std::string_view LastKey() const {
    return std::string_view(previous_.data(), static_cast<size_t>(previousLength_));
  }

 private:
  uint8_t* node_;
  KeyForm form_;
  LeafLayout layout_;
  int count_ = 0;
  int free_ = kLeafAreaSize;
  int keyEnd_ = kNodeSize;  // key bytes of the next entry end here
  // The key added last (stored form), which the next one shares its leading bytes with.
  std::array<char, kNodeSize> previous_{};
  int previousLength_ = 0;
};

// Writes interior entry `index` of a node (key padded to the key length).
void PutInteriorEntry(uint8_t* node, const KeyForm& form, int index, std::string_view key,
                      uint32_t record, int32_t child);
int MaxInteriorKeys(int keyLength);

// Number and date keys: the double as 8 bytes that sort like the number, trailing zero bytes
// dropped.
std::string EncodeNumberKey(double value);
double DecodeNumberKey(std::string_view key);

// GENERAL collation: primary weights, then the secondary weights (trailing 0xF0 bytes cut).
std::string EncodeGeneralKey(std::string_view text);

// Tag header contents.
struct TagHeader {
  int32_t root = 0;
  uint32_t changeCounter = 0;
  int keyLength = 0;
  uint8_t options = 0;
  bool general = false;
  bool machine = false;
  bool descending = false;
  std::string keyExpression;
  std::string forExpression;
};

// Decodes a 1024-byte header; false when the expressions run past the header.
bool ReadTagHeader(const uint8_t* header, TagHeader& out);
// Encodes a 1024-byte header (the buffer is zeroed first). `directory` suppresses the GENERAL
// signature and name.
void WriteTagHeader(uint8_t* header, const TagHeader& in, bool directory);

}  // namespace cdx

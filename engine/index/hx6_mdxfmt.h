// hx6_mdxfmt: the byte layouts of the multiple-tag index file (".mdx") and its key encodings.
//
// Every read and write of an MDX file header, tag-table entry, tag header or page goes through
// this module; the file and tag classes (hx6_mdx) only move whole blocks. All integers are
// little-endian. The file is addressed in 512-byte blocks (block N lies at offset N x 512); pages
// (nodes and tag headers) are one page long: 1024 bytes (2 blocks) in the files this engine
// creates, taken from the header for other files.
//
// File header area (offset 0, blocks per page x page length bytes: 2048 in our files):
//   0   1  version, 2
//   1   3  date: year mod 100, month, day
//   4   9  base name of the data file, first 8 characters, NUL-terminated (zero: no table)
//   20  2  blocks per page (page length / 512)
//   22  2  page length in bytes
//   24  1  production-index flag, 1
//   25  1  tag entries the table has room for, 48
//   26  2  length of one tag-table entry, 32
//   28  2  tags in use
//   32  4  next free block
//   44  3  date of last update (as at 1)
//   529 1  number of the first tag (1), 0 without tags: the "next tag" byte of a dummy entry 0
// Tag table: entry i (1 .. tags in use) at 512 + 32 x i, in ascending order of tag name:
//   0   4  block of the tag header
//   4   11 tag name, NUL-terminated
//   17  1  number of the next entry (i + 1), 0 for the last
//   19  1  2
//   20  1  key type letter "C", "D" or "N"
//
// Tag header (one page at the tag's header block):
//   0   4  block of the root page
//   8   1  key format: 0x10, + 0x40 unique, + 0x08 descending
//   9   1  key type letter
//   12  2  key length (signed)
//   14  2  most keys a page holds
//   18  2  key item length: key length + 4 rounded up to a multiple of 4
//   23  1  0x40 for a unique tag, else 0
//   24  221 key expression, NUL-terminated
//   245 1  1 when the tag has a FOR expression
//   246 1  1
//   248 4  first block ever allocated to the tag's pages
//   252 4  most recently allocated block of the tag
//   762 .. FOR expression, NUL-terminated (when byte 245 is 1)
//
// Page: 0 key count n (4), 4 the tag's newest block when the page was allocated (4), then
// entries of item length each: a 4-byte number (record in a leaf, child block in an interior
// page), the key, padding. An interior page has n + 1 entries, the last without a counted key;
// a page is interior exactly when the number of entry n is not zero.
//
// Stored keys: "C" text padded with blanks; "D" the day number as an 8-byte IEEE double (a blank
// date as 1.0E100); "N" 12 bytes of packed decimal (see EncodeNumber).
//
// Thread-safety: pure functions and plain values; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mdx {

inline constexpr int kBlockSize = 512;
// The layout of the files this engine creates.
inline constexpr int kPageLength = 1024;
inline constexpr int kBlocksPerPage = 2;
inline constexpr int kHeaderLength = 2048;
inline constexpr int kTagEntries = 48;  // the value of header byte 25
inline constexpr int kMaxTags = 47;     // entries 1 .. 47 fit a 2048-byte header area
inline constexpr int kEntryLength = 32;
inline constexpr uint8_t kVersion = 2;

// File header offsets.
inline constexpr int kHdrVersion = 0;
inline constexpr int kHdrDate = 1;
inline constexpr int kHdrDataName = 4;
inline constexpr int kDataNameBytes = 9;
inline constexpr int kHdrBlocksPerPage = 20;
inline constexpr int kHdrPageLength = 22;
inline constexpr int kHdrProduction = 24;
inline constexpr int kHdrTagEntries = 25;
inline constexpr int kHdrEntryLength = 26;
inline constexpr int kHdrTagCount = 28;
inline constexpr int kHdrNextFree = 32;
inline constexpr int kHdrUpdateDate = 44;
// Four bytes of the header's reserved area (48 to the tag table, zero and skipped by other
// programs' readers): the record whose rewrite is under way (HXobjIndexFile::NoteRewrite), 0
// for none.
inline constexpr int kHdrRewriteNote = 48;
inline constexpr int kTagTable = 512;
inline constexpr int kHdrFirstTag = kTagTable + 17;

// Tag-table entry offsets.
inline constexpr int kEntHeaderBlock = 0;
inline constexpr int kEntName = 4;
inline constexpr int kEntNameBytes = 11;
inline constexpr int kEntNext = 17;
inline constexpr int kEntMark = 19;
inline constexpr int kEntKeyType = 20;
inline constexpr int kMaxTagName = kEntNameBytes - 1;

// Tag header offsets.
inline constexpr int kTagRoot = 0;
inline constexpr int kTagKeyFormat = 8;
inline constexpr int kTagKeyType = 9;
inline constexpr int kTagKeyLength = 12;
inline constexpr int kTagMaxKeys = 14;
inline constexpr int kTagItemLength = 18;
inline constexpr int kTagUnique = 23;
inline constexpr int kTagKeyExpr = 24;
inline constexpr int kTagKeyExprBytes = 221;
inline constexpr int kTagHasFilter = 245;
inline constexpr int kTagMark = 246;
inline constexpr int kTagFirstBlock = 248;
inline constexpr int kTagNewestBlock = 252;
inline constexpr int kTagFilterExpr = 762;
inline constexpr uint8_t kFormatBase = 0x10;
inline constexpr uint8_t kFormatUnique = 0x40;
inline constexpr uint8_t kFormatDescending = 0x08;

// Page offsets.
inline constexpr int kPageCount = 0;
inline constexpr int kPageChain = 4;
inline constexpr int kPageEntries = 8;

inline constexpr int kNumberKeyLength = 12;
inline constexpr int kDateKeyLength = 8;
// A blank date is stored as this, after every real date.
inline constexpr double kBlankDate = 1.0E100;

// Item length and page capacity of a key length.
int ItemLength(int keyLength);
int MaxKeys(int pageLength, int itemLength);

// The parts of the file header this engine reads.
struct FileHeader {
  int blocksPerPage = kBlocksPerPage;
  int pageLength = kPageLength;
  int tagEntries = kTagEntries;
  int tagCount = 0;
  int32_t nextFree = 0;
  // Bytes the header area takes (blocks per page x page length).
  int HeaderLength() const { return blocksPerPage * pageLength; }
  // Tag entries that fit the header area after the dummy entry 0.
  int Capacity() const { return (HeaderLength() - kTagTable) / kEntryLength - 1; }
};

// Decodes the first 512 bytes; false when the page geometry or the tag count is impossible for a
// file of `fileSize` bytes.
bool ReadFileHeader(const uint8_t* block, int64_t fileSize, FileHeader& out);
// Writes a new file's header area (kHeaderLength bytes, zeroed first). `dataName` is the table's
// base name (empty without a table); `year`, `month`, `day` today's date.
void WriteNewFileHeader(uint8_t* area, std::string_view dataName, int year, int month, int day);
// Puts a data-file name into a header (bytes 4 .. 12 cleared first; 8 characters at most).
void PutDataName(uint8_t* header, std::string_view name);
void PutDate(uint8_t* at, int year, int month, int day);

struct TagEntry {
  int32_t headerBlock = 0;
  std::string name;
  char keyType = 'C';
};

// Reads entry `i` (1-based) of the tag table in a header area.
TagEntry ReadTagEntry(const uint8_t* area, int i);
// Writes the tag count, entries 1 .. count and the first-tag byte; entries from count + 1 to
// `clearUpTo` are zeroed (the ones a deleted tag left behind).
void WriteTagTable(uint8_t* area, const TagEntry* entries, int count, int clearUpTo);

struct TagHeader {
  int32_t root = 0;
  char keyType = 'C';
  int keyLength = 0;
  int maxKeys = 0;
  int itemLength = 0;
  bool unique = false;
  bool descending = false;
  std::string keyExpression;
  std::string filterExpression;  // empty without a FOR expression
  int32_t firstBlock = 0;
  int32_t newestBlock = 0;
};

// The longest expressions a tag header holds (without their NUL).
inline constexpr int kMaxKeyExpression = kTagKeyExprBytes - 1;
int MaxFilterExpression(int pageLength);

// Decodes a tag header page; false when the key type, length, item length or page capacity are
// impossible or an expression has no NUL within its area.
bool ReadTagHeader(const uint8_t* page, int pageLength, TagHeader& out);
// Encodes a tag header page (zeroed first). The expressions must fit (callers refuse longer
// ones).
void WriteTagHeader(uint8_t* page, int pageLength, const TagHeader& in);

// Packed decimal numbers (12 bytes): byte 0 = 0x34 + the decimal exponent (the value is
// 0.d1d2d3... x 10^exponent, so 1.5 has exponent 1 and 0.05 exponent -1); bytes 2 .. 9 the
// digits, two per byte, first digit in the high nibble; byte 1 = digit count x 4 + 1 (an even
// count: digits go in pairs, trailing all-zero bytes left out), + 0x80 for a negative value.
// Zero has no digits (0x34, 1). The value is first written in decimal to at most 16 significant
// digits and at most 15 digits after the point; more than 15 digits before the point give
// fifteen digits 9 with exponent 15.
void EncodeNumber(double value, uint8_t* out);
// The value of 12 packed-decimal bytes; digits that are not decimal read as zero.
double DecodeNumber(const uint8_t* in);
// The value as it is stored (encoded and decoded), so that searches compare like stored keys.
double StoredNumber(double value);

}  // namespace mdx

// hx6_dbf_build: the table builders.
//
// A builder writes a new, empty table file and, when a memo, binary or general field is added, its
// empty memo file, in one of three dialects: HXO_DBFBuild (dBase III, also the Clipper dialect),
// HXO_DB4Build (dBase IV) and HXO_DBFoxBuild (FoxPro). The caller adds the fields in record order
// and then calls CreateFiles, which writes and closes both files and raises on any failure. A
// builder destroyed without CreateFiles still writes the files, but a failure there cannot be
// reported: callers that care call CreateFiles and look at FilesCreated. A builder that refused a
// field writes nothing at all.
//
// The builder owns its 32-byte descriptors and, while writing, its two disk files. It never asks
// before replacing an existing file; the table creator does that.
//
// Thread-safety: one builder is used by one thread.
//
// What is written (integers little-endian unless said otherwise):
//   table   0      version: 0x03, or with a memo 0x83 (dBase III), 0x8B (dBase IV), 0xF5 (FoxPro)
//           1-3    today: year mod 100, month, day
//           4-7    0 records
//           8-9    header length 32 x n + 33
//           10-11  record length: 1 + the field lengths
//           12-28  zero
//           29     0x03, the mark of the Windows ANSI code page (CP1252) the engine stores text in,
//                  so that other programs decode accented letters as this program wrote them
//           30-31  zero
//           32 x i descriptor i (i = 1..n): name (upper case, at most 10 characters, zero padded)
//                  at 0, type letter at 11, length at 16, decimals at 17 (C fields: the length's
//                  low byte at 16 and high byte at 17), all else zero
//           32 x (n + 1)      0x0D, then 0x1A (which the first appended record overwrites)
//   memo    dBase III ".DBT"  block 0 of 512 bytes: next free block 1 at 0, base name at 8-15;
//                             then 0x1A (513 bytes)
//           dBase IV ".DBT"   24 bytes: next free 1 at 0, base name at 8-15, 2 and 1 at 18-19,
//                             block size 512 at 20-23 (the memo layer pads it to a block)
//           FoxPro ".fpt"     512 bytes: next free block 8 (big-endian) at 0, block size 64
//                             (big-endian) at 6-7
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/hx6_disk.h"
#include "base/hx6_tool.h"

// One field descriptor as it goes into the file.
struct ThxBuildDescriptor {
  std::array<uint8_t, 32> bytes{};
};

// Limits of what a builder accepts: a header or record length must fit the header's 16-bit words,
// a non-text length or decimals the descriptor's byte.
inline constexpr int kBuildMaxHeaderLength = 65535;
inline constexpr int kBuildMaxRecordLength = 65535;
inline constexpr int kBuildMaxTextLength = 65535;
inline constexpr int kBuildMaxByteValue = 255;

class HXO_DBFBuild : public ThxCollection<ThxBuildDescriptor> {
 public:
  // Takes the file name (blanks trimmed, ".DBF" put on when it has no extension); writes nothing.
  explicit HXO_DBFBuild(std::string_view fileName);
  // Writes the files when CreateFiles was not called (errors are swallowed: a destructor cannot
  // report them), then closes whatever is still open.
  ~HXO_DBFBuild() override;

  // Virtual operations, in slot order after the collection's FreeItem.
  // Writes the table file and, when a memo field was added, the memo file; both are closed when it
  // returns. Runs once: does nothing after it was called (successfully or not) and after a field
  // was refused. Raises "Could not create file %s" and the disk layer's write and close errors,
  // and refuses a table without fields ("Table Header for %s is invalid").
  virtual void CreateFiles();
  // Adds a field after those already added. An empty name adds nothing. Refuses a name that,
  // upper-cased and cut to 10 characters, is already taken, an empty type,
  // lengths or decimals the descriptor cannot hold or with which a numeric field cannot even hold
  // zero ("Table Header for %s is invalid" with the file name, "->" and the field name), and a
  // field that would take the header or record length beyond the format's 16-bit words ("Table
  // Header for %s is invalid" with the file name). After a refusal the builder writes nothing.
  virtual void AddField(std::string_view name, std::string_view type, int length, int decimals);
  virtual void WriteHeader();
  virtual void WriteMemoFile();

  const std::string& FileName() const { return fileName_; }
  const std::string& BaseName() const { return baseName_; }
  int RecordLength() const { return recordLength_; }
  int HeaderLength() const { return 32 * Count() + 33; }
  bool HasMemo() const { return hasMemo_; }
  // The version byte the header gets: with or without memo.
  uint8_t Version() const { return hasMemo_ ? versionWithMemo_ : versionPlain_; }
  // True once CreateFiles has written and closed both files: the builder's report of success.
  bool FilesCreated() const { return created_; }
  // The path of the memo file the builder writes: the table name with the dialect's extension
  // (".DBT", ".fpt"), in the case of the table's extension when that is all upper or all lower
  // case, as other programs look for it so.
  std::string MemoFileName() const;

 protected:
  HXO_DBFBuild(std::string_view fileName, uint8_t versionWithMemo);
  // CreateFiles when it was not called, swallowing its errors. Each dialect's destructor calls it
  // so that its own memo file is written (in a base destructor the override is out of reach).
  void FinishQuietly() noexcept;
  // Makes the memo file empty, writes `image` into it and closes it.
  void WriteMemoImage(const std::string& image);
  virtual std::string MemoExtension() const { return ".DBT"; }
  // Header bytes 8-15 of the dBase memo headers: the base name, at most 8 characters.
  void PutBaseName(std::string& image) const;

  uint8_t versionPlain_ = 0x03;
  uint8_t versionWithMemo_;
  std::unique_ptr<HXO_DiskFile> tableFile_;
  std::unique_ptr<HXO_DiskFile> memoFile_;
  std::string fileName_;
  bool hasMemo_ = false;
  int recordLength_ = 1;
  std::string baseName_;
  bool ready_ = false;
  bool created_ = false;
};

class HXO_DB4Build : public HXO_DBFBuild {
 public:
  explicit HXO_DB4Build(std::string_view fileName);
  ~HXO_DB4Build() override { FinishQuietly(); }
  void WriteMemoFile() override;
};

class HXO_DBFoxBuild : public HXO_DBFBuild {
 public:
  explicit HXO_DBFoxBuild(std::string_view fileName);
  ~HXO_DBFoxBuild() override { FinishQuietly(); }
  void WriteMemoFile() override;

 protected:
  std::string MemoExtension() const override { return ".fpt"; }
};

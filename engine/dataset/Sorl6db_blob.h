// Sorl6db_blob: TSRBlobStream, the stream a TSorrelDataSet hands out for a memo or binary field.
//
// The stream holds the field's whole content in memory: it is read from the memo file when the
// stream is made (unless it is made for writing, which starts empty) and written back as the
// field's memo data when the stream is destroyed after a write, while the data set is still in
// edit or insert state. Read, Write and Seek behave as an ordinary stream over that content:
// a write overwrites in place and extends the content when it reaches past the end, a gap left
// by a seek past the end reads as zero bytes, and the position never goes below 0. The text of a
// field whose Transliterate is set is converted OEM to ANSI when read and back when written, as
// the data set's Translate does.
//
// The stream owns its content; the field, its data set and the table are the caller's and must
// outlive the stream. Thread-safety: none; the data set's thread only.
#pragma once

#include <cstdint>
#include <string>

#include "dataset/dbfield.h"

class HXO_dBaseFld;

class TSRBlobStream : public TBlobStream {
 public:
  // `table` is the data set's table; the field's record is the data set's active record buffer
  // for its state. Modes other than read refuse a read-only field ("Field '%s' cannot be
  // modified") and a data set not in edit or insert state ("Dataset not in edit or insert mode").
  TSRBlobStream(TField* field, TBlobStreamMode mode, HXO_dBaseFld* table);
  TSRBlobStream(const TSRBlobStream&) = delete;
  TSRBlobStream& operator=(const TSRBlobStream&) = delete;
  // Writes the content back when it was modified and the data set is editing or inserting.
  // Errors there cannot leave a destructor: use Flush to see them.
  ~TSRBlobStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // Writes a modified content back now (what destruction does), raising the table's errors.
  void Flush() override;

  int64_t Size() const { return static_cast<int64_t>(content_.size()); }
  int64_t Position() const { return position_; }
  bool Modified() const { return modified_; }

 private:
  // Whether the content is translated between the code pages: the field's Transliterate.
  bool Translates() const;

  TField* field_;
  TDataSet* dataSet_;
  HXO_dBaseFld* table_;
  int fieldNo_;
  char* record_;
  bool modified_ = false;
  std::string content_;
  int64_t position_ = 0;
};

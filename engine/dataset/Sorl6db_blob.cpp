// The memo and blob stream of the data set.
#include "dataset/Sorl6db_blob.h"

#include <algorithm>
#include <cstring>

#include "dataset/dblink.h"
#include "dataset/dbset.h"
#include "table/hx6_dbf_fld.h"

namespace {

// Points the table at a data set buffer for the guard's life.
class RecordScope {
 public:
  RecordScope(HXO_dBaseFld* table, char* record) : table_(table), saved_(table->SetRecordBuffer(record)) {}
  ~RecordScope() { table_->SetRecordBuffer(saved_); }
  RecordScope(const RecordScope&) = delete;
  RecordScope& operator=(const RecordScope&) = delete;

 private:
  HXO_dBaseFld* table_;
  char* saved_;
};

bool Editing(const TDataSet* dataSet) {
  return dataSet->State() == TDataSetState::dsEdit || dataSet->State() == TDataSetState::dsInsert;
}

}  // namespace

TSRBlobStream::TSRBlobStream(TField* field, TBlobStreamMode mode, HXO_dBaseFld* table)
    : field_(field), dataSet_(field->DataSet()), table_(table), fieldNo_(field->FieldNo()) {
  record_ = dataSet_->ActiveRecordBuffer();
  if (mode != TBlobStreamMode::bmRead) {
    if (field_->ReadOnly()) DatabaseError(dbtext::kFieldReadOnly, {field_->DisplayName()});
    if (!Editing(dataSet_)) throw EDatabaseError(smNotInEditMode);
  }
  if (record_ == nullptr || table_ == nullptr) return;
  if (mode == TBlobStreamMode::bmWrite) {
    modified_ = true;
    return;
  }
  RecordScope scope(table_, record_);
  if (table_->MemoLength(fieldNo_) == 0) return;
  content_ = table_->GetMemo(fieldNo_);
  if (Translates() && !content_.empty())
    dataSet_->Translate(content_.data(), content_.data(), false);
}

TSRBlobStream::~TSRBlobStream() {
  try {
    Flush();
  } catch (...) {
    // A destructor cannot report; Flush is there for callers that want the error.
  }
}

bool TSRBlobStream::Translates() const { return field_->Transliterate(); }

void TSRBlobStream::Flush() {
  if (!modified_ || record_ == nullptr || table_ == nullptr || !Editing(dataSet_)) return;
  std::string text = content_;
  if (Translates() && !text.empty()) dataSet_->Translate(text.data(), text.data(), true);
  {
    RecordScope scope(table_, record_);
    table_->PutMemo(fieldNo_, text);
  }
  modified_ = false;
  field_->SetModified(true);
  dataSet_->DataEvent(TDataEvent::deFieldChange, reinterpret_cast<intptr_t>(field_));
}

int64_t TSRBlobStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ >= Size()) return 0;
  const int64_t n = std::min(count, Size() - position_);
  std::memcpy(buffer, content_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TSRBlobStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  // Overwrite in place; reaching past the end extends the content, and a gap left by a seek past
  // the end is filled with zero bytes.
  if (position_ + count > Size()) content_.resize(static_cast<size_t>(position_ + count), '\0');
  std::memcpy(content_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  modified_ = true;
  return count;
}

int64_t TSRBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  switch (origin) {
    case TSeekOrigin::soBeginning:
      base = 0;
      break;
    case TSeekOrigin::soCurrent:
      base = position_;
      break;
    case TSeekOrigin::soEnd:
      base = Size();
      break;
  }
  position_ = std::max<int64_t>(0, base + offset);
  return position_;
}

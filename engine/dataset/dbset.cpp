// The dataset core: the record-buffer window, states and the edit protocol.
#include "dataset/dbset.h"

#include <algorithm>
#include <cstring>

#include "dataset/dblink.h"

namespace {

bool IsEditMode(TDataSetState s) {
  return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert ||
         s == TDataSetState::dsSetKey;
}

}  // namespace

void DatabaseError(std::string_view text, std::initializer_list<SorrelArg> args,
                   std::string_view name) {
  std::string message = SorrelFormat(text, args);
  if (!name.empty()) message = std::string(name) + ": " + message;
  throw EDatabaseError(std::move(message));
}

TDataSet::TDataSet() = default;

TDataSet::~TDataSet() {
  // Subclasses close and detach in Destroying(); a source still attached here is let go without
  // reaching the subclass's hooks, which no longer exist.
  const std::vector<TDataSource*> sources = std::move(dataSources_);
  dataSources_.clear();
  for (TDataSource* source : sources) {
    source->dataSet_ = nullptr;
    source->UpdateState();
  }
}

void TDataSet::Destroying() {
  destroying_ = true;
  try {
    SetActive(false);
  } catch (...) {
    // A destructor must not throw; the cursor's own close released what it could.
  }
  for (TDataSource* source : std::vector<TDataSource*>(dataSources_)) source->SetDataSet(nullptr);
}

// ---- states ----

void TDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  modified_ = false;
  DataEvent(TDataEvent::deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  const TDataSetState saved = state_;
  state_ = state;
  ++disableCount_;
  return saved;
}

void TDataSet::RestoreState(TDataSetState state) {
  state_ = state;
  if (disableCount_ > 0) --disableCount_;
}

void TDataSet::CheckInactive() {
  if (Active()) DatabaseError(dbtext::kDataSetOpen, {}, name_);
}

void TDataSet::CheckActive() {
  if (!Active()) DatabaseError(dbtext::kDataSetClosed, {}, name_);
}

// ---- open and close ----

void TDataSet::SetActive(bool on) {
  if (Active() == on) return;
  if (on) {
    DoBeforeOpen();
    OpenCursor();
    SetState(TDataSetState::dsBrowse);
    DoAfterOpen();
    if (!IsEmpty()) DoAfterScroll();
  } else {
    if (!destroying_) DoBeforeClose();
    SetState(TDataSetState::dsInactive);
    CloseCursor();
    if (!destroying_) DoAfterClose();
  }
}

void TDataSet::OpenCursor() {
  try {
    // Fields made by the program (persistent fields) replace the default ones altogether.
    defaultFields_ = fields_.Count() == 0;
    InternalOpen();
    bof_ = true;
    eof_ = false;
    modified_ = false;
    UpdateBufferCount();
    ClearBuffers();
    GetNextRecords();
    bof_ = true;
    eof_ = recordCount_ == 0;
  } catch (...) {
    // A failed open leaves the data set closed with its cursor released.
    try {
      CloseCursor();
    } catch (...) {
    }
    throw;
  }
}

void TDataSet::CloseCursor() {
  FreeBuffers();
  if (IsCursorOpen()) InternalClose();
  calcFieldsSize_ = 0;
  bof_ = true;
  eof_ = true;
}

void TDataSet::FreeBuffers() {
  for (char*& buffer : buffers_) {
    if (buffer != nullptr) FreeRecordBuffer(buffer);
  }
  buffers_.clear();
  bufferCount_ = 0;
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
}

// ---- fields ----

TField* TDataSet::FieldByName(std::string_view name) const {
  TField* field = fields_.FindField(name);
  if (field == nullptr) DatabaseError(dbtext::kFieldNotFound, {name}, name_);
  return field;
}

TField* TDataSet::AddField(std::unique_ptr<TField> field) {
  CheckInactive();
  return fields_.Add(std::move(field));
}

void TDataSet::InitFieldDefs() {
  if (!fieldDefs_.Updated()) {
    InternalInitFieldDefs();
    fieldDefs_.SetUpdated(true);
  }
}

void TDataSet::CreateFields() {
  for (int i = 0; i < fieldDefs_.Count(); ++i) {
    const TFieldDef& def = fieldDefs_.Items(i);
    if (fields_.FindField(def.Name) != nullptr) continue;
    TField* field = fields_.Add(std::make_unique<TField>(this, def.Name, def.DataType, def.Size));
    field->SetRequired(def.Required);
  }
}

void TDataSet::DestroyFields() {
  // Default fields go with the cursor; persistent fields stay with the data set.
  if (defaultFields_) fields_.Clear();
}

void TDataSet::BindFields(bool binding) {
  calcFieldsSize_ = 0;
  for (const auto& field : fields_) {
    if (!binding) {
      if (field->FieldKind() == TFieldKind::fkData) field->SetFieldNo(0);
      continue;
    }
    if (field->Calculated()) {
      field->SetFieldNo(-1);
      field->SetOffset(calcFieldsSize_);
      calcFieldsSize_ += field->DataSize() + 1;
      continue;
    }
    const TFieldDef* def = fieldDefs_.Find(field->FieldName());
    if (def == nullptr) DatabaseError(dbtext::kFieldNotFound, {field->FieldName()}, name_);
    if (def->DataType != field->DataType()) {
      DatabaseError(dbtext::kFieldTypeMismatch,
                    {field->FieldName(), FieldTypeName(field->DataType()),
                     FieldTypeName(def->DataType)},
                    name_);
    }
    field->SetFieldNo(def->FieldNo);
  }
}

bool TDataSet::GetFieldData(TField*, void*) { return false; }

std::unique_ptr<TBlobStream> TDataSet::CreateBlobStream(TField*, TBlobStreamMode) {
  return nullptr;
}

int TDataSet::Translate(const char* source, char* destination, bool) {
  if (source == nullptr) {
    if (destination != nullptr) *destination = '\0';
    return 0;
  }
  const size_t length = std::strlen(source);
  if (destination != nullptr && destination != source) std::memmove(destination, source, length + 1);
  return static_cast<int>(length);
}

char* TDataSet::ActiveRecordBuffer() {
  switch (state_) {
    case TDataSetState::dsBrowse:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
    case TDataSetState::dsNewValue:
    case TDataSetState::dsOldValue:
      return ActiveBuffer();
    case TDataSetState::dsCalcFields:
      return calcBuffer_;
    default:
      return nullptr;
  }
}

void TDataSet::GetCalcFields(char* buffer) {
  // The buffer stays the calculation buffer afterwards, so that a search can read the fields it
  // computed there in the calculated-fields state.
  calcBuffer_ = buffer;
  if (calcFieldsSize_ == 0 || buffer == nullptr) return;
  TTempState temp(*this, TDataSetState::dsCalcFields);
  ClearCalcFields(buffer);
  CalculateFields(buffer);
  if (autoCalcFields_) DoOnCalcFields();
}

void TDataSet::CalculateFields(char*) {
  for (const auto& field : fields_) {
    if (!field->Lookup()) continue;
    TDataSet* other = field->LookupDataSet();
    if (other == nullptr || !other->Active()) continue;
    std::vector<TVarValue> keys;
    for (const std::string& name : SplitFieldNames(field->KeyFields())) {
      keys.push_back(FieldByName(name)->Value());
    }
    if (keys.empty() || std::all_of(keys.begin(), keys.end(), [](const TVarValue& v) { return v.IsNull(); }))
      continue;
    const TVarValue result = other->Lookup(field->LookupKeyFields(), keys, field->LookupResultField());
    if (!result.IsNull()) field->SetValue(result);
  }
}

bool TDataSet::FilterAccepts() {
  if (!OnFilterRecord) return true;
  bool accept = true;
  TTempState temp(*this, TDataSetState::dsFilter);
  OnFilterRecord(*this, accept);
  return accept;
}

// ---- the window ----

void TDataSet::UpdateBufferCount() {
  if (!IsCursorOpen()) return;
  int count = 1;
  for (TDataSource* source : dataSources_) {
    for (TDataLink* link : source->links_) count = std::max(count, link->BufferCount());
  }
  SetBufferCount(count);
}

void TDataSet::SetBufferCount(int count) {
  if (count < 1) count = 1;
  if (count == bufferCount_ && !buffers_.empty()) return;
  if (buffers_.empty()) {
    buffers_.assign(static_cast<size_t>(count) + 1, nullptr);
    for (char*& b : buffers_) b = AllocRecordBuffer();
    bufferCount_ = count;
    return;
  }
  if (count < bufferCount_) {
    // Keep the active record inside the smaller window: drop records from the front first.
    int drop = std::max(0, activeRecord_ - (count - 1));
    drop = std::min(drop, recordCount_);
    for (int i = 0; i < drop; ++i) MoveBuffer(0, static_cast<int>(buffers_.size()) - 1);
    recordCount_ -= drop;
    activeRecord_ -= drop;
    if (currentRecord_ >= 0) currentRecord_ -= drop;
    for (TDataSource* source : dataSources_) {
      for (TDataLink* link : source->links_) link->firstRecord_ = std::max(0, link->firstRecord_ - drop);
    }
    while (static_cast<int>(buffers_.size()) > count + 1) {
      char* b = buffers_.back();
      buffers_.pop_back();
      FreeRecordBuffer(b);
    }
    if (recordCount_ > count) recordCount_ = count;
    if (currentRecord_ >= recordCount_) currentRecord_ = -1;
    bufferCount_ = count;
    return;
  }
  // Growing: the fetch buffer stays last.
  const int add = count - bufferCount_;
  for (int i = 0; i < add; ++i) {
    buffers_.insert(buffers_.end() - 1, AllocRecordBuffer());
  }
  bufferCount_ = count;
  if (state_ == TDataSetState::dsBrowse && recordCount_ > 0) {
    GetNextRecords();
    const int before = activeRecord_;
    GetPriorRecords();
    const int shift = activeRecord_ - before;
    for (TDataSource* source : dataSources_) {
      for (TDataLink* link : source->links_) link->firstRecord_ += shift;
    }
  }
}

void TDataSet::ClearBuffers() {
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  recordCount_ = 1;
  activeRecord_ = 0;
  currentRecord_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::MoveBuffer(int from, int to) {
  if (from == to) return;
  char* const buffer = buffers_[static_cast<size_t>(from)];
  if (from < to) {
    std::move(buffers_.begin() + from + 1, buffers_.begin() + to + 1, buffers_.begin() + from);
  } else {
    std::move_backward(buffers_.begin() + to, buffers_.begin() + from, buffers_.begin() + from + 1);
  }
  buffers_[static_cast<size_t>(to)] = buffer;
}

void TDataSet::SetCurrentRecord(int index) {
  if (currentRecord_ == index) return;
  char* const buffer = buffers_[static_cast<size_t>(index)];
  switch (GetBookmarkFlag(buffer)) {
    case TBookmarkFlag::bfCurrent:
    case TBookmarkFlag::bfInserted:
      InternalSetToRecord(buffer);
      break;
    case TBookmarkFlag::bfBOF:
      InternalFirst();
      break;
    case TBookmarkFlag::bfEOF:
      InternalLast();
      break;
  }
  currentRecord_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (recordCount_ > 0) SetCurrentRecord(activeRecord_);
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = TGetMode::gmNext;
  if (recordCount_ > 0) {
    SetCurrentRecord(recordCount_ - 1);
    // An inserted record that is not posted yet stands where the cursor is: read that one again.
    if (state_ == TDataSetState::dsInsert && currentRecord_ == activeRecord_ &&
        GetBookmarkFlag(ActiveBuffer()) == TBookmarkFlag::bfCurrent) {
      mode = TGetMode::gmCurrent;
    }
  }
  const bool ok = GetRecord(buffers_[static_cast<size_t>(recordCount_)], mode, true) == TGetResult::grOK;
  if (ok) {
    if (recordCount_ == 0) {
      ActivateBuffers();
    } else {
      if (recordCount_ < bufferCount_) {
        ++recordCount_;
      } else {
        // A full window moves up by one; the index of the active record stays, so it now names
        // the record that follows the former one.
        MoveBuffer(0, recordCount_);
      }
    }
    currentRecord_ = recordCount_ - 1;
  } else {
    CursorPosChanged();
  }
  return ok;
}

bool TDataSet::GetPriorRecord() {
  if (recordCount_ > 0) SetCurrentRecord(0);
  const bool ok =
      GetRecord(buffers_[static_cast<size_t>(recordCount_)], TGetMode::gmPrior, true) == TGetResult::grOK;
  if (ok) {
    if (recordCount_ == 0) {
      ActivateBuffers();
    } else {
      MoveBuffer(recordCount_, 0);
      if (recordCount_ < bufferCount_) {
        ++recordCount_;
        ++activeRecord_;
      }
    }
    currentRecord_ = 0;
  } else {
    CursorPosChanged();
  }
  return ok;
}

int TDataSet::GetNextRecords() {
  int n = 0;
  while (recordCount_ < bufferCount_ && GetNextRecord()) ++n;
  return n;
}

int TDataSet::GetPriorRecords() {
  int n = 0;
  while (recordCount_ < bufferCount_ && GetPriorRecord()) ++n;
  return n;
}

// ---- navigation ----

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(TDataEvent::deDataSetChange, 0);
    throw;
  }
  bof_ = true;
  DataEvent(TDataEvent::deDataSetChange, 0);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(TDataEvent::deDataSetChange, 0);
    throw;
  }
  eof_ = true;
  DataEvent(TDataEvent::deDataSetChange, 0);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  DoBeforeScroll();
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = false;
    eof_ = false;
    const int oldRecordCount = recordCount_;
    int scroll = 0;
    struct Notify {
      TDataSet& ds;
      int oldCount;
      int& scroll;
      ~Notify() {
        if (ds.recordCount_ != oldCount) {
          ds.DataEvent(TDataEvent::deDataSetChange, 0);
        } else {
          ds.DataEvent(TDataEvent::deDataSetScroll, scroll);
        }
      }
    };
    {
      Notify notify{*this, oldRecordCount, scroll};
      while (distance > 0) {
        if (activeRecord_ < recordCount_ - 1) {
          ++activeRecord_;
        } else {
          const int full = recordCount_ < bufferCount_ ? 0 : 1;
          if (GetNextRecord()) {
            scroll -= full;
            if (activeRecord_ < recordCount_ - 1) ++activeRecord_;
          } else {
            eof_ = true;
            break;
          }
        }
        --distance;
        ++moved;
      }
      while (distance < 0) {
        if (activeRecord_ > 0) {
          --activeRecord_;
        } else {
          const int full = recordCount_ < bufferCount_ ? 0 : 1;
          if (GetPriorRecord()) {
            scroll += full;
            if (activeRecord_ > 0) --activeRecord_;
          } else {
            bof_ = true;
            break;
          }
        }
        ++distance;
        --moved;
      }
    }
    DoAfterScroll();
  }
  return moved;
}

void TDataSet::Resync(uint8_t mode) {
  char* const fetch = buffers_[static_cast<size_t>(recordCount_)];
  if ((mode & rmExact) != 0) {
    CursorPosChanged();
    if (GetRecord(fetch, TGetMode::gmCurrent, true) != TGetResult::grOK) {
      DatabaseError(dbtext::kRecordNotFound, {}, name_);
    }
  } else if (GetRecord(fetch, TGetMode::gmCurrent, false) != TGetResult::grOK &&
             GetRecord(fetch, TGetMode::gmNext, false) != TGetResult::grOK &&
             GetRecord(fetch, TGetMode::gmPrior, false) != TGetResult::grOK) {
    ClearBuffers();
    DataEvent(TDataEvent::deDataSetChange, 0);
    return;
  }
  int count = (mode & rmCenter) != 0 ? (bufferCount_ - 1) / 2 : activeRecord_;
  MoveBuffer(recordCount_, 0);
  ActivateBuffers();
  try {
    while (count > 0 && GetPriorRecord()) --count;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(TDataEvent::deDataSetChange, 0);
    throw;
  }
  DataEvent(TDataEvent::deDataSetChange, 0);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  Resync(0);
}

// ---- bookmarks ----

bool TDataSet::BookmarkAvailable() {
  return (state_ == TDataSetState::dsBrowse || state_ == TDataSetState::dsEdit ||
          state_ == TDataSetState::dsInsert) &&
         !IsEmpty() && bookmarkSize_ > 0 && GetBookmarkFlag(ActiveBuffer()) == TBookmarkFlag::bfCurrent;
}

TBookmark TDataSet::Bookmark() {
  if (!BookmarkAvailable()) return {};
  TBookmark result(static_cast<size_t>(bookmarkSize_), '\0');
  GetBookmarkData(ActiveBuffer(), result.data());
  return result;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync(rmExact | rmCenter);
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark&) { return false; }

int TDataSet::CompareBookmarks(const TBookmark&, const TBookmark&) { return 0; }

// ---- editing ----

void TDataSet::CheckCanModify() {
  if (!CanModify()) DatabaseError(dbtext::kDataSetReadOnly, {}, name_);
}

void TDataSet::CheckOperation(void (TDataSet::*operation)(), const ErrorEvent& onError) {
  for (;;) {
    try {
      UpdateCursorPos();
      (this->*operation)();
      return;
    } catch (const EDatabaseError& e) {
      TDataAction action = TDataAction::daFail;
      if (onError) onError(*this, e, action);
      if (action == TDataAction::daFail) throw;
      if (action == TDataAction::daAbort) throw EAbort();
    }
  }
}

void TDataSet::Edit() {
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  if (recordCount_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeEdit();
  CheckOperation(&TDataSet::DoInternalEdit, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(TDataSetState::dsEdit);
  DataEvent(TDataEvent::deRecordChange, 0);
  DoAfterEdit();
}

void TDataSet::InitRecord(char* buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, TBookmarkFlag::bfInserted);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeInsert();
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(TDataSetState::dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    SetState(TDataSetState::dsBrowse);
    Resync(0);
    throw;
  }
  modified_ = false;
  DataEvent(TDataEvent::deDataSetChange, 0);
  DoAfterInsert();
  DoAfterScroll();
}

void TDataSet::Insert() {
  BeginInsertAppend();
  const TBookmark oldCurrent = Bookmark();
  MoveBuffer(recordCount_, activeRecord_);
  char* const buffer = ActiveBuffer();
  InitRecord(buffer);
  if (recordCount_ == 0) {
    SetBookmarkFlag(buffer, TBookmarkFlag::bfBOF);
  } else if (!oldCurrent.empty()) {
    SetBookmarkData(buffer, oldCurrent.data());
  }
  if (recordCount_ < bufferCount_) ++recordCount_;
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  char* const buffer = buffers_[0];
  InitRecord(buffer);
  SetBookmarkFlag(buffer, TBookmarkFlag::bfEOF);
  recordCount_ = 1;
  bof_ = false;
  eof_ = false;
  GetPriorRecords();
  InternalLast();
  EndInsertAppend();
}

void TDataSet::CheckRequiredFields() {
  for (const auto& field : fields_) {
    if (field->Required() && !field->ReadOnly() && field->FieldKind() == TFieldKind::fkData &&
        field->IsNull()) {
      DatabaseError(dbtext::kFieldRequired, {field->DisplayName()}, name_);
    }
  }
}

void TDataSet::Post() {
  UpdateRecord();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  DataEvent(TDataEvent::deCheckBrowseMode, 0);
  DoBeforePost();
  CheckRequiredFields();
  CheckOperation(&TDataSet::DoInternalPost, OnPostError);
  SetState(TDataSetState::dsBrowse);
  Resync(0);
  DoAfterPost();
}

void TDataSet::Cancel() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  DataEvent(TDataEvent::deCheckBrowseMode, 0);
  DoBeforeCancel();
  const bool scrollEvents = state_ == TDataSetState::dsInsert;
  if (scrollEvents) DoBeforeScroll();
  UpdateCursorPos();
  // Whatever InternalCancel raises, the data set is back in browse with a fresh window.
  struct Back {
    TDataSet& ds;
    ~Back() {
      ds.SetState(TDataSetState::dsBrowse);
      try {
        ds.Resync(0);
      } catch (...) {
      }
    }
  };
  {
    Back back{*this};
    InternalCancel();
  }
  DoAfterCancel();
  if (scrollEvents) DoAfterScroll();
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert || state_ == TDataSetState::dsSetKey) {
    Cancel();
    return;
  }
  if (recordCount_ == 0) DatabaseError(dbtext::kDataSetEmpty, {}, name_);
  DataEvent(TDataEvent::deCheckBrowseMode, 0);
  DoBeforeDelete();
  DoBeforeScroll();
  CheckOperation(&TDataSet::DoInternalDelete, OnDeleteError);
  SetState(TDataSetState::dsBrowse);
  Resync(0);
  DoAfterDelete();
  DoAfterScroll();
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(TDataEvent::deCheckBrowseMode, 0);
  switch (state_) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      UpdateRecord();
      if (modified_) {
        Post();
      } else {
        Cancel();
      }
      break;
    case TDataSetState::dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::UpdateRecord() {
  if (!IsEditMode(state_)) DatabaseError(SorrelMessageText(smNotInEditMode), {}, name_);
  DataEvent(TDataEvent::deUpdateRecord, 0);
}

void TDataSet::InsertOrAppendRecord(const std::vector<TVarValue>& values, bool append) {
  if (append) {
    Append();
  } else {
    Insert();
  }
  try {
    const size_t n = std::min(values.size(), static_cast<size_t>(fields_.Count()));
    for (size_t i = 0; i < n; ++i) {
      if (!values[i].IsNull()) fields_.Items(static_cast<int>(i))->SetValue(values[i]);
    }
    Post();
  } catch (...) {
    if (state_ == TDataSetState::dsInsert) Cancel();
    throw;
  }
}

void TDataSet::AppendRecord(const std::vector<TVarValue>& values) {
  InsertOrAppendRecord(values, true);
}

void TDataSet::InsertRecord(const std::vector<TVarValue>& values) {
  InsertOrAppendRecord(values, false);
}

bool TDataSet::GetCurrentRecord(char*) { return false; }

// ---- filtering and searching ----

void TDataSet::SetFiltered(bool on) { filtered_ = on; }

void TDataSet::SetFilterOptions(uint8_t options) { filterOptions_ = options; }

void TDataSet::SetFilterText(std::string_view text) { filterText_ = std::string(text); }

bool TDataSet::Locate(std::string_view, const std::vector<TVarValue>&, uint8_t) { return false; }

TVarValue TDataSet::Lookup(std::string_view, const std::vector<TVarValue>&, std::string_view) {
  return {};
}

// ---- data sources ----

void TDataSet::AddDataSource(TDataSource* source) {
  dataSources_.push_back(source);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  dataSources_.erase(std::remove(dataSources_.begin(), dataSources_.end(), source),
                     dataSources_.end());
  UpdateBufferCount();
}

bool TDataSet::IsLinkedTo(TDataSource* source) {
  // Follow the master chain from `source`: a loop back to this data set is circular.
  int guard = 0;
  while (source != nullptr && guard++ < 1000) {
    TDataSet* ds = source->DataSet();
    if (ds == nullptr) return false;
    if (ds == this) return true;
    source = ds->DataSource();
  }
  return false;
}

void TDataSet::DisableControls() {
  if (disableCount_ == 0) {
    disableState_ = state_;
    enableEvent_ = TDataEvent::deDataSetChange;
  }
  ++disableCount_;
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0) return;
  if (--disableCount_ != 0) return;
  if (disableState_ != state_) DataEvent(TDataEvent::deUpdateState, 0);
  if (disableState_ != TDataSetState::dsInactive && state_ != TDataSetState::dsInactive) {
    DataEvent(enableEvent_, 0);
  }
}

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
  if (event == TDataEvent::deFieldChange) {
    auto* field = reinterpret_cast<TField*>(info);
    if (field->FieldKind() == TFieldKind::fkData || field->FieldKind() == TFieldKind::fkInternalCalc) {
      modified_ = true;
    }
    if (state_ != TDataSetState::dsSetKey && state_ != TDataSetState::dsCalcFields &&
        calcFieldsSize_ != 0 && autoCalcFields_) {
      GetCalcFields(ActiveBuffer());
    }
    field->Change();
  } else if (event == TDataEvent::dePropertyChange) {
    fieldDefs_.SetUpdated(false);
  }
  if (disableCount_ != 0) {
    if (event == TDataEvent::deLayoutChange) enableEvent_ = TDataEvent::deLayoutChange;
    return;
  }
  for (TDataSource* source : std::vector<TDataSource*>(dataSources_)) source->DataEvent(event, info);
}

// The dataset component: properties, open and close, the cursor contract, editing and bookmarks.
#include "dataset/Sorl6db.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <utility>

#include "dataset/Sorl6db_alias.h"
#include "dataset/Sorl6db_blob.h"
#include "dataset/Sorl6db_search.h"
#include "base/SysSorl.h"
#include "base/hx6_date.h"
#include "expr/hx6_sql.h"

namespace {

constexpr const char* kAboutText = "Sorrel xBase engine 6.0";

// Runs a function when leaving the scope, however it is left.
template <class F>
class OnScopeExit {
 public:
  explicit OnScopeExit(F f) : f_(std::move(f)) {}
  ~OnScopeExit() { f_(); }
  OnScopeExit(const OnScopeExit&) = delete;
  OnScopeExit& operator=(const OnScopeExit&) = delete;

 private:
  F f_;
};

}  // namespace

std::string ResolveDatabaseName(const TSorrelDataSet& dataSet) {
  return ResolveDatabaseName(std::string_view(dataSet.DatabaseName()));
}

// ---- DBFObject ----

DBFObject::DBFObject(std::string_view path, bool shared, bool readWrite, std::string_view password,
                     TSorrelDataSet* owner)
    : HXO_dBHandler(path, shared, readWrite, password),
      owner_(owner),
      work_(static_cast<size_t>(RecordLength()) + 1, '\0') {}

void DBFObject::StatusReport(int stat1, int stat2, int stat3) {
  if (owner_ != nullptr && owner_->OnStatus) {
    owner_->OnStatus(stat1, stat2, stat3);
  } else {
    HXO_dBHandler::StatusReport(stat1, stat2, stat3);
  }
}

bool DBFObject::AcceptRecord() {
  if (owner_ != nullptr && !owner_->FilterRecordAccepted()) return false;
  return HXO_dBHandler::AcceptRecord();
}

bool DBFObject::HasOwnRecordTest() const {
  return owner_ != nullptr && owner_->OnFilterRecord && owner_->Filtered();
}

void DBFObject::FromWorkBuffer(const std::function<void()>& write) {
  char* const aimed = SetRecordBuffer(nullptr);
  char* const own = RecordBuffer();
  SetRecordBuffer(aimed);
  if (aimed == own || aimed == work_.data()) {
    write();
    return;
  }
  // The table writes the record and the end-of-file byte after it in one write; a data-set
  // buffer has its calculated fields and record number there, so the write goes from work_.
  const size_t length = static_cast<size_t>(RecordLength());
  std::memcpy(work_.data(), aimed, length);
  SetRecordBuffer(work_.data());
  {
    OnScopeExit back([this, aimed] { SetRecordBuffer(aimed); });
    write();
  }
  std::memcpy(aimed, work_.data(), length);
}

void DBFObject::AppendRecord() {
  FromWorkBuffer([this] { HXO_dBHandler::AppendRecord(); });
}

void DBFObject::UpdateRecord(int32_t record) {
  FromWorkBuffer([this, record] { HXO_dBHandler::UpdateRecord(record); });
}

// ---- the handler-buffer rule ----

TSorrelDataSet::THandlerBuffer::THandlerBuffer(TSorrelDataSet& dataSet, char* buffer)
    : handler_(dataSet.State() == TDataSetState::dsFilter ? nullptr : dataSet.handler_.get()),
      saved_(nullptr) {
  if (handler_ != nullptr) saved_ = handler_->SetRecordBuffer(buffer);
}

TSorrelDataSet::THandlerBuffer::~THandlerBuffer() {
  if (handler_ != nullptr) handler_->SetRecordBuffer(saved_);
}

// ---- construction and properties ----

TSorrelDataSet::TSorrelDataSet() {
  SetBookmarkSize(kBookmarkSize);
  // The detail follows its master's record through the master tag's key range.
  masterLink_.OnMasterChange = [this] { SorrelMasterChanged(*this); };
  masterLink_.OnMasterDisable = [this] { SorrelMasterDisabled(*this); };
}

void TSorrelDataSet::ApplyMasterRange() {
  // Without a master tag there is no range to set: the refusal comes when the master moves, not
  // from an open or from re-selecting the index after a build.
  if (!handler_ || handler_->MasterTag() == nullptr) return;
  if (masterLink_.Active() && !masterLink_.Fields().empty()) SorrelApplyMasterRange(*this);
}

TSorrelDataSet::~TSorrelDataSet() { Destroying(); }

std::string TSorrelDataSet::About() const { return kAboutText; }

void TSorrelDataSet::SetAutoFlush(bool on) {
  autoFlush_ = on;
  if (handler_) handler_->SetAutoFlush(on);
}

void TSorrelDataSet::SetDatabaseName(std::string_view name) {
  while (!name.empty() && (name.back() == '/' || name.back() == '\\') && name.size() > 1) {
    name.remove_suffix(1);
  }
  CheckInactive();
  // A folder not yet in the alias list is entered as an alias of itself. The root folder keeps
  // its delimiter: without it, it would name the current directory.
  if (name != "/") SorrelAliasRegister(name);
  databaseName_ = std::string(name);
  DataEvent(TDataEvent::dePropertyChange, 0);
}

void TSorrelDataSet::SetEncryptionKey(std::string_view key) {
  CheckInactive();
  encryptionKey_ = std::string(key);
}

void TSorrelDataSet::SetLockProtocol(ThxLokProtocol protocol) {
  lockProtocol_ = protocol;
  if (handler_) handler_->SetLockProtocol(protocol);
}

void TSorrelDataSet::SetReadOnly(bool on) {
  if (!handler_ || on) {
    readOnly_ = on;
    return;
  }
  // Writable again only when the table was opened for writing.
  readOnly_ = !handler_->ReadWrite();
}

void TSorrelDataSet::SetTableName(std::string_view name) {
  CheckInactive();
  if (name != tableName_) indexFiles_.clear();
  tableName_ = std::string(name);
  DataEvent(TDataEvent::dePropertyChange, 0);
}

void TSorrelDataSet::SetUseDeleted(bool on) {
  ++changeCount_;
  useDeleted_ = on;
  if (handler_) handler_->SetShowDeleted(on);
}

void TSorrelDataSet::SetUserID(int32_t id) {
  userId_ = id;
  if (handler_) handler_->SetUserID(id);
}

void TSorrelDataSet::CheckActive() {
  if (updatingIndexDefs_ != 0) return;
  TDataSet::CheckActive();
  if (busy_ == 1) throw EDatabaseError(smTableBusyIndexing);
}

// ---- open and close ----

std::unique_ptr<DBFObject> TSorrelDataSet::CreateHandler(bool readOnly, bool shared) {
  if (tableName_.empty()) throw EDatabaseError(smTableNameMissing);
  const std::string path = ResolveDatabaseName(*this) + DefaultFileExt(tableName_, ".DBF");
  const std::string found = ResolveFileNameCase(path);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(found, ec)) throw EDatabaseError(smCannotFindFile, {path});
  return std::make_unique<DBFObject>(found, shared, !readOnly, encryptionKey_, this);
}

void TSorrelDataSet::FillFieldDefs(HXO_dBHandler& table) {
  FieldDefs().Clear();
  for (int n = 1; n <= table.FieldCount(); ++n) {
    const ThxFieldInfo& info = table.FieldInfo(n);
    TFieldType type = TFieldType::ftUnknown;
    int size = 0;
    switch (info.type) {
      case 'C':
        type = TFieldType::ftString;
        size = info.length;
        break;
      case 'D': type = TFieldType::ftDate; break;
      case 'N':
      case 'F':
        if (info.decimals >= 1) {
          type = TFieldType::ftFloat;
        } else if (info.length <= 4) {
          type = TFieldType::ftSmallint;
        } else if (info.length <= 9) {
          type = TFieldType::ftInteger;
        } else {
          type = largeIntegerAs_ == ThxIntFields::asLargeInt ? TFieldType::ftLargeint
                 : largeIntegerAs_ == ThxIntFields::asFloat  ? TFieldType::ftFloat
                                                             : TFieldType::ftInteger;
        }
        break;
      case 'I': type = TFieldType::ftInteger; break;
      case 'L': type = TFieldType::ftBoolean; break;
      case 'M': type = TFieldType::ftMemo; break;
      case 'B':
      case 'G': type = TFieldType::ftBlob; break;
      case 'T': type = TFieldType::ftDateTime; break;
      case 'Y': type = TFieldType::ftCurrency; break;
      default: break;
    }
    if (type == TFieldType::ftUnknown) continue;
    TFieldDef& def = FieldDefs().Add(info.name, type, size, false);
    def.FieldNo = n;  // the table's own field number
  }
}

void TSorrelDataSet::InternalInitFieldDefs() {
  if (handler_) {
    FillFieldDefs(*handler_);
    return;
  }
  std::unique_ptr<DBFObject> reader = CreateHandler(true, true);
  FillFieldDefs(*reader);
}

void TSorrelDataSet::InstallFilter() {
  handler_->SetFilterActive(true);
  handler_->SetFilter(Filter(), (FilterOptions() & foCaseInsensitive) != 0,
                      (FilterOptions() & foNoPartialCompare) == 0);
}

void TSorrelDataSet::InternalOpen() {
  handler_ = CreateHandler(readOnly_, !exclusive_);
  try {
    handler_->SetAutoFlush(autoFlush_);
    handler_->SetShowDeleted(useDeleted_);
    handler_->SetReadBuffer(false);
    handler_->SetLockProtocol(lockProtocol_);
    handler_->SetUserID(userId_);

    FillFieldDefs(*handler_);
    FieldDefs().SetUpdated(true);
    if (DefaultFields()) CreateFields();
    BindFields(true);

    recordLength_ = handler_->RecordLength();
    const long recInfo = static_cast<long>(recordLength_) + CalcFieldsSize();
    const long bookmark = recInfo + kRecordInfoSize;
    const long size = bookmark + kBookmarkSize;
    if (size >= 65536) throw EDatabaseError("Range check error");
    recInfoOfs_ = static_cast<int>(recInfo);
    bookmarkOfs_ = static_cast<int>(bookmark);
    bufferSize_ = static_cast<int>(size);
    setKeyBuffer_.assign(static_cast<size_t>(bufferSize_), '\0');

    if (Filtered()) InstallFilter();
    InternalFirst();
    OpenIndexFiles();
    ApplyMasterRange();
    recordLocked_ = 0;
  } catch (...) {
    BindFields(false);
    DestroyFields();
    handler_.reset();
    throw;
  }
}

void TSorrelDataSet::InternalClose() {
  BindFields(false);
  DestroyFields();
  handler_.reset();
  recordLocked_ = 0;
  beforeFirst_ = afterLast_ = false;
  setKeyBuffer_.clear();
}

// ---- index files and tags ----

void TSorrelDataSet::OpenIndexFiles() {
  if (!handler_ || indexFiles_.empty()) return;
  OpenIndexFilesOn(*handler_, false);
  UpdateIndexDefs();
  handler_->SelectMasterTag(indexName_, false);
}

void TSorrelDataSet::OpenIndexFilesOn(DBFObject& handler, bool refuseRepeats) {
  handler.CloseIndexFiles();
  const std::string folder = ResolveDatabaseName(*this);
  for (const std::string& name : indexFiles_) {
    std::string full = name.find('/') == std::string::npos ? folder + name : name;
    full = DefaultFileExt(full, ".ndx");
    const std::string found = ResolveFileNameCase(full);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(found, ec)) throw EDatabaseError(smCannotFindFile, {full});
    // -1: listed twice, opened once.
    if (handler.OpenIndexFile(found) == -1 && refuseRepeats)
      throw EDatabaseError(smIndexAlreadyOpen, {full});
  }
}

void TSorrelDataSet::SetIndexFiles(std::vector<std::string> files) {
  ++changeCount_;
  indexDefs_.SetUpdated(false);
  indexDefs_.Clear();
  indexFiles_ = std::move(files);
  if (Active()) {
    CheckBrowseMode();
    if (indexFiles_.empty()) {
      // No file left: the tags go, and with them the tag order.
      handler_->CloseIndexFiles();
      indexName_.clear();
      handler_->SelectMasterTag(indexName_, false);
      UpdateIndexDefs();
    } else {
      OpenIndexFiles();
    }
    First();
    return;
  }
  if (indexFiles_.empty()) {
    indexName_.clear();
    return;
  }
  // Closed: the new list is tried on the table at once, so that a missing or repeated file is
  // reported where the list is set. Without a table name there is nothing to try it on yet.
  if (tableName_.empty() || handler_) return;
  std::unique_ptr<DBFObject> probe = CreateHandler(true, true);
  OpenIndexFilesOn(*probe, true);
}

void TSorrelDataSet::SetIndexName(std::string_view name) {
  ++changeCount_;
  // A tag the open files do not hold is refused without taking the old name's place: a name kept
  // after the refusal would be selected again at every later open, and the table would no longer
  // open at all until the name was changed.
  std::string previous = std::exchange(indexName_, std::string(name));
  auto selectOrRestore = [&] {
    try {
      handler_->SelectMasterTag(indexName_, false);
    } catch (...) {
      indexName_ = std::move(previous);
      throw;
    }
  };
  if (!handler_) return;
  if (!Active()) {
    selectOrRestore();
    return;
  }
  CheckBrowseMode();
  const bool atEnd = IsEmpty() || Bof() || Eof();
  const int32_t record = atEnd ? 0 : BufferRecNo(ActiveBuffer());
  selectOrRestore();
  ApplyMasterRange();
  if (atEnd || record < 1) {
    First();
    return;
  }
  {
    THandlerBuffer own(*this, nullptr);
    handler_->GoTo(record);
  }
  beforeFirst_ = afterLast_ = false;
  if (!handler_->LastMoveOk()) {
    First();
    return;
  }
  Resync(rmExact | rmCenter);
  DoAfterScroll();
}

void TSorrelDataSet::UpdateIndexDefs() {
  if (!handler_) return;
  updatingIndexDefs_ = 1;
  OnScopeExit reset([this] { updatingIndexDefs_ = 0; });
  indexDefs_.Clear();
  for (int n = 1; n <= handler_->TagCount(); ++n) {
    HXobjIndexTag* tag = handler_->TagByPosition(n);
    if (tag == nullptr) continue;
    const std::string& expression = tag->KeyExpression();
    if (expression.find('(') != std::string::npos) {
      indexDefs_.Add(tag->TagName(), expression, ixExpression);
      continue;
    }
    std::string fields;
    for (char c : expression) {
      if (c == '+' || c == '-') {
        fields += ';';
      } else if (c != ' ') {
        fields += c;
      }
    }
    indexDefs_.Add(tag->TagName(), fields, 0);
  }
  indexDefs_.SetUpdated(true);
}

bool TSorrelDataSet::GetIsIndexField(TField* field) {
  if (!handler_ || handler_->MasterTag() == nullptr) return false;
  ThxExpHandler key(handler_->Link(), false, handler_->MasterTag()->KeyExpression());
  const std::string upper = SysUpperCase(field->FieldName());
  for (const std::string& name : SplitFieldNames(key.FieldNames(kTableFieldClassCode))) {
    if (SysUpperCase(name) == upper) return true;
  }
  return false;
}

bool TSorrelDataSet::IsSequenced() {
  return !(handler_ && handler_->MasterTag() != nullptr) && !Filtered();
}

// ---- filtering ----

bool TSorrelDataSet::FilterRecordAccepted() {
  if (!OnFilterRecord || !Filtered() || !handler_) return true;
  return FilterAccepts();
}

void TSorrelDataSet::SetFiltered(bool on) {
  if (!handler_) {
    TDataSet::SetFiltered(on);
    return;
  }
  CheckBrowseMode();
  if (on != Filtered()) {
    ++changeCount_;
    TDataSet::SetFiltered(on);
    handler_->SetFilterActive(on);
    if (on) InstallFilter();
  }
  First();
}

void TSorrelDataSet::SetFilterText(std::string_view text) {
  if (handler_ && Active() && Filtered()) {
    ++changeCount_;
    CheckBrowseMode();
    handler_->SetFilterActive(true);
    handler_->SetFilter(text, (FilterOptions() & foCaseInsensitive) != 0,
                        (FilterOptions() & foNoPartialCompare) == 0);
    First();
  }
  TDataSet::SetFilterText(text);
}

void TSorrelDataSet::SetFilterOptions(uint8_t options) {
  if (handler_ && Active() && Filtered()) {
    ++changeCount_;
    CheckBrowseMode();
    handler_->SetFilterActive(true);
    handler_->SetFilter(Filter(), (options & foCaseInsensitive) != 0,
                        (options & foNoPartialCompare) == 0);
    First();
  }
  TDataSet::SetFilterOptions(options);
}

// ---- record buffers and bookmarks ----

char* TSorrelDataSet::AllocRecordBuffer() { return new char[static_cast<size_t>(bufferSize_)](); }

void TSorrelDataSet::FreeRecordBuffer(char*& buffer) {
  delete[] buffer;
  buffer = nullptr;
}

int32_t TSorrelDataSet::BufferRecNo(const char* buffer) const {
  int32_t record = 0;
  std::memcpy(&record, buffer + recInfoOfs_, sizeof record);
  return record;
}

int32_t TSorrelDataSet::BookmarkRecNo(const char* bookmark) {
  const auto length = static_cast<unsigned char>(bookmark[0]);
  if (length < 1 || length > 10) return 0;
  int64_t value = 0;
  for (int i = 1; i <= length; ++i) {
    const char c = bookmark[i];
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value > INT32_MAX ? 0 : static_cast<int32_t>(value);
}

void TSorrelDataSet::GetBookmarkData(const char* buffer, char* data) {
  std::memcpy(data, buffer + bookmarkOfs_, kBookmarkSize);
}

void TSorrelDataSet::SetBookmarkData(char* buffer, const char* data) {
  std::memcpy(buffer + bookmarkOfs_, data, kBookmarkSize);
}

TBookmarkFlag TSorrelDataSet::GetBookmarkFlag(const char* buffer) {
  return static_cast<TBookmarkFlag>(buffer[recInfoOfs_ + 4]);
}

void TSorrelDataSet::SetBookmarkFlag(char* buffer, TBookmarkFlag flag) {
  buffer[recInfoOfs_ + 4] = static_cast<char>(flag);
}

bool TSorrelDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (!handler_ || bookmark.size() < static_cast<size_t>(kBookmarkSize)) return false;
  const int32_t record = BookmarkRecNo(bookmark.data());
  return record >= 1 && record <= handler_->RecordCount();
}

int TSorrelDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a.empty() && b.empty()) return 0;
  if (a.empty()) return -1;
  if (b.empty()) return 1;
  // Record numbers compare as numbers: as texts "10" would sort before "9".
  const int32_t x = BookmarkRecNo(a.data());
  const int32_t y = BookmarkRecNo(b.data());
  return x < y ? -1 : (x > y ? 1 : 0);
}

// ---- navigation ----

void TSorrelDataSet::InternalFirst() {
  beforeFirst_ = true;
  afterLast_ = false;
}

void TSorrelDataSet::InternalLast() {
  THandlerBuffer own(*this, nullptr);
  handler_->GoTo(kGotoLast);
  afterLast_ = true;
  beforeFirst_ = false;
}

void TSorrelDataSet::InternalGotoBookmark(const char* bookmark) {
  THandlerBuffer own(*this, nullptr);
  handler_->GoTo(BookmarkRecNo(bookmark));
  beforeFirst_ = afterLast_ = false;
}

void TSorrelDataSet::InternalSetToRecord(char* buffer) { InternalGotoBookmark(buffer + bookmarkOfs_); }

TGetResult TSorrelDataSet::GetRecord(char* buffer, TGetMode mode, bool) {
  DBFObject& h = *handler_;
  THandlerBuffer point(*this, buffer);
  bool moved = true;
  switch (mode) {
    case TGetMode::gmCurrent:
      if (!beforeFirst_ && !afterLast_) {
        h.GoTo(kGotoCurrent);
      } else {
        moved = false;
      }
      break;
    case TGetMode::gmNext:
      if (beforeFirst_) {
        h.GoTo(kGotoFirst);
        beforeFirst_ = false;
      } else if (!afterLast_) {
        h.GoTo(kGotoNext);
      } else {
        moved = false;
      }
      break;
    case TGetMode::gmPrior:
      if (beforeFirst_) {
        moved = false;
      } else if (!afterLast_) {
        h.GoTo(kGotoPrevious);
      } else if (State() == TDataSetState::dsInsert && h.RecordCount() > 0) {
        h.GoTo(kGotoPrevious);
      } else {
        h.GoTo(kGotoLast);
        afterLast_ = false;
      }
      break;
  }
  TGetResult result = TGetResult::grOK;
  if (!moved) {
    result = (mode == TGetMode::gmPrior || (mode == TGetMode::gmCurrent && beforeFirst_))
                 ? TGetResult::grBOF
                 : TGetResult::grEOF;
  } else if (h.Eof()) {
    result = TGetResult::grEOF;
  } else if (h.Bof()) {
    result = TGetResult::grBOF;
  }
  if (result != TGetResult::grOK) return result;

  const int32_t record = h.RecNo();
  std::memcpy(buffer + recInfoOfs_, &record, sizeof record);
  SetBookmarkFlag(buffer, TBookmarkFlag::bfCurrent);
  GetCalcFields(buffer);
  char* mark = buffer + bookmarkOfs_;
  std::memset(mark, 0, kBookmarkSize);
  const std::string digits = std::to_string(record);
  mark[0] = static_cast<char>(digits.size());
  std::memcpy(mark + 1, digits.data(), digits.size());
  return TGetResult::grOK;
}

int TSorrelDataSet::GetRecordCount() {
  if (!handler_) DatabaseError(dbtext::kDataSetClosed, {}, tableName_);
  DBFObject& h = *handler_;
  if (!exactCount_) return h.RecordCount();
  THandlerBuffer own(*this, nullptr);
  const int32_t saved = h.RecNo();
  int count = 0;
  h.GoTo(kGotoFirst);
  while (!h.Eof() && !h.Bof()) {
    ++count;
    h.GoTo(kGotoNext);
  }
  if (saved > 0) h.GoTo(saved);
  return count;
}

int TSorrelDataSet::GetRecNo() {
  if (!handler_) DatabaseError(dbtext::kDataSetClosed, {}, tableName_);
  const char* buffer = State() == TDataSetState::dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (buffer == nullptr || (IsEmpty() && State() != TDataSetState::dsInsert)) return 0;
  return BufferRecNo(buffer);
}

void TSorrelDataSet::SetRecNo(int recNo) {
  CheckBrowseMode();
  {
    THandlerBuffer own(*this, nullptr);
    handler_->GoTo(recNo);
  }
  beforeFirst_ = afterLast_ = false;
  Resync(0);
  DoAfterScroll();
}

bool TSorrelDataSet::GetCurrentRecord(char* buffer) {
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != TBookmarkFlag::bfCurrent) return false;
  UpdateCursorPos();
  std::memcpy(buffer, ActiveBuffer(), static_cast<size_t>(recordLength_));
  return true;
}

// ---- editing ----

void TSorrelDataSet::ClearCalcFields(char* buffer) {
  std::memset(buffer + recordLength_, 0, static_cast<size_t>(CalcFieldsSize()));
}

void TSorrelDataSet::DoAfterInsert() {
  handler_->SetBof(false);
  handler_->SetEof(true);
  TDataSet::DoAfterInsert();
}

void TSorrelDataSet::InternalInitRecord(char* buffer) {
  {
    THandlerBuffer point(*this, buffer);
    handler_->BlankRecord();
  }
  if (State() != TDataSetState::dsEdit) {
    std::memcpy(handler_->SavedRecord(), buffer, static_cast<size_t>(recordLength_));
  }
  std::memset(buffer + recInfoOfs_, 0, kRecordInfoSize + kBookmarkSize);
}

void TSorrelDataSet::ReleaseRecordLock() {
  // Only the lock this data set took for its edit is given back; a table lock the program holds
  // for itself stays.
  if (recordLocked_ != 0 && handler_) {
    recordLocked_ = 0;
    handler_->Unlock();
  }
  recordLocked_ = 0;
}

void TSorrelDataSet::InternalEdit() {
  char* const buffer = ActiveBuffer();
  const int32_t record = BufferRecNo(buffer);
  DBFObject& h = *handler_;
  // Lock first, then re-read: a change another program posts between the two is then in the
  // record we edit, and none can come after it.
  {
    THandlerBuffer own(*this, nullptr);
    h.SetRecNo(record);
    if (!h.RecordLock()) throw EDatabaseError(smRecordLocked);
  }
  recordLocked_ = 1;
  try {
    THandlerBuffer point(*this, buffer);
    h.GoTo(record);
  } catch (...) {
    ReleaseRecordLock();
    throw;
  }
}

void TSorrelDataSet::InternalCancel() { ReleaseRecordLock(); }

void TSorrelDataSet::InternalPost() {
  ++changeCount_;
  char* const buffer = ActiveBuffer();
  {
    THandlerBuffer point(*this, buffer);
    if (State() == TDataSetState::dsInsert) {
      handler_->AppendRecord();
    } else {
      handler_->UpdateRecord(BufferRecNo(buffer));
    }
  }
  ReleaseRecordLock();
  beforeFirst_ = afterLast_ = false;
}

void TSorrelDataSet::InternalAddRecord(char* buffer, bool) {
  ++changeCount_;
  {
    THandlerBuffer point(*this, buffer);
    handler_->AppendRecord();
  }
  ReleaseRecordLock();
}

void TSorrelDataSet::MarkRecordUnderLock(int32_t record, void (HXO_dBaseFld::*mark)(),
                                         bool endsEdit) {
  DBFObject& h = *handler_;
  const bool lockedHere = recordLocked_ == 0;
  if (lockedHere) {
    h.SetRecNo(record);
    if (!h.RecordLock()) throw EDatabaseError(smRecordLocked);
    recordLocked_ = 1;
  }
  const bool release = lockedHere || endsEdit;
  try {
    h.SetShowDeleted(true);
    OnScopeExit back([this] { handler_->SetShowDeleted(useDeleted_); });
    h.GoTo(record);
    if (h.RecNo() != record || h.Bof() || h.Eof())
      throw ESorrelError(smRecordNotInTable, {record, h.Name()});
    (h.*mark)();
  } catch (...) {
    if (release) {
      try {
        ReleaseRecordLock();
      } catch (...) {
      }
    }
    throw;
  }
  if (release) ReleaseRecordLock();
}

void TSorrelDataSet::InternalDelete() {
  ++changeCount_;
  char* const buffer = ActiveBuffer();
  DBFObject& h = *handler_;
  const int32_t record = BufferRecNo(buffer);
  {
    // The deletion mark goes onto the record as it is on disk, read again under the record lock:
    // writing the data set's copy would undo what another program posted since it was read, and
    // writing while that program edits would let its post undo the deletion. An edit that is
    // being abandoned holds the lock already; the delete ends it, and the lock with it.
    THandlerBuffer own(*this, nullptr);
    MarkRecordUnderLock(record, &HXO_dBaseFld::DeleteRecord, true);
  }
  THandlerBuffer own(*this, nullptr);
  h.GoTo(kGotoCurrent);
  if (h.Eof()) {
    h.GoTo(kGotoPrevious);
    h.SetEof(true);
  }
}

void TSorrelDataSet::UndeleteRecord() {
  ++changeCount_;
  CheckActive();
  if (IsEmpty()) return;
  char* const buffer = ActiveBuffer();
  DBFObject& h = *handler_;
  UpdateCursorPos();
  const int32_t record = BufferRecNo(buffer);
  THandlerBuffer own(*this, nullptr);
  // Like a delete: under the record lock (unless an edit of this data set holds it), on the
  // record as it is on disk; an edit in progress keeps its lock.
  MarkRecordUnderLock(record, &HXO_dBaseFld::RecallRecord, false);
  std::memcpy(buffer, h.RecordBuffer(), static_cast<size_t>(recordLength_));
}

void TSorrelDataSet::InternalRefresh() {
  ++changeCount_;
  if (!IsEmpty()) {
    char* const buffer = ActiveBuffer();
    THandlerBuffer point(*this, buffer);
    handler_->GoTo(BufferRecNo(buffer));
  }
  handler_->RefreshFilter();
}

void TSorrelDataSet::Post() {
  TDataSet::Post();
  if (State() == TDataSetState::dsSetKey) SetState(TDataSetState::dsBrowse);
}

int TSorrelDataSet::Translate(const char* source, char* destination, bool toOem) {
  if (source == nullptr) {
    if (destination != nullptr) *destination = '\0';
    return 0;
  }
  const size_t length = std::strlen(source);
  if (destination == nullptr) return static_cast<int>(length);
  if (translateASCII_) {
    if (toOem) {
      SysAnsiToOem(source, destination, length);
    } else {
      SysOemToAnsi(source, destination, length);
    }
    destination[length] = '\0';
  } else if (source != destination) {
    std::memmove(destination, source, length + 1);
  }
  return static_cast<int>(length);
}

// ---- blobs and searches ----

std::unique_ptr<TBlobStream> TSorrelDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  return std::make_unique<TSRBlobStream>(field, mode, Handler());
}

bool TSorrelDataSet::Locate(std::string_view keyFields, const std::vector<TVarValue>& keyValues,
                            uint8_t options) {
  return SorrelLocate(*this, keyFields, keyValues, options);
}

TVarValue TSorrelDataSet::Lookup(std::string_view keyFields, const std::vector<TVarValue>& keyValues,
                                 std::string_view resultFields) {
  CheckActive();
  CheckBrowseMode();
  DBFObject& h = *handler_;
  const int32_t before = h.RecNo();
  // The record is found into the scratch buffer after the window and read there in the
  // calculated-fields state: the view, its window and the links see nothing of it.
  char* const buffer = TempBuffer();
  TVarValue result;
  bool found = false;
  try {
    {
      THandlerBuffer point(*this, buffer);
      found = SorrelSearch(h, keyFields, keyValues, false, false);
    }
    if (found) {
      const int32_t record = h.RecNo();
      std::memcpy(buffer + recInfoOfs_, &record, sizeof record);
      SetBookmarkFlag(buffer, TBookmarkFlag::bfCurrent);
      SetBookmarkData(buffer, SorrelBookmarkOf(record).data());
      GetCalcFields(buffer);
      TTempState calc(*this, TDataSetState::dsCalcFields);
      const std::vector<std::string> names = SplitFieldNames(resultFields);
      if (names.size() == 1) {
        result = FieldByName(names[0])->Value();
      } else {
        std::string joined;
        for (size_t i = 0; i < names.size(); ++i) {
          // Appended piece by piece: the one-expression form trips a false -Wrestrict in g++ 12.
          if (i) joined += ';';
          joined += FieldByName(names[i])->AsString();
        }
        result = TVarValue(joined);
      }
    }
  } catch (...) {
    THandlerBuffer own(*this, nullptr);
    h.GoTo(before);
    throw;
  }
  THandlerBuffer own(*this, nullptr);
  h.GoTo(before);
  return result;
}

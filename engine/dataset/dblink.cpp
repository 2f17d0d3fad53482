// Data sources and data links.
#include "dataset/dblink.h"

#include <algorithm>

namespace {

bool IsEditMode(TDataSetState s) {
  return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert ||
         s == TDataSetState::dsSetKey;
}

}  // namespace

// ---- TDataSource ----

TDataSource::~TDataSource() {
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->SetDataSource(nullptr);
  SetDataSet(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet_ == dataSet) return;
  if (dataSet_ != nullptr) dataSet_->RemoveDataSource(this);
  dataSet_ = dataSet;
  if (dataSet_ != nullptr) dataSet_->AddDataSource(this);
  UpdateState();
}

void TDataSource::SetEnabled(bool on) {
  enabled_ = on;
  UpdateState();
}

void TDataSource::UpdateState() {
  const TDataSetState next =
      enabled_ && dataSet_ != nullptr ? dataSet_->State() : TDataSetState::dsInactive;
  if (next == state_) return;
  state_ = next;
  NotifyLinks(TDataEvent::deUpdateState, 0);
  if (OnStateChange) OnStateChange(*this);
}

void TDataSource::Edit() {
  if (autoEdit_ && state_ == TDataSetState::dsBrowse && dataSet_ != nullptr) dataSet_->Edit();
}

bool TDataSource::IsLinkedTo(TDataSet* dataSet) const {
  const TDataSource* source = this;
  for (int guard = 0; source != nullptr && guard < 1000; ++guard) {
    TDataSet* ds = source->dataSet_;
    if (ds == nullptr) return false;
    if (ds == dataSet) return true;
    source = ds->DataSource();
  }
  return false;
}

void TDataSource::NotifyLinks(TDataEvent event, intptr_t info) {
  for (TDataLink* link : std::vector<TDataLink*>(links_)) {
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->DataEvent(event, info);
  }
}

void TDataSource::DataEvent(TDataEvent event, intptr_t info) {
  if (event == TDataEvent::deUpdateState) {
    UpdateState();
    return;
  }
  if (state_ == TDataSetState::dsInactive) return;
  NotifyLinks(event, info);
  switch (event) {
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
    case TDataEvent::deDataSetChange:
    case TDataEvent::deDataSetScroll:
    case TDataEvent::deLayoutChange:
      if (OnDataChange) {
        OnDataChange(*this, event == TDataEvent::deFieldChange ? reinterpret_cast<TField*>(info) : nullptr);
      }
      break;
    case TDataEvent::deUpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default:
      break;
  }
}

void TDataSource::AddLink(TDataLink* link) {
  links_.push_back(link);
  if (dataSet_ != nullptr) dataSet_->UpdateBufferCount();
}

void TDataSource::RemoveLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
  if (dataSet_ != nullptr) dataSet_->UpdateBufferCount();
}

// ---- TDataLink ----

TDataLink::~TDataLink() {
  if (dataSource_ != nullptr) dataSource_->RemoveLink(this);
  dataSource_ = nullptr;
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (dataSource_ == source) return;
  if (dataSource_ != nullptr) dataSource_->RemoveLink(this);
  dataSource_ = source;
  if (dataSource_ != nullptr) dataSource_->AddLink(this);
  UpdateState();
}

void TDataLink::SetReadOnly(bool on) {
  readOnly_ = on;
  UpdateState();
}

void TDataLink::UpdateState() {
  const TDataSetState state =
      dataSource_ != nullptr ? dataSource_->State() : TDataSetState::dsInactive;
  SetActive(state != TDataSetState::dsInactive);
  SetEditing(IsEditMode(state) && !readOnly_);
}

void TDataLink::SetActive(bool on) {
  if (active_ == on) return;
  active_ = on;
  if (on) {
    UpdateRange();
  } else {
    firstRecord_ = 0;
  }
  ActiveChanged();
}

void TDataLink::SetEditing(bool on) {
  if (editing_ == on) return;
  editing_ = on;
  EditingChanged();
}

void TDataLink::SetBufferCount(int count) {
  if (count < 1) count = 1;
  if (bufferCount_ == count) return;
  bufferCount_ = count;
  if (active_ && DataSet() != nullptr) {
    DataSet()->UpdateBufferCount();
    UpdateRange();
  }
}

void TDataLink::UpdateRange() {
  TDataSet* ds = DataSet();
  if (ds == nullptr) return;
  int low = ds->ActiveRecord() - bufferCount_ + 1;
  if (low < 0) low = 0;
  int high = ds->BufferCount() - bufferCount_;
  if (high < 0) high = 0;
  if (high > ds->ActiveRecord()) high = ds->ActiveRecord();
  if (firstRecord_ < low) firstRecord_ = low;
  if (firstRecord_ > high) firstRecord_ = high;
  if (firstRecord_ != 0 && ds->ActiveRecord() - firstRecord_ < bufferCount_ - 1) --firstRecord_;
}

int TDataLink::RecordCount() const {
  TDataSet* ds = DataSet();
  if (!active_ || ds == nullptr) return 0;
  return std::clamp(ds->BufferRecordCount() - firstRecord_, 0, bufferCount_);
}

int TDataLink::ActiveRecord() const {
  TDataSet* ds = DataSet();
  if (ds == nullptr || dataSource_->State() == TDataSetState::dsSetKey) return 0;
  return ds->ActiveRecord() - firstRecord_;
}

void TDataLink::SetActiveRecord(int index) {
  TDataSet* ds = DataSet();
  if (ds == nullptr || dataSource_->State() == TDataSetState::dsSetKey) return;
  const int target = index + firstRecord_;
  if (target < 0 || target >= std::max(1, ds->BufferRecordCount())) return;
  ds->activeRecord_ = target;
}

TDataLink::TRowScope::TRowScope(TDataLink& link, int index) : link_(link), saved_(link.ActiveRecord()) {
  link_.SetActiveRecord(index);
}

TDataLink::TRowScope::~TRowScope() { link_.SetActiveRecord(saved_); }

bool TDataLink::Edit() {
  if (!readOnly_ && dataSource_ != nullptr) dataSource_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{updating_};
  UpdateData();
}

void TDataLink::DataEvent(TDataEvent event, intptr_t info) {
  if (event == TDataEvent::deUpdateState) {
    UpdateState();
    return;
  }
  if (!active_) return;
  switch (event) {
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::deDataSetChange:
    case TDataEvent::deDataSetScroll:
    case TDataEvent::deLayoutChange: {
      int count = 0;
      if (dataSource_->State() != TDataSetState::dsSetKey) {
        const int active = DataSet()->ActiveRecord();
        const int first =
            firstRecord_ + (event == TDataEvent::deDataSetScroll ? static_cast<int>(info) : 0);
        if (active > first + bufferCount_ - 1) {
          count = active - (first + bufferCount_ - 1);
        } else if (active < first) {
          count = active - first;
        }
        firstRecord_ = first + count;
      }
      if (event == TDataEvent::deDataSetChange) {
        DataSetChanged();
      } else if (event == TDataEvent::deDataSetScroll) {
        DataSetScrolled(count);
      } else {
        LayoutChanged();
      }
      break;
    }
    case TDataEvent::deUpdateRecord:
      UpdateRecord();
      break;
    case TDataEvent::deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case TDataEvent::deFocusControl:
      FocusControl(reinterpret_cast<TField*>(info));
      break;
    default:
      break;
  }
}

// ---- TMasterDataLink ----

void TMasterDataLink::SetFieldNames(std::string names) {
  fieldNames_ = std::move(names);
  ActiveChanged();
}

void TMasterDataLink::SetMasterSource(TDataSource* source) {
  if (source != nullptr && owner_->IsLinkedTo(source)) {
    DatabaseError(dbtext::kCircularDataLink, {}, owner_->Name());
  }
  SetDataSource(source);
}

void TMasterDataLink::ResolveFields() {
  fields_.clear();
  if (!Active() || DataSet() == nullptr) return;
  for (const std::string& name : SplitFieldNames(fieldNames_)) {
    fields_.push_back(DataSet()->FieldByName(name));
  }
}

void TMasterDataLink::ActiveChanged() {
  try {
    ResolveFields();
  } catch (...) {
    fields_.clear();
    throw;
  }
  if (!owner_->Active()) return;
  if (Active() && !fields_.empty()) {
    if (OnMasterChange) OnMasterChange();
  } else if (OnMasterDisable) {
    OnMasterDisable();
  }
}

void TMasterDataLink::CheckBrowseMode() {
  if (owner_->Active()) owner_->CheckBrowseMode();
}

void TMasterDataLink::RecordChanged(TField* field) {
  if (DataSource()->State() == TDataSetState::dsSetKey || !owner_->Active() || fields_.empty()) return;
  if (field != nullptr && std::find(fields_.begin(), fields_.end(), field) == fields_.end()) return;
  if (OnMasterChange) OnMasterChange();
}

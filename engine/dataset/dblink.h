// dblink: data sources and data links, the way data-aware controls follow a data set.
//
// A TDataSource stands between one data set and any number of links; it carries the data set's
// state to them (Enabled off makes it look inactive) and forwards the data set's notices. A
// TDataLink is one follower: it sees the notices as virtual calls (ActiveChanged, DataSetChanged,
// DataSetScrolled, EditingChanged, RecordChanged, LayoutChanged, UpdateData, CheckBrowseMode) and
// keeps its own window of BufferCount records inside the data set's window. The data set's window
// is as large as the largest link window. TMasterDataLink is the link by which a detail data set
// follows the fields of its master.
//
// Links and sources do not own each other: each side unregisters itself when destroyed.
// Thread-safety: none; used from the data set's thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dataset/dbset.h"

class TDataLink;

class TDataSource {
 public:
  TDataSource() = default;
  explicit TDataSource(TDataSet* dataSet) { SetDataSet(dataSet); }
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;
  ~TDataSource();

  TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);
  // Edits started by the links (TDataLink::Edit) put the data set into edit state.
  bool AutoEdit() const { return autoEdit_; }
  void SetAutoEdit(bool on) { autoEdit_ = on; }
  // The data set's state, or inactive when disabled or without a data set.
  TDataSetState State() const { return state_; }
  // Puts the data set into edit state when AutoEdit and browsing.
  void Edit();
  bool IsLinkedTo(TDataSet* dataSet) const;
  int LinkCount() const { return static_cast<int>(links_.size()); }

  std::function<void(TDataSource&)> OnStateChange;
  std::function<void(TDataSource&, TField*)> OnDataChange;
  std::function<void(TDataSource&)> OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;

  void DataEvent(TDataEvent event, intptr_t info);
  void UpdateState();
  void NotifyLinks(TDataEvent event, intptr_t info);
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);

  TDataSet* dataSet_ = nullptr;
  bool enabled_ = true;
  bool autoEdit_ = true;
  TDataSetState state_ = TDataSetState::dsInactive;
  std::vector<TDataLink*> links_;
};

class TDataLink {
 public:
  TDataLink() = default;
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;
  virtual ~TDataLink();

  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const { return dataSource_ != nullptr ? dataSource_->DataSet() : nullptr; }
  bool Active() const { return active_; }
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool on);
  // The link's window: BufferCount records starting at the data set's buffer FirstRecord().
  int BufferCount() const { return bufferCount_; }
  void SetBufferCount(int count);
  int FirstRecord() const { return firstRecord_; }
  // Records in the link's window, and the active one's index in it.
  int RecordCount() const;
  int ActiveRecord() const;
  // Makes row `index` of the link's window the data set's active record (grids read rows so).
  void SetActiveRecord(int index);
  bool Bof() const { return DataSet() != nullptr && DataSet()->Bof(); }
  bool Eof() const { return DataSet() != nullptr && DataSet()->Eof(); }
  // Starts an edit through the source (AutoEdit); whether the link is now editing.
  bool Edit();
  // Asks this link to write its pending value into the field (UpdateData) now.
  void UpdateRecord();

  // Makes row `index` active for the guard's life and puts the former active row back after.
  class TRowScope {
   public:
    TRowScope(TDataLink& link, int index);
    ~TRowScope();
    TRowScope(const TRowScope&) = delete;
    TRowScope& operator=(const TRowScope&) = delete;

   private:
    TDataLink& link_;
    int saved_;
  };

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void FocusControl(TField*) {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField*) {}
  virtual void UpdateData() {}

 private:
  friend class TDataSource;
  friend class TDataSet;

  void DataEvent(TDataEvent event, intptr_t info);
  void SetActive(bool on);
  void SetEditing(bool on);
  void UpdateRange();
  void UpdateState();

  TDataSource* dataSource_ = nullptr;
  int firstRecord_ = 0;
  int bufferCount_ = 1;
  bool active_ = false;
  bool editing_ = false;
  bool readOnly_ = false;
  bool updating_ = false;
};

// The link from a detail data set to its master: follows the master's record and the fields
// named in FieldNames.
class TMasterDataLink : public TDataLink {
 public:
  explicit TMasterDataLink(TDataSet* owner) : owner_(owner) {}

  TDataSet* Owner() const { return owner_; }
  const std::string& FieldNames() const { return fieldNames_; }
  void SetFieldNames(std::string names);
  // The master fields named in FieldNames (resolved while active).
  const std::vector<TField*>& Fields() const { return fields_; }
  // Sets the master's source; refuses one through which the owner would follow itself
  // ("Circular datalinks are not allowed").
  void SetMasterSource(TDataSource* source);

  std::function<void()> OnMasterChange;
  std::function<void()> OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override { ActiveChanged(); }
  void RecordChanged(TField* field) override;

 private:
  void ResolveFields();

  TDataSet* owner_;
  std::string fieldNames_;
  std::vector<TField*> fields_;
};

#include "dbgridmodel.h"

#include "dbtext.h"

class TDBGridModel::Link : public TDataLink {
 public:
  explicit Link(TDBGridModel& model) : model_(model) {}

 protected:
  void ActiveChanged() override { model_.Reload(); }
  void DataSetChanged() override {
    if (DataSet() != nullptr && DataSet()->State() == TDataSetState::dsBrowse) {
      model_.Reload();
    } else {
      model_.RefreshActiveRow(nullptr);
    }
  }
  void DataSetScrolled(int) override { model_.FollowCursor(); }
  void LayoutChanged() override { model_.Reload(); }
  void RecordChanged(TField* field) override { model_.RefreshActiveRow(field); }

 private:
  TDBGridModel& model_;
};

TDBGridModel::TDBGridModel(QObject* parent)
    : QAbstractTableModel(parent), link_(std::make_unique<Link>(*this)) {}

TDBGridModel::~TDBGridModel() { link_->SetDataSource(nullptr); }

TDataSource* TDBGridModel::DataSource() const { return link_->DataSource(); }

void TDBGridModel::SetDataSource(TDataSource* source) {
  link_->SetDataSource(source);
  Reload();
}

TField* TDBGridModel::ColumnField(int column) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return nullptr;
  return columns_[static_cast<size_t>(column)];
}

QStringList TDBGridModel::CellsOfActiveRecord() const {
  QStringList cells;
  for (TField* field : columns_) {
    try {
      cells << FromEngineText(field->AsString());
    } catch (const std::exception&) {
      // A value that cannot be shown (a number too wide for its field type) paints empty.
      cells << QString();
    }
  }
  return cells;
}

int TDBGridModel::RowOfActiveRecord() const {
  TDataSet* ds = link_->DataSet();
  if (ds == nullptr || !ds->Active() || ds->IsEmpty()) return -1;
  const TBookmark mark = ds->Bookmark();
  if (mark.empty()) return -1;
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (ds->CompareBookmarks(rows_[i].mark, mark) == 0) return static_cast<int>(i);
  }
  return -1;
}

void TDBGridModel::Reload() {
  if (reloading_) return;
  TDataSet* ds = link_->DataSet();
  // Listing the rows moves the cursor, which an edit in progress must not see.
  if (ds != nullptr && link_->Active() && ds->State() != TDataSetState::dsBrowse) {
    RefreshActiveRow(nullptr);
    return;
  }
  reloading_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{reloading_};

  beginResetModel();
  rows_.clear();
  columns_.clear();
  if (ds != nullptr && link_->Active()) {
    for (const auto& field : ds->Fields()) {
      if (field->Visible()) columns_.push_back(field.get());
    }
    const TBookmark saved = ds->Bookmark();
    ds->DisableControls();
    try {
      ds->First();
      while (!ds->Eof() && !ds->IsEmpty()) {
        rows_.push_back(Row{ds->Bookmark(), CellsOfActiveRecord()});
        ds->Next();
      }
      if (!saved.empty()) {
        ds->GotoBookmark(saved);
      } else {
        ds->First();
      }
    } catch (const std::exception&) {
      // A record that cannot be read ends the list here; the grid shows what could be read.
    }
    try {
      ds->EnableControls();
    } catch (const std::exception&) {
    }
  }
  endResetModel();
  FollowCursor();
}

void TDBGridModel::FollowCursor() {
  const int row = RowOfActiveRecord();
  if (row == current_) return;
  current_ = row;
  emit currentRowChanged(row);
}

void TDBGridModel::RefreshActiveRow(TField*) {
  const int row = RowOfActiveRecord();
  if (row < 0) return;
  rows_[static_cast<size_t>(row)].cells = CellsOfActiveRecord();
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  FollowCursor();
}

void TDBGridModel::SetCurrentRow(int row) {
  TDataSet* ds = link_->DataSet();
  if (ds == nullptr || row < 0 || row >= static_cast<int>(rows_.size())) return;
  ds->GotoBookmark(rows_[static_cast<size_t>(row)].mark);
}

int TDBGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TDBGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TDBGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()) ||
      index.column() >= static_cast<int>(columns_.size())) {
    return {};
  }
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  return rows_[static_cast<size_t>(index.row())].cells.value(index.column());
}

QVariant TDBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  TField* field = ColumnField(section);
  return field != nullptr ? QVariant(FromEngineText(field->DisplayName())) : QVariant();
}

Qt::ItemFlags TDBGridModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags result = QAbstractTableModel::flags(index);
  TField* field = ColumnField(index.column());
  TDataSet* ds = link_->DataSet();
  if (field != nullptr && ds != nullptr && ds->CanModify() && !field->ReadOnly() &&
      field->FieldKind() == TFieldKind::fkData) {
    result |= Qt::ItemIsEditable;
  }
  return result;
}

bool TDBGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !index.isValid() || index.row() >= static_cast<int>(rows_.size())) return false;
  TField* field = ColumnField(index.column());
  TDataSet* ds = link_->DataSet();
  if (field == nullptr || ds == nullptr || !ds->Active()) return false;
  try {
    const TBookmark& mark = rows_[static_cast<size_t>(index.row())].mark;
    if (ds->CompareBookmarks(ds->Bookmark(), mark) != 0) ds->GotoBookmark(mark);
    ds->Edit();
    field->SetAsString(ToEngineText(value.toString()));
    ds->Post();
    return true;
  } catch (const std::exception& e) {
    if (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert) {
      try {
        ds->Cancel();
      } catch (const std::exception&) {
      }
    }
    emit editFailed(FromEngineText(e.what()));
    return false;
  }
}

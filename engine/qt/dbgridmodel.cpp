#include "dbgridmodel.h"

#include <QMetaObject>
#include <algorithm>
#include <utility>

#include "dataset/Sorl6db.h"
#include "dbtext.h"

class TDBGridModel::Link : public TDataLink {
 public:
  explicit Link(TDBGridModel& model) : model_(model) {}

  // Edits that ended, for data sets that do not count their own writes.
  uint32_t Edits() const { return edits_; }

 protected:
  void ActiveChanged() override {
    if (model_.walking_ != 0) return;
    model_.Recount();
    model_.FollowCursor(false);
  }
  void DataSetChanged() override { model_.DataSetChanged(); }
  void DataSetScrolled(int) override {
    if (model_.walking_ == 0) model_.FollowCursor(false);
  }
  void EditingChanged() override { ++edits_; }
  void LayoutChanged() override {
    if (model_.walking_ != 0) return;
    model_.Recount();
    model_.FollowCursor(false);
  }
  void RecordChanged(TField*) override {
    if (model_.walking_ == 0) model_.RefreshActiveRow();
  }

 private:
  TDBGridModel& model_;
  uint32_t edits_ = 0;
};

// A walk of the cursor on the model's behalf: the controls disabled, the notices the walk causes
// ignored, and the cursor put back on its record afterwards.
class TDBGridModel::Walk {
 public:
  explicit Walk(TDBGridModel& model)
      : model_(model), ds_(*model.link_->DataSet()), bof_(ds_.Bof()), eof_(ds_.Eof()) {
    ++model_.walking_;
    saved_ = ds_.Bookmark();
    ds_.DisableControls();
  }
  ~Walk() {
    try {
      // On the first or last record the move there puts it back, so that Bof and Eof tell the
      // program what they told it before.
      if (saved_.empty() || bof_) {
        if (ds_.Active()) ds_.First();
      } else if (eof_) {
        ds_.Last();
      } else {
        ds_.GotoBookmark(saved_);
      }
    } catch (const std::exception&) {
      // The record went (another program packed the table): the cursor stays where the walk
      // ended.
    }
    try {
      ds_.EnableControls();
    } catch (const std::exception&) {
    }
    --model_.walking_;
  }
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

 private:
  TDBGridModel& model_;
  TDataSet& ds_;
  bool bof_;
  bool eof_;
  TBookmark saved_;
};

TDBGridModel::TDBGridModel(QObject* parent)
    : QAbstractTableModel(parent), link_(std::make_unique<Link>(*this)) {}

TDBGridModel::~TDBGridModel() { link_->SetDataSource(nullptr); }

TDataSource* TDBGridModel::DataSource() const { return link_->DataSource(); }

void TDBGridModel::SetDataSource(TDataSource* source) {
  link_->SetDataSource(source);
  Recount();
  FollowCursor(false);
}

TField* TDBGridModel::ColumnField(int column) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return nullptr;
  return columns_[static_cast<size_t>(column)];
}

int TDBGridModel::CurrentRow() const { return current_; }

TDataSet* TDBGridModel::BrowsingDataSet() const {
  TDataSet* ds = link_->DataSet();
  if (ds == nullptr || !link_->Active() || ds->State() != TDataSetState::dsBrowse) return nullptr;
  return ds;
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

TDBGridModel::Signature TDBGridModel::SignatureNow() const {
  Signature s;
  TDataSet* ds = link_->DataSet();
  if (ds == nullptr || !link_->Active()) return s;
  s.active = true;
  s.filtered = ds->Filtered();
  s.filter = ds->Filter();
  s.filterOptions = ds->FilterOptions();
  s.fields = ds->FieldCount();
  s.changes = link_->Edits();
  try {
    s.records = ds->RecordCount();
  } catch (const std::exception&) {
    s.records = -1;
  }
  if (auto* table = dynamic_cast<TSorrelDataSet*>(ds)) {
    s.order = table->IndexName();
    if (DBFObject* h = table->Handler(); h != nullptr) {
      // The records in the file: with ExactCount the data set would count the view instead, by
      // reading it whole.
      s.records = h->RecordCount();
      s.order += "\n" + h->MasterTagName();
      // The filter the handler holds is set before the data set's own text is.
      s.filter = h->FilterText();
      // A master/detail range on the tag narrows the view to one master's records.
      if (HXobjIndexTag* tag = h->MasterTag(); tag != nullptr && tag->HasRange()) {
        s.order += "\n" + std::string(tag->LowKey().Bytes()) + "\n" + std::string(tag->HighKey().Bytes());
      }
    }
    s.changes = table->ChangeCount();
  }
  return s;
}

void TDBGridModel::Recount() {
  TDataSet* ds = link_->DataSet();
  const Signature was = signature_;
  const int wasRow = current_;
  beginResetModel();
  block_.clear();
  first_ = 0;
  count_ = 0;
  columns_.clear();
  resetPending_ = false;
  presumed_ = -1;
  signature_ = SignatureNow();
  if (ds != nullptr && link_->Active()) {
    for (const auto& field : ds->Fields()) {
      if (field->Visible()) columns_.push_back(field.get());
    }
    // The same order and filter as before: a record that cannot be placed keeps its row.
    if (was.active && was.order == signature_.order && was.filtered == signature_.filtered &&
        was.filter == signature_.filter && was.filterOptions == signature_.filterOptions) {
      presumed_ = wasRow;
    }
    int estimate = signature_.records;
    if (auto* table = dynamic_cast<TSorrelDataSet*>(ds); table != nullptr && table->Filtered()) {
      DBFObject* h = table->Handler();
      if (h != nullptr && h->FilterInForce() && h->FilterSet() != nullptr && estimate > 0) {
        // The records the filter passed when it was built (deleted ones are never among them).
        int passing = 0;
        for (int32_t r = h->FilterSet()->NextSetBit(1, estimate); r >= 0;
             r = h->FilterSet()->NextSetBit(r + 1, estimate)) {
          ++passing;
        }
        estimate = passing;
      }
    }
    if (ds->State() == TDataSetState::dsBrowse && (estimate < 0 || estimate <= kWholeViewRows)) {
      // A small view (or one whose size the data set cannot tell) is read whole.
      try {
        Walk walk(*this);
        ds->First();
        while (!ds->Eof() && !ds->IsEmpty()) {
          block_.push_back(Row{ds->Bookmark(), CellsOfActiveRecord()});
          ds->Next();
        }
      } catch (const std::exception&) {
        // A record that cannot be read ends the list here; the grid shows what could be read.
      }
      count_ = static_cast<int>(block_.size());
    } else {
      count_ = std::max(estimate, 0);
    }
  }
  // The row the view is to select when it hears of the reset: the active record's when it was
  // read, else (a large view, placed later) the row it had.
  if (ds != nullptr && link_->Active() && !ds->IsEmpty()) {
    const int row = BlockRow(ds->Bookmark());
    current_ = row >= 0 || count_ <= kWholeViewRows ? row : std::min(current_, count_ - 1);
  } else {
    current_ = -1;
  }
  endResetModel();
  if (current_ != wasRow) emit currentRowChanged(current_);
}

void TDBGridModel::DataSetChanged() {
  if (walking_ != 0) return;
  if (starved_ && count_ > 0 && !columns_.empty()) {
    // Rows the view asked for while the controls were disabled: it asks again.
    starved_ = false;
    emit dataChanged(index(0, 0), index(count_ - 1, static_cast<int>(columns_.size()) - 1));
  }
  TDataSet* ds = link_->DataSet();
  if (ds != nullptr && link_->Active() && ds->State() != TDataSetState::dsBrowse) {
    RefreshActiveRow();
    return;
  }
  if (SignatureNow() != signature_) Recount();
  FollowCursor(false);
}

void TDBGridModel::RefreshActiveRow() {
  TDataSet* ds = link_->DataSet();
  if (ds == nullptr || !link_->Active() || ds->IsEmpty()) return;
  const int row = BlockRow(ds->Bookmark());
  if (row < 0) return;
  block_[static_cast<size_t>(row - first_)].cells = CellsOfActiveRecord();
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  FollowCursor(false);
}

void TDBGridModel::FollowCursor(bool mayWalk) {
  TDataSet* ds = link_->DataSet();
  int row = -1;
  bool pending = false;
  followPending_ = false;
  if (ds != nullptr && link_->Active() && !ds->IsEmpty()) {
    const TBookmark mark = ds->Bookmark();
    row = BlockRow(mark);
    if (row < 0 && !mark.empty() && ds->State() == TDataSetState::dsBrowse && count_ > 0) {
      // Just after a move to the first or the last record (or a step onto it) the row is
      // known without reading: row 0, or the last row.
      if (ds->Bof()) {
        row = 0;
      } else if (ds->Eof()) {
        row = count_ - 1;
      }
      // Unless the block holds another record there (a count that fell short of the records).
      if (row >= 0 && InBlock(row)) row = -1;
    }
    if (row < 0 && !mark.empty() && ds->State() == TDataSetState::dsBrowse) {
      if (mayWalk && walking_ == 0 && !ds->ControlsDisabled()) {
        try {
          row = PlaceActive();
        } catch (const std::exception&) {
          row = -1;
        }
      } else {
        // Placing the record means walking the cursor: not under the notice of a move, nor
        // while the program works with the controls disabled (enabling them brings a notice).
        // Until then the current row stays where it was.
        followPending_ = true;
        pending = true;
        if (!ds->ControlsDisabled()) ScheduleSettle();
      }
    }
  }
  const int was = current_;
  if (!pending) current_ = row;
  if (current_ >= count_) current_ = count_ - 1;
  if (resetPending_ && dataDepth_ == 0 && !resetting_) {
    resetPending_ = false;
    resetting_ = true;
    beginResetModel();
    endResetModel();
    resetting_ = false;
  }
  if (current_ != was) emit currentRowChanged(current_);
}

void TDBGridModel::ScheduleSettle() {
  if (settleQueued_) return;
  settleQueued_ = true;
  QMetaObject::invokeMethod(this, [this] { Settle(); }, Qt::QueuedConnection);
}

void TDBGridModel::Settle() {
  settleQueued_ = false;
  if (walking_ != 0) {
    ScheduleSettle();
    return;
  }
  if (followPending_ || resetPending_) FollowCursor(true);
}

int TDBGridModel::BlockRow(const TBookmark& mark) const {
  if (mark.empty()) return -1;
  TDataSet* ds = link_->DataSet();
  for (size_t i = 0; i < block_.size(); ++i) {
    if (block_[i].mark.size() == mark.size() && ds->CompareBookmarks(block_[i].mark, mark) == 0)
      return first_ + static_cast<int>(i);
  }
  return -1;
}

bool TDBGridModel::InBlock(int row) const {
  return row >= first_ && row < first_ + static_cast<int>(block_.size());
}

void TDBGridModel::ShiftRows(int row) {
  if (row == 0) return;
  first_ -= row;
  count_ = std::max(count_ - row, 0);
  while (!block_.empty() && first_ < 0) {
    block_.pop_front();
    ++first_;
  }
  if (block_.empty()) first_ = 0;
  count_ = std::max(count_, first_ + static_cast<int>(block_.size()));
  resetPending_ = true;
}

void TDBGridModel::SetCount(int count) {
  count = std::max(count, 0);
  if (count == count_) return;
  count_ = count;
  while (!block_.empty() && first_ + static_cast<int>(block_.size()) > count_) block_.pop_back();
  if (block_.empty()) first_ = 0;
  resetPending_ = true;
}

void TDBGridModel::ReadRun(From from, int fromRow, const TBookmark& mark, int start, int rows) {
  TDataSet* ds = link_->DataSet();
  std::vector<Row> run;
  bool atEnd = false;
  {
    Walk walk(*this);
    switch (from) {
      case From::First:
        ds->First();
        break;
      case From::Last:
        ds->Last();
        break;
      case From::Mark:
        ds->GotoBookmark(mark);
        break;
    }
    if (ds->IsEmpty()) {
      SetCount(0);
      block_.clear();
      first_ = 0;
      return;
    }
    const int distance = start - fromRow;
    const int moved = distance != 0 ? ds->MoveBy(distance) : 0;
    if (moved != distance) {
      if (distance < 0) {
        // The first record turned up at row fromRow + moved: that row is row 0.
        ShiftRows(fromRow + moved);
        start = 0;
      } else {
        // The last record turned up at row fromRow + moved.
        start = fromRow + moved;
        SetCount(start + 1);
      }
    }
    for (;;) {
      run.push_back(Row{ds->Bookmark(), CellsOfActiveRecord()});
      const int end = start + static_cast<int>(run.size());
      // Enough rows; at the end the count believes in, one more step tells whether it is right.
      if (static_cast<int>(run.size()) >= rows && end < count_) break;
      if (static_cast<int>(run.size()) >= rows + kProbeRows) break;
      if (ds->MoveBy(1) == 0) {
        atEnd = true;
        break;
      }
    }
  }
  const int end = start + static_cast<int>(run.size());
  if (atEnd || end > count_) SetCount(end);

  // Joins the run to the block when they overlap and agree, or when the run was read from the
  // block's edge; otherwise the run replaces the block.
  const int blockEnd = first_ + static_cast<int>(block_.size());
  bool join = !block_.empty() && start <= blockEnd && end >= first_;
  if (join && (start == blockEnd || end == first_) && from != From::Mark) join = false;
  for (int r = std::max(start, first_); join && r < std::min(end, blockEnd); ++r) {
    if (ds->CompareBookmarks(block_[static_cast<size_t>(r - first_)].mark,
                             run[static_cast<size_t>(r - start)].mark) != 0) {
      join = false;
    }
  }
  std::deque<Row> merged;
  const int low = join ? std::min(start, first_) : start;
  const int high = join ? std::max(end, blockEnd) : end;
  for (int r = low; r < high; ++r) {
    merged.push_back(r >= start && r < end ? std::move(run[static_cast<size_t>(r - start)])
                                           : std::move(block_[static_cast<size_t>(r - first_)]));
  }
  block_ = std::move(merged);
  first_ = low;
  // Keeps the block within bounds, dropping the rows farthest from the run.
  while (static_cast<int>(block_.size()) > kBlockRows) {
    const int middle = (start + end) / 2;
    if (middle - first_ > first_ + static_cast<int>(block_.size()) - middle) {
      block_.pop_front();
      ++first_;
    } else {
      block_.pop_back();
    }
  }
}

bool TDBGridModel::Fetch(int row) {
  TDataSet* ds = BrowsingDataSet();
  if (ds == nullptr || walking_ != 0 || row < 0 || row >= count_) return false;
  if (ds->ControlsDisabled()) {
    // The program is working through the data set: its cursor is not the model's to move. The
    // rows are read when the controls are enabled again.
    starved_ = true;
    return false;
  }
  const int start = std::clamp(row - kFetchRows / 2, 0, std::max(0, count_ - kFetchRows));
  From from = From::First;
  int fromRow = 0;
  TBookmark mark;
  int cost = start;
  if (start > 0) {
    if (count_ - 1 - start < cost) {
      from = From::Last;
      fromRow = count_ - 1;
      cost = count_ - 1 - start;
    }
    if (!block_.empty()) {
      const int back = first_ + static_cast<int>(block_.size()) - 1;
      if (std::abs(first_ - start) < cost) {
        from = From::Mark;
        fromRow = first_;
        mark = block_.front().mark;
        cost = std::abs(first_ - start);
      }
      if (std::abs(back - start) < cost) {
        from = From::Mark;
        fromRow = back;
        mark = block_.back().mark;
      }
    }
  }
  try {
    ReadRun(from, fromRow, mark, start, kFetchRows);
  } catch (const std::exception&) {
    // A record of the block went (another program packed the table): the next read starts from
    // an end.
    block_.clear();
    first_ = 0;
    return false;
  }
  return InBlock(row);
}

int TDBGridModel::PlaceActive() {
  TDataSet* ds = BrowsingDataSet();
  if (ds == nullptr || ds->IsEmpty() || ds->ControlsDisabled()) return -1;
  const TBookmark mark = ds->Bookmark();
  if (mark.empty()) return -1;
  int row = BlockRow(mark);
  if (row >= 0) return row;
  // The row kept from before a recount serves the first placement after it only.
  const int kept = std::exchange(presumed_, -1);
  bool nearBlock = false;
  int back = 0;
  int fwd = 0;
  {
    Walk walk(*this);
    // A few steps from the block: the record next to its last row, or to its first.
    if (!block_.empty()) {
      for (int i = 1; i <= kFetchRows && ds->MoveBy(-1) != 0; ++i) {
        if (ds->CompareBookmarks(ds->Bookmark(), block_.back().mark) == 0) {
          row = first_ + static_cast<int>(block_.size()) - 1 + i;
          nearBlock = true;
          break;
        }
      }
      if (row < 0) {
        ds->GotoBookmark(mark);
        for (int i = 1; i <= kFetchRows && ds->MoveBy(1) != 0; ++i) {
          if (ds->CompareBookmarks(ds->Bookmark(), block_.front().mark) == 0) {
            row = first_ - i;
            nearBlock = true;
            break;
          }
        }
      }
    }
    // Otherwise towards the ends, in growing steps, each way in turn.
    TBookmark backMark = mark;
    TBookmark fwdMark = mark;
    int chunk = 32;
    while (row < 0 && (back < kProbeRows || fwd < kProbeRows)) {
      const int backStep = std::min(chunk, kProbeRows - back);
      if (backStep > 0) {
        ds->GotoBookmark(backMark);
        const int moved = -ds->MoveBy(-backStep);
        back += moved;
        backMark = ds->Bookmark();
        if (moved < backStep) {
          row = back;
          break;
        }
      }
      const int fwdStep = std::min(chunk, kProbeRows - fwd);
      if (fwdStep <= 0) continue;
      ds->GotoBookmark(fwdMark);
      const int moved = ds->MoveBy(fwdStep);
      fwd += moved;
      fwdMark = ds->Bookmark();
      if (moved < fwdStep) {
        row = count_ - 1 - fwd;
        if (row < back) {
          SetCount(back + fwd + 1);
          row = back;
        }
        break;
      }
      chunk *= 2;
    }
  }
  if (row < 0) {
    // Far from both ends: the row it had before the view was counted again, or where the
    // record number puts it, or the middle.
    row = kept;
    if (row < 0 && ds->IsSequenced() && ds->RecNo() > 0) row = ds->RecNo() - 1;
    if (row < 0) row = count_ / 2;
    if (back + fwd + 1 > count_) SetCount(back + fwd + 1);
    row = std::clamp(row, back, count_ - 1 - fwd);
  }
  if (row >= count_) SetCount(row + 1);
  const int start = std::max(0, row - kFetchRows / 2);
  if (!nearBlock) {
    block_.clear();
    first_ = 0;
  }
  ReadRun(From::Mark, row, mark, start, kFetchRows);
  return BlockRow(mark);
}

void TDBGridModel::SetCurrentRow(int row) {
  TDataSet* ds = link_->DataSet();
  if (ds == nullptr || row < 0 || row >= count_) return;
  if (!InBlock(row) && !Fetch(row)) return;
  ds->GotoBookmark(block_[static_cast<size_t>(row - first_)].mark);
}

int TDBGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count_; }

int TDBGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TDBGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= count_ || index.column() >= static_cast<int>(columns_.size())) {
    return {};
  }
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  if (!InBlock(index.row())) {
    // Reading rows is the model's own business, whatever the caller may hold of it.
    auto* self = const_cast<TDBGridModel*>(this);
    ++self->dataDepth_;
    self->Fetch(index.row());
    --self->dataDepth_;
    if (resetPending_ || followPending_) self->ScheduleSettle();
    if (!InBlock(index.row())) return {};
  }
  return block_[static_cast<size_t>(index.row() - first_)].cells.value(index.column());
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
  if (role != Qt::EditRole || !index.isValid() || index.row() >= count_) return false;
  TField* field = ColumnField(index.column());
  TDataSet* ds = link_->DataSet();
  if (field == nullptr || ds == nullptr || !ds->Active()) return false;
  if (!InBlock(index.row()) && !Fetch(index.row())) return false;
  try {
    const TBookmark mark = block_[static_cast<size_t>(index.row() - first_)].mark;
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

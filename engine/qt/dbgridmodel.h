// dbgridmodel: a table model over a data source, so that a QTableView shows a data set the way a
// data-aware grid does. Rows are the data set's visible records in its own order (master tag,
// filter, deleted records hidden or shown); columns are its visible fields. The model follows the
// data set through a data link: a changed data set (new filter, new order, a post) reloads the
// rows, a scroll only moves the current row, a field change refreshes the active row. Editing a
// cell moves the data set to that record, edits the field and posts it; a refused edit is
// cancelled and reported through editFailed.
//
// The model walks the data set to list its rows (controls disabled, the cursor put back where it
// was); it keeps each row's bookmark and cell texts. Owns its link; the data source is the
// caller's. Thread-safety: GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <memory>
#include <vector>

#include "dblink.h"

class TDBGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TDBGridModel(QObject* parent = nullptr);
  ~TDBGridModel() override;

  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* source);
  // The row of the data set's active record, -1 when none.
  int CurrentRow() const { return current_; }
  // Makes the record of `row` the data set's active record.
  void SetCurrentRow(int row);
  // The field shown in `column`, or null.
  TField* ColumnField(int column) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

 signals:
  void currentRowChanged(int row);
  void editFailed(const QString& message);

 private:
  class Link;
  friend class Link;

  struct Row {
    TBookmark mark;
    QStringList cells;
  };

  void Reload();
  void RefreshActiveRow(TField* field);
  void FollowCursor();
  int RowOfActiveRecord() const;
  QStringList CellsOfActiveRecord() const;

  std::unique_ptr<Link> link_;
  std::vector<TField*> columns_;
  std::vector<Row> rows_;
  int current_ = -1;
  bool reloading_ = false;
};

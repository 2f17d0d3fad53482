// dbgridmodel: a table model over a data source, so that a QTableView shows a data set the way a
// data-aware grid does. Rows are the data set's visible records in its own order (master tag,
// filter, deleted records hidden or shown); columns are its visible fields. Editing a cell moves
// the data set to that record, edits the field and posts it; a refused edit is cancelled and
// reported through editFailed.
//
// The model reads rows on demand. It keeps one block of consecutive rows (each row's bookmark and
// cell texts) around what the view asked for last, and reads the rows it lacks by walking the
// data set's cursor from the nearest place whose row it knows: the first record (row 0), the
// last record (the last row), or an end of the block; the cursor is put back afterwards, with the
// controls disabled meanwhile. A small view (up to kWholeViewRows records) is read whole, so its
// row count and every row number are exact. A large view is never read whole: its row count is
// the data set's record count (or the number of records the filter passes), which counts the
// deleted records the view hides, and it is corrected when a walk meets the first or the last
// record where the count did not expect it. Right after a move to the first or the last record
// the current row is row 0 or the last row without reading anything. A record the cursor reaches
// far from every known row (a search in the middle of a large view) is placed by walking from it
// towards the ends, up to kProbeRows records each way; beyond that its row number is presumed
// (the row the current record had, else where its record number puts it, else the middle) and
// the rows around it are read from it, until a walk from an end puts the numbers right.
//
// The model follows the data set through a data link. A move of the cursor to a record the block
// holds only moves the current row. A new order, filter, record count or field list, or a change
// the data set counts (ChangeCount: its writes, refreshes, new filters and orders) drops the
// block and recounts (a reset); the rows are read again when the view asks for them. Walks that
// the data set's notices would call for are put off to the event loop (until then CurrentRow
// stays where it was), so that a handler stepping through a large view never finds its cursor
// moved under it; a small view is read whole at the notice of the change itself, the cursor put
// back on its record. The cells the view asks for are read at once.
//
// Owns its link; the data source is the caller's. Thread-safety: GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "dataset/dblink.h"

class TDBGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Views of up to this many records are read whole.
  static constexpr int kWholeViewRows = 2000;
  // Rows read at once around a row the view asks for.
  static constexpr int kFetchRows = 96;
  // Rows kept at most.
  static constexpr int kBlockRows = 1200;
  // How far a record reached by a jump is followed towards each end to find its row number.
  static constexpr int kProbeRows = 1024;

  explicit TDBGridModel(QObject* parent = nullptr);
  ~TDBGridModel() override;

  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* source);
  // The row of the data set's active record, -1 when none.
  int CurrentRow() const;
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
  class Walk;
  friend class Link;

  struct Row {
    TBookmark mark;
    QStringList cells;
  };
  // What the rows depend on: when any of it changes the rows are read again.
  struct Signature {
    bool active = false;
    int records = 0;
    bool filtered = false;
    std::string filter;
    uint8_t filterOptions = 0;
    std::string order;
    uint32_t changes = 0;
    int fields = 0;
    bool operator==(const Signature&) const = default;
  };
  // Where a walk starts: the first record, the last record, or a record by its bookmark.
  enum class From { First, Last, Mark };

  TDataSet* BrowsingDataSet() const;
  Signature SignatureNow() const;
  // Drops the rows and counts the view again (reading it whole when small).
  void Recount();
  // The data set changed in browse state: recount when the signature changed, then follow.
  void DataSetChanged();
  void RefreshActiveRow();
  // Finds the active record's row (reading as needed, or later when `mayWalk` is off) and
  // reports a change.
  void FollowCursor(bool mayWalk);
  // Runs what was put off: the count and the current row.
  void Settle();
  void ScheduleSettle();
  // The row of `mark` in the block, -1 when not there.
  int BlockRow(const TBookmark& mark) const;
  bool InBlock(int row) const;
  // Reads rows around `row` into the block; false when nothing could be read.
  bool Fetch(int row);
  // Reads `rows` rows starting at row `start`, reached by walking from `from` (whose row is
  // `fromRow`), into the block. Corrects the count or the row numbers when an end turns up
  // where they did not expect it.
  void ReadRun(From from, int fromRow, const TBookmark& mark, int start, int rows);
  // Places the active record: its row, found by walking towards the ends or presumed.
  int PlaceActive();
  // Renumbers: the row that was `row` is row 0 now.
  void ShiftRows(int row);
  void SetCount(int count);
  QStringList CellsOfActiveRecord() const;

  std::unique_ptr<Link> link_;
  std::vector<TField*> columns_;
  std::deque<Row> block_;
  int first_ = 0;  // row of block_.front()
  int count_ = 0;
  int current_ = -1;
  Signature signature_;
  int presumed_ = -1;  // the row a record that cannot be placed keeps, -1 when none
  int walking_ = 0;
  bool resetting_ = false;
  bool followPending_ = false;
  bool settleQueued_ = false;
  bool resetPending_ = false;
  bool starved_ = false;  // a read was refused while the controls were disabled
  int dataDepth_ = 0;
};

// TForm1: the DX page, "WAS / DXCC TALLIES". "Check WAS" and "Check DX" reset their reference
// table and walk the open logbook (the tally logic is tallies.h); the grid of the check shown is
// the one visible. A cell clicked in either grid is spoken; "Magnify?" enlarges both grids.
#include <QApplication>
#include <QTableView>

#include "PSKUnit1.h"
#include "tallies.h"
#include "tally_grids.h"
#include "ui_TabSheet4.h"

namespace quillmere {

namespace {

// The hourglass for the length of a check, put back however the check ends.
class TWaitCursor {
 public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

}  // namespace

void TForm1::ConnectTallyHandlers() {
  tallyGrids_ = std::make_unique<TTallyGrids>(dx_->DBGrid4, dx_->DBGrid6);
  connect(dx_->Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
  connect(dx_->Button7, &QPushButton::clicked, this, &TForm1::Button7Click);
  connect(dx_->CheckBox5, &QCheckBox::clicked, this, &TForm1::CheckBox5Click);
  // A cell clicked in a tally grid is read out when it holds text.
  for (QTableView* grid : {dx_->DBGrid4, dx_->DBGrid6}) {
    connect(grid, &QTableView::clicked, this, [this](const QModelIndex& index) {
      Speak(index.data().toString());
    });
  }
}

void TForm1::Button5Click() { RunTallyCheck(TallyKind::WAS); }

void TForm1::Button7Click() { RunTallyCheck(TallyKind::DX); }

void TForm1::CheckBox5Click() {
  const int size = dx_->CheckBox5->isChecked() ? 18 : 12;
  for (QTableView* grid : {dx_->DBGrid4, dx_->DBGrid6}) {
    QFont font = grid->font();
    font.setPointSize(size);
    grid->setFont(font);
    grid->resizeColumnsToContents();
    grid->resizeRowsToContents();
  }
}

void TForm1::RunTallyCheck(TallyKind kind) {
  const TWaitCursor hourglass;
  const TallyKind other = kind == TallyKind::WAS ? TallyKind::DX : TallyKind::WAS;
  tallyGrids_->Grid(other)->hide();
  QTableView* grid = tallyGrids_->Grid(kind);
  grid->show();

  // The delivered tables may lie where nothing can be written: the check works on copies.
  std::string error;
  const std::string folder =
      PrepareReferenceTable(kind, options_.ProgramFolder, options_.WritableFolder, &error);
  if (folder.empty()) {
    services_.dialogs->ShowError(QString::fromStdString(error));
    return;
  }
  try {
    const TallyOutcome outcome = RunTally(kind, dbf1(), tallyGrids_->DataSet(kind), folder);
    if (outcome.refused) {
      SayOrShow(QString::fromStdString(outcome.phrase), QString::fromStdString(outcome.message));
      return;
    }
  } catch (const std::exception& e) {
    ShowHandlerError(e);
  }
  grid->resizeColumnsToContents();
}

}  // namespace quillmere

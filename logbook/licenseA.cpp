#include "licenseA.h"

#include <QLabel>
#include <QPalette>

#include "PSKUnit1.h"
#include "radio_group.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet3.h"
#include "ui_licenseA.h"

namespace quillmere {

TConstants* Constants = nullptr;

namespace {

inline constexpr const char* kWarningSound = "ding.wav";

int LicenceClass() { return RadioGroupIndex(Form1->SetPage().RadioGroup2); }

// The file of the licence class beside the program; empty for a class without one.
std::string LimitsPath() {
  const std::string name = BandLimitFileName(LicenceClass());
  return name.empty() ? std::string() : Form1->ProgramFile(QString::fromStdString(name)).toStdString();
}

void SetBackground(QLabel* label, const QColor& colour) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, colour);
  label->setPalette(palette);
  label->setAutoFillBackground(true);
}

}  // namespace

TConstants::TConstants(QWidget* parent) : QWidget(parent, Qt::Tool), ui_(std::make_unique<Ui::TConstants>()) {
  Constants = this;
  ui_->setupUi(this);
  connect(ui_->Button5, &QPushButton::clicked, this, &TConstants::Button5Click);
  connect(ui_->Button4, &QPushButton::clicked, this, &TConstants::Button4Click);
  connect(ui_->Button3, &QPushButton::clicked, this, &TConstants::Button3Click);
  // Button1, Button2 and the open dialog for band-limits files belong to the window and do
  // nothing: the file is chosen by the licence class alone. The dialog is only its settings.
  auto* openDialog = new QObject(this);
  openDialog->setObjectName("OpenDialog1");
  openDialog->setProperty("filter", QStringLiteral("Band Limits (*.bdl)"));
  if (Form1 != nullptr && !Form1->TerminateRequested()) FormCreate();
}

TConstants::~TConstants() {
  if (Constants == this) Constants = nullptr;
}

void TConstants::FormCreate() {
  // Loading and setting the limits are one step: a check between them would find no limits.
  limits_.FormCreate(LimitsPath());
  ShowGrid();
  if (LicenceClass() == kBandLimitClassOff) return;  // told when a check is asked for
  if (const std::optional<std::string> notice = limits_.TakeNotice()) {
    const QString text = QString::fromStdString(*notice);
    Form1->SayOrShow(text + " ", text);
  }
}

void TConstants::Button5Click() {
  limits_.LoadLimits(LimitsPath());
  ShowGrid();
}

void TConstants::Button4Click() { limits_.SetLimits(); }

void TConstants::Button3Click() {
  if (Form1 == nullptr) return;
  QLabel* frequency = Form1->LogPage().Label4;
  const BandCheck check =
      limits_.Check(frequency->text().toStdString(), Form1->LogPage().Label5->text().toStdString());
  if (check.notice) {
    const QString text = QString::fromStdString(*check.notice);
    Form1->SayOrShow(text + " ", text);
  }
  switch (check.verdict) {
    case BandVerdict::Unchanged:
      return;
    case BandVerdict::Inside:
      SetBackground(frequency, frequency->palette().color(QPalette::ToolTipBase));
      return;
    case BandVerdict::Outside:
      SetBackground(frequency, Qt::red);
      // Started, not waited for: the sound plays while the window goes on.
      if (check.playSound) Form1->Services().sound->Play(Form1->ProgramFile(kWarningSound).toStdString());
      return;
  }
}

void TConstants::ShowGrid() {
  const GridCells& cells = limits_.Grid();
  QTableWidget* grid = ui_->StringGrid1;
  grid->setColumnCount(std::max(static_cast<int>(cells.size()), kBandLimitColumns));
  grid->setRowCount(kBandLimitGridRows);
  for (int column = 0; column < grid->columnCount(); ++column)
    for (int row = 0; row < kBandLimitGridRows; ++row) {
      const std::string text = static_cast<size_t>(column) < cells.size() ? cells[size_t(column)][size_t(row)] : "";
      grid->setItem(row, column, new QTableWidgetItem(QString::fromStdString(text)));
    }
}

}  // namespace quillmere

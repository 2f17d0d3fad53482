#include "CT.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableWidget>

#include "PSKUnit1.h"
#include "RAC.h"
#include "preferences.h"
#include "ui_CT.h"
#include "ui_RAC.h"

namespace quillmere {

TCTConvert* CTConvert = nullptr;

namespace {

const char kCountryFile[] = "cty.dat";

QString Text(const std::string& s) { return QString::fromStdString(s); }
std::string Text(const QString& s) { return s.toStdString(); }

}  // namespace

TCTConvert::TCTConvert(QWidget* parent) : QWidget(parent, Qt::Tool), ui_(std::make_unique<Ui::TCTConvert>()) {
  CTConvert = this;
  ui_->setupUi(this);
  connect(ui_->Button1, &QPushButton::clicked, this, &TCTConvert::Button1Click);
  connect(ui_->Button2, &QPushButton::clicked, this, &TCTConvert::Button2Click);
  connect(ui_->Button3, &QPushButton::clicked, this, &TCTConvert::Button3Click);
  connect(ui_->Button4, &QPushButton::clicked, this, &TCTConvert::Button4Click);
  connect(ui_->Button5, &QPushButton::clicked, this, &TCTConvert::Button5Click);
  connect(ui_->Button7, &QPushButton::clicked, this, &TCTConvert::Button7Click);
  connect(ui_->Button8, &QPushButton::clicked, this, &TCTConvert::Button8Click);
  FormCreate();
}

TCTConvert::~TCTConvert() {
  if (CTConvert == this) CTConvert = nullptr;
}

void TCTConvert::FormCreate() {
  logic_.a = kClarke1866A;
  logic_.b = kClarke1866B;
  Button4Click();
}

void TCTConvert::Button4Click() {
  Button3Click();
  Button2Click();
}

void TCTConvert::Button3Click() {
  const QString path = Form1 != nullptr ? Form1->ProgramFile(kCountryFile) : QString(kCountryFile);
  const std::string error = logic_.Button4Click(Text(path));
  QStringList lines;
  for (const std::string& line : logic_.Countries().MemoLines()) lines << Text(line);
  ui_->Memo1->setPlainText(lines.join('\n'));
  if (!error.empty() && Form1 != nullptr) {
    Form1->SayOrShow("The country file cty.dat could not be read; countries, zones and bearings are not shown. ",
                     "The country file could not be read: " + Text(error));
  }
}

void TCTConvert::Button2Click() {
  const std::vector<CtyRow>& rows = logic_.Countries().Rows();
  QTableWidget* grid = ui_->StringGrid1;
  grid->setUpdatesEnabled(false);
  grid->clearContents();
  grid->setRowCount(int(rows.size()));
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t c = 0; c < kCtyColumns; ++c)
      grid->setItem(int(r), int(c), new QTableWidgetItem(Text(rows[r][c])));
  grid->setUpdatesEnabled(true);
}

std::optional<EntityLookup> TCTConvert::LookUpEntity() {
  if (Form1 == nullptr) return std::nullopt;
  TakeEdits();
  const TPreferences& prefs = Form1->Prefs();
  EntityLookup found;
  try {
    found = logic_.Button5Click(Text(Form1->LogField("Edit8")->text()), prefs[plLatitude], prefs[plLongitude]);
  } catch (const std::exception& e) {
    ShowTexts();
    // No bearing could be computed: no earlier entity's prefix or zones stay behind either.
    for (const char* field : {"Edit9", "Edit10", "Edit11"}) Form1->LogField(field)->clear();
    Form1->ShowHandlerError(e);
    return std::nullopt;
  }
  ShowTexts();
  // A name the country file does not know leaves no earlier entity's prefix or zones behind.
  Form1->LogField("Edit9")->setText(Text(found.prefix));
  Form1->LogField("Edit10")->setText(Text(found.cqZone));
  Form1->LogField("Edit11")->setText(Text(found.ituZone));
  return found;
}

void TCTConvert::Button5Click() { LookUpEntity(); }

void TCTConvert::Button7Click() {
  if (Form1 == nullptr) return;
  TakeEdits();
  const TPreferences& prefs = Form1->Prefs();
  try {
    logic_.Button7Click(prefs[plLatitude], prefs[plLongitude]);
  } catch (const std::exception& e) {
    Form1->ShowHandlerError(e);
  }
  ShowTexts();
}

void TCTConvert::Button8Click() {
  TakeEdits();
  try {
    logic_.Button8Click();
  } catch (const std::exception& e) {
    if (Form1 != nullptr) Form1->ShowHandlerError(e);
  }
  ShowTexts();
}

void TCTConvert::Button1Click() {
  if (Form1 == nullptr || RAC == nullptr) return;
  const TPreferences& prefs = Form1->Prefs();
  try {
    const std::string panel = logic_.Button1Click(Text(RAC->Controls().Label14->text()),
                                                  Text(RAC->Controls().Label15->text()), prefs[plLatitude],
                                                  prefs[plLongitude]);
    Form1->SetStatusText(4, Text(panel));
  } catch (const std::exception& e) {
    Form1->ShowHandlerError(e);
  }
}

void TCTConvert::TakeEdits() {
  logic_.Edit33 = Text(ui_->Edit33->text());
  logic_.Edit44 = Text(ui_->Edit44->text());
  logic_.Edit11 = Text(ui_->Edit11->text());
  logic_.Edit22 = Text(ui_->Edit22->text());
}

void TCTConvert::ShowTexts() {
  ui_->Edit33->setText(Text(logic_.Edit33));
  ui_->Edit44->setText(Text(logic_.Edit44));
  ui_->Edit11->setText(Text(logic_.Edit11));
  ui_->Edit22->setText(Text(logic_.Edit22));
  ui_->Edit9->setText(Text(logic_.Edit9));
  ui_->Edit10->setText(Text(logic_.Edit10));
  QLabel* labels[] = {ui_->Label1, ui_->Label2, ui_->Label3, ui_->Label4, ui_->Label5, ui_->Label6, ui_->Label7};
  for (size_t i = 0; i < logic_.Label.size(); ++i) labels[i]->setText(Text(logic_.Label[i]));
}

}  // namespace quillmere

// TForm1: the preferences file "ConfigLog.cfg" and the "Set" page: reading at start, the
// "Current Preferences" and "Set Preferences" panels, Configure, the default-logbook choice, and
// writing the file at close.
#include <QFileInfo>

#include "PSKUnit1.h"
#include "cp1252_text.h"
#include "logbook_folders.h"
#include "radio_group.h"
#include "ui_TabSheet3.h"

namespace quillmere {

namespace {

// The file's lines are its own bytes, CP1252 as the engine's text: shown through the controls as
// that code page and turned back into it, so every byte comes back as it was read.
QString Q(const std::string& text) { return QString::fromStdString(Cp1252ToUtf8(text)); }
std::string Line(const QString& text) { return Utf8ToCp1252(text.toStdString()); }

}  // namespace

void TForm1::ConnectPreferenceHandlers() {
  connect(set_->Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(set_->BitBtn4, &QPushButton::clicked, this, &TForm1::BitBtn4Click);
  connect(set_->BitBtn5, &QPushButton::clicked, this, &TForm1::BitBtn5Click);
  connect(set_->Button40, &QPushButton::clicked, this, &TForm1::Button40Click);
  connect(set_->CheckBox10, &QCheckBox::clicked, this, &TForm1::CheckBox10Click);
}

void TForm1::ReadPreferences() {
  // The operator's file in the writable folder; on a first start the one delivered with the
  // program; failing both, the delivered values themselves.
  const std::string own = ResolveFileCase(JoinPath(options_.WritableFolder, kPreferencesFile));
  const std::string delivered = ResolveFileCase(JoinPath(options_.ProgramFolder, kPreferencesFile));
  const std::string path = FileExistsAnyCase(own) || !FileExistsAnyCase(delivered) ? own : delivered;
  const TPreferencesRead read = quillmere::ReadPreferences(path, DefaultPreferences());
  prefs_ = read.Prefs;
  prefsLoaded_ = read.MayWriteBack;
  for (const std::string& problem : read.Problems) AddStartupProblem(Q(problem));
}

// The Set page's "current settings" labels, one per preferences line.
void TForm1::ShowCurrentPreferenceLabels() {
  set_->Label11->setText(Q(prefs_[plOwnCall]));
  set_->Label12->setText(Q(prefs_[plGrid]));
  set_->Label13->setText(Q(prefs_[plLatitude]));
  set_->Label14->setText(Q(prefs_[plLongitude]));
  set_->Label16->setText(Q(prefs_[plUtcHours]));
  set_->Label17->setText(Q(prefs_[plAutoDx]));
  set_->Label32->setText(Q(prefs_[plDefaultLog]));
  set_->Label52->setText(Q(prefs_[plAutoSpeech]));
  set_->Label53->setText(Q(prefs_[plPower]));
}

void TForm1::ShowPreferences() {
  ShowCurrentPreferenceLabels();
  ShowCallBookDrives();
  set_->Edit12->setText(Q(prefs_[plOwnCall]));
  set_->Edit17->setText(Q(prefs_[plGrid]));
  set_->Edit13->setText(Q(prefs_[plLatitude]));
  set_->Edit14->setText(Q(prefs_[plLongitude]));
  set_->Label57->setText(Q(prefs_[plDefaultLog]));
  set_->Edit18->setText(Q(PowerFromLine(prefs_[plPower])));
  set_->SpinEdit1->setValue(ParseWholeNumber(prefs_[plUtcHours]).value_or(0));
  set_->CheckBox1->setChecked(prefs_[plAutoDx] == "AUTODXYES");
  if (!prefs_[plBandLimit].empty())
    SetRadioGroupIndex(set_->RadioGroup2, ParseWholeNumber(prefs_[plBandLimit]).value_or(-1));
  set_->Label48->setText("Band Limit: " + RadioGroupCaption(set_->RadioGroup2, RadioGroupIndex(set_->RadioGroup2)));
}

void TForm1::RefreshCurrentPreferences() {
  ShowCurrentPreferenceLabels();
  set_->Label48->setText("Band Limits: " + Q(prefs_[plBandLimit]));
  set_->Panel3->update();
}

bool TForm1::WritePreferences() {
  const std::string path = JoinPath(options_.WritableFolder, kPreferencesFile);
  std::string error;
  if (quillmere::WritePreferences(ResolveFileCase(path), prefs_, &error)) return true;
  services_.dialogs->ShowError("The preferences could not be saved. " + Q(error));
  return false;
}

void TForm1::Button3Click() { set_->Panel4->show(); }

void TForm1::BitBtn4Click() {
  const TPositionCheck check =
      CheckPosition(set_->Edit13->text().toStdString(), set_->Edit14->text().toStdString());
  if (check.Result == TPositionCheck::Refused) {
    SayOrShow(Q(check.Message), Q(check.Message));
    return;
  }
  if (check.Result == TPositionCheck::NotANumber) {
    services_.dialogs->ShowError(Q(check.Message));
    return;
  }
  prefs_[plOwnCall] = Line(set_->Edit12->text().toUpper());
  prefs_[plGrid] = Line(set_->Edit17->text());
  prefs_[plLatitude] = Line(set_->Edit13->text());
  prefs_[plLongitude] = Line(set_->Edit14->text());
  // In memory the class's caption stands here until the close puts the index back.
  prefs_[plBandLimit] = Line(RadioGroupCaption(set_->RadioGroup2, RadioGroupIndex(set_->RadioGroup2)));
  prefs_[plUtcHours] = std::to_string(set_->SpinEdit1->value());
  utcOffset_ = UtcOffsetDays(set_->SpinEdit1->value());
  prefs_[plAutoDx] = set_->CheckBox1->isChecked() ? "AUTODXYES" : "AUTODXNO";
  prefs_[plDefaultLog] = Line(set_->Label57->text());
  RefreshCurrentPreferences();
}

void TForm1::BitBtn5Click() { set_->Panel4->hide(); }

void TForm1::Button40Click() {
  const std::optional<QString> file = services_.files->OpenFile(
      "Select Default LogBook", QString::fromStdString(options_.WritableFolder), "QMR logbook (*.dbf)");
  if (file) set_->Label57->setText(QFileInfo(*file).fileName());
}

void TForm1::CheckBox10Click() {
  prefs_[plAutoSpeech] = set_->CheckBox10->isChecked() ? "AUTOSPEECHYES" : "AUTOSPEECHNO";
}

}  // namespace quillmere

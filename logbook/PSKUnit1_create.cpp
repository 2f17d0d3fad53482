// TForm1: the creation sequence (FormCreate), the close (FormClose) and the end (FormDestroy).
//
// The creation runs the window design's eighteen steps in their order with three changes that
// keep the operator's data and the program usable: the single-copy check comes first, before the
// rig server is connected or anything is written; an unreachable rig server is reported once and
// the logbook goes on without a radio; and a missing or damaged preferences file or word list
// takes the delivered values, is reported once, and start-up goes on.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include "PSKUnit1.h"
#include "cp1252_text.h"
#include "logbook_folders.h"
#include "radio_group.h"
#include "ui_TForm1.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet3.h"

namespace quillmere {

void TForm1::FormCreate() {
  creating_ = true;
  // 1. The program's own path and the log list's folder.
  log_->Edit2->setText(QString::fromStdString(JoinPath(options_.ProgramFolder, "Quillmere")));
  log_->FileListBox1->setProperty("Directory", QString::fromStdString(options_.WritableFolder));

  // 3. Single copy, before anything is connected or written. The lock file says whether another
  // copy runs, so the title needs no stand-in name while it is looked for.
  if (!TakeSingleCopyLock()) return;
  SetApplicationTitle("Quillmere");

  // 2. The rig server.
  ConnectRigServer();

  // 4. The window sees keys before its controls.
  qApp->installEventFilter(this);
  keyPreview_ = true;

  // 5. Preferences.
  ReadPreferences();
  ShowPreferences();

  // 6. The word-list box's item (none while it is empty) and the log selector.
  log_->ListBox1->setCurrentRow(7);
  Button4Click();

  // 7. UTC offset.
  utcOffset_ = UtcOffsetDays(ParseWholeNumber(prefs_[plUtcHours]).value_or(0));

  // 8. The window appears.
  show();
  log_->CheckBox2->setChecked(prefs_[plAutoDx] == "AUTODXYES");
  SetStatusText(0, "Version 1.00");

  // 9. The default logbook.
  if (!DefaultLogbookPath().empty()) Button9Click();

  // 10, 11. Rig 1's mode, frequency and band; its rig type.
  FirstRigRead();
  ShowRigType();

  // 12. Frequency memories.
  Button24Click();

  // 13. The frequency once more, in the general number form.
  SecondFrequencyRead();

  // 14. Voices.
  ListVoices();

  // 15. Speech on or off as the preferences say.
  if (prefs_[plAutoSpeech] == "AUTOSPEECHYES") {
    set_->CheckBox10->setChecked(true);
    Start1Click();
  } else {
    set_->CheckBox10->setChecked(false);
    Stop1Click();
  }

  // 16. Hints: the window shows them (the hint handler runs as they change).
  setAttribute(Qt::WA_AlwaysShowToolTips, true);

  // 17. Memory step and word-list choice.
  memoryStep_ = log_->TrackBar3->value();
  SetRadioGroupIndex(set_->RadioGroup4, 0);

  // 18. The word list.
  LoadWordList();

  // Once the window is up: the box about a voice that failed on the way, then the other
  // problems, then the prompt of the field that has the focus (the call sign's "enter call. "),
  // which the window's activation does not say.
  sequencer_.Wait(0);
  sequencer_.Run([this] {
    creating_ = false;
    if (voiceFailurePending_) ShowVoiceFailure();
  });
  ReportStartupProblems();
  PromptFocusedField();
}

bool TForm1::TakeSingleCopyLock() {
  switch (lock_.Acquire(kSingleCopyLockName, options_.LockFolder)) {
    case SingleInstanceLock::Acquired:
      return true;
    case SingleInstanceLock::HeldElsewhere:
      services_.dialogs->ShowError("You can only have one copy of Quillmere running on a PC!");
      terminate_ = true;
      return false;
    case SingleInstanceLock::Failed:
      break;
  }
  // Without a lock file a second copy would go unnoticed; this copy still runs.
  AddStartupProblem("The lock against a second copy of Quillmere could not be taken (" +
                    QString::fromStdString(lock_.Error()) + "). ");
  return true;
}

void TForm1::ConnectRigServer() {
  std::string error;
  rigConnected_ = services_.rig->Connect(&error);
  if (!rigConnected_) {
    // Not known to the bus yet: the server registers itself, then the bus can start it.
    const QString server = ProgramFile(kRigServerProgram);
    if (QFileInfo(server).isExecutable()) {
      RunAndWait(server, "/RegServer", 1);
      rigConnected_ = services_.rig->Connect(&error);
    }
  }
  if (rigConnected_) return;
  const QString reason = QString::fromStdString(error);
  SetStatusText(6, "No rig");
  StatusPanel(6)->setToolTip("The rig server Tarvane cannot be reached: " + reason);
  StatusPanel(6)->setAccessibleDescription(StatusPanel(6)->toolTip());
  AddStartupProblem("The rig server Tarvane cannot be reached; the logbook works without a radio. ",
                    "The rig server Tarvane cannot be reached (" + reason + "); the logbook works without a radio. ");
}

void TForm1::LoadWordList() {
  const QString path = ProgramFile(kWordListFile);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    AddStartupProblem("The word list wordlist.txt was not found beside the program; the state field speaks a "
                      "state code as it is written, and a STATE cell of the log grids says nothing. ");
    return;
  }
  log_->ListBox1->clear();
  while (!file.atEnd()) {
    QString line = QString::fromUtf8(file.readLine());
    while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
    // "code,full text" becomes "code<tab>full text".
    line.replace(',', '\t');
    log_->ListBox1->addItem(line);
  }
}

void TForm1::ReportProblem(const QString& spoken, const QString& shown) {
  if (startupReported_) {
    SayOrShow(spoken, shown.isEmpty() ? spoken : shown);
  } else {
    AddStartupProblem(spoken, shown);
  }
}

void TForm1::AddStartupProblem(const QString& spoken, const QString& shown) {
  problems_.push_back(shown.isEmpty() ? spoken : shown);
  problemPhrases_.push_back(spoken);
}

void TForm1::ReportStartupProblems() {
  startupReported_ = true;
  for (qsizetype i = 0; i < problems_.size(); ++i) SayOrShow(problemPhrases_[i], problems_[i]);
}

void TForm1::FormClose() {
  RemoveProgramFonts();
  // Preferences that were never read are not written: that would erase what the file holds.
  if (!prefsLoaded_) return;
  prefs_[plAutoDx] = log_->CheckBox2->isChecked() ? "AUTODXYES" : "AUTODXNO";
  prefs_[plAutoSpeech] = set_->CheckBox10->isChecked() ? "AUTOSPEECHYES" : "AUTOSPEECHNO";
  prefs_[plBandLimit] = std::to_string(RadioGroupIndex(set_->RadioGroup2));
  // The controls show the file's CP1252 bytes as text; they go back as those bytes.
  prefs_[plCallBookDrive] = Utf8ToCp1252(set_->DriveBox->currentText().toStdString());
  prefs_[plPower] = PowerLine(Utf8ToCp1252(set_->Edit18->text().toStdString()));
  WritePreferences();
}

void TForm1::FormDestroy() {
  if (keyPreview_) qApp->removeEventFilter(this);
  keyPreview_ = false;
  voices_.clear();
}

}  // namespace quillmere

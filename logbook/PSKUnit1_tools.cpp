// TForm1: the File menu's "NEW Log" and "Print Current Logbook"; the Tools, Accessibility and
// help entries that start the desktop's own programs; the word-list choice "Grammar"; the font
// switch; the call-book drive box.
//
// Which program each tool starts is a setting (QuillmereTools.cfg in the writable folder, else
// beside the program; without one, the first of the usual programs found on the PATH). A tool
// that cannot be started is reported with its own message.
#include <QAction>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QListWidget>
#include <QRadioButton>
#include <QTableView>

#include "LogPrt.h"
#include "PSKUnit1.h"
#include "call_book_drives.h"
#include "dbtext.h"
#include "RAC.h"
#include "Unit1.h"
#include "radio_group.h"
#include "side_window_texts.h"
#include "tool_launchers.h"
#include "ui_TForm1.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet3.h"
#include "word_lists.h"

namespace quillmere {

namespace {

// The font file of the font switch, delivered beside the program.
constexpr const char* kFontFile = "monaco.TTF";

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

void TForm1::ConnectToolHandlers() {
  const auto menu = [this](QAction* action, void (TForm1::*slot)()) {
    connect(action, &QAction::triggered, this, [this, slot] { (this->*slot)(); });
  };
  menu(ui_->NEWLog1, &TForm1::NEWLog1Click);
  menu(ui_->PrintCurrentLogbook1, &TForm1::Print1Click);
  menu(ui_->Magnifier1, &TForm1::Magnifier1Click);
  menu(ui_->OnScreenKeyboard1, &TForm1::OnScreenKeyboard1Click);
  menu(ui_->AccessibilityWizard1, &TForm1::AccessibilityWizard1Click);
  menu(ui_->UtilityMgr, &TForm1::UtilityMgrClick);
  menu(ui_->WindowsVolumeControl1, &TForm1::WindowsVolumeControl1Click);
  menu(ui_->Notepad, &TForm1::NotepadClick);
  menu(ui_->XpAccessibility1, &TForm1::XpAccessibility1Click);
  for (int i = 0; i < RadioGroupCount(set_->RadioGroup4); ++i)
    connect(RadioGroupItem(set_->RadioGroup4, i), &QRadioButton::clicked, this, &TForm1::RadioGroup4Click);
  connect(set_->Button39, &QPushButton::clicked, this, &TForm1::Button39Click);
  // A drive chosen from the list or a folder typed in.
  connect(set_->DriveBox, &QComboBox::currentTextChanged, this, &TForm1::DriveBoxChange);
}

// ---- File menu ------------------------------------------------------------------------------

void TForm1::NEWLog1Click() {
  if (PrintForm == nullptr) return;
  if (PrintForm->isVisible()) {
    PrintForm->hide();
    Speak(Q(texts::NewLogAborted()));
  } else {
    Speak(Q(texts::NewLogCreatePrompt()));
    PrintForm->show();
  }
}

void TForm1::Print1Click() {
  if (!LogbookOpen() || qrLogPrintForm == nullptr) return;
  qrLogPrintForm->QuickRep1BeforePrint(LogPath(), FromEngineText(prefs_[plOwnCall]));
}

// ---- Launchers ------------------------------------------------------------------------------

void TForm1::LaunchAccessTool(int tool) {
  ToolLauncherSettings settings(qEnvironmentVariable("PATH").toStdString());
  const std::string own = WritableFile(kToolSettingsFileName).toStdString();
  if (!settings.Load(own)) settings.Load(ProgramFile(kToolSettingsFileName).toStdString());
  const std::optional<ToolFailure> failure =
      LaunchTool(static_cast<AccessTool>(tool), settings,
                 [this](const std::string& program, const std::vector<std::string>& arguments) {
                   QStringList args;
                   for (const std::string& argument : arguments) args << Q(argument);
                   return services_.launcher->StartProgram(Q(program), args, QString());
                 });
  if (!failure) return;
  if (failure->errorBox)
    services_.dialogs->ShowError(Q(failure->text));
  else
    services_.dialogs->ShowMessage(Q(failure->text));
}

void TForm1::Magnifier1Click() { LaunchAccessTool(static_cast<int>(AccessTool::Magnifier)); }
void TForm1::OnScreenKeyboard1Click() { LaunchAccessTool(static_cast<int>(AccessTool::OnScreenKeyboard)); }
void TForm1::AccessibilityWizard1Click() { LaunchAccessTool(static_cast<int>(AccessTool::AccessibilityWizard)); }
void TForm1::UtilityMgrClick() { LaunchAccessTool(static_cast<int>(AccessTool::UtilityManager)); }
void TForm1::WindowsVolumeControl1Click() { LaunchAccessTool(static_cast<int>(AccessTool::VolumeControl)); }
void TForm1::NotepadClick() { LaunchAccessTool(static_cast<int>(AccessTool::TextEditor)); }

// The accessibility help is the program's own help file.
void TForm1::XpAccessibility1Click() { Help2Click(); }

// ---- Word lists, font, call-book drive -------------------------------------------------------

void TForm1::RadioGroup4Click() {
  const int item = RadioGroupIndex(set_->RadioGroup4);
  if (item < 0) return;
  std::vector<std::string> items;
  std::string error;
  // A list that cannot be read is reported and the list in use stays.
  if (!quillmere::LoadWordList(ProgramFile(Q(WordListFileName(item))).toStdString(), items, error)) {
    services_.dialogs->ShowError(Q(error));
    return;
  }
  log_->ListBox1->clear();
  for (const std::string& line : items) log_->ListBox1->addItem(Q(line));
}

void TForm1::Button39Click() {
  if (fontId_ < 0) fontId_ = QFontDatabase::addApplicationFont(ProgramFile(kFontFile));
  if (fontId_ < 0) {
    services_.dialogs->ShowError("The font file " + ProgramFile(kFontFile) + " could not be loaded.");
    return;
  }
  const QString family = QFontDatabase::applicationFontFamilies(fontId_).value(0);
  // The clock, the frequency, the call-sign field and the log grid.
  for (const char* name : {"Label1", "Label4", "LogEdit3", "DBGrid1"}) {
    QWidget* widget = Page(0)->findChild<QWidget*>(name);
    if (widget == nullptr) continue;
    QFont font = widget->font();
    font.setFamily(family);
    widget->setFont(font);
  }
}

void TForm1::RemoveProgramFonts() {
  if (fontId_ >= 0) QFontDatabase::removeApplicationFont(fontId_);
  fontId_ = -1;
}

void TForm1::ShowCallBookDrives() {
  // The mounted file systems where a CD stands, with line 10's drive first and chosen. An empty
  // line 10 stays empty (the box lists the choices but none is taken for the operator).
  QComboBox* box = set_->DriveBox;
  box->clear();
  for (const std::string& drive : CallBookDriveChoices(prefs_[plCallBookDrive], MountedCallBookDrives()))
    box->addItem(Q(drive));
  box->setCurrentIndex(0);
  if (prefs_[plCallBookDrive].empty()) box->setEditText(QString());
}

void TForm1::DriveBoxChange() {
  // The call-book window's own drive box follows.
  if (RAC != nullptr) RAC->FollowDrive(*set_->DriveBox);
}

}  // namespace quillmere

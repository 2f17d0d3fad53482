// TForm1: construction of the window from its forms, the status bar, the wiring of the frame's
// handlers, the speaking helpers every window uses, and the handlers of the frame itself (clock,
// log selector, About, Help, exit, menus that only open pages or windows).
#include "PSKUnit1.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QTimer>

#include "CT.h"
#include "RAC.h"
#include "VRN_ADIF.h"
#include "accessibility.h"
#include "clock_time.h"
#include "logbook_folders.h"
#include "menu_item.h"
#include "tally_grids.h"
#include "ui_RAC.h"
#include "ui_TForm1.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet2.h"
#include "ui_TabSheet3.h"
#include "ui_TabSheet4.h"
#include "ui_TabSheet5.h"

namespace quillmere {

TForm1* Form1 = nullptr;

namespace {

const char* const kAboutText =
    "Quillmere 1.0\n\n"
    "A station logbook for amateur-radio operators that speaks: every prompt, key, page change, "
    "frequency, mode and result can be heard.\n\n"
    "Logbooks are dBase tables kept by the program's own table engine; the radio is followed "
    "through the rig-control server Tarvane.";

// What a screen reader needs beyond captions, hints and buddy labels: names for the stops that
// have none, the Set page's current values reachable by Tab (the toolkit lets a selectable label
// take the focus by mouse only), and each titled choice group named by its own title (else the
// reader names its items after the box around it).
void NameKeyboardStops(Ui::TabSheet1& log, Ui::TabSheet3& set) {
  NameStop(log.Panel2, "Log selector", "The logbook in use");
  NameStop(log.DBGrid2, "Log selector grid", "Shown and hidden with the log selector");
  for (QLabel* value : {set.Label11, set.Label12, set.Label13, set.Label14, set.Label16, set.Label17, set.Label32,
                        set.Label52, set.Label53})
    value->setFocusPolicy(Qt::StrongFocus);
  for (QGroupBox* group : {set.RadioGroup2, set.RadioGroup3, set.RadioGroup4}) NameChoiceGroup(group);
}

}  // namespace

TForm1::TForm1(TServices services, TForm1Options options, QWidget* parent)
    : QMainWindow(parent),
      services_(std::move(services)),
      options_(std::move(options)),
      ui_(std::make_unique<Ui::TForm1>()),
      log_(std::make_unique<Ui::TabSheet1>()),
      edit_(std::make_unique<Ui::TabSheet2>()),
      set_(std::make_unique<Ui::TabSheet3>()),
      dx_(std::make_unique<Ui::TabSheet4>()),
      memory_(std::make_unique<Ui::TabSheet5>()),
      dbf1_(std::make_unique<TSorrelDataSet>()),
      dataSource1_(std::make_unique<TDataSource>(dbf1_.get())) {
  // Other windows reach the main window by its name from the start of its creation.
  Form1 = this;
  ui_->setupUi(this);
  BuildPages();
  BuildStatusBar();
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(1000);
  ConnectHandlers();
  ConnectRigHandlers();
  ApplyHintsAsAccessibleText(this);
  NameKeyboardStops(*log_, *set_);
  if (services_.rig) {
    services_.rig->OnParamsChange = [this](int rig, int params) { TarvaneX1ParamsChange(rig, params); };
    services_.rig->OnRigTypeChange = [this](int rig) { TarvaneX1RigTypeChange(rig); };
  }
  FormCreate();
  if (!terminate_) Timer1->start();
}

TForm1::~TForm1() {
  // The grids and edits over DataSource1 outlive the data set and source (they are child widgets).
  DetachLogbookControls();
  FormDestroy();
  // The grids and the navigator are children, destroyed after dbf1_ and DataSource1: their links
  // let go of the data source now.
  DetachEditPage();
  if (services_.rig) {
    services_.rig->OnParamsChange = nullptr;
    services_.rig->OnRigTypeChange = nullptr;
  }
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::BuildPages() {
  const std::array<const char*, 5> captions = {"LOG", "Edit", "Set", "DX", "S. MEMORY"};
  for (size_t i = 0; i < pages_.size(); ++i) pages_[i] = new QWidget(ui_->PageControl1);
  log_->setupUi(pages_[0]);
  edit_->setupUi(pages_[1]);
  set_->setupUi(pages_[2]);
  dx_->setupUi(pages_[3]);
  memory_->setupUi(pages_[4]);
  for (size_t i = 0; i < pages_.size(); ++i) ui_->PageControl1->addTab(pages_[i], captions[i]);
  ui_->PageControl1->setCurrentIndex(0);
}

void TForm1::BuildStatusBar() {
  for (int i = 0; i < kStatusPanels; ++i) {
    auto* panel = new QLabel(QString::fromLatin1(kStatusPanelTexts[size_t(i)]), ui_->StatusBar1);
    panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
    panel->setAlignment(Qt::AlignCenter);
    panel->setMinimumWidth(kStatusPanelWidths[size_t(i)]);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    ui_->StatusBar1->addPermanentWidget(panel);
    panels_[size_t(i)] = panel;
  }
}

void TForm1::ConnectHandlers() {
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  connect(log_->Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
  ConnectMenuItem(this, ui_->About2, &TForm1::About2Click);
  ConnectMenuItem(this, ui_->Help2, &TForm1::Help2Click);
  connect(log_->BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
  ConnectMenuItem(this, ui_->EXIT1, &TForm1::EXIT1Click);
  ConnectMenuItem(this, ui_->UTCAdjustment1, &TForm1::UTCAdjustment1Click);
  ConnectMenuItem(this, ui_->AdjustLogBook1, &TForm1::AdjustLogBook1Click);
  ConnectMenuItem(this, ui_->CreateADIFlog1, &TForm1::CreateADIFlog1Click);
  connect(log_->CheckBox2, &QCheckBox::clicked, this, &TForm1::CheckBox2Click);
  connect(log_->Button13, &QPushButton::clicked, this, &TForm1::Button13Click);
  ConnectMenuItem(this, ui_->RadioAmateurCallBook1, &TForm1::RadioAmateurCallBook1Click);
  connect(log_->BitBtn6, &QPushButton::clicked, this, &TForm1::BitBtn6Click);
  ConnectPreferenceHandlers();
  ConnectSpeechHandlers();
  ConnectToolHandlers();
  ConnectEditPage();
  ConnectMemoryPage();
  ConnectLookUpHandlers();
  ConnectTallyHandlers();
  ConnectLogOrderPhrases();
  ConnectLogbookHandlers();
  ConnectEntryHandlers();
  ConnectKeyHandlers();
  ConnectMenuItem(this, ui_->ShortCut1, &TForm1::ShortCut1Click);
  ConnectReadingHandlers();
  // The menu items of the speech state.
  ConnectMenuItem(this, ui_->Start1, &TForm1::Start1Click);
  ConnectMenuItem(this, ui_->Stop1, &TForm1::Stop1Click);
}

void TForm1::ShowPage(QWidget* page) { ui_->PageControl1->setCurrentWidget(page); }

QString TForm1::StatusText(int index) const { return StatusPanel(index)->text(); }

void TForm1::SetStatusText(int index, const QString& text) { StatusPanel(index)->setText(text); }

QString TForm1::ProgramFile(const QString& name) const {
  return QString::fromStdString(ResolveFileCase(JoinPath(options_.ProgramFolder, name.toStdString())));
}

QString TForm1::WritableFile(const QString& name) const {
  return QString::fromStdString(ResolveFileCase(JoinPath(options_.WritableFolder, name.toStdString())));
}

bool TForm1::RunAndWait(const QString& path, const QString& parameters, int showCommand) {
  (void)showCommand;
  return services_.launcher && services_.launcher->RunAndWait(path, parameters);
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!closed_) {
    closed_ = true;
    FormClose();
    event->accept();
    emit Closed();
    return;
  }
  event->accept();
}

// ---- Handlers of the frame ------------------------------------------------------------------

void TForm1::Timer1Timer() {
  const TDateTime utc = UtcFromLocal(services_.clock->Now(), utcOffset_);
  SetStatusText(2, QString::fromStdString(StatusClockText(utc)));
  log_->Label1->setText(QString::fromStdString(ClockLabelText(utc)));
}

void TForm1::Button4Click() {
  // The log selector and its grid come and go together.
  const bool show = log_->Panel2->isHidden();
  log_->Panel2->setVisible(show);
  log_->DBGrid2->setVisible(show);
}

void TForm1::About2Click() { services_.dialogs->ShowInformation("About Quillmere", kAboutText); }

void TForm1::Help2Click() {
  const QString help = ProgramFile(kHelpFile);
  if (!QFileInfo(help).isFile()) {
    services_.dialogs->ShowError("The help file " + help + " was not found.");
    return;
  }
  if (!services_.launcher->OpenDocument(help))
    services_.dialogs->ShowError("No program could be started to show the help file " + help + ".");
}

void TForm1::BitBtn1Click() {
  Speak("closing the logbook. ");
  close();
}

void TForm1::EXIT1Click() {
  services_.voice->Disconnect();
  close();
}

void TForm1::UTCAdjustment1Click() { ShowPage(Page(2)); }

void TForm1::AdjustLogBook1Click() {
  ShowPage(Page(1));
  edit_->Edit19->setFocus();
  if (SpeechOn()) {
    Speak("Log editing page is active. ");
    sequencer_.Wait(100);
  }
}

void TForm1::CreateADIFlog1Click() {
  if (ADIFform == nullptr) return;
  if (!ADIFform->isHidden()) {
    ADIFform->hide();
    Speak("ADIF conversion form is shut down. ");
  } else {
    ADIFform->show();
    Speak("ADIF conversion form is loading. ");
  }
}

void TForm1::CheckBox2Click() {
  ShowPage(Page(0));
  log_->LogEdit3->setFocus();
}

void TForm1::Button13Click() {
  if (SpeechOn() && !log_->Label1->text().isEmpty()) Speak(log_->Label1->text());
}

void TForm1::RadioAmateurCallBook1Click() {
  const bool on = !ui_->RadioAmateurCallBook1->isChecked();
  ui_->RadioAmateurCallBook1->setChecked(on);
  log_->BitBtn6->setEnabled(on);
  Speak(on ? " radio amateur call book is loading. " : " radio amateur call book is closing. ");
}

void TForm1::BitBtn6Click() {
  if (RAC == nullptr) return;
  RAC->hide();
  RAC->Controls().Edit2->setText(log_->LogEdit3->text());
  RAC->show();
  RAC->Button1Click();
  if (CTConvert != nullptr) CTConvert->Button1Click();
}

}  // namespace quillmere

// TForm1: the logbook's side of the rig server. At start-up the window reads rig 1's mode and
// frequency once, derives the band, and shows the rig type; from then on the server's events
// update the frequency, mode and band labels, and the window writes frequency steps and modes to
// the radio. Manual operation works without a radio: band and mode come from two lists.
//
// Every rig call here is guarded: a server or radio that does not answer leaves the labels with
// what they show. Where the operator asked for the call (a step, the rig type, reconnect, the
// server's settings window) the failure is said once, and shown in the status bar, until a rig
// call succeeds again. Frequencies cross between label text and hertz in exact decimal
// arithmetic and are always written with a '.', whatever the desktop's locale.
//
// No bus call runs while a modal dialog is up: the server's events wait for it to close.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <array>
#include <utility>

#include "PSKUnit1.h"
#include "band_tables.h"
#include "decimal_frequency.h"
#include "frequency_text.h"
#include "menu_item.h"
#include "preferences.h"
#include "tarvane_enums.h"
#include "ui_TForm1.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet4.h"
#include "ui_TabSheet5.h"

namespace quillmere {

namespace {

// The announcement waits this long after the first change, so a tuning sweep is said once.
constexpr int kAnnounceMs = 2000;
// How often events held back by a modal dialog look again whether it has gone.
constexpr int kModalRetryMs = 200;

const QString kNotAnswering = QStringLiteral("The rig server or the radio is not answering. ");

// The step in hertz for each position of TrackBar3 (1 .. 6).
constexpr std::array<int32_t, 6> kStepHz = {100, 500, 1000, 5000, 10000, 100000};

struct TManualBand {
  int Band;
  const char* Frequency;
  const char* Spoken;
};

// Manual operation's bands: the frequency shown and what is said. Any other number is 20 m.
constexpr std::array<TManualBand, 12> kManualBands = {{{23, "1296.1", "23 cm"},
                                                       {70, "432.1", "70 cm"},
                                                       {2, "144.2", "2 m"},
                                                       {6, "50.125", "6 m"},
                                                       {10, "28.0", "10 m"},
                                                       {12, "24.93", "12 m"},
                                                       {15, "21.2", "15 m"},
                                                       {17, "18.11", "17 m"},
                                                       {30, "10.125", "30 m"},
                                                       {40, "7.15", "40 m"},
                                                       {80, "3.75", "80 m"},
                                                       {160, "1.9", "160 m"}}};
constexpr TManualBand kManualOtherBand = {20, "14.1", "20 m"};

// Manual operation's modes, item by item of ModeCB, as they are said.
constexpr std::array<const char*, 8> kManualModeWords = {
    "CW", "Upper Side Band", "Lower Side Band", "F.M.", "A.M.", "P.S.K.", "R.T.T.Y.", "other"};

}  // namespace

void TForm1::ConnectRigHandlers() {
  Timer2 = new QTimer(this);
  Timer2->setObjectName("Timer2");
  Timer2->setInterval(kAnnounceMs);
  Timer2->setSingleShot(true);
  connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
  rigDefer_ = new QTimer(this);
  rigDefer_->setSingleShot(true);
  rigDefer_->setInterval(kModalRetryMs);
  connect(rigDefer_, &QTimer::timeout, this, &TForm1::RunDeferredRigEvents);

  connect(log_->Edit21, &QLineEdit::textChanged, this, &TForm1::Edit21Change);
  connect(log_->CheckBox15, &QCheckBox::clicked, this, &TForm1::CheckBox15Click);
  connect(log_->CheckBox11, &QCheckBox::clicked, this, &TForm1::CheckBox11Click);
  connect(log_->TrackBar3, &QSlider::valueChanged, this, &TForm1::TrackBar3Change);
  connect(log_->BitBtn7, &QPushButton::clicked, this, &TForm1::BitBtn7Click);
  connect(log_->BitBtn8, &QPushButton::clicked, this, &TForm1::BitBtn8Click);
  connect(log_->Button21, &QPushButton::clicked, this, &TForm1::Button21Click);
  connect(log_->Button29, &QPushButton::clicked, this, &TForm1::Button29Click);
  connect(log_->Button30, &QPushButton::clicked, this, &TForm1::Button30Click);
  connect(log_->Button31, &QPushButton::clicked, this, &TForm1::Button31Click);
  connect(log_->Button32, &QPushButton::clicked, this, &TForm1::Button32Click);
  connect(log_->Button33, &QPushButton::clicked, this, &TForm1::Button33Click);
  connect(log_->Button26, &QPushButton::clicked, this, &TForm1::Button26Click);
  connect(log_->Button27, &QPushButton::clicked, this, &TForm1::Button27Click);
  connect(log_->BandCB, &QComboBox::activated, this, &TForm1::BandCBChange);
  connect(log_->ModeCB, &QComboBox::activated, this, &TForm1::ModeCBChange);
  ConnectMenuItem(this, ui_->ManualOperation1, &TForm1::ManualOperation1Click);
  ConnectMenuItem(this, ui_->COM1, &TForm1::COM1Click);
}

void TForm1::FirstRigRead() {
  if (!rigConnected_) return;
  RigLink& rig = *services_.rig;
  const std::optional<int32_t> mode = rig.Read(TRigProperty::Mode);
  if (!mode) return;
  if (const std::optional<std::string> text = RigModeText(*mode)) log_->Label5->setText(QString::fromStdString(*text));
  const std::optional<int32_t> rit = rig.Read(TRigProperty::Rit);
  if (!rit) return;
  const std::optional<int32_t> freq = rig.Read(TRigProperty::Freq);
  if (!freq) return;
  int64_t hz = *freq;
  if (*rit == tarvane::PM_RITON) {
    const std::optional<int32_t> offset = rig.Read(TRigProperty::RitOffset);
    if (!offset) return;
    hz += *offset;
  }
  const double mhz = MHzFromHz(hz);
  log_->Label4->setText(QString::fromStdString(FormatFixed(mhz, 7, 5)));
  Speak(log_->Label4->text() + " mega hertz. ");
  dx_->Label49->setText(log_->Label4->text());
  log_->LogEdit3->setFocus();
  if (const std::optional<std::string> band = BandAtStart(mhz)) log_->LogEdit7->setText(QString::fromStdString(*band));
}

void TForm1::ShowRigType() {
  if (!rigConnected_) return;  // start-up has said already that the server cannot be reached
  if (const std::optional<std::string> type = services_.rig->RigType()) {
    SetStatusText(6, QString::fromStdString(*type));
    RigAnswered();
  } else {
    RigNotAnswering();
  }
}

void TForm1::SecondFrequencyRead() {
  if (!rigConnected_) return;
  if (const std::optional<int32_t> freq = services_.rig->Read(TRigProperty::Freq))
    log_->Label4->setText(QString::fromStdString(FormatGeneral(MHzFromHz(*freq))));
}

void TForm1::RigNotAnswering() {
  if (rigNoticeGiven_) return;
  rigNoticeGiven_ = true;
  ui_->StatusBar1->showMessage(kNotAnswering.trimmed());
  Speak(kNotAnswering);
}

void TForm1::RigAnswered() {
  if (!std::exchange(rigNoticeGiven_, false)) return;
  // Only the notice goes: a message shown since then stays.
  if (ui_->StatusBar1->currentMessage() == kNotAnswering.trimmed()) ui_->StatusBar1->clearMessage();
}

bool TForm1::DeferWhileModal() {
  if (QApplication::activeModalWidget() == nullptr) return false;
  if (!rigDefer_->isActive()) rigDefer_->start();
  return true;
}

void TForm1::RunDeferredRigEvents() {
  if (DeferWhileModal()) return;
  // The events carry nothing the handlers use: one run stands for all that waited.
  if (std::exchange(rigTypePending_, false)) TarvaneX1RigTypeChange(1);
  if (std::exchange(paramsPending_, false)) TarvaneX1ParamsChange(1, 0);
}

void TForm1::TarvaneX1RigTypeChange(int rigNumber) {
  (void)rigNumber;  // the logbook uses rig 1 whichever rig changed
  if (DeferWhileModal()) {
    rigTypePending_ = true;
    return;
  }
  ShowRigType();
}

void TForm1::Button21Click() { ShowRigType(); }

void TForm1::TarvaneX1ParamsChange(int rigNumber, int params) {
  // Rig 1 is read again whichever rig and parameters changed.
  (void)rigNumber;
  (void)params;
  if (DeferWhileModal()) {
    paramsPending_ = true;
    return;
  }
  // Any failing read ends the update quietly; what was already set stays.
  RigLink& rig = *services_.rig;
  const std::optional<int32_t> mode = rig.Read(TRigProperty::Mode);
  if (!mode) return;
  if (const std::optional<std::string> text = RigModeText(*mode)) log_->Label5->setText(QString::fromStdString(*text));
  memory_->Label36->setText(log_->Label5->text());

  const std::optional<int32_t> rit = rig.Read(TRigProperty::Rit);
  if (!rit) return;
  const std::optional<int32_t> freq = rig.Read(TRigProperty::Freq);
  if (!freq) return;
  int64_t hz = *freq;
  if (*rit == tarvane::PM_RITON) {
    const std::optional<int32_t> offset = rig.Read(TRigProperty::RitOffset);
    if (!offset) return;
    hz += *offset;
  }
  RigAnswered();
  const QString text = QString::fromStdString(FormatFixed(MHzFromHz(hz), 7, 5));
  log_->Label4->setText(text);
  log_->Edit21->setText(text);
  memory_->Label35->setText(text);
  dx_->Label49->setText(text);

  CheckBandLimits();

  // The band from the whole MHz of the shown frequency.
  const ScaledDecimal whole = ScaleDecimalText(memory_->Label35->text().toStdString(), 0);
  if (whole.status != ScaledDecimal::Status::Ok) return;
  if (const std::optional<std::string> band = BandOnChange(double(whole.value)))
    log_->LogEdit7->setText(QString::fromStdString(*band));
}

void TForm1::Edit21Change() {
  if (SpeechOn() && log_->CheckBox15->isChecked() && !Timer2->isActive()) Timer2->start();
}

void TForm1::Timer2Timer() {
  Timer2->stop();
  Speak(log_->Label4->text() + " mega hertz. ");
}

void TForm1::CheckBox15Click() {
  ShowPage(Page(0));
  log_->LogEdit3->setFocus();
}

void TForm1::CheckBox11Click() {
  ShowPage(Page(0));
  log_->LogEdit3->setFocus();
}

void TForm1::TrackBar3Change() {
  memoryStep_ = log_->TrackBar3->value();
  log_->Label56->setText(QString::number(memoryStep_));
}

void TForm1::BitBtn7Click() { StepFrequency(-1); }

void TForm1::BitBtn8Click() { StepFrequency(+1); }

void TForm1::StepFrequency(int sign) {
  if (QApplication::activeModalWidget() != nullptr) return;  // a key that reached past a dialog
  const QString shown = log_->Label4->text();
  if (shown.isEmpty()) return;
  const int position = log_->TrackBar3->value();
  if (position < 1 || position > int(kStepHz.size())) return;
  const int64_t step = kStepHz[size_t(position - 1)];
  const HertzFromText from = MHzTextToHertz(shown.toStdString());
  if (!from.hertz) return;  // the label shows no frequency: nothing to step from
  const int64_t to = int64_t(*from.hertz) + sign * step;
  if (to <= 0 || to > kMaxBusHertz) return;  // no frequency the radio could take
  if (WriteRigValue(tarvane::PM_FREQ, int32_t(to)) && WriteRigValue(tarvane::PM_FREQA, int32_t(to)))
    RigAnswered();
  else
    RigNotAnswering();
}

void TForm1::Button29Click() {
  SetRigParam(tarvane::PM_CW_U);
  log_->Label5->setText("CW");
}

void TForm1::Button30Click() {
  SetRigParam(tarvane::PM_SSB_U);
  log_->Label5->setText("USB");
}

void TForm1::Button31Click() {
  SetRigParam(tarvane::PM_SSB_L);
  log_->Label5->setText("LSB");
}

void TForm1::Button32Click() {
  SetRigParam(tarvane::PM_FM);
  log_->Label5->setText("FM");
}

void TForm1::Button33Click() {
  RigLink& rig = *services_.rig;
  rig.Disconnect();
  std::string error;
  rigConnected_ = rig.Connect(&error);
  const std::optional<int32_t> freq = rigConnected_ ? rig.Read(TRigProperty::Freq) : std::nullopt;
  if (!freq) {
    RigNotAnswering();
    return;
  }
  RigAnswered();
  log_->Label4->setText(QString::fromStdString(FormatGeneral(MHzFromHz(*freq))));
}

void TForm1::COM1Click() {
  if (services_.rig->SetDialogVisible(true))
    RigAnswered();
  else
    RigNotAnswering();
}

void TForm1::ManualOperation1Click() {
  if (QApplication::activeModalWidget() != nullptr) return;  // a key that reached past a dialog
  QAction* item = ui_->ManualOperation1;
  const std::array<QPushButton*, 4> modeButtons = {log_->Button29, log_->Button30, log_->Button31, log_->Button32};
  if (!manualMode_) {
    SayOrShow("manual rig operation mode engaged. ", "Manual rig operation mode engaged");
    log_->Label4->setText("14.1");
    log_->Label5->setText("USB");
    for (QPushButton* b : modeButtons) b->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(log_->lblBandCB), static_cast<QWidget*>(log_->BandCB),
                       static_cast<QWidget*>(log_->lblModeCB), static_cast<QWidget*>(log_->ModeCB)})
      w->setVisible(true);
    manualMode_ = true;
    item->setChecked(true);
    // One disconnect releases this window's object on the server.
    services_.rig->Disconnect();
    rigConnected_ = false;
    Timer2->stop();
    sequencer_.Wait(20);
    sequencer_.Run([this] {
      if (!manualMode_) return;  // left again before the wait ended
      log_->Button26->setVisible(true);
      log_->Button27->setVisible(true);
      log_->BandCB->setFocus();
    });
    return;
  }
  for (QPushButton* b : modeButtons) b->setEnabled(true);
  for (QWidget* w : {static_cast<QWidget*>(log_->lblBandCB), static_cast<QWidget*>(log_->BandCB),
                     static_cast<QWidget*>(log_->lblModeCB), static_cast<QWidget*>(log_->ModeCB),
                     static_cast<QWidget*>(log_->Button26), static_cast<QWidget*>(log_->Button27)})
    w->setVisible(false);
  manualMode_ = false;
  item->setChecked(false);
  // One connect makes one object on the server; a failure is dropped (the labels stay as chosen).
  std::string error;
  rigConnected_ = services_.rig->Connect(&error);
}

void TForm1::BandCBChange() {
  const std::optional<int> band = ParseWholeNumber(log_->BandCB->currentText().toStdString());
  if (!band) return;  // not a band number: nothing to show
  const TManualBand* row = &kManualOtherBand;
  for (const TManualBand& b : kManualBands)
    if (b.Band == *band) row = &b;
  log_->Label4->setText(row->Frequency);
  log_->LogEdit7->setText(QString::number(row->Band));
  Speak(row->Spoken);
  log_->LogEdit3->setFocus();
}

void TForm1::ModeCBChange() {
  const int index = log_->ModeCB->currentIndex();
  if (index >= 0 && index < int(kManualModeWords.size())) Speak(kManualModeWords[size_t(index)]);
  log_->Label5->setText(log_->ModeCB->currentText());
  log_->LogEdit3->setFocus();
}

void TForm1::Button26Click() {
  Speak("band change.");
  log_->BandCB->setFocus();
}

void TForm1::Button27Click() {
  Speak("mode change.");
  log_->ModeCB->setFocus();
}

}  // namespace quillmere

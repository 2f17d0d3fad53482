// TForm1: the logbook's side of the rig server. At start-up the window reads rig 1's mode and
// frequency once, derives the band, and shows the rig type; the server's events arrive in the
// two TarvaneX1 handlers. Every rig read here is guarded: a server or radio that does not answer
// leaves the labels with what they show.
#include <QLabel>

#include "PSKUnit1.h"
#include "band_tables.h"
#include "frequency_text.h"
#include "tarvane_enums.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet4.h"

namespace quillmere {

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
  if (!rigConnected_) return;
  if (const std::optional<std::string> type = services_.rig->RigType()) SetStatusText(6, QString::fromStdString(*type));
}

void TForm1::SecondFrequencyRead() {
  if (!rigConnected_) return;
  if (const std::optional<int32_t> freq = services_.rig->Read(TRigProperty::Freq))
    log_->Label4->setText(QString::fromStdString(FormatGeneral(MHzFromHz(*freq))));
}

void TForm1::TarvaneX1RigTypeChange(int rigNumber) {
  (void)rigNumber;  // the logbook uses rig 1 whichever rig changed
  ShowRigType();
}

void TForm1::TarvaneX1ParamsChange(int rigNumber, int params) {
  // Built with the rig-control client: mode, frequency and band follow rig 1.
  (void)rigNumber;
  (void)params;
}

// Frequency steps (Lower, Higher; Ctrl+Left and Ctrl+Right) and manual operation (Ctrl+M): built
// with the rig-control client.
void TForm1::BitBtn7Click() {}
void TForm1::BitBtn8Click() {}
void TForm1::ManualOperation1Click() {}

}  // namespace quillmere

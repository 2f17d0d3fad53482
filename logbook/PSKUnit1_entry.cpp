// TForm1: contact entry on the LOG page. Every change of the call-sign field runs the duplicate
// check on the open logbook and hands the call to the look-ups; "&Log It" (Alt+L, or Ctrl+Enter
// when "Use CTRL +Enter" is checked) appends the contact; "&Clear" (Alt+C) empties the fields.
//
// The work on the logbook is contact_entry's; this file reads the fields, speaks and shows. With
// no logbook open the look-ups still follow the call, and Log It refuses and keeps the fields.
#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>

#include "PSKUnit1.h"
#include "contact_entry.h"
#include "dbtext.h"
#include "logbook_fileset.h"
#include "ui_TForm1.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet2.h"
#include "ui_TabSheet3.h"

namespace quillmere {

void TForm1::ConnectEntryHandlers() {
  // The warning comes and goes without moving the fields beside it.
  QSizePolicy keep = log_->StaticText1->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  log_->StaticText1->setSizePolicy(keep);
  connect(log_->LogEdit3, &QLineEdit::textChanged, this, &TForm1::LogEdit3Change);
  connect(log_->BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
  connect(log_->BitBtn3, &QPushButton::clicked, this, &TForm1::BitBtn3Click);
}

void TForm1::LogEdit3Change() {
  log_->StaticText1->hide();
  const QString typed = log_->LogEdit3->text();
  if (LogbookOpen()) {
    try {
      TDuplicateVerdict verdict;
      {
        TControlsDisabled quiet(*dbf1_);
        verdict = CheckDuplicate(*dbf1_, ToEngineText(typed),
                                 ParseWholeNumber(log_->LogEdit7->text().toStdString()));
      }
      if (!verdict.Filtered) {
        SayOrShow("This call cannot be looked up in the log. ",
                  "The call " + typed + " holds ', \" and ], so the log is not filtered by it.");
      }
      if (verdict.Found) {
        log_->StaticText1->show();
        Speak(log_->StaticText1->text() + ". ");
        Speak("with   .");
        Speak(FromEngineText(verdict.Station) + ".");
        Speak(FromEngineText(verdict.Name) + ".");
      }
    } catch (const std::exception& e) {
      ShowFailure(e);
    }
  }
  LookUpsForCall(typed);
}

void TForm1::BitBtn2Click() {
  // The call-sign field takes the focus last, after what Log It says (its prompt follows).
  auto focusCall = [this] { sequencer_.Run([this] { log_->LogEdit3->setFocus(); }); };
  {
    // Only the texts: the order and the filter in force stay.
    const QSignalBlocker sort(log_->ComboBox5), band(log_->ComboBox8);
    log_->ComboBox5->setCurrentText("DATE");
    log_->ComboBox8->setCurrentText("NONE");
  }
  if (!RequireLogbook()) {
    focusCall();
    return;
  }
  log_->StaticText1->hide();

  TContactEntry entry;
  entry.Station = ToEngineText(log_->LogEdit3->text());
  entry.Name = ToEngineText(log_->Edit3->text());
  entry.Qth = ToEngineText(log_->LogEdit8->text());
  entry.City = ToEngineText(log_->LogEdit9->text());
  entry.State = ToEngineText(log_->LogEdit6->text());
  entry.Remark = ToEngineText(log_->Edit4->text());
  entry.Grid = ToEngineText(log_->logedit10->text());
  entry.Sent = ToEngineText(log_->LogEdit4->text());
  entry.Received = ToEngineText(log_->LogEdit5->text());
  entry.Band = ToEngineText(log_->LogEdit7->text());
  entry.CqZone = ToEngineText(log_->Edit10->text());
  entry.ItuZone = ToEngineText(log_->Edit11->text());
  entry.Mode = ToEngineText(log_->Label5->text());
  entry.Frequency = ToEngineText(log_->Label4->text());
  entry.Prefix = ToEngineText(prefix_);
  // The preferences hold the engine's own text already.
  entry.Operator = prefs_[plOwnCall];
  entry.Power = ToEngineText(set_->Edit18->text());
  entry.SsbAsPsk = set_->CheckBox7->isChecked();
  if (const std::optional<TEntryRefusal> refusal = CheckEntry(entry)) {
    SayOrShow(FromEngineText(refusal->Spoken), FromEngineText(refusal->Shown));
    focusCall();
    return;
  }

  try {
    TControlsDisabled quiet(*dbf1_);
    LogContact(*dbf1_, logPath_.toStdString(), entry, UtcFromLocal(services_.clock->Now(), utcOffset_));
  } catch (const std::exception& e) {
    // Nothing was stored; the fields keep what was typed.
    ShowFailure(e);
    focusCall();
    return;
  }
  // The reports, band, zones and prefix stay for the next contact.
  for (QLineEdit* field : {log_->LogEdit3, log_->Edit3, log_->LogEdit8, log_->LogEdit9, log_->logedit10,
                           log_->LogEdit6, log_->Edit4})
    field->clear();
  sequencer_.Wait(30);
  Speak("contact logged. ");
  Speak("Contact logged. ");
  focusCall();
}

void TForm1::BitBtn3Click() {
  QWidget* page = ui_->PageControl1->currentWidget();
  if (page == Page(0)) {
    for (QLineEdit* field : {log_->LogEdit6, log_->LogEdit8, log_->logedit10, log_->LogEdit9, log_->LogEdit3,
                             log_->Edit3, log_->Edit4})
      field->clear();
    if (SpeechOn()) {
      sequencer_.Wait(40);
      Speak("Logging fields cleared. ");
    }
  } else if (page == Page(1)) {
    edit_->Edit19->clear();
  }
  log_->LogEdit3->setFocus();
}

}  // namespace quillmere

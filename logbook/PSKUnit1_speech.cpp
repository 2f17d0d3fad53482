// TForm1: the logbook's voice. Speaking (the one way every window speaks), speech on and off with
// the controls that exist only while speech is on, abort, pause and resume, rate and volume, the
// voice list and its information lines.
//
// A failing voice is reported once (in a message box, since it cannot speak it) and the logbook
// then stays silent until speech is switched on again, instead of raising an error per phrase.
// A failure during start-up is shown once the main window is up; the box says what to do, and
// the library's own reason goes to the program's log.
//
// Phrases go at one of two priorities (SpeechPriority): what a screen reader says too (prompts,
// echoed keys, hints, the cell under a grid's cursor) gives way to it; the rest is heard whole.
#include <QLabel>

#include "PSKUnit1.h"
#include "radio_group.h"
#include "ui_TForm1.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet3.h"

namespace quillmere {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

const char* const kVoiceFailure =
    "The voice does not work: speech-dispatcher is not installed or not running. Install or start "
    "speech-dispatcher, then press Ctrl+S to try again. Ctrl+Q switches speech off.";

}  // namespace

void TForm1::ConnectSpeechHandlers() {
  connect(set_->BitBtn9, &QPushButton::clicked, this, &TForm1::BitBtn9Click);
  connect(set_->BitBtn10, &QPushButton::clicked, this, &TForm1::BitBtn10Click);
  connect(set_->BitBtn11, &QPushButton::clicked, this, &TForm1::BitBtn11Click);
  connect(set_->TrackBar1, &QSlider::valueChanged, this, &TForm1::TrackBar1Change);
  connect(set_->TrackBar2, &QSlider::valueChanged, this, &TForm1::TrackBar2Change);
  // Choosing a voice announces it first, then takes it.
  connect(set_->cbVoices, &QComboBox::activated, this, [this](int) {
    cbVoicesClick();
    cbVoicesChange();
  });
  connect(log_->Button14, &QPushButton::clicked, this, &TForm1::Button14Click);
}

bool TForm1::SpeechOn() const { return ui_->Start1->isChecked(); }

void TForm1::Speak(const QString& text) { QueueSpeech(text, false, SpeechPriority::Message); }

void TForm1::SpeakAlways(const QString& text) { QueueSpeech(text, true, SpeechPriority::Message); }

void TForm1::Echo(const QString& text) { QueueSpeech(text, false, SpeechPriority::Text); }

void TForm1::EchoAlways(const QString& text) { QueueSpeech(text, true, SpeechPriority::Text); }

void TForm1::QueueSpeech(const QString& text, bool always, SpeechPriority priority) {
  if (text.isEmpty()) return;
  sequencer_.Run(
      [this, text, always, priority] {
        if (always || SpeechOn()) VoiceSpeak(text, priority);
      },
      true);
}

void TForm1::SayOrShow(const QString& spoken, const QString& shown) {
  sequencer_.Run([this, spoken, shown] {
    if (SpeechOn() && !voiceFailed_) {
      VoiceSpeak(spoken);
      if (!voiceFailed_) return;
    }
    services_.dialogs->ShowMessage(shown);
  });
}

void TForm1::VoiceSpeak(const QString& text, SpeechPriority priority) {
  if (voiceFailed_) return;
  VoiceCall(services_.voice->Speak(text.toStdString(), priority));
}

bool TForm1::VoiceCall(bool ok) {
  if (ok) return true;
  if (!voiceFailed_) {
    voiceFailed_ = true;
    qWarning("The voice does not work: %s", services_.voice->LastError().c_str());
    // While the window is being built the box would come before the window; it waits for it.
    if (creating_)
      voiceFailurePending_ = true;
    else
      ShowVoiceFailure();
  }
  return false;
}

void TForm1::ShowVoiceFailure() {
  voiceFailurePending_ = false;
  services_.dialogs->ShowMessage(kVoiceFailure);
}

void TForm1::AbortSpeech() {
  VoiceCall(services_.voice->Skip());
  sequencer_.DropSpeech();
}

void TForm1::ShowSpeechControls(bool visible) {
  for (QWidget* w : std::initializer_list<QWidget*>{log_->Label41, log_->CheckBox15, log_->CheckBox11, log_->Button12,
                                                    log_->Button13, log_->Button14, log_->Button17, log_->Button19,
                                                    log_->Button20, log_->Button28, log_->Button1})
    w->setVisible(visible);
}

void TForm1::Start1Click() {
  // The second word list needs a moment before speech starts.
  if (RadioGroupIndex(set_->RadioGroup4) != 0) sequencer_.Wait(100);
  // Switching speech on is the operator's way to try a voice that failed; the start-up's own
  // speech-on step is not, or a voice that failed at the first phrase would be reported twice.
  const bool retry = !creating_;
  sequencer_.Run([this, retry] {
    if (retry) voiceFailed_ = false;
    ui_->Start1->setChecked(true);
    ui_->Stop1->setChecked(false);
    ShowSpeechControls(true);
  });
  sequencer_.Wait(30);
  sequencer_.Run(
      [this] {
        if (SpeechOn()) VoiceSpeak("Speech activated. ");
      },
      true);
}

void TForm1::Stop1Click() {
  SpeakAlways("speech capability is closing. ");
  sequencer_.Wait(200);
  sequencer_.Run([this] {
    ui_->Start1->setChecked(false);
    ui_->Stop1->setChecked(true);
    ShowSpeechControls(false);
  });
}

void TForm1::BitBtn9Click() { VoiceCall(services_.voice->Resume()); }

void TForm1::BitBtn10Click() { VoiceCall(services_.voice->Pause()); }

void TForm1::BitBtn11Click() { AbortSpeech(); }

void TForm1::TrackBar1Change() {
  BitBtn11Click();
  VoiceCall(services_.voice->SetRate(set_->TrackBar1->value()));
}

void TForm1::TrackBar2Change() {
  BitBtn11Click();
  VoiceCall(services_.voice->SetVolume(set_->TrackBar2->value()));
}

void TForm1::ListVoices() {
  voices_.clear();
  set_->cbVoices->clear();
  std::vector<TVoiceInfo> voices;
  // A voice that failed at the first phrase is not asked again; one that cannot list its voices
  // is reported as a phrase it cannot speak would be.
  if (voiceFailed_ || !VoiceCall(services_.voice->GetVoices(voices))) return;
  voices_ = std::move(voices);
  for (const TVoiceInfo& voice : voices_) set_->cbVoices->addItem(Q(VoiceDescription(voice)));
  if (!voices_.empty()) {
    set_->cbVoices->setCurrentIndex(0);
    cbVoicesChange();
  }
}

void TForm1::cbVoicesChange() {
  set_->lstEngineinfo->clear();
  const int index = set_->cbVoices->currentIndex();
  if (index < 0 || size_t(index) >= voices_.size()) return;
  const TVoiceInfo& voice = voices_[size_t(index)];
  if (!VoiceCall(services_.voice->SetVoice(voice))) return;
  // The speech service names no vendor, age or gender: the engine stands for the vendor, and the
  // key is where the service finds the voice.
  std::string key = voice.Module + "/" + voice.Name;
  if (!voice.Variant.empty() && voice.Variant != "none") key += "/" + voice.Variant;
  set_->lstEngineinfo->addItems({"Name: " + Q(voice.Name), "Vendor: " + Q(voice.Module), "Age: ", "Gender: ",
                                 "Language: " + Q(voice.Language), "Reg key: " + Q(key)});
}

void TForm1::cbVoicesClick() { Speak("Voice selected is" + set_->cbVoices->currentText() + " . "); }

void TForm1::Button14Click() {
  if (SpeechOn())
    Speak("not yet implemented. ");
  else
    services_.dialogs->ShowMessage("Not yet implemented. ");
}

}  // namespace quillmere

// TForm1 (instance Form1): the logbook's main window. Its frame (menus, the seven status-bar
// panels, the page control PageControl1) is the form TForm1.ui; each of the five pages is a form
// of its own (TabSheet1.ui "LOG" .. TabSheet5.ui "S. MEMORY"), so the pages grow independently.
//
// The window holds the run-time state the other windows read (preferences, UTC offset, log base
// name, speech state, memory step) and owns the outside services (TServices: voice, rig link,
// message boxes, file choosers, clock, sound, launcher), so tests build it with fakes. Its code
// is split by concern over several files: PSKUnit1.cpp (construction, frame handlers),
// PSKUnit1_create.cpp (start-up and shut-down), PSKUnit1_prefs.cpp (preferences and the Set
// page), PSKUnit1_speech.cpp (the voice), PSKUnit1_reading.cpp (the fields, grids and buttons
// that read themselves aloud), PSKUnit1_rig.cpp (rig-control client),
// PSKUnit1_keys.cpp (form-level keys and hints), PSKUnit1_logbook.cpp (logbooks: open, index
// tags, sort, band filter, pack), PSKUnit1_entry.cpp (contact entry: duplicate check, Log It,
// Clear), PSKUnit1_lookups.cpp (the look-ups that follow a typed call), PSKUnit1_tallies.cpp (the
// DX page's WAS and DXCC checks), PSKUnit1_edit.cpp (the Edit page: search and edit),
// PSKUnit1_memories.cpp (frequency memories), PSKUnit1_rigwrite.cpp (the rig writes and the
// band-limit check they lead to) and PSKUnit1_tools.cpp (the new-logbook and print entries of the
// File menu, the Tools, Accessibility and help launchers, word lists, the font switch and the
// call-book drive). Every handler is a slot named as the window's design names it and is
// connected explicitly.
//
// Everything runs on the main thread. No handler sleeps or runs the event loop: where a handler
// must wait, the rest of it runs from the phrase sequencer's single-shot timer.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "dataset/Sorl6db.h"
#include "dataset/dblink.h"
#include "phrase_sequencer.h"
#include "preferences.h"
#include "services.h"
#include "single_instance.h"

class QLabel;
class QKeyEvent;
class QLineEdit;
class QTableView;
class QTimer;
class TDBGridModel;

namespace Ui {
class TForm1;
class TabSheet1;
class TabSheet2;
class TabSheet3;
class TabSheet4;
class TabSheet5;
}  // namespace Ui

namespace quillmere {

class TTallyGrids;
enum class TallyKind;

struct TForm1Options {
  std::string ProgramFolder;   // the files delivered with the program
  std::string WritableFolder;  // ConfigLog.cfg and the other files the logbook writes
  std::string LockFolder;      // the single-copy lock; empty: the user's runtime folder
};

// The design texts of the status-bar panels, their widths, and the program's name in the lock.
inline constexpr int kStatusPanels = 7;
inline constexpr std::array<const char*, kStatusPanels> kStatusPanelTexts = {
    "Version 0.9b", " Please load Log", "Time", "DX", "Bearing / Range", "Pf", "RigType"};
inline constexpr std::array<int, kStatusPanels> kStatusPanelWidths = {105, 160, 170, 155, 185, 50, 50};
inline constexpr const char* kSingleCopyLockName = "quillmere";
inline constexpr const char* kHelpFile = "QMR1Help.html";
inline constexpr const char* kWordListFile = "wordlist.txt";
inline constexpr const char* kRigServerProgram = "Tarvane";

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  // Runs the creation sequence (FormCreate); the window shows itself on the way.
  TForm1(TServices services, TForm1Options options, QWidget* parent = nullptr);
  ~TForm1() override;

  // ---- Controls -----------------------------------------------------------------------------
  Ui::TForm1& Frame() { return *ui_; }
  Ui::TabSheet1& LogPage() { return *log_; }
  Ui::TabSheet2& EditPage() { return *edit_; }
  Ui::TabSheet3& SetPage() { return *set_; }
  Ui::TabSheet4& DxPage() { return *dx_; }
  Ui::TabSheet5& MemoryPage() { return *memory_; }
  // The page widgets TabSheet1 .. TabSheet5 (index 0 .. 4).
  QWidget* Page(int index) const { return pages_.at(size_t(index)); }
  // Makes `page` the active page of PageControl1.
  void ShowPage(QWidget* page);
  QLabel* StatusPanel(int index) const { return panels_.at(size_t(index)); }
  QString StatusText(int index) const;
  void SetStatusText(int index, const QString& text);

  // ---- Run-time state -----------------------------------------------------------------------
  TPreferences& Prefs() { return prefs_; }
  const TPreferences& Prefs() const { return prefs_; }
  // Preferences were read (or repaired from the delivered ones) and may be written at close.
  bool PreferencesLoaded() const { return prefsLoaded_; }
  // Days added to the local time wherever UTC is shown or logged.
  double UtcOffset() const { return utcOffset_; }
  void SetUtcOffset(double days) { utcOffset_ = days; }
  // The current logbook's file name up to its first "."; empty while none is open.
  const QString& LogBaseName() const { return logBaseName_; }
  void SetLogBaseName(const QString& name) { logBaseName_ = name; }
  // The frequency-step slider's position (1..6).
  int MemoryStep() const { return memoryStep_; }
  void SetMemoryStep(int step) { memoryStep_ = step; }
  // Speech is on exactly while the menu item Start1 is checked.
  bool SpeechOn() const;
  // The rig server answered at start-up (or at a later connect).
  bool RigConnected() const { return rigConnected_; }
  // Another copy was running: the creation stopped and the program is to end.
  bool TerminateRequested() const { return terminate_; }
  TServices& Services() { return services_; }
  const TForm1Options& Options() const { return options_; }
  // Full paths of files in the program folder / writable folder (case resolved for reading).
  QString ProgramFile(const QString& name) const;
  QString WritableFile(const QString& name) const;
  // The application's current hint: the tooltip of the control under the mouse, empty over none.
  const QString& CurrentHint() const { return hint_; }
  // Tooltips are shown ("Use ToolTips"); the hint font the size choice set (empty / 0: none yet).
  bool HintDisplay() const { return hintDisplay_; }
  const QString& HintFontName() const { return hintFontName_; }
  int HintFontSize() const { return hintFontSize_; }
  // What start-up found wrong and reported once (for the log and for tests).
  const QStringList& StartupProblems() const { return problems_; }

  // The prefix of the DX entity last found (written to PREFIX by Log It, shown in panel 5).
  const QString& Prefix() const { return prefix_; }
  void SetPrefix(const QString& prefix) { prefix_ = prefix; }

  // ---- The current logbook: every window reads and writes it through these ------------------
  // dbf1: the current logbook's data set (shared), shown in DBGrid1 (LOG page) and DBGrid3 (Edit
  // page) through DataSource1.
  TSorrelDataSet& dbf1() { return *dbf1_; }
  TDataSource& DataSource1() { return *dataSource1_; }
  // The current logbook's full path; empty while no logbook is open (the program never falls
  // back to a placeholder table).
  const QString& LogPath() const { return logPath_; }
  bool LogbookOpen() const { return !logPath_.isEmpty(); }

  // ---- Speaking: every window speaks through these ------------------------------------------
  // Queues `text` when speech is on (checked when its turn comes); an empty text is not spoken.
  void Speak(const QString& text);
  // Queues `text` whatever the speech state.
  void SpeakAlways(const QString& text);
  // What repeats what a screen reader also says (a field's prompt as it gets the focus, a typed
  // key, a hint under the mouse, the cell under a grid's cursor): queued as Speak and
  // SpeakAlways do, but it gives way to a screen reader's speech and to the program's own
  // messages (SpeechPriority::Text), while everything spoken through Speak is heard whole.
  void Echo(const QString& text);
  void EchoAlways(const QString& text);
  // A refusal or confirmation: spoken when speech is on, else shown in a message box.
  void SayOrShow(const QString& spoken, const QString& shown);
  // The steps of handlers that wait; see TPhraseSequencer.
  TPhraseSequencer& Sequencer() { return sequencer_; }
  // Stops what is being said and forgets what is queued (F3, "Abort").
  void AbortSpeech();

  // Shows an error that ended a handler, as the application's error display does.
  void ShowHandlerError(const std::exception& error);

  // The LOG-page fields the look-ups write and Log It reads, by name: the QTH LogEdit8, the
  // hidden entity field Edit8, the prefix Edit9 and the zones Edit10 and Edit11. A field the
  // page's form does not hold is made here, hidden, so every window reaches the same field.
  QLineEdit* LogField(const char* name);

  // Starts a program and waits for its end; whether it could be started. `showCommand` is the
  // window state the original platform asked for; it has no counterpart here.
  bool RunAndWait(const QString& path, const QString& parameters, int showCommand);

 signals:
  // The window closed (FormClose has run): the program ends.
  void Closed();

 public slots:
  // ---- Frame (PSKUnit1.cpp) ----
  void Timer1Timer();
  void Button4Click();
  void About2Click();
  void Help2Click();
  void BitBtn1Click();
  void EXIT1Click();
  void UTCAdjustment1Click();
  void AdjustLogBook1Click();
  void CreateADIFlog1Click();
  void CheckBox2Click();
  void Button13Click();
  void RadioAmateurCallBook1Click();
  void BitBtn6Click();

  // ---- Preferences and the Set page (PSKUnit1_prefs.cpp) ----
  void Button3Click();
  void BitBtn4Click();
  void BitBtn5Click();
  void Button40Click();
  void CheckBox10Click();

  // ---- Speech (PSKUnit1_speech.cpp) ----
  void Start1Click();
  void Stop1Click();
  void BitBtn9Click();
  void BitBtn10Click();
  void BitBtn11Click();
  void TrackBar1Change();
  void TrackBar2Change();
  void cbVoicesChange();
  void cbVoicesClick();
  void Button14Click();

  // ---- Spoken entry and reading (PSKUnit1_reading.cpp) ----
  // The read-out buttons (shown only while speech is on) and the labels and boxes that read
  // themselves when clicked.
  void Button1Click();
  void Button12Click();
  void Button17Click();
  void Button19Click();
  void Button20Click();
  void Button28Click();
  void Label1Click();
  void Label19Click();
  void ComboBox5Click();
  void ComboBox8Click();
  void FileListBox1Click();
  void Edit12Enter();
  // The LOG page's nine entry fields (LogEdit3 ... LogEdit5): the prompt when one gets the
  // focus, the read-back on a double click and on Enter, and the echo of a typed character.
  void EntryFieldEnter(QLineEdit* field);
  void EntryFieldDblClick(QLineEdit* field);
  void EntryFieldKeyDown(QLineEdit* field, int key);
  void EntryFieldKeyPress(const QString& typed);
  // Reads the current cell of DBGrid1 or DBGrid3 by the grid rules.
  void ReadGridCell(QTableView* grid);
  void DBGrid1DblClick();
  void DBGrid3DblClick();

  // ---- Rig-control client (PSKUnit1_rig.cpp) ----
  // The server's events: rig 1 is read again whichever rig and parameters changed. While a modal
  // dialog is up they wait (no bus call runs under it) and run once it has gone.
  void TarvaneX1ParamsChange(int rigNumber, int params);
  void TarvaneX1RigTypeChange(int rigNumber);
  void Button21Click();
  // The frequency steps (Lower, Higher) of TrackBar3's size, sent to the radio.
  void BitBtn7Click();
  void BitBtn8Click();
  void TrackBar3Change();
  // The automatic announcement of the frequency, 2000 ms after the first change.
  void Edit21Change();
  void Timer2Timer();
  void CheckBox15Click();
  void CheckBox11Click();
  // Mode buttons CW, USB, LSB, FM.
  void Button29Click();
  void Button30Click();
  void Button31Click();
  void Button32Click();
  // Connects to the rig server again and shows rig 1's frequency.
  void Button33Click();
  // Shows the rig server's settings window.
  void COM1Click();
  // Manual operation (Ctrl+M): band and mode chosen from lists, no radio.
  void ManualOperation1Click();
  void BandCBChange();
  void ModeCBChange();
  void Button26Click();
  void Button27Click();
  bool ManualMode() const { return manualMode_; }

  // ---- Logbooks (PSKUnit1_logbook.cpp) ----
  void LoadLog1Click();
  void Button16Click();
  void Button9Click();
  void Button8Click();
  void Button6Click();
  void ComboBox5Change();
  void ComboBox8Change();
  void CheckBox3Click();
  void CheckBox4Click();
  void CheckBox9Click();
  void Button41Click();
  // Opens `path` (full path) as the current logbook by the road of a chosen logbook (refused
  // names, the seven tags, date order, newest contact, phrases). False when it was refused or
  // failed; the reason was then said or shown, and no logbook is open.
  bool OpenChosenLogbook(const QString& path);
  // The same for a logbook the new-logbook window has just made, without the spoken "is the
  // current log": that window announces the new logbook itself.
  bool OpenNewLogbook(const QString& path);
  // Lists the logbooks of the log list's folder again (after a logbook was made there).
  void RefreshLogList();

  // ---- Contact entry (PSKUnit1_entry.cpp) ----
  void LogEdit3Change();
  void BitBtn2Click();
  void BitBtn3Click();

  // ---- Look-ups the duplicate check hands the call to (PSKUnit1_lookups.cpp) ----
  // Runs after the duplicate verdict on every change of the call-sign field: the DX window's
  // call box (when CheckBox2 is checked), the prefix look-up, the call-book window's call box.
  void LookUpsForCall(const QString& call);
  void Button11Click();
  void Edit8Change();

  // ---- Rig writes and band limits (PSKUnit1_rigwrite.cpp) ----
  // Writes one parameter (a mode, VFO, split, RIT, XIT or transmit choice) or one value (Which:
  // PM_FREQ, PM_FREQA, PM_FREQB, PM_PITCH, PM_RITOFFSET) of rig 1; the server's errors are dropped.
  void SetRigParam(int32_t param);
  void SetRigValue(int32_t which, int32_t value);
  // The band-limit check of Label4 and Label5, unless the band-limit class is "OFF": what every
  // rig report runs after it has updated the labels.
  void CheckBandLimits();
  void Button22Click();
  void Button23Click();

  // ---- The Edit page (PSKUnit1_edit.cpp) ----
  void Edit19Change();
  void Edit19KeyDown();
  void Button34Click();
  void CheckBox6Click();
  // The grid model of DBGrid3 over DataSource1.
  TDBGridModel& DBGrid3Model() { return *grid3Model_; }
  // ---- DX page: the WAS and DXCC tallies (PSKUnit1_tallies.cpp) ----
  void Button5Click();
  void Button7Click();
  void CheckBox5Click();

  // ---- Frequency memories (PSKUnit1_memories.cpp) ----
  void Button24Click();
  void Button25Click();
  void ComboBox3Click();
  void Button35Click();
  void Button36Click();
  void Button37Click();
  void StringGrid1Click();
  void StringGrid1DblClick();
  void StringGrid1SelectCell(int column, int row);
  void TabSheet5Show();

  // ---- Keys and hints (PSKUnit1_keys.cpp) ----
  // Runs on every change of the application's current hint (CurrentHint).
  void AppShowHint();
  void ShortCut1Click();
  void CheckBox13Click();
  void RadioGroup3Click();
  void Button38Click();
  void TabSheet2Show();
  void TabSheet3Show();
  void TabSheet4Show();
  // A click on the window's free area.
  void FormClick();

  // ---- New logbook, print, tools, word lists, fonts (PSKUnit1_tools.cpp) ----
  void NEWLog1Click();
  void Print1Click();
  void Magnifier1Click();
  void OnScreenKeyboard1Click();
  void AccessibilityWizard1Click();
  void UtilityMgrClick();
  void WindowsVolumeControl1Click();
  void NotepadClick();
  void XpAccessibility1Click();
  void RadioGroup4Click();
  void Button39Click();
  void DriveBoxChange();
  // Fills the call-book drive box from the mounted file systems and line 10 of the preferences.
  void ShowCallBookDrives();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Creation, in PSKUnit1.cpp.
  void BuildPages();
  void BuildStatusBar();
  void ConnectHandlers();
  void ConnectPreferenceHandlers();
  void ConnectSpeechHandlers();
  void ConnectToolHandlers();
  void ConnectLookUpHandlers();
  void ConnectTallyHandlers();

  // The DX page's checks, in PSKUnit1_tallies.cpp.
  void RunTallyCheck(TallyKind kind);

  // Start-up and shut-down, in PSKUnit1_create.cpp.
  void FormCreate();
  void FormClose();
  void FormDestroy();
  bool TakeSingleCopyLock();
  void ConnectRigServer();
  void LoadWordList();
  // `spoken` is said when speech is on, else `shown` (or `spoken`) is shown.
  void AddStartupProblem(const QString& spoken, const QString& shown = QString());
  void ReportStartupProblems();

  // Preferences, in PSKUnit1_prefs.cpp.
  void ReadPreferences();
  void ShowCurrentPreferenceLabels();
  void ShowPreferences();
  void RefreshCurrentPreferences();
  bool WritePreferences();

  // Speech, in PSKUnit1_speech.cpp.
  void ListVoices();
  void ShowSpeechControls(bool visible);
  // Hands `text` to the voice unless it failed before; reports a new failure once.
  void VoiceSpeak(const QString& text, SpeechPriority priority = SpeechPriority::Message);
  // Runs a voice call; on failure reports it once and goes silent until speech is switched on.
  bool VoiceCall(bool ok);
  // The box that says the voice does not work and what to do, shown once the window is up.
  void ShowVoiceFailure();
  void QueueSpeech(const QString& text, bool always, SpeechPriority priority);
  // Says the prompt of the entry field that has the focus (the call-sign field at start).
  void PromptFocusedField();

  // Spoken entry and reading, in PSKUnit1_reading.cpp.
  void ConnectReadingHandlers();
  // The sort and band boxes say what they were set to before the order or filter changes.
  void ConnectLogOrderPhrases();
  void ConnectGridReading(QTableView* grid);
  // The text of the grid's current cell, without trailing blanks.
  QString GridCellText(const QTableView* grid) const;
  // Sets `widget`'s tool tip when it differs, so the hint follows the text under the mouse.
  static void SetHintText(QWidget* widget, const QString& text);
  // The word list's lines (ListBox1). With a `code`, the first line that begins with it becomes
  // the list's current line, as a state-name look-up leaves it.
  std::vector<std::string> WordListItems(const QString& code = QString());

  // Rig, in PSKUnit1_rig.cpp.
  void ConnectRigHandlers();
  void FirstRigRead();
  void ShowRigType();
  void SecondFrequencyRead();
  void StepFrequency(int sign);
  // A rig call the operator asked for failed: said (and shown in the status bar) once, until a
  // rig call succeeds again; the next good report or call takes the notice off the status bar.
  void RigNotAnswering();
  void RigAnswered();
  // A modal dialog is up: the server's events wait for it to go.
  bool DeferWhileModal();
  void RunDeferredRigEvents();
  // Writes one value of rig 1; whether the server took it.
  bool WriteRigValue(int32_t which, int32_t value);

  // Keys and hints, in PSKUnit1_keys.cpp.
  void ConnectKeyHandlers();
  bool FormKeyDown(QKeyEvent* event);
  // The key is the shortcut of an enabled item of the main menu.
  bool MenuShortcut(const QKeyEvent* event) const;
  void SwitchPage(int index);
  void HideNoticeLabel();
  void SetHintControl(QWidget* control);
  void RefreshHint();

  // Tools, in PSKUnit1_tools.cpp.
  void LaunchAccessTool(int tool);
  // Gives back the font files registered by the font switch (at close).
  void RemoveProgramFonts();
  // A problem found by a handler: reported with the start-up problems while the window is being
  // created, else at once (spoken when speech is on, else shown).
  void ReportProblem(const QString& spoken, const QString& shown = QString());

  // The Edit page, in PSKUnit1_edit.cpp.
  void ConnectEditPage();
  void DetachEditPage();

  // The memory page, in PSKUnit1_memories.cpp.
  void ConnectMemoryPage();
  void GoToMemoryRow(bool doubleClick);
  void ZoomMemories(double factor);
  // Logbooks, in PSKUnit1_logbook.cpp.
  void ConnectLogbookHandlers();
  // Unlinks every grid and edit that shows DataSource1, before the data set and source go.
  void DetachLogbookControls();
  // Opens `path` through the logbook open path with progress shown; on a refusal or an engine
  // error says or shows why and leaves no logbook open. `path` is a copy: the open first forgets
  // the current logbook, whose path makeindex hands in.
  bool OpenLogbookAt(QString path, bool speak);
  // The default logbook (preferences line 7) where it exists; empty when it does not.
  std::string DefaultLogbookPath() const;
  // The explicit "no logbook" state: dbf1 closed, no path, no base name.
  void SetNoLogbook();
  // Opens dbf1 shared again after it was closed for exclusive work; false (and no logbook) when
  // that fails.
  bool ReopenShared();
  // Says "please load a log book first" when no logbook is open; whether one is.
  bool RequireLogbook();
  // Shows an engine or file error as the class library's error display would.
  void ShowFailure(const std::exception& error);

  // Contact entry, in PSKUnit1_entry.cpp.
  void ConnectEntryHandlers();

  TServices services_;
  TForm1Options options_;
  std::unique_ptr<Ui::TForm1> ui_;
  std::unique_ptr<Ui::TabSheet1> log_;
  std::unique_ptr<Ui::TabSheet2> edit_;
  std::unique_ptr<Ui::TabSheet3> set_;
  std::unique_ptr<Ui::TabSheet4> dx_;
  std::unique_ptr<Ui::TabSheet5> memory_;
  std::array<QWidget*, 5> pages_{};
  // The current logbook. Members go before the base class destroys the child widgets, so
  // ~TForm1 must detach every grid and edit that links to DataSource1 before they go.
  std::unique_ptr<TSorrelDataSet> dbf1_;
  std::unique_ptr<TDataSource> dataSource1_;
  TDBGridModel* grid3Model_ = nullptr;  // owned by the window; DBGrid3's rows
  // DBGrid1's model over DataSource1 (owned by the window; detached in ~TForm1).
  TDBGridModel* dbGrid1Model_ = nullptr;
  std::array<QLabel*, kStatusPanels> panels_{};
  // The DX page's reference tables and their grid models.
  std::unique_ptr<TTallyGrids> tallyGrids_;
  QTimer* Timer1 = nullptr;  // owned by the window
  TPhraseSequencer sequencer_;
  SingleInstanceLock lock_;

  TPreferences prefs_;
  bool prefsLoaded_ = false;
  double utcOffset_ = 0;
  QString logBaseName_;
  QString logPath_;
  QString prefix_;
  int memoryStep_ = 3;
  bool rigConnected_ = false;
  // Rig-control client state.
  QTimer* Timer2 = nullptr;     // owned by the window; the announcement, single shot
  QTimer* rigDefer_ = nullptr;  // owned by the window; retries events held back by a modal dialog
  bool manualMode_ = false;
  bool rigNoticeGiven_ = false;
  bool paramsPending_ = false;
  bool rigTypePending_ = false;
  bool terminate_ = false;
  bool closed_ = false;
  bool voiceFailed_ = false;
  // The voice failed while the window was being created: the box waits until the window is up.
  bool voiceFailurePending_ = false;
  // The creation sequence (FormCreate) is running.
  bool creating_ = false;
  bool keyPreview_ = false;
  bool startupReported_ = false;
  // The voices listed in cbVoices, item by item.
  std::vector<TVoiceInfo> voices_;
  QStringList problems_;
  QStringList problemPhrases_;
  // The font file registered by the font switch, or -1.
  int fontId_ = -1;
  // The control whose tooltip is the current hint (it may go away at any time).
  QPointer<QWidget> hintControl_;
  QString hint_;
  bool hintDisplay_ = true;
  QString hintFontName_;
  int hintFontSize_ = 0;
  // A mouse button is down on a log grid's cells.
  bool gridMousePressed_ = false;
  // A key is down in the log list.
  bool logListKeyDown_ = false;
  // Hands the reading controls' events to their handlers; declared last, so it goes before the
  // pages it reads from.
  std::unique_ptr<QObject> readingHook_;
};

// The one main window, set from the start of its creation to its end.
extern TForm1* Form1;

}  // namespace quillmere

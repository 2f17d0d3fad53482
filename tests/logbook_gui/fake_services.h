// Recording fakes of the logbook's outside services, for building its windows in tests without
// a display, a speech service, a sound card or a radio. TFakeServices makes one of each (with the
// capture voice) and keeps plain pointers to them after handing them to the window.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "capture_voice.h"
#include "services.h"

namespace quillmere_test {

using namespace quillmere;

// Rig 1 of a rig server: values per property, reads that fail, the writes it got.
class FakeRigLink : public RigLink {
 public:
  bool Present = true;  // Connect succeeds
  std::string Type = "TestRig 1";
  std::map<TRigProperty, int32_t> Values;
  std::set<TRigProperty> FailingReads;
  std::vector<std::pair<TRigProperty, int32_t>> Writes;
  int ConnectCalls = 0;
  bool IsConnected = false;

  bool Connect(std::string* error) override;
  void Disconnect() override { IsConnected = false; }
  bool Connected() const override { return IsConnected; }
  std::optional<int32_t> Read(TRigProperty property) override;
  bool Write(TRigProperty property, int32_t value) override;
  bool ClearRit() override { return IsConnected; }
  std::optional<std::string> RigType() override;
  bool SetDialogVisible(bool) override { return IsConnected; }
};

// Every box shown, as "kind: text" ("Message", "Error", "Information <caption>", "Question
// <caption>", "Input <caption>"); questions take their answers from the queues.
class RecordingDialogs : public Dialogs {
 public:
  QStringList Shown;
  std::deque<bool> YesNoAnswers;
  std::deque<std::optional<QString>> TextAnswers;

  void ShowMessage(const QString& text) override { Shown << "Message: " + text; }
  void ShowError(const QString& text) override { Shown << "Error: " + text; }
  void ShowInformation(const QString& caption, const QString& text) override {
    Shown << "Information " + caption + ": " + text;
  }
  bool AskYesNo(const QString& caption, const QString& text, bool defaultYes) override;
  // Recorded as "Warning <caption>: text", answered from YesNoAnswers (true: OK).
  bool AskOkCancel(const QString& caption, const QString& text) override;
  std::optional<QString> AskText(const QString& caption, const QString& prompt, const QString& initial) override;
  // Recorded as "Font <min>-<max>: <initial family> <initial size>", answered from FontAnswers.
  std::deque<std::optional<QFont>> FontAnswers;
  std::optional<QFont> ChooseFont(const QFont& initial, int minSize, int maxSize) override;
};

// Answers each dialog with the next queued file (nullopt: cancelled) and records the requests.
// A dialog of several files takes one answer too, its paths separated by line feeds.
class FakeFileChooser : public FileChooser {
 public:
  std::deque<std::optional<QString>> Answers;
  QStringList Requests;  // "Open <title> | <folder> | <filter>" ("Open files ..." for several)

  std::optional<QStringList> OpenFiles(const QString& title, const QString& folder, const QString& filter) override;

  std::optional<QString> OpenFile(const QString& title, const QString& folder, const QString& filter) override;
  std::optional<QString> SaveFile(const QString& title, const QString& folder, const QString& filter) override;
};

class FakeClock : public Clock {
 public:
  TDateTime Local = 0;
  TDateTime Now() const override { return Local; }
};

class RecordingSound : public Sound {
 public:
  std::vector<std::string> Played;
  bool Play(const std::string& path) override {
    Played.push_back(path);
    return true;
  }
  std::string LastError() const override { return std::string(); }
};

class RecordingLauncher : public Launcher {
 public:
  QStringList Opened, Started, Ran;  // Ran: "<path> <parameters>"
  bool Result = true;
  std::function<void()> OnRunAndWait;

  bool OpenDocument(const QString& path) override {
    Opened << path;
    return Result;
  }
  bool StartProgram(const QString& program, const QStringList& arguments, const QString&) override {
    Started << (program + " " + arguments.join(' '));
    return Result;
  }
  bool RunAndWait(const QString& path, const QString& parameters) override;
};

struct TFakeServices {
  CaptureVoice* voice = nullptr;
  FakeRigLink* rig = nullptr;
  RecordingDialogs* dialogs = nullptr;
  FakeFileChooser* files = nullptr;
  FakeClock* clock = nullptr;
  RecordingSound* sound = nullptr;
  RecordingLauncher* launcher = nullptr;

  // A fresh set; the pointers above stay valid while the window that owns them lives.
  TServices Make();
};

}  // namespace quillmere_test

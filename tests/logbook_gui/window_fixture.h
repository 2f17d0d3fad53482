// TWindowTest: the logbook's windows on the offscreen platform, with recording fakes for every
// outside service, a program folder of the test's own (holding copies of the delivered files)
// and a lock folder of its own, so parallel test runs never meet.
//
// A test configures the fakes (fakes.rig->Values, fakes.voice->SetVoiceList ...) and the
// folder's files, then calls Start() (which runs the main window's creation), then drives the
// window through its handlers and reads what the fakes recorded.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <QtWidgets>
#include <memory>
#include <string>

#include "PSKUnit1.h"
#include "fake_services.h"
#include "program_windows.h"

// Readable texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& list, std::ostream* out) {
  *out << '{' << list.join("\", \"").toStdString() << '}';
}

namespace quillmere_test {

class TWindowTest : public ::testing::Test {
 protected:
  TWindowTest();
  ~TWindowTest() override;

  // Copies a delivered file (from data/) into the program folder.
  void Deliver(const QString& name);
  // Copies a file the build made (the country file, the reference tables) into the program folder.
  void DeliverBuilt(const QString& name);
  void WriteFile(const QString& name, const std::string& bytes);
  std::string ReadFile(const QString& name) const;
  QString Home() const { return home_.path(); }
  TForm1Options Options() const;

  // Puts a real rig link in place of the fake one (fakes.rig is then null); before Start().
  void UseRig(std::unique_ptr<RigLink> rig) {
    services_.rig = std::move(rig);
    fakes.rig = nullptr;
  }
  // Puts a real voice in place of the capture voice (fakes.voice is then null); before Start().
  void UseVoice(std::unique_ptr<Voice> voice) {
    services_.voice = std::move(voice);
    fakes.voice = nullptr;
  }
  // Creates the program's windows with the configured fakes and returns the main window.
  TForm1& Start();
  // Start, then the main window made the active window with its start-up work done: focus moves
  // and the keyboard reach it as they reach the operator's window.
  void StartActive();
  TForm1& Form() { return windows_->Main(); }
  // Closes the main window (FormClose runs) and destroys every window.
  void CloseAndDestroy();

  // A key press and release as the keyboard delivers it: to the focus widget of the main window,
  // or to the window when none of its widgets has the focus.
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

  // Runs the event loop until the main window's waiting steps have all run.
  bool Settle(int ms = 3000);

  template <typename T>
  T* Find(const char* name) {
    T* w = Form().findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  TFakeServices fakes;

 private:
  QTemporaryDir home_;
  QTemporaryDir lock_;
  TServices services_;
  std::unique_ptr<TProgramWindows> windows_;
};

}  // namespace quillmere_test

// TPrivateSpeechDispatcher: a real speech-dispatcher started by a test, of its own (own socket,
// own configuration, no autospawn, nothing shared with the user's daemon or a screen reader's).
// Its only output module is the daemon's generic module, which writes the text of each message
// it is given and its rate into a file and then takes `secondsPerMessage` as if it were
// speaking, so later messages wait in the daemon's queue and priorities and cancels have time
// to act. Ok() is false, with Reason() saying why, only when the daemon cannot start here.
//
// SetAsDefault() points the libspeechd clients of this process at it (SPEECHD_ADDRESS) until
// the object goes. One owner; the test's thread.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace quillmere_test {

class TPrivateSpeechDispatcher {
 public:
  explicit TPrivateSpeechDispatcher(double secondsPerMessage = 0.3);
  ~TPrivateSpeechDispatcher();
  TPrivateSpeechDispatcher(const TPrivateSpeechDispatcher&) = delete;
  TPrivateSpeechDispatcher& operator=(const TPrivateSpeechDispatcher&) = delete;

  bool Ok() const { return ok_; }
  const QString& Reason() const { return reason_; }
  QString Socket() const { return dir_.filePath("speechd.sock"); }
  void SetAsDefault();

  // The lines the module wrote, one per message begun: "text|rate".
  QStringList Spoken() const;
  // The texts alone, in the order they were begun.
  QStringList Texts() const;
  // Waits until at least `count` messages were begun (false after `ms`).
  bool WaitForTexts(qsizetype count, int ms = 10000) const;
  // Waits until no message was begun for `quietMs` (the queue has run dry).
  void WaitForQuiet(int quietMs = 1500, int ms = 20000) const;
  QString Log() const;
  // The spelling mode the daemon handed to its module for the message that starts with `text`.
  QString SpellingFor(const QString& text) const;
  // The priority the daemon took the message that starts with `text` at ("text", "message", ...).
  QString PriorityOf(const QString& text) const;

 private:
  void Write(const QString& name, const QString& text);

  QTemporaryDir dir_;
  QProcess daemon_;
  bool ok_ = false;
  QString reason_;
  bool defaultSet_ = false;
  QByteArray previousAddress_;
};

}  // namespace quillmere_test

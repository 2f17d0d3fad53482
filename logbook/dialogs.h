// Dialogs: the logbook's message boxes and questions. The window code asks through this seam so
// that tests record what would be shown (and answer questions) without a display. QtDialogs shows
// real message boxes, modal to the active window.
//
// Main thread only.
#pragma once

#include <QFont>
#include <QString>
#include <optional>

namespace quillmere {

// The application's title: the caption of its message boxes. It is kept apart from the toolkit's
// application display name, which the toolkit would append to every window title.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A plain message with an OK button.
  virtual void ShowMessage(const QString& text) = 0;
  // An error box with an OK button (also the display of failures that end a handler).
  virtual void ShowError(const QString& text) = 0;
  // A box with its own caption and an OK button (the About box).
  virtual void ShowInformation(const QString& caption, const QString& text) = 0;
  // A Yes/No question with a question icon; true for Yes.
  virtual bool AskYesNo(const QString& caption, const QString& text, bool defaultYes) = 0;
  // A warning with the buttons OK and Cancel; true for OK. The base asks a Yes/No question.
  virtual bool AskOkCancel(const QString& caption, const QString& text);
  // A one-line input box; nullopt when cancelled.
  virtual std::optional<QString> AskText(const QString& caption, const QString& prompt, const QString& initial) = 0;
  // The font dialog: a face and a size from `minSize` to `maxSize` points, starting from
  // `initial`, whose style is kept (no style choice); nullopt when cancelled. The base cancels.
  virtual std::optional<QFont> ChooseFont(const QFont& initial, int minSize, int maxSize);
};

class QtDialogs : public Dialogs {
 public:
  void ShowMessage(const QString& text) override;
  void ShowError(const QString& text) override;
  void ShowInformation(const QString& caption, const QString& text) override;
  bool AskYesNo(const QString& caption, const QString& text, bool defaultYes) override;
  bool AskOkCancel(const QString& caption, const QString& text) override;
  std::optional<QString> AskText(const QString& caption, const QString& prompt, const QString& initial) override;
  std::optional<QFont> ChooseFont(const QFont& initial, int minSize, int maxSize) override;
};

}  // namespace quillmere

#include "dialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace quillmere {

namespace {

QWidget* Owner() { return QApplication::activeWindow(); }

QString Title() {
  const QString name = QGuiApplication::applicationDisplayName();
  return name.isEmpty() ? QStringLiteral("Quillmere") : name;
}

}  // namespace

void QtDialogs::ShowMessage(const QString& text) { QMessageBox::information(Owner(), Title(), text); }

void QtDialogs::ShowError(const QString& text) { QMessageBox::critical(Owner(), Title(), text); }

void QtDialogs::ShowInformation(const QString& caption, const QString& text) {
  QMessageBox::information(Owner(), caption, text);
}

bool QtDialogs::AskYesNo(const QString& caption, const QString& text, bool defaultYes) {
  return QMessageBox::question(Owner(), caption, text, QMessageBox::Yes | QMessageBox::No,
                               defaultYes ? QMessageBox::Yes : QMessageBox::No) == QMessageBox::Yes;
}

bool Dialogs::AskOkCancel(const QString& caption, const QString& text) { return AskYesNo(caption, text, true); }

bool QtDialogs::AskOkCancel(const QString& caption, const QString& text) {
  return QMessageBox::warning(Owner(), caption, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) ==
         QMessageBox::Ok;
}

std::optional<QString> QtDialogs::AskText(const QString& caption, const QString& prompt, const QString& initial) {
  bool ok = false;
  const QString text = QInputDialog::getText(Owner(), caption, prompt, QLineEdit::Normal, initial, &ok);
  if (!ok) return std::nullopt;
  return text;
}

}  // namespace quillmere

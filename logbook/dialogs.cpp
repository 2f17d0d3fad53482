#include "dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QSpinBox>
#include <algorithm>

namespace quillmere {

namespace {

QWidget* Owner() { return QApplication::activeWindow(); }

QString Title() {
  const QString name = ApplicationTitle();
  return name.isEmpty() ? QStringLiteral("Quillmere") : name;
}

constexpr const char* kTitleProperty = "quillmereApplicationTitle";

}  // namespace

void SetApplicationTitle(const QString& title) {
  if (qApp != nullptr) qApp->setProperty(kTitleProperty, title);
}

QString ApplicationTitle() { return qApp != nullptr ? qApp->property(kTitleProperty).toString() : QString(); }

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

std::optional<QFont> Dialogs::ChooseFont(const QFont&, int, int) { return std::nullopt; }

std::optional<QFont> QtDialogs::ChooseFont(const QFont& initial, int minSize, int maxSize) {
  // The toolkit's font dialog can limit neither the sizes nor leave out the style: a face list of
  // the scalable fonts and a size box with the limits, each with its caption for screen readers.
  QDialog dialog(Owner());
  dialog.setObjectName("FontDialog1");
  dialog.setWindowTitle("Font");
  auto* face = new QFontComboBox(&dialog);
  face->setObjectName("FontFace");
  face->setFontFilters(QFontComboBox::ScalableFonts);
  face->setCurrentFont(initial);
  auto* size = new QSpinBox(&dialog);
  size->setObjectName("FontSize");
  size->setRange(minSize, maxSize);
  size->setValue(std::clamp(initial.pointSize(), minSize, maxSize));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  auto* form = new QFormLayout(&dialog);
  form->addRow("&Font:", face);
  form->addRow("&Size:", size);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  QFont chosen = initial;
  chosen.setFamilies(face->currentFont().families());
  chosen.setPointSize(size->value());
  return chosen;
}

}  // namespace quillmere

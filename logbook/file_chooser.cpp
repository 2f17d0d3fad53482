#include "file_chooser.h"

#include <QApplication>
#include <QFileDialog>

namespace quillmere {

std::optional<QString> QtFileChooser::OpenFile(const QString& title, const QString& folder, const QString& filter) {
  const QString file = QFileDialog::getOpenFileName(QApplication::activeWindow(), title, folder, filter);
  if (file.isEmpty()) return std::nullopt;
  return file;
}

std::optional<QString> QtFileChooser::SaveFile(const QString& title, const QString& folder, const QString& filter) {
  const QString file = QFileDialog::getSaveFileName(QApplication::activeWindow(), title, folder, filter);
  if (file.isEmpty()) return std::nullopt;
  return file;
}

}  // namespace quillmere

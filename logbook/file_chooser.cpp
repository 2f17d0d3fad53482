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

std::optional<QStringList> FileChooser::OpenFiles(const QString& title, const QString& folder, const QString& filter) {
  const std::optional<QString> file = OpenFile(title, folder, filter);
  if (!file) return std::nullopt;
  return QStringList{*file};
}

std::optional<QStringList> QtFileChooser::OpenFiles(const QString& title, const QString& folder,
                                                    const QString& filter) {
  const QStringList files = QFileDialog::getOpenFileNames(QApplication::activeWindow(), title, folder, filter);
  if (files.isEmpty()) return std::nullopt;
  return files;
}

}  // namespace quillmere

// FileChooser: the logbook's open and save dialogs, a seam so that tests choose files without a
// display. `filter` is in the toolkit's form ("QMR logbook (*.dbf)", several separated by ";;"); the result is the chosen
// file's full path, nullopt when the operator cancels. QtFileChooser shows the real dialogs.
//
// Main thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace quillmere {

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  virtual std::optional<QString> OpenFile(const QString& title, const QString& folder, const QString& filter) = 0;
  virtual std::optional<QString> SaveFile(const QString& title, const QString& folder, const QString& filter) = 0;
  // An open dialog in which several files may be chosen; the full paths in the order the dialog
  // gives them, nullopt when cancelled. The base asks for one file.
  virtual std::optional<QStringList> OpenFiles(const QString& title, const QString& folder, const QString& filter);
};

class QtFileChooser : public FileChooser {
 public:
  std::optional<QString> OpenFile(const QString& title, const QString& folder, const QString& filter) override;
  std::optional<QString> SaveFile(const QString& title, const QString& folder, const QString& filter) override;
  std::optional<QStringList> OpenFiles(const QString& title, const QString& folder, const QString& filter) override;
};

}  // namespace quillmere

// FileChooser: the logbook's open and save dialogs, a seam so that tests choose files without a
// display. `filter` is in the toolkit's form ("QMR logbook (*.dbf)"); the result is the chosen
// file's full path, nullopt when the operator cancels. QtFileChooser shows the real dialogs.
//
// Main thread only.
#pragma once

#include <QString>
#include <optional>

namespace quillmere {

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  virtual std::optional<QString> OpenFile(const QString& title, const QString& folder, const QString& filter) = 0;
  virtual std::optional<QString> SaveFile(const QString& title, const QString& folder, const QString& filter) = 0;
};

class QtFileChooser : public FileChooser {
 public:
  std::optional<QString> OpenFile(const QString& title, const QString& folder, const QString& filter) override;
  std::optional<QString> SaveFile(const QString& title, const QString& folder, const QString& filter) override;
};

}  // namespace quillmere

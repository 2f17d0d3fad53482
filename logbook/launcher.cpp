#include "launcher.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace quillmere {

bool DesktopLauncher::OpenDocument(const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

bool DesktopLauncher::StartProgram(const QString& program, const QStringList& arguments, const QString& folder) {
  return QProcess::startDetached(program, arguments, folder);
}

bool DesktopLauncher::RunAndWait(const QString& path, const QString& parameters) {
  QProcess process;
  process.setProgram(path);
  process.setArguments(QProcess::splitCommand(parameters));
  process.setWorkingDirectory(QFileInfo(path).absolutePath());
  process.setProcessChannelMode(QProcess::ForwardedChannels);
  process.start();
  if (!process.waitForStarted(-1)) return false;
  process.waitForFinished(-1);
  return true;
}

}  // namespace quillmere

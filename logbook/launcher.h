// Launcher: starting other programs and opening documents, a seam so that tests record the
// launches. DesktopLauncher opens documents with the desktop's default application, starts
// programs detached, and runs a program to its end for RunAndWait.
//
// Main thread only.
#pragma once

#include <QString>
#include <QStringList>

namespace quillmere {

class Launcher {
 public:
  virtual ~Launcher() = default;
  // Opens a file with the desktop's default application; false when none could be started.
  virtual bool OpenDocument(const QString& path) = 0;
  // Starts a program and leaves it running; false when it could not be started.
  virtual bool StartProgram(const QString& program, const QStringList& arguments, const QString& folder) = 0;
  // Starts `path` with the blank-separated `parameters` in the path's folder and waits, without
  // a time limit, until it ends. Returns whether the program could be started.
  virtual bool RunAndWait(const QString& path, const QString& parameters) = 0;
};

class DesktopLauncher : public Launcher {
 public:
  bool OpenDocument(const QString& path) override;
  bool StartProgram(const QString& program, const QStringList& arguments, const QString& folder) override;
  bool RunAndWait(const QString& path, const QString& parameters) override;
};

}  // namespace quillmere

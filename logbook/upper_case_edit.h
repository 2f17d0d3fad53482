// upper_case_edit: a line edit whose characters are forced to upper case, whether typed or set by
// code, as call-sign boxes need. The change handler runs once per change, on the upper-cased text.
//
// Main thread only.
#pragma once

#include <functional>

class QLineEdit;

namespace quillmere {

// Upper-cases every change of `edit` (keeping the cursor) and then runs `changed`.
void ConnectUpperCaseChange(QLineEdit* edit, std::function<void()> changed);

}  // namespace quillmere

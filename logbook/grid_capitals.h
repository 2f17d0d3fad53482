// grid_capitals: the log grids take call signs and codes in capitals. Every lower-case letter a
// to z typed into a grid, or into the editor of one of its cells, reaches it as the upper-case
// letter; other keys pass unchanged. TypeInCapitals installs this on a grid view: a key filter on
// the view (whose first key opens the cell editor and is handed on to it) and a delegate whose
// editors carry the same filter. The view owns both.
//
// Main thread only.
#pragma once

class QAbstractItemView;

namespace quillmere {

void TypeInCapitals(QAbstractItemView* grid);

}  // namespace quillmere

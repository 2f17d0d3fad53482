// accessibility: the logbook's controls as a screen reader presents them. Every control's hint
// (tooltip) doubles as its accessible description, so a screen reader reads the same words the
// logbook's own voice speaks for that control; a control that has neither a caption of its own
// nor a buddy label also takes its hint as accessible name. Input controls get their name from a
// buddy label laid out in the forms (the screen-reader bridge reports a combo box's or a tab bar's
// current text instead of a name set in code, so the buddy label is what is read).
//
// Main thread only.
#pragma once

class QWidget;

namespace quillmere {

// Applies the rule above to `root` and every widget inside it.
void ApplyHintsAsAccessibleText(QWidget* root);

}  // namespace quillmere

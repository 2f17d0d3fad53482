// accessibility: the logbook's controls as a screen reader presents them. Every control's hint
// (tooltip) doubles as its accessible description, so a screen reader reads the same words the
// logbook's own voice speaks for that control; a control that has neither a caption of its own
// nor a buddy label also takes its hint as accessible name. Input controls get their name from a
// buddy label laid out in the forms (the screen-reader bridge reports a combo box's or a tab bar's
// current text instead of a name set in code, so the buddy label is what is read).
//
// Side windows opened by a key take the keyboard when they appear, and Escape closes them, so the
// next keys go where the operator (and the screen reader) expects them.
//
// Main thread only.
#pragma once

#include <functional>

class QGroupBox;
class QString;
class QWidget;

namespace quillmere {

// Applies the rule above to `root` and every widget inside it.
void ApplyHintsAsAccessibleText(QWidget* root);

// Raises and activates `window` and puts the focus on `first` (for the window's show event).
void TakeKeyboard(QWidget* window, QWidget* first);

// Escape, pressed anywhere in `window`, runs `close` (the window's own close action).
void CloseOnEscape(QWidget* window, std::function<void()> close);

// Names a focus stop that has neither caption nor buddy label, with its description.
void NameStop(QWidget* stop, const QString& name, const QString& description);

// A titled choice group inside another titled group: its title names it and its items, and it is
// no longer labelled by the outer group (the toolkit labels every widget in a titled group box by
// that box, so a reader would name the inner group's items after the outer title).
void NameChoiceGroup(QGroupBox* group);

}  // namespace quillmere

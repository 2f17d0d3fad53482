// radio_group: a group box of radio buttons used as one choice with an item index, as the
// logbook's forms lay them out ("BAND LIMITS", "ToolTips", "Grammar"): the items are the group's
// radio buttons in the order of the form, index -1 when none is chosen.
//
// Main thread only.
#pragma once

#include <QString>

class QGroupBox;
class QRadioButton;

namespace quillmere {

int RadioGroupCount(const QGroupBox* group);
int RadioGroupIndex(const QGroupBox* group);
// Chooses item `index`; an index out of range clears the choice.
void SetRadioGroupIndex(QGroupBox* group, int index);
// The caption of item `index` (without its Alt marker), empty out of range.
QString RadioGroupCaption(const QGroupBox* group, int index);
QRadioButton* RadioGroupItem(const QGroupBox* group, int index);

}  // namespace quillmere

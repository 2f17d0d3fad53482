#include "find_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace quillmere {

TFindDialog::TFindDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("FindDialog1");
  setWindowTitle("Find");
  setModal(false);
  auto* label = new QLabel("Fi&nd what:", this);
  text_ = new QLineEdit(this);
  text_->setObjectName("FindText");
  label->setBuddy(text_);
  wholeWord_ = new QCheckBox("Match &whole word only", this);
  wholeWord_->setObjectName("WholeWord");
  matchCase_ = new QCheckBox("Match &case", this);
  matchCase_->setObjectName("MatchCase");
  auto* direction = new QGroupBox("Direction", this);
  up_ = new QRadioButton("&Up", direction);
  down_ = new QRadioButton("&Down", direction);
  down_->setChecked(true);
  auto* directionLayout = new QHBoxLayout(direction);
  directionLayout->addWidget(up_);
  directionLayout->addWidget(down_);
  findNext_ = new QPushButton("&Find Next", this);
  findNext_->setObjectName("FindNext");
  findNext_->setDefault(true);
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("Cancel");

  auto* grid = new QGridLayout(this);
  grid->addWidget(label, 0, 0);
  grid->addWidget(text_, 0, 1);
  grid->addWidget(findNext_, 0, 2);
  grid->addWidget(wholeWord_, 1, 0, 1, 2);
  grid->addWidget(cancel_, 1, 2);
  grid->addWidget(matchCase_, 2, 0);
  grid->addWidget(direction, 2, 1);

  connect(findNext_, &QPushButton::clicked, this, [this] {
    findNextFlag_ = true;
    emit Find();
  });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

QString TFindDialog::FindText() const { return text_->text(); }

void TFindDialog::SetFindText(const QString& text) { text_->setText(text); }

TFindDialog::Options TFindDialog::GetOptions() const {
  Options options;
  if (down_->isChecked()) options |= frDown;
  if (findNextFlag_) options |= frFindNext;
  if (matchCase_->isChecked()) options |= frMatchCase;
  if (wholeWord_->isChecked()) options |= frWholeWord;
  return options;
}

void TFindDialog::SetOptions(Options options) {
  down_->setChecked(options.testFlag(frDown));
  up_->setChecked(!options.testFlag(frDown));
  findNextFlag_ = options.testFlag(frFindNext);
  matchCase_->setChecked(options.testFlag(frMatchCase));
  wholeWord_->setChecked(options.testFlag(frWholeWord));
}

void TFindDialog::SetHiddenOptions(Options options) {
  wholeWord_->setVisible(!options.testFlag(frWholeWord));
  matchCase_->setVisible(!options.testFlag(frMatchCase));
}

void TFindDialog::SetDisabledOptions(Options options) {
  wholeWord_->setEnabled(!options.testFlag(frWholeWord));
  matchCase_->setEnabled(!options.testFlag(frMatchCase));
  up_->setEnabled(!options.testFlag(frDown));
}

void TFindDialog::Execute() {
  show();
  raise();
  activateWindow();
  text_->setFocus();
}

}  // namespace quillmere

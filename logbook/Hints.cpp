#include "Hints.h"

#include <QLabel>
#include <QStatusBar>

#include "ui_Hints.h"

namespace quillmere {

THintBox* HintBox = nullptr;

THintBox::THintBox(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), ui_(std::make_unique<Ui::THintBox>()) {
  HintBox = this;
  ui_->setupUi(this);
  // The box only mirrors hints: showing it leaves the keyboard where the operator is working.
  setAttribute(Qt::WA_ShowWithoutActivating);
  panel_ = new QLabel(ui_->StatusBar1);
  panel_->setObjectName("StatusBar1Panel0");
  panel_->setAlignment(Qt::AlignCenter);
  panel_->setTextFormat(Qt::PlainText);
  QFont font("Arial");
  font.setPixelSize(64);
  panel_->setFont(font);
  // The one panel takes the whole bar, so the hint stays centred however wide the box is.
  ui_->StatusBar1->addWidget(panel_, 1);
  ui_->StatusBar1->setMinimumHeight(panel_->sizeHint().height());
}

THintBox::~THintBox() {
  if (HintBox == this) HintBox = nullptr;
}

QString THintBox::PanelText() const { return panel_->text(); }

void THintBox::SetPanelText(const QString& text) { panel_->setText(text); }

}  // namespace quillmere

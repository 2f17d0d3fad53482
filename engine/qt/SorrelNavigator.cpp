// The navigator bar: buttons drawn from the model's state, events forwarded to it.
#include "SorrelNavigator.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionFocusRect>

namespace {

const char* const kObjectNames[kSorrelNavButtonCount] = {
    "nbTop",  "nbPrev", "nbNext",   "nbBttm",   "nbInsert", "nbCopy",
    "nbEdit", "nbDelete", "nbPost", "nbCancel", "nbFind",   "nbRefresh"};

constexpr int kGlyph = 16;

// The button's picture: a 16 x 16 glyph; Qt derives the disabled look from it.
QIcon Glyph(TSorrelNavigateBtn kind) {
  QPixmap pixmap(kGlyph, kGlyph);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::black, 1.5));
  p.setBrush(Qt::black);
  auto triangle = [&](double tipX, double baseX) {
    QPainterPath path;
    path.moveTo(tipX, 8);
    path.lineTo(baseX, 3);
    path.lineTo(baseX, 13);
    path.closeSubpath();
    p.drawPath(path);
  };
  switch (kind) {
    case nbTop:
      p.drawLine(QPointF(4, 3), QPointF(4, 13));
      triangle(5, 12);
      break;
    case nbPrev:
      triangle(4, 11);
      break;
    case nbNext:
      triangle(12, 5);
      break;
    case nbBttm:
      p.drawLine(QPointF(12, 3), QPointF(12, 13));
      triangle(11, 4);
      break;
    case nbInsert:
      p.drawLine(QPointF(8, 3), QPointF(8, 13));
      p.drawLine(QPointF(3, 8), QPointF(13, 8));
      break;
    case nbCopy:
      p.setBrush(Qt::NoBrush);
      p.drawRect(QRectF(2.5, 2.5, 8, 8));
      p.drawRect(QRectF(5.5, 5.5, 8, 8));
      break;
    case nbEdit:
      p.drawLine(QPointF(3, 13), QPointF(13, 3));
      p.drawLine(QPointF(3, 13), QPointF(6, 13));
      break;
    case nbDelete:
      p.drawLine(QPointF(3, 8), QPointF(13, 8));
      break;
    case nbPost:
      p.setBrush(Qt::NoBrush);
      p.drawPolyline(QPolygonF({QPointF(3, 8), QPointF(7, 12), QPointF(13, 4)}));
      break;
    case nbCancel:
      p.drawLine(QPointF(4, 4), QPointF(12, 12));
      p.drawLine(QPointF(12, 4), QPointF(4, 12));
      break;
    case nbFind:
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QRectF(3, 3, 7, 7));
      p.drawLine(QPointF(9, 9), QPointF(13, 13));
      break;
    case nbRefresh:
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(3, 3, 10, 10), 30 * 16, 300 * 16);
      p.drawLine(QPointF(13, 4), QPointF(13, 8));
      break;
  }
  return QIcon(pixmap);
}

// A button of the bar as a screen reader sees it. The bar keeps the keyboard focus and a
// highlight moves over its buttons; the highlighted button is the one reported as focused, with
// its hint as name and its own enabled state, and it can be pressed through the reader.
class TSorrelNavButtonAccessible : public QAccessibleWidget {
 public:
  explicit TSorrelNavButtonAccessible(TSorrelNavButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.focusable = true;
    state.focused = Button()->Highlighted();
    return state;
  }
  QStringList actionNames() const override { return QStringList(pressAction()) + QAccessibleWidget::actionNames(); }
  void doAction(const QString& name) override {
    if (name != pressAction()) {
      QAccessibleWidget::doAction(name);
      return;
    }
    if (Button()->isEnabled() && Button()->isVisible()) Button()->click();
  }

 private:
  TSorrelNavButton* Button() const { return static_cast<TSorrelNavButton*>(widget()); }
};

// The bar as a tool bar whose focused child is the highlighted button. The bar never reports the
// focus as its own, so a screen reader that receives the bar's focus event (the toolkit sends one
// when the bar takes the focus) follows the button's instead.
class TSorrelNavigatorAccessible : public QAccessibleWidget {
 public:
  explicit TSorrelNavigatorAccessible(TSorrelNavigator* bar) : QAccessibleWidget(bar, QAccessible::ToolBar) {}

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.focused = false;
    return state;
  }
  QAccessibleInterface* focusChild() const override {
    auto* bar = static_cast<TSorrelNavigator*>(widget());
    if (!bar->hasFocus()) return nullptr;
    return QAccessible::queryAccessibleInterface(bar->Button(bar->Model().FocusedButton()));
  }
};

QAccessibleInterface* NavigatorAccessibleFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("TSorrelNavButton"))
    return new TSorrelNavButtonAccessible(static_cast<TSorrelNavButton*>(object));
  if (className == QLatin1String("TSorrelNavigator"))
    return new TSorrelNavigatorAccessible(static_cast<TSorrelNavigator*>(object));
  return nullptr;
}

}  // namespace

// The one repeat timer: prior and next are never held down together.
class TSorrelNavigator::RepeatTimer : public TSorrelNavTimer {
 public:
  explicit RepeatTimer(TSorrelNavigator* navigator) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, navigator, [navigator] {
      navigator->Guard([navigator] { navigator->model_.RepeatTick(); });
    });
  }
  void Start(int milliseconds) override { timer_.start(milliseconds); }
  void Stop() override { timer_.stop(); }
  bool IsActive() const { return timer_.isActive(); }

 private:
  QTimer timer_;
};

TSorrelNavButton::TSorrelNavButton(TSorrelNavigator* navigator, TSorrelNavigateBtn index)
    : QToolButton(navigator), navigator_(navigator), index_(index) {
  setObjectName(kObjectNames[index]);
  setFocusPolicy(Qt::NoFocus);
  setIcon(Glyph(index));
  setIconSize(QSize(kGlyph, kGlyph));
  setProperty("resourceName", QString::fromStdString(SorrelNavResourceName(index)));
}

bool TSorrelNavButton::Highlighted() const {
  return navigator_->hasFocus() && navigator_->model_.FocusedButton() == index_;
}

void TSorrelNavButton::paintEvent(QPaintEvent* event) {
  QToolButton::paintEvent(event);
  if (!Highlighted()) return;
  // The focus frame sits 3 pixels inside the button, one pixel lower right while pressed.
  QRect frame = rect().adjusted(3, 3, -3, -3);
  if (isDown()) frame.translate(1, 1);
  QPainter painter(this);
  QStyleOptionFocusRect option;
  option.initFrom(this);
  option.rect = frame;
  style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

TSorrelNavigator::TSorrelNavigator(QWidget* parent)
    : QFrame(parent), timer_(std::make_unique<RepeatTimer>(this)) {
  static const bool accessibleInstalled = (QAccessible::installFactory(NavigatorAccessibleFactory), true);
  (void)accessibleInstalled;
  setObjectName("SorrelNavigator");
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName(tr("Navigator"));
  setAutoFillBackground(true);
  ShowError = [this](const std::string& text) {
    QMessageBox::critical(this, QString(), QString::fromStdString(text));
  };
  model_.Confirm = [this](const std::string& question) {
    return QMessageBox::question(this, QString(), QString::fromStdString(question),
                                 QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Cancel;
  };
  model_.SetRepeatTimer(timer_.get());
  for (int i = 0; i < kSorrelNavButtonCount; ++i) {
    auto kind = static_cast<TSorrelNavigateBtn>(i);
    auto* button = new TSorrelNavButton(this, kind);  // owned by the bar as its child
    button->setGeometry(kSorrelNavMinButtonWidth * i, 0, kSorrelNavMinButtonWidth,
                        kSorrelNavMinButtonHeight);
    connect(button, &QToolButton::pressed, this, [this, kind] {
      ButtonMouseDown(kind);
      Guard([this, kind] { model_.ButtonPressed(kind); });
    });
    connect(button, &QToolButton::released, this,
            [this, kind] { model_.ButtonReleased(kind); });
    connect(button, &QToolButton::clicked, this,
            [this, kind] { Guard([this, kind] { model_.ButtonClicked(kind); }); });
    buttons_[static_cast<size_t>(i)] = button;
  }
  model_.OnChange = [this] {
    Sync();
    AnnounceHighlight();
  };
  resize(kSorrelNavDefaultWidth, kSorrelNavDefaultHeight);
  model_.Loaded();
  Fit();
  Sync();
}

TSorrelNavigator::~TSorrelNavigator() {
  model_.OnChange = nullptr;
  model_.SetRepeatTimer(nullptr);
}

void TSorrelNavigator::SetVisibleButtons(TSorrelButtonSet buttons) {
  model_.SetVisibleButtons(buttons);
  Fit();
  update();
}

void TSorrelNavigator::SetAligned(bool on) {
  aligned_ = on;
  Fit();
}

void TSorrelNavigator::Sync() {
  for (int i = 0; i < kSorrelNavButtonCount; ++i) {
    auto kind = static_cast<TSorrelNavigateBtn>(i);
    TSorrelNavButton* button = buttons_[static_cast<size_t>(i)];
    if (button == nullptr) continue;
    const QString hint = QString::fromStdString(model_.ButtonHint(kind));
    button->setToolTip(hint);
    button->setAccessibleName(hint.trimmed());
    button->setEnabled(model_.ButtonEnabled(kind));
    button->setVisible(model_.ButtonVisible(kind));
    button->setAutoRaise(model_.Flat());
    button->update();
  }
}

void TSorrelNavigator::Fit() {
  if (fitting_) return;
  fitting_ = true;
  TSorrelNavLayout layout = SorrelNavFit(width(), height(), model_.VisibleButtons(), !aligned_);
  if (layout.width != width() || layout.height != height()) resize(layout.width, layout.height);
  for (int i = 0; i < kSorrelNavButtonCount; ++i) {
    const TSorrelNavRect& r = layout.buttons[static_cast<size_t>(i)];
    buttons_[static_cast<size_t>(i)]->setGeometry(r.x, r.y, r.width, r.height);
  }
  fitting_ = false;
}

QSize TSorrelNavigator::sizeHint() const {
  TSorrelNavLayout layout = SorrelNavFit(kSorrelNavDefaultWidth, kSorrelNavDefaultHeight,
                                         model_.VisibleButtons(), true);
  return {layout.width, layout.height};
}

QSize TSorrelNavigator::minimumSizeHint() const {
  const int count = std::max(1, static_cast<int>(model_.VisibleButtons().count()));
  return {count * kSorrelNavMinButtonWidth, kSorrelNavMinButtonHeight};
}

void TSorrelNavigator::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  Fit();
}

void TSorrelNavigator::keyPressEvent(QKeyEvent* event) {
  TSorrelNavKey key = TSorrelNavKey::Other;
  switch (event->key()) {
    case Qt::Key_Space:
      key = TSorrelNavKey::Space;
      break;
    case Qt::Key_Left:
      key = TSorrelNavKey::Left;
      break;
    case Qt::Key_Right:
      key = TSorrelNavKey::Right;
      break;
    default:
      break;
  }
  // Shift, Ctrl or the keypad's own arrows change nothing: the key is what counts.
  if (key == TSorrelNavKey::Other) {
    QFrame::keyPressEvent(event);
    return;
  }
  TSorrelNavigateBtn before = model_.FocusedButton();
  Guard([this, key] { model_.KeyDown(key); });
  if (before != model_.FocusedButton()) {
    buttons_[before]->update();
    buttons_[model_.FocusedButton()]->update();
  }
  AnnounceHighlight();
  event->accept();
}

void TSorrelNavigator::focusInEvent(QFocusEvent* event) {
  QFrame::focusInEvent(event);
  buttons_[model_.FocusedButton()]->update();
  announced_ = -1;
  // The toolkit reports the bar itself as focused once this handler returns: the button's report
  // follows it, so a screen reader ends on the button.
  QMetaObject::invokeMethod(this, [this] { AnnounceHighlight(); }, Qt::QueuedConnection);
}

void TSorrelNavigator::focusOutEvent(QFocusEvent* event) {
  QFrame::focusOutEvent(event);
  buttons_[model_.FocusedButton()]->update();
  announced_ = -1;
}

void TSorrelNavigator::AnnounceHighlight() {
  // Only while the bar has the keyboard focus, and once per button the highlight reaches.
  if (!hasFocus() || announced_ == model_.FocusedButton()) return;
  announced_ = model_.FocusedButton();
  QAccessibleEvent focus(buttons_[model_.FocusedButton()], QAccessible::Focus);
  QAccessible::updateAccessibility(&focus);
}

void TSorrelNavigator::changeEvent(QEvent* event) {
  QFrame::changeEvent(event);
  // The bar's own Enabled takes part in the enabling rules.
  if (event->type() == QEvent::EnabledChange) model_.SetEnabled(isEnabled());
}

void TSorrelNavigator::ButtonMouseDown(TSorrelNavigateBtn index) {
  TSorrelNavigateBtn before = model_.FocusedButton();
  model_.SetFocusedButton(index);
  if (focusPolicy() & Qt::TabFocus && !hasFocus()) {
    setFocus(Qt::MouseFocusReason);
  } else if (hasFocus() && before != index) {
    buttons_[before]->update();
    buttons_[index]->update();
  }
}

void TSorrelNavigator::Guard(const std::function<void()>& action) {
  try {
    action();
  } catch (const EAbort&) {
    // A silent abort: nothing to show.
  } catch (const std::exception& e) {
    if (ShowError) ShowError(e.what());
  }
}

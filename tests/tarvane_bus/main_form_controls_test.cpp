// The settings dialog's controls as the form file lays them out: every control by its name, with
// its caption, list entries, limits, accessible name, keyboard shortcut and place in the tab order,
// so that a screen-reader user meets the dialog as a sighted user does. Offscreen, fake rigs.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTemporaryDir>

#include "fake_rig.h"
#include "main_form.h"
#include "server_app.h"

using namespace tarvane;  // NOLINT
using tarvane_test::FakeRig;

namespace {

QStringList Items(const QComboBox& box) {
  QStringList items;
  for (int i = 0; i < box.count(); ++i) items << box.itemText(i);
  return items;
}

template <size_t N>
QStringList Texts(const std::array<const char*, N>& texts) {
  QStringList list;
  for (const char* t : texts) list << t;
  return list;
}

class MainFormControls : public ::testing::Test {
 protected:
  void SetUp() override {
    TMainFormOptions o;
    o.ProgramFolder = home.path().toStdString();
    o.ListPorts = [] { return std::vector<std::string>{"COM1"}; };
    o.VersionMajor = 2;
    o.VersionMinor = 7;
    o.Quit = [] {};
    o.RigFactory = [](int n, std::function<void(const std::string&)>, TRigEvents& events) {
      return std::make_unique<FakeRig>(n, &events);
    };
    form = std::make_unique<TMainForm>(o);
  }

  template <class T>
  T* Find(const char* name) {
    T* w = form->findChild<T*>(name);
    EXPECT_NE(nullptr, w) << name;
    return w;
  }

  // A settings control: found by name, introduced by its label (the label's buddy, so its
  // caption is what a screen reader announces too) and carrying the caption as accessible name.
  template <class T>
  T* Control(const char* name, const char* caption) {
    T* control = Find<T>(name);
    auto* label = Find<QLabel>((std::string(name) + "Label").c_str());
    if (!control || !label) return nullptr;
    EXPECT_EQ(caption, label->text().toStdString()) << name;
    EXPECT_EQ(control, label->buddy()) << name;
    EXPECT_EQ(caption, control->accessibleName().toStdString()) << name;
    return control;
  }

  QTemporaryDir home;
  std::unique_ptr<TMainForm> form;
};

TEST_F(MainFormControls, WindowTabsAndButtons) {
  EXPECT_EQ("MainForm", form->objectName().toStdString());
  EXPECT_EQ("Tarvane Settings", form->windowTitle().toStdString());
  EXPECT_EQ("Tarvane Settings", form->accessibleName().toStdString());
  EXPECT_EQ(form->minimumWidth(), form->maximumWidth());  // a fixed dialog
  EXPECT_GE(form->width(), 214);

  auto* tabs = Find<QTabBar>("TabControl1");
  ASSERT_NE(nullptr, tabs);
  EXPECT_EQ(3, tabs->count());
  EXPECT_EQ(QStringList({"RIG 1", "RIG 2", "About"}),
            QStringList({tabs->tabText(0), tabs->tabText(1), tabs->tabText(2)}));
  EXPECT_EQ("Settings pages", tabs->accessibleName().toStdString());

  auto* ok = Find<QPushButton>("OkButton");
  auto* cancel = Find<QPushButton>("CancelButton");
  ASSERT_TRUE(ok && cancel);
  EXPECT_EQ("&OK", ok->text().toStdString());
  EXPECT_EQ("&Cancel", cancel->text().toStdString());
  EXPECT_EQ("OK", ok->accessibleName().toStdString());
  EXPECT_EQ("Cancel", cancel->accessibleName().toStdString());
  EXPECT_EQ(QKeySequence(Qt::ALT | Qt::Key_O), ok->shortcut());
  EXPECT_EQ(QKeySequence(Qt::ALT | Qt::Key_C), cancel->shortcut());
  EXPECT_TRUE(ok->isDefault());  // Enter means OK
}

TEST_F(MainFormControls, SettingsControlsWithTheirCaptionsEntriesAndLimits) {
  auto* type = Control<QComboBox>("RigTypeBox", "Rig type");
  auto* port = Control<QComboBox>("PortBox", "Port");
  auto* baud = Control<QComboBox>("BaudRateBox", "Baud rate");
  auto* data = Control<QComboBox>("DataBitsBox", "Data bits");
  auto* parity = Control<QComboBox>("ParityBox", "Parity");
  auto* stop = Control<QComboBox>("StopBitsBox", "Stop bits");
  auto* rts = Control<QComboBox>("RtsBox", "RTS");
  auto* dtr = Control<QComboBox>("DtrBox", "DTR");
  auto* poll = Control<QSpinBox>("PollSpinEdit", "Poll int., ms");
  auto* timeout = Control<QSpinBox>("TimeoutSpinEdit", "Timeout, ms");
  ASSERT_TRUE(type && port && baud && data && parity && stop && rts && dtr && poll && timeout);

  for (QComboBox* box : {type, port, baud, data, parity, stop, rts, dtr})
    EXPECT_FALSE(box->isEditable()) << box->objectName().toStdString();  // drop-down lists only

  EXPECT_EQ(QStringList({"NONE"}), Items(*type));
  EXPECT_EQ(QStringList({"COM1"}), Items(*port));
  EXPECT_EQ(QStringList({"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400",
                         "56000", "57600", "115200", "128000", "256000"}),
            Items(*baud));
  // The form's entries and the texts of the settings log lines must not drift apart.
  EXPECT_EQ(QStringList({"5", "6", "7", "8"}), Items(*data));
  EXPECT_EQ(Texts(kDataBitsTexts), Items(*data));
  EXPECT_EQ(QStringList({"None", "Odd", "Even", "Mark", "Space"}), Items(*parity));
  EXPECT_EQ(Texts(kParityTexts), Items(*parity));
  EXPECT_EQ(QStringList({"1", "1.5", "2"}), Items(*stop));
  EXPECT_EQ(Texts(kStopBitsTexts), Items(*stop));
  EXPECT_EQ(QStringList({"Low", "High", "Handshake"}), Items(*rts));
  EXPECT_EQ(Texts(kRtsTexts), Items(*rts));
  EXPECT_EQ(QStringList({"Low", "High"}), Items(*dtr));
  EXPECT_EQ(Texts(kDtrTexts), Items(*dtr));

  EXPECT_EQ(100, poll->minimum());
  EXPECT_EQ(2000, poll->maximum());
  EXPECT_EQ(100, timeout->minimum());
  EXPECT_EQ(4000, timeout->maximum());
  EXPECT_EQ(kPollMin, poll->minimum());
  EXPECT_EQ(kPollMax, poll->maximum());
  EXPECT_EQ(kTimeoutMin, timeout->minimum());
  EXPECT_EQ(kTimeoutMax, timeout->maximum());
}

TEST_F(MainFormControls, AboutPanelTexts) {
  auto* about = Find<QWidget>("AboutPanel");
  ASSERT_NE(nullptr, about);
  EXPECT_FALSE(about->isVisibleTo(form.get()));  // only on the About tab
  EXPECT_EQ("Tarvane", Find<QLabel>("ProgramNameLabel")->text().toStdString());
  EXPECT_EQ("Version 2.7", Find<QLabel>("VersionLabel")->text().toStdString());
  EXPECT_EQ(" FREEWARE ", Find<QLabel>("FreewareLabel")->text().toStdString());
}

TEST_F(MainFormControls, TabOrderRunsThroughTheDialogOnce) {
  const QStringList expected = {"TabControl1", "RigTypeBox",   "PortBox",      "BaudRateBox",
                                "DataBitsBox", "ParityBox",    "StopBitsBox",  "RtsBox",
                                "DtrBox",      "PollSpinEdit", "TimeoutSpinEdit", "OkButton",
                                "CancelButton"};
  QWidget* first = Find<QWidget>("TabControl1");
  ASSERT_NE(nullptr, first);
  QStringList order;
  QWidget* w = first;
  do {
    // Skip what Tab does not stop at (labels, panels) and the inner editors of spin boxes.
    if ((w->focusPolicy() & Qt::TabFocus) && expected.contains(w->objectName())) order << w->objectName();
    w = w->nextInFocusChain();
  } while (w && w != first && order.size() <= expected.size());
  EXPECT_EQ(expected, order);
}

TEST(ServerAppBaudTable, IndexesOutsideTheTableAndUnknownRates) {
  EXPECT_EQ(110, BaudRateAt(0));
  EXPECT_EQ(9600, BaudRateAt(6));
  EXPECT_EQ(256000, BaudRateAt(14));
  EXPECT_EQ(9600, BaudRateAt(15));
  EXPECT_EQ(9600, BaudRateAt(-1));
  EXPECT_EQ(0, BaudRateIndex(110));
  EXPECT_EQ(14, BaudRateIndex(256000));
  EXPECT_EQ(0, BaudRateIndex(9601));  // a rate the table lacks shows as the first entry
  for (int i = 0; i < static_cast<int>(kBaudTable.size()); ++i) EXPECT_EQ(i, BaudRateIndex(BaudRateAt(i)));
}

}  // namespace

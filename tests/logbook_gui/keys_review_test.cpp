// The shortcut review window: reading the line at the caret (running on to the next line when the
// entry does), reading the whole review, zoom, a click selecting the line, and the search: Enter
// in the search box opens the find dialog, "Find Next" walks down from hit to hit without regard
// to case, then says there are no further occurences; a text that is nowhere is reported as not
// found; the hidden input-box search.
#include <QPlainTextEdit>
#include <QTextBlock>

#include "find_dialog.h"
#include "shortcutscreen.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

std::vector<std::string> Strings(std::initializer_list<const char*> texts) { return {texts.begin(), texts.end()}; }

}  // namespace

class ReviewTest : public TWindowTest {
 protected:
  void SetUp() override {
    Start();
    ASSERT_TRUE(Settle());
    shortcuts->show();
    memo = shortcuts->findChild<QPlainTextEdit*>("Memo1");
    ASSERT_NE(memo, nullptr);
    fakes.voice->Clear();
  }
  QPushButton* Button(const char* name) { return shortcuts->findChild<QPushButton*>(name); }
  // Puts the caret on the line that begins with `start`.
  void CaretTo(const QString& start) {
    for (QTextBlock b = memo->document()->begin(); b.isValid(); b = b.next())
      if (b.text().startsWith(start)) {
        QTextCursor c(b);
        memo->setTextCursor(c);
        return;
      }
    FAIL() << "no line begins with " << start.toStdString();
  }
  std::vector<std::string> Heard() {
    EXPECT_TRUE(Settle());
    std::vector<std::string> spoken = fakes.voice->Spoken();
    fakes.voice->Clear();
    return spoken;
  }
  void Find(const QString& text) {
    auto* edit = shortcuts->findChild<QLineEdit*>("Edit1");
    edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(shortcuts->FindDialog1().isVisible());
    ASSERT_EQ(shortcuts->FindDialog1().FindText(), text);
    FindNext();
  }
  void FindNext() { shortcuts->FindDialog1().FindNextButton()->click(); }

  QPlainTextEdit* memo = nullptr;
};

TEST_F(ReviewTest, ReadingLinesTheWholeReviewAndZoomingWhateverTheSpeechState) {
  // Reading speaks with speech off too.
  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();

  struct Case {
    const char* line;
    std::vector<std::string> spoken;
  } cases[] = {
      {"Ctrl + S", Strings({"Ctrl + S   Activates the speech system."})},
      // An entry without its closing period runs on to the next line, which closes it.
      {"Ctrl + M", Strings({"Ctrl + M   Manual operation: lets you work with the QMR",
                            "without a radio connection, choosing band and mode yourself.."})},
      {"   without a radio", Strings({"without a radio connection, choosing band and mode yourself."})},
      {"MENU FUNCTIONS.", Strings({"MENU FUNCTIONS."})},
      // The last line has nothing after it.
      {"Alt + H", Strings({"Alt + H   Shows or hides the large hint box."})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    CaretTo(c.line);
    Button("Button5")->click();
    EXPECT_EQ(Heard(), c.spoken);
  }

  // A click selects the whole line under it; a double click reads it.
  CaretTo("Ctrl + Q");
  const QRect line = memo->cursorRect();
  QTest::mouseClick(memo->viewport(), Qt::LeftButton, {}, line.center() + QPoint(20, 0));
  EXPECT_EQ(memo->textCursor().selectedText(), "Ctrl + Q   Quits the speech system. ");
  QTest::mouseDClick(memo->viewport(), Qt::LeftButton, {}, line.center() + QPoint(20, 0));
  EXPECT_EQ(Heard(), Strings({"Ctrl + Q   Quits the speech system."}));

  Button("Button4")->click();
  EXPECT_EQ(Heard(), std::vector<std::string>{memo->toPlainText().toStdString()});

  // Zoom and unzoom by a tenth, rounded to the nearest size; at 5 points a tenth rounds away, so
  // the text never shrinks to nothing.
  EXPECT_EQ(memo->font().pointSize(), 12);
  Button("Button2")->click();
  EXPECT_EQ(memo->font().pointSize(), 13);
  Button("Button8")->click();
  EXPECT_EQ(memo->font().pointSize(), 12);
  for (int i = 0; i < 40; ++i) Button("Button8")->click();
  EXPECT_EQ(memo->font().pointSize(), 5);
}

TEST_F(ReviewTest, FindWalksDownFromHitToHitThenSaysThereAreNoMore) {
  const QString text = memo->toPlainText();
  // Nothing found before any hit: an error box, the phrases, and the line at the caret read.
  CaretTo("MENU FUNCTIONS.");
  Find("zebra");
  EXPECT_EQ(fakes.dialogs->Shown, QStringList{"Error: Could not find \"zebra\"."});
  EXPECT_EQ(Heard(), Strings({"Searching for. zebra.", "Could not find zebra.", "MENU FUNCTIONS."}));
  EXPECT_EQ(shortcuts->LastHit(), 0);
  // An empty text finds nothing either.
  Find("");
  EXPECT_EQ(fakes.dialogs->Shown.last(), "Error: Could not find \"\".");
  fakes.dialogs->Shown.clear();
  fakes.voice->Clear();

  // Case does not matter; each hit is selected, focused, said, and its line read.
  Find("HINT");
  const int first = int(text.indexOf("hint")) + 1;
  EXPECT_EQ(shortcuts->LastHit(), first);
  EXPECT_EQ(memo->textCursor().selectedText(), "hint");
  EXPECT_EQ(memo->textCursor().selectionStart(), first - 1);
  EXPECT_EQ(shortcuts->focusWidget(), memo);
  EXPECT_EQ(Heard(), Strings({"Searching for. HINT.", "found. HINT.",
                              "Note: the large hint box and, in manual operation, the band change",
                              "have keys of their own, listed under PROGRAM FUNCTIONS.."}));
  // The dialog stays open; "Find Next" goes on from just after the hit.
  EXPECT_TRUE(shortcuts->FindDialog1().isVisible());
  FindNext();
  EXPECT_EQ(shortcuts->LastHit(), int(text.lastIndexOf("hint")) + 1);
  EXPECT_GT(shortcuts->LastHit(), first);
  EXPECT_EQ(Heard(), Strings({"found. HINT.", "Alt + H   Shows or hides the large hint box."}));
  const int last = shortcuts->LastHit();
  // Past the last hit: the message, and the position stays at the last hit.
  FindNext();
  EXPECT_EQ(fakes.dialogs->Shown, QStringList{"Error: There are no further occurences of \"HINT\" "});
  EXPECT_EQ(Heard(), Strings({"There are no further occurences of HINT. ", "Alt + H   Shows or hides the large hint box."}));
  EXPECT_EQ(shortcuts->LastHit(), last);

  // The position survives hiding: the next search goes on from the last hit.
  shortcuts->hide();
  shortcuts->show();
  fakes.dialogs->Shown.clear();
  Find("alt");
  EXPECT_EQ(fakes.dialogs->Shown, QStringList{"Error: There are no further occurences of \"alt\" "});

  // With speech off nothing of the search is said; the line is still read.
  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();
  FindNext();
  EXPECT_EQ(Heard(), Strings({"Alt + H   Shows or hides the large hint box."}));
}

TEST_F(ReviewTest, HiddenInputBoxSearchMatchesCase) {
  fakes.dialogs->TextAnswers = {QString("Ctrl + R"), QString("ctrl + r"), std::nullopt};
  Button("Button7")->click();
  EXPECT_EQ(memo->textCursor().selectedText(), "Ctrl + R");
  Button("Button7")->click();
  Button("Button7")->click();
  EXPECT_EQ(fakes.dialogs->Shown, (QStringList{"Input Find Text: Enter text to find:",
                                               "Input Find Text: Enter text to find:", "Message: not found",
                                               "Input Find Text: Enter text to find:"}));
}

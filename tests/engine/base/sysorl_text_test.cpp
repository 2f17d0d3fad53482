#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/SysSorl.h"

TEST(SysWildMatch, EmptyAndLoneStarPatterns) {
  EXPECT_EQ(SysWildMatch("", "ABC"), 0);
  EXPECT_EQ(SysWildMatch("", ""), 0);
  // A lone star stands for any text, the empty one included: the length test only concerns the
  // pattern's body, and a lone star has none.
  EXPECT_NE(SysWildMatch("*", ""), 0);
  EXPECT_NE(SysWildMatch("*", "A"), 0);
  EXPECT_NE(SysWildMatch("**", "AB"), 0);
  EXPECT_EQ(SysWildMatch("ABCD", "ABC"), 0);
}

TEST(SysWildMatch, LengthTestConcernsTheBodyWithoutStars) {
  EXPECT_NE(SysWildMatch("W1A*", "W1A"), 0);
  EXPECT_NE(SysWildMatch("*W1A", "W1A"), 0);
  EXPECT_NE(SysWildMatch("*W1A*", "W1A"), 0);
  EXPECT_NE(SysWildMatch("W?A*", "W1A"), 0);
  EXPECT_EQ(SysWildMatch("W1AW*", "W1A"), 0);  // the body itself is longer
  EXPECT_EQ(SysWildMatch("*W1AW*", "W1A"), 0);
  EXPECT_EQ(SysWildMatch("W1A?*", "W1A"), 0);  // "?" needs a character of its own
}

TEST(SysWildMatch, StarsMeanContainment) {
  EXPECT_NE(SysWildMatch("W1*", "W1AW"), 0);
  EXPECT_NE(SysWildMatch("W1*", "KW1X"), 0);  // anywhere, not only as prefix
  EXPECT_NE(SysWildMatch("*AW", "W1AW"), 0);
  EXPECT_NE(SysWildMatch("*1A*", "W1AW"), 0);
  EXPECT_EQ(SysWildMatch("W2*", "W1AW"), 0);
  EXPECT_EQ(SysWildMatch("w1*", "W1AW"), 0);  // case matters
  EXPECT_EQ(SysWildMatch("W1AW", "W1AW"), 1);
}

TEST(SysWildMatch, QuestionMarkCountsFromTextStartOnlyWithoutLeadingStar) {
  EXPECT_NE(SysWildMatch("A?C", "AXC"), 0);
  EXPECT_NE(SysWildMatch("A?C", "AXCDEF"), 0);
  EXPECT_NE(SysWildMatch("A?C", "ZZA?CZZ"), 0);  // the pattern itself occurs
  EXPECT_EQ(SysWildMatch("A?C", "ZAXC"), 0);     // "?" only stands at position 2
  EXPECT_EQ(SysWildMatch("*A?C", "AXC"), 0);     // literal "?" behind a leading star
  EXPECT_NE(SysWildMatch("*A?C", "ZA?C"), 0);
  EXPECT_NE(SysWildMatch("??", "QX"), 0);
}

TEST(SysPos, FindsFirstOccurrenceOneBased) {
  EXPECT_EQ(SysPos("B", "ABCB"), 2);
  EXPECT_EQ(SysPos("ABCB", "ABCB"), 1);
  EXPECT_EQ(SysPos("X", "ABC"), 0);
  EXPECT_EQ(SysPos("", "ABC"), 0);
  EXPECT_EQ(SysPos("ABCD", "ABC"), 0);
}

TEST(SysCase, MapsEveryCp1252LetterAndLeavesOthers) {
  EXPECT_EQ(SysUpperCase("call w1aw/p"), "CALL W1AW/P");
  EXPECT_EQ(SysLowerCase("CALL W1AW/P"), "call w1aw/p");
  EXPECT_EQ(SysUpperCase("\xE9\xE0\xFC\xF8\x9A\x9C\x9E\xFF"), "\xC9\xC0\xDC\xD8\x8A\x8C\x8E\x9F");
  EXPECT_EQ(SysLowerCase("\xC9\xC0\xDC\xD8\x8A\x8C\x8E\x9F"), "\xE9\xE0\xFC\xF8\x9A\x9C\x9E\xFF");
  // Division / multiplication signs, sharp s and micro sign have no case partner.
  EXPECT_EQ(SysUpperCase("\xF7\xDF\xB5"), "\xF7\xDF\xB5");
  EXPECT_EQ(SysLowerCase("\xD7"), "\xD7");
  // Every byte round-trips through lower and upper case when it has a partner.
  for (int c = 0; c < 256; ++c) {
    const std::string s(1, static_cast<char>(c));
    const std::string up = SysUpperCase(s);
    const std::string low = SysLowerCase(s);
    if (up != s) {
      EXPECT_EQ(SysLowerCase(up), s) << c;
    }
    if (low != s) {
      EXPECT_EQ(SysUpperCase(low), s) << c;
    }
  }
}

// Selects a collation for one test and restores the environment's choice afterwards.
class CollationScope {
 public:
  explicit CollationScope(const char* name) : inForce_(SysSetCollationLocale(name)) {}
  ~CollationScope() { SysSetCollationLocale(nullptr); }
  bool InForce() const { return inForce_; }

 private:
  bool inForce_;
};

TEST(SysCompare, CaseInsensitiveAndCaseSensitiveOrders) {
  const CollationScope fixedRule("C");
  EXPECT_FALSE(fixedRule.InForce());
  EXPECT_EQ(SysCompareText("station", "STATION"), 0);
  EXPECT_LT(SysCompareText("abc", "ABD"), 0);
  EXPECT_LT(SysCompareText("AB", "abc"), 0);
  EXPECT_GT(SysCompareText("\xE9t\xE9", "\xC9T"), 0);

  EXPECT_LT(SysCompareStr("a", "B"), 0);  // letters first, case second
  EXPECT_LT(SysCompareStr("a", "A"), 0);
  EXPECT_LT(SysCompareStr("A", "b"), 0);
  EXPECT_GT(SysCompareStr("Ab", "ab"), 0);
  EXPECT_EQ(SysCompareStr("W1AW", "W1AW"), 0);
  EXPECT_LT(SysCompareStr("W1", "W1AW"), 0);

  EXPECT_EQ(SysStrIComp("Date", "DATE"), 0);
  EXPECT_EQ(SysStrIComp("DATE", "TIME"), -1);
  EXPECT_EQ(SysStrComp("b", "a"), 1);
  EXPECT_EQ(SysStrComp("date", "DATE"), -1);
  EXPECT_EQ(SysStrComp(nullptr, ""), 0);
}

TEST(SysCodePages, CharactersOfBothPagesRoundTripByteForByte) {
  const std::string ansi = "Caf\xE9 M\xFCller \xC4\xD6\xDC \xDF \xA3 \xFF \xF1";
  std::string oem(ansi.size(), '\0');
  SysAnsiToOem(ansi.data(), oem.data(), ansi.size());
  EXPECT_EQ(oem, "Caf\x82 M\x81ller \x8E\x99\x9A \xE1 \x9C \x98 \xA4");
  std::string back(oem.size(), '\0');
  SysOemToAnsi(oem.data(), back.data(), oem.size());
  EXPECT_EQ(back, ansi);

  int shared = 0;
  for (int c = 0; c < 256; ++c) {
    char a = static_cast<char>(c), o = 0, b = 0;
    SysAnsiToOem(&a, &o, 1);
    SysOemToAnsi(&o, &b, 1);
    if (c < 0x80) {
      EXPECT_EQ(o, a) << c;
    }
    if (b == a) ++shared;
  }
  // 128 ASCII bytes plus the 54 upper-half characters both pages hold.
  EXPECT_EQ(shared, 128 + 54);
}

TEST(SysCodePages, MissingCharactersGetLookAlikesAndInPlaceWorks) {
  std::string text = "\xC0\x8A\x80";  // A grave (not in CP437), S caron, euro sign
  SysAnsiToOem(text.data(), text.data(), text.size());
  EXPECT_EQ(text, "AS?");
  std::string box = "\xC4\xB3\xC5\xE0";  // box drawing and alpha
  SysOemToAnsi(box.data(), box.data(), box.size());
  EXPECT_EQ(box, "-|+?");
}

TEST(SysCompare, LibraryCollationSeesCp1252Characters) {
  // The C library's code-point collation: the euro sign (0x80 in CP1252, U+20AC) sorts after
  // y diaeresis (0xFF, U+00FF), the opposite of their bytes; capitals before small letters.
  const CollationScope codePoints("C.UTF-8");
  if (!codePoints.InForce()) GTEST_SKIP() << "no C.UTF-8 locale";
  EXPECT_GT(SysCompareStr("\x80", "\xFF"), 0);
  EXPECT_LT(SysCompareStr("A", "a"), 0);
  EXPECT_EQ(SysCompareStr("W1AW", "W1AW"), 0);
  EXPECT_LT(SysCompareStr("W1", "W1AW"), 0);
  EXPECT_EQ(SysCompareText("station", "STATION"), 0);
  EXPECT_EQ(SysStrIComp("\x9a", "\x8a"), 0);  // s caron in either case
  // Texts with a zero byte, which the library cannot see past, still differ.
  EXPECT_NE(SysCompareStr(std::string("A\0B", 3), std::string("A\0C", 3)), 0);
}

TEST(SysCompare, OrdersAreConsistentInEitherCollation) {
  const std::vector<std::string> texts = {"", "a", "A", "ab", "AB", "b", "\xE9", "\xC9", "\x80",
                                          "W1AW", "W1AW/P", "w1aw", "1", "-", "z"};
  for (const char* name : {"C", "C.UTF-8"}) {
    const CollationScope scope(name);
    for (const auto& x : texts) {
      for (const auto& y : texts) {
        const int s = SysCompareStr(x, y);
        EXPECT_EQ(s == 0, x == y) << name << " " << x << " " << y;
        EXPECT_EQ((s > 0) - (s < 0), -((SysCompareStr(y, x) > 0) - (SysCompareStr(y, x) < 0)));
        const int t = SysCompareText(x, y);
        EXPECT_EQ(t == 0, SysUpperCase(x) == SysUpperCase(y)) << name << " " << x << " " << y;
      }
    }
  }
}

TEST(SysNumbers, FixedDecimalsRoundHalvesAwayFromZero) {
  EXPECT_EQ(SysFloatToFixed(0.125, 2), "0.13");  // printf would give 0.12
  EXPECT_EQ(SysFloatToFixed(-0.125, 2), "-0.13");
  EXPECT_EQ(SysFloatToFixed(2.5, 0), "3");
  EXPECT_EQ(SysFloatToFixed(-2.5, 0), "-3");
  EXPECT_EQ(SysFloatToFixed(0.5, 0), "1");
  EXPECT_EQ(SysFloatToFixed(2.675, 2), "2.68");  // 2.67499999... in binary, 2.675 to 15 digits
  EXPECT_EQ(SysFloatToFixed(1.005, 2), "1.01");
  EXPECT_EQ(SysFloatToFixed(9.995, 2), "10.00");
  EXPECT_EQ(SysFloatToFixed(99.5, 0), "100");
  EXPECT_EQ(SysFloatToFixed(0.0049, 2), "0.00");
  EXPECT_EQ(SysFloatToFixed(-0.001, 2), "0.00");
  EXPECT_EQ(SysFloatToFixed(-0.0, 1), "0.0");
  EXPECT_EQ(SysFloatToFixed(0, 0), "0");
  EXPECT_EQ(SysFloatToFixed(14000.0001, 4), "14000.0001");
  EXPECT_EQ(SysFloatToFixed(14.2, 4), "14.2000");
  EXPECT_EQ(SysFloatToFixed(123456789.125, 2), "123456789.13");
  EXPECT_EQ(SysFloatToFixed(1e-20, 3), "0.000");
  EXPECT_EQ(SysFloatToFixed(1e20, 1), "100000000000000000000.0");
  EXPECT_EQ(SysFloatToFixed(0.05, 1), "0.1");
  EXPECT_EQ(SysFloatToFixed(7, -2), "7");
  EXPECT_EQ(SysFloatToFixed(std::nan(""), 2), "NAN");
}

// The built-in functions: results, argument checks and range errors with their exact messages.
#include <cmath>

#include "expr_test_util.h"
#include "hx6_date.h"

using namespace expr_test;

namespace {
constexpr double kPi = 3.141592653589793;
}

TEST(Functions, ArgumentTypesAreChecked) {
  EXPECT_EQ(Error("ABS('a')"), "Number needed for Argument 1 of ABS");
  EXPECT_EQ(Error("ABS()"), "Number needed for Argument 1 of ABS");
  EXPECT_EQ(Error("AT(1, 'A')"), "Text needed for Argument 1 of AT");
  EXPECT_EQ(Error("LEFT('A', 'B')"), "Number needed for Argument 2 of LEFT");
  EXPECT_EQ(Error("DTOC('x')"), "Date needed for Argument 1 of DTOC");
  EXPECT_EQ(Error("IIF(1, 2, 3)"), "Boolean needed for Argument 1 of IIF");
  EXPECT_EQ(Error("UPPER(.T.)"), "Text needed for Argument 1 of UPPER");
  // The numeric family is one type for the checks.
  EXPECT_EQ(Num("ABS(QSODATE)"), 2444240);
  EXPECT_EQ(Txt("DTOS(2444240)"), "19800101");
}

TEST(Functions, Numeric) {
  EXPECT_EQ(Num("ABS(-3)"), 3);
  EXPECT_EQ(Num("ACOS(1)"), 0);
  EXPECT_NEAR(Num("ASIN(1)"), kPi / 2, 1e-15);
  EXPECT_EQ(Error("ACOS(2)"), "Argument for ACOS must be -1 to +1");
  EXPECT_EQ(Error("ASIN(-1.5)"), "Argument for ASIN must be -1 to +1");
  EXPECT_NEAR(Num("ATAN(1)"), kPi / 4, 1e-15);
  EXPECT_NEAR(Num("ATN2(1, -1)"), 3 * kPi / 4, 1e-15);
  EXPECT_EQ(Num("CEILING(1.2)"), 2);
  EXPECT_EQ(Num("CEILING(-1.2)"), -1);
  EXPECT_EQ(Num("FLOOR(-1.2)"), -2);
  EXPECT_EQ(Num("COS(0)"), 1);
  EXPECT_EQ(Num("SIN(0)"), 0);
  EXPECT_EQ(Num("TAN(0)"), 0);
  EXPECT_NEAR(Num("DTOR(180)"), kPi, 1e-15);
  EXPECT_NEAR(Num("RTOD(PI())"), 180, 1e-12);
  EXPECT_EQ(Num("INT(-3.7)"), -3);
  EXPECT_EQ(Num("INT(3.7)"), 3);
  EXPECT_EQ(Num("LOG(1)"), 0);
  EXPECT_EQ(Num("LOG10(100)"), 2);
  EXPECT_EQ(Error("LOG(0)"), "Argument for LOG must be > 0");
  EXPECT_EQ(Error("LOG10(-1)"), "Argument for LOG10 must be > 0");
  EXPECT_EQ(Num("PI()"), kPi);
  EXPECT_EQ(Error("SIN(10^400)"), "Expression cannot be evaluated");
}

TEST(Functions, ModTruncatesAndKeepsTheDividendsSign) {
  EXPECT_EQ(Num("MOD(7, -2)"), 1);
  EXPECT_EQ(Num("MOD(-7, 2)"), -1);
  EXPECT_EQ(Num("MOD(7.9, 2.9)"), 1);
  EXPECT_FALSE(std::signbit(Num("MOD(-4, 2)")));
  EXPECT_EQ(Error("MOD(5, 0)"), "A non-zero value is required but invalid");
  EXPECT_EQ(Error("MOD(5, 0.5)"), "A non-zero value is required but invalid");
}

TEST(Functions, Annuities) {
  EXPECT_EQ(Num("FV(100, 0, 10)"), 1000);
  EXPECT_EQ(Num("FV(-100, 0, 10)"), 1000);
  EXPECT_NEAR(Num("FV(100, 0.1, 2)"), 210, 1e-9);
  EXPECT_NEAR(Num("FV(100, 0.1, 2.9, 1000)"), 1420, 1e-9);
  EXPECT_NEAR(Num("FV(100, 0.1, 2, 0, 1)"), 231, 1e-9);
  EXPECT_EQ(Error("FV(100, 0.1, 2, 0, 2)"), "Argument for FV PaymentTime must be 0 or 1");
  EXPECT_EQ(Num("PV(100, 0, 10)"), 1000);
  EXPECT_NEAR(Num("PV(100, 0.1, 2)"), 210 / 1.21, 1e-9);
  EXPECT_NEAR(Num("PV(100, 0.1, 2, 121)"), (121 + 210) / 1.21, 1e-9);
  EXPECT_EQ(Error("PV(100, 0.1, 2, 0, 3)"), "Argument for PV PaymentTime must be 0 or 1");
  EXPECT_EQ(Error("PV(100, -1, 2)"), "A non-zero value is required but invalid");
  // The payment time is only read after a present value.
  EXPECT_NEAR(Num("FV(100, 0.1, 2, 'x', 7)"), 210, 1e-9);
}

TEST(Functions, Dates) {
  Result r = Eval("CTOD('19800101')");
  EXPECT_EQ(r.type, etDate);
  EXPECT_EQ(r.value.Number(), 2444240);
  EXPECT_EQ(Num("CTOD('01/01/1980')"), 2444240);
  EXPECT_EQ(Num("CTOD('')"), 1.0E100);
  EXPECT_EQ(Num("CTOD('   ')"), 1.0E100);
  EXPECT_EQ(Error("CTOD('garbage')"), "A Date value is required but invalid");
  r = Eval("DATE()");
  EXPECT_EQ(r.type, etDate);
  EXPECT_EQ(r.value.Number(), DBFDate().Today());
  EXPECT_EQ(Num("DOW(QSODATE)"), 3);  // 1 January 1980 was a Tuesday
  EXPECT_EQ(Num("DOW(CTOD(''))"), 0);
  EXPECT_EQ(Txt("DTOC(QSODATE)"), "01/01/1980");
  EXPECT_EQ(Txt("DTOC(QSODATE, 1)"), "19800101");
  EXPECT_EQ(Txt("DTOC(QSODATE, 1.4)"), "19800101");
  EXPECT_EQ(Txt("DTOC(QSODATE, 2)"), "01/01/1980");
  EXPECT_EQ(Txt("DTOC(CTOD(''))"), "          ");
  EXPECT_EQ(Txt("DTOS(QSODATE)"), "19800101");
  EXPECT_EQ(Txt("DTOS(CTOD(''))"), "        ");
  EXPECT_EQ(Txt("DTOS(-10^300)"), "        ");
}

TEST(Functions, Descend) {
  Result r = Eval("DESCEND('AB')");
  EXPECT_EQ(r.type, etText);
  EXPECT_EQ(r.value.Text(), "\xBF\xBE");
  EXPECT_EQ(Txt("DESCEND(CHR(0))"), std::string(1, '\0'));
  r = Eval("DESCEND(CTOD(''))");
  EXPECT_EQ(r.type, etDate);
  EXPECT_EQ(r.value.Number(), 1.0E100);
  EXPECT_EQ(Num("DESCEND(QSODATE)"), 5231808 - 2444240);
  EXPECT_EQ(Num("DESCEND(5)"), -5);
  EXPECT_FALSE(std::signbit(Num("DESCEND(0)")));
  EXPECT_FALSE(Bln("DESCEND(.T.)"));
  r = Eval("DESCEND(())");
  EXPECT_EQ(r.type, etEmpty);
  EXPECT_FALSE(r.value.Boolean());
}

TEST(Functions, Empty) {
  for (const char* e : {"EMPTY(CTOD(''))", "EMPTY(0)", "EMPTY('   ')", "EMPTY('')", "EMPTY(.F.)"})
    EXPECT_TRUE(Bln(e)) << e;
  for (const char* e : {"EMPTY('a')", "EMPTY(1)", "EMPTY(.T.)", "EMPTY(QSODATE)", "EMPTY()"})
    EXPECT_FALSE(Bln(e)) << e;
}

TEST(Functions, IifEvaluatesOnlyTheChosenArgument) {
  Result r = Eval("IIF(.T., 1, 'x')");
  EXPECT_EQ(r.type, etNumber);
  EXPECT_EQ(r.value.Number(), 1);
  EXPECT_EQ(Txt("IIF(BAND > 30, 1, 'x')"), "x");
  EXPECT_EQ(Num("IIF(.T., 1, 1/0)"), 1);
  EXPECT_EQ(Eval("IIF(.F., 1)").type, etEmpty);
}

TEST(Functions, BetweenInlistMaxMin) {
  EXPECT_TRUE(Bln("BETWEEN(5, 1, 10)"));
  EXPECT_TRUE(Bln("BETWEEN(10, 1, 10)"));
  EXPECT_FALSE(Bln("BETWEEN(0, 1, 10)"));
  EXPECT_TRUE(Bln("BETWEEN('B', 'A', 'C')"));
  EXPECT_TRUE(Bln("BETWEEN(QSODATE, 1, 3000000)"));
  EXPECT_EQ(Error("BETWEEN(5, 'A', 10)"), "Number needed for Argument 2 of BETWEEN");
  EXPECT_EQ(Error("BETWEEN('B', 'A')"), "Text needed for Argument 3 of BETWEEN");

  EXPECT_TRUE(Bln("INLIST('AB  ', 'AB')"));
  EXPECT_FALSE(Bln("INLIST('AB', 'AB  ')"));
  EXPECT_TRUE(Bln("INLIST(2, 1, 2, 3)"));
  EXPECT_FALSE(Bln("INLIST(4, 1, 2, 3)"));
  EXPECT_FALSE(Bln("INLIST(1, 'A', .T.)"));
  EXPECT_FALSE(Bln("INLIST()"));
  EXPECT_TRUE(Bln("INLIST(STATION, 'K1ABC', 'W1AW')"));

  EXPECT_EQ(Num("MAX(1, 3, 2)"), 3);
  EXPECT_EQ(Num("MIN(3, 1, 2)"), 1);
  EXPECT_EQ(Txt("MAX('A', 'C', 'B')"), "C");
  EXPECT_EQ(Eval("MAX(QSODATE)").type, etDate);
  EXPECT_EQ(Error("MAX(1, 'A')"), "All arguments for Max() must be of the same type");
  EXPECT_EQ(Error("MIN(1, QSODATE)"), "All arguments for Min() must be of the same type");
  EXPECT_EQ(Error("MAX()"), "A value is required for Max()");
  EXPECT_EQ(Error("MIN(())"), "A value is required for Min()");
}

TEST(Functions, SearchAndCut) {
  EXPECT_EQ(Num("AT('A', 'BANANA')"), 2);
  EXPECT_EQ(Num("AT('A', 'BANANA', 2)"), 4);
  EXPECT_EQ(Num("AT('A', 'BANANA', 9)"), 6);
  EXPECT_EQ(Num("AT('A', 'BANANA', 0)"), 0);
  EXPECT_EQ(Num("AT('X', 'BANANA')"), 0);
  EXPECT_EQ(Num("AT('', 'BANANA')"), 0);
  EXPECT_EQ(Num("AT('a', 'BANANA')"), 0);
  EXPECT_EQ(Num("AT('AA', 'AAAA', 2)"), 2);
  EXPECT_EQ(Num("AT('A', 'BANANA', 'x')"), 2);
  EXPECT_EQ(Num("ATC('a', 'BANANA')"), 2);
  EXPECT_EQ(Num("ATC('n', 'banana', 2)"), 5);

  EXPECT_EQ(Txt("LEFT('ABCDE', 2)"), "AB");
  EXPECT_EQ(Txt("LEFT('ABC', 0)"), "");
  EXPECT_EQ(Txt("LEFT('ABC', -1)"), "");
  EXPECT_EQ(Txt("LEFT('ABC', 10)"), "ABC");
  EXPECT_EQ(Txt("RIGHT('ABCDE', 2)"), "DE");
  EXPECT_EQ(Txt("RIGHT('ABC', 0)"), "ABC");
  EXPECT_EQ(Txt("RIGHT('ABC', 5)"), "ABC");
  EXPECT_EQ(Txt("SUBSTR('ABCDE', 2, 3)"), "BCD");
  EXPECT_EQ(Txt("SUBSTR('ABCDE', 4)"), "DE");
  EXPECT_EQ(Txt("SUBSTR('ABCDE', 9)"), "ABCDE");
  EXPECT_EQ(Txt("SUBSTR('ABCDE', 0, 2)"), "ABCDE");
  EXPECT_EQ(Txt("SUBSTR('ABCDE', 2, 0)"), "ABCDE");
  EXPECT_EQ(Txt("SUBSTR('ABCDE', 4, 10)"), "DE");
  EXPECT_EQ(Txt("SUBSTR('ABCDE', -1, 2)"), "AB");
  EXPECT_EQ(Txt("SUBSTR('ABCDE', 2, -1)"), "");
  EXPECT_EQ(Num("LEN('AB  ')"), 4);
  EXPECT_EQ(Num("ASC('A')"), 65);
  EXPECT_EQ(Num("ASC('')"), 0);
  EXPECT_EQ(Num("ASC(CHR(200))"), 200);
}

TEST(Functions, CaseTrimAndCharacters) {
  EXPECT_EQ(Txt("ALLTRIM('  ab  ')"), "ab");
  EXPECT_EQ(Txt("ALLTRIM(CHR(9) + 'ab' + CHR(13))"), "ab");
  EXPECT_EQ(Txt("LTRIM('  a ')"), "a ");
  EXPECT_EQ(Txt("TRIM('  a  ')"), "  a");
  EXPECT_EQ(Txt("RTRIM('  a  ')"), "  a");
  EXPECT_EQ(Txt("LOWER('AbC')"), "abc");
  EXPECT_EQ(Txt("UPPER('aBc')"), "ABC");
  EXPECT_EQ(Txt("CHR(65)"), "A");
  EXPECT_EQ(Txt("CHR(65.6)"), "B");
  EXPECT_EQ(Error("CHR(256)"), "A Byte value is required but invalid");
  EXPECT_EQ(Error("CHR(-1)"), "A Byte value is required but invalid");
  EXPECT_EQ(Txt("PROPER(\"o'brien-smith jr.\")"), "O'brien-Smith Jr.");
  EXPECT_EQ(Txt("PROPER('ABC DEF')"), "Abc Def");
  EXPECT_EQ(Txt("PROPER('1ST (ham)')"), "1st (Ham)");
  EXPECT_EQ(Txt("SOUNDEX('ROBERT')"), "R163");
  EXPECT_EQ(Txt("SOUNDEX('smith')"), "S530");
  EXPECT_EQ(Txt("SOUNDEX('A')"), "A000");
  EXPECT_EQ(Txt("SOUNDEX('')"), "0000");
  EXPECT_EQ(Txt("SOUNDEX('TYMCZAK')"), "T520");
  EXPECT_EQ(Num("VAL('12.5')"), 12.5);
  EXPECT_EQ(Num("VAL(' 7 ')"), 7);
  EXPECT_EQ(Num("VAL('abc')"), 0);
  EXPECT_EQ(Num("VAL('')"), 0);
}

TEST(Functions, Padding) {
  EXPECT_EQ(Txt("PADL('AB', 5, '*')"), "***AB");
  EXPECT_EQ(Txt("PADC('AB', 5)"), " AB  ");
  EXPECT_EQ(Txt("PADR('AB', 4)"), "AB  ");
  EXPECT_EQ(Txt("PADR('ABCDEF', 3)"), "ABCDEF");
  EXPECT_EQ(Txt("PADL(12.5, 6)"), "  12.5");
  EXPECT_EQ(Txt("PADL('AB', -3)"), "AB");
  EXPECT_EQ(Error("PADL('AB', 5, '**')"), "A Char value is required but invalid");
  EXPECT_EQ(Error("PADL('AB', 5, 1)"), "A Char value is required but invalid");
  EXPECT_EQ(Error("PADL()"), "Value needed for Argument 1 of Pad");
  EXPECT_EQ(Error("PADC('A', 'x')"), "Number needed for Argument 2 of PADC");
  EXPECT_EQ(Error("PADR('A', 10^9)"), "Argument for PADR must be 65535 or less");
}

TEST(Functions, SpaceStrAndStrZero) {
  EXPECT_EQ(Txt("SPACE(3)"), "   ");
  EXPECT_EQ(Txt("SPACE(0)"), "");
  EXPECT_EQ(Txt("SPACE(-2)"), "");
  EXPECT_EQ(Txt("SPACE(65535)").size(), 65535u);
  EXPECT_EQ(Error("SPACE(100000)"), "Argument for SPACE must be 65535 or less");
  EXPECT_EQ(Error("SPACE(10^300)"), "Argument for SPACE must be 65535 or less");

  EXPECT_EQ(Txt("STR(3.14159, 8, 2)"), "    3.14");
  EXPECT_EQ(Txt("STR(5)"), "         5");
  EXPECT_EQ(Txt("STR(-1.5, 6, 1)"), "  -1.5");
  EXPECT_EQ(Txt("STR(7, 4, 'x')"), "   7");
  EXPECT_EQ(Txt("STR(123456789012, 5)"), "123456789012");
  EXPECT_EQ(Error("STR(1, 10^9)"), "Argument for STR must be 65535 or less");
  EXPECT_EQ(Error("STR('a')"), "Number needed for Argument 1 of STR");
  EXPECT_EQ(Txt("STRZERO(5, 4)"), "0005");
  EXPECT_EQ(Txt("STRZERO(-5, 4)"), "00-5");

  TestLink t;
  t.link.SetDefaultStrWidth(5);
  EXPECT_EQ(Eval("STR(5)", &t.link).value.Text(), "    5");
  t.link.SetDefaultStrWidth(0);
  EXPECT_EQ(Eval("STR(5)", &t.link).value.Text(), "         5");
  ThxExpHandler unlinked(nullptr, false, "STR(5)");
  ThxExpValue v;
  unlinked.Evaluate(v);
  EXPECT_EQ(v.Text(), "         5");
}

TEST(Functions, StrTran) {
  EXPECT_EQ(Txt("STRTRAN('AAAA', 'A', 'B', 2, 2)"), "ABBA");
  EXPECT_EQ(Txt("STRTRAN('AAAA', 'A', 'B')"), "BBBB");
  EXPECT_EQ(Txt("STRTRAN('AAAA', 'A')"), "");
  EXPECT_EQ(Txt("STRTRAN('', 'A', 'B')"), "");
  EXPECT_EQ(Txt("STRTRAN('ABC', '', 'X')"), "ABC");
  EXPECT_EQ(Txt("STRTRAN('a.b.c', '.', '--', 1, 1)"), "a--b.c");
  EXPECT_EQ(Txt("STRTRAN('AAAA', 'A', 'B', 1, 0)"), "AAAA");
  EXPECT_EQ(Txt("STRTRAN('ABAB', 'AB', 'X', 3)"), "ABAB");
  EXPECT_EQ(Txt("STRTRAN('ABAB', 'AB', 5)"), "");
  EXPECT_EQ(Error("STRTRAN(SPACE(60000), ' ', SPACE(60000))"), "Expression cannot be evaluated");
}

TEST(Functions, TextOperatorsCapTheirResults) {
  // Doubling a 64 KB text 9 times would pass 16 MB.
  std::string text = "SPACE(65535)";
  for (int i = 0; i < 9; ++i) text = "(" + text + "+" + text + ")";
  EXPECT_EQ(Error(text), "Expression cannot be evaluated");
}

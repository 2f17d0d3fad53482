// Evaluation of the expression language: operators by type, the text comparison rule, dates,
// field variables and index keys.
#include <cmath>

#include "expr_test_util.h"
#include "hx6_tool.h"

using namespace expr_test;

TEST(ExprTextCompare, TrailingBlanksAndEmptySides) {
  EXPECT_TRUE(Bln("'ABC  ' = 'ABC'"));
  EXPECT_TRUE(Bln("'ABC' = 'ABC   '"));
  EXPECT_TRUE(Bln("STATION = 'W1AW'"));
  EXPECT_TRUE(Bln("'' < 'A'"));
  EXPECT_TRUE(Bln("'A' > ''"));
  EXPECT_TRUE(Bln("'' = ''"));
  // A side of blanks is not empty, but loses its blanks before the comparison.
  EXPECT_TRUE(Bln("'A' > '   '"));
  EXPECT_TRUE(Bln("'ABC' > 'ABB'"));
  EXPECT_TRUE(Bln("'AB' < 'ABC'"));
  EXPECT_TRUE(Bln("'AB' <= 'AB'"));
  EXPECT_TRUE(Bln("'a' # 'A'"));  // case-sensitive by default
}

TEST(ExprTextCompare, APatternOnTheRightIsAWildcardTest) {
  EXPECT_TRUE(Bln("NAME = 'SM*'"));
  EXPECT_TRUE(Bln("STATION = 'W1*'"));
  EXPECT_TRUE(Bln("STATION = '*1A*'"));
  EXPECT_TRUE(Bln("STATION = '*1AW'"));
  // Containment, not prefix: W1 anywhere matches.
  EXPECT_TRUE(Bln("'KW1X' = 'W1*'"));
  EXPECT_FALSE(Bln("STATION = 'K1*'"));
  // A miss is "less", whatever the texts' order.
  EXPECT_TRUE(Bln("'B' < 'A*'"));
  EXPECT_FALSE(Bln("'B' > 'A*'"));
  // A pattern on the left is only a text.
  EXPECT_FALSE(Bln("'SM*' = NAME"));
}

TEST(ExprTextCompare, HandlerFlagsTurnWildcardsOffAndCaseOn) {
  TestLink t;
  ThxExpHandler handler(&t.link, false, "");
  handler.SetWildcard(false);
  handler.SetExpression("NAME = 'SM*'");
  ThxExpValue v;
  handler.Evaluate(v);
  EXPECT_FALSE(v.Boolean());
  handler.SetExpression("'SM*' = 'SM*  '");
  handler.Evaluate(v);
  EXPECT_TRUE(v.Boolean());

  ThxExpHandler folded(&t.link, false, "");
  folded.SetCaseInsensitive(true);
  folded.SetExpression("'abc' = 'ABC'");
  folded.Evaluate(v);
  EXPECT_TRUE(v.Boolean());
  folded.SetExpression("name = 'sm*'");
  folded.Evaluate(v);
  EXPECT_TRUE(v.Boolean());
}

TEST(ExprTextCompare, TheRuleOnItsOwn) {
  auto T = [](const char* s) { return ThxExpValue::OfText(s); };
  EXPECT_EQ(ExpCompareText(ThxExpValue(), T("A"), false, true, '*'), -1);
  EXPECT_EQ(ExpCompareText(T("A"), ThxExpValue(), false, true, '*'), 1);
  EXPECT_EQ(ExpCompareText(ThxExpValue(), T(""), false, true, '*'), 0);
  // With the SQL set, "%" triggers the wildcard test.
  EXPECT_EQ(ExpCompareText(T("SMITH"), T("SM%"), false, true, '%'), -1);
  EXPECT_EQ(ExpCompareText(T("SMITH"), T("SM*"), false, true, '%'), 1);
}

TEST(ExprTextOperators, InStringConcatenationAndMinus) {
  EXPECT_TRUE(Bln("'B' $ 'ABC'"));
  EXPECT_FALSE(Bln("'ABC' $ 'B'"));
  EXPECT_FALSE(Bln("'' $ 'ABC'"));
  EXPECT_FALSE(Bln("'b' $ 'ABC'"));
  EXPECT_FALSE(Bln("'C ' $ 'ABC'"));  // untrimmed
  EXPECT_EQ(Txt("'AB ' + 'CD'"), "AB CD");
  EXPECT_EQ(Txt("'' + 'CD'"), "CD");
  EXPECT_EQ(Txt("'AB  ' - 'CD'"), "ABCD  ");
  EXPECT_EQ(Txt("'AB' - ' CD '"), "AB CD ");
  EXPECT_EQ(Txt("STATION - '/P'"), "W1AW/P           ");
  EXPECT_EQ(Error("'A' * 'B'"), "A assigned value is required but invalid");
  EXPECT_EQ(Error("'A' == 'A'"), "A assigned value is required but invalid");
  EXPECT_EQ(Error("'A' .AND. 'B'"), "A assigned value is required but invalid");
  EXPECT_EQ(Error(".NOT. 'A'"), "A assigned value is required but invalid");
}

TEST(ExprNumbers, ArithmeticAndComparisons) {
  EXPECT_EQ(Num("BAND * 2 + 1"), 41);
  EXPECT_EQ(Num("1.5 - 0.25"), 1.25);
  EXPECT_TRUE(Bln("BAND >= 20 .AND. BAND <= 20 .AND. BAND # 21"));
  EXPECT_TRUE(Bln("-1 < 0"));
  EXPECT_EQ(Error("1 $ 2"), "A assigned value is required but invalid");
  EXPECT_EQ(Error("1 .AND. 2"), "A assigned value is required but invalid");
  EXPECT_EQ(Error("1 = 'A'"), "The two sides of an operation do not match");
  EXPECT_EQ(Error("'A' = 1"), "The two sides of an operation do not match");
  EXPECT_EQ(Error("1 = .T."), "The two sides of an operation do not match");
  EXPECT_EQ(Error(".NOT. 1"), "A assigned value is required but invalid");
}

TEST(ExprNumbers, PowerIsComputedForEveryExponent) {
  EXPECT_EQ(Num("2^0"), 1);
  EXPECT_EQ(Num("2^1"), 2);
  EXPECT_EQ(Num("2^-1"), 0.5);
  EXPECT_EQ(Num("2^3.9"), 8);  // the exponent is truncated
  EXPECT_EQ(Num("-2^3"), -8);
  EXPECT_EQ(Num("1^999999999999"), 1);  // no loop over the exponent
  EXPECT_TRUE(std::isinf(Num("10^400")));
  EXPECT_EQ(Error("0^-1"), "A non-zero value is required but invalid");
}

TEST(ExprNumbers, DivisionByZeroAndNaNAreRefused) {
  EXPECT_EQ(Error("1/0"), "A non-zero value is required but invalid");
  EXPECT_EQ(Error("BAND / (BAND - 20)"), "A non-zero value is required but invalid");
  EXPECT_EQ(Error("10^400 - 10^400"), "Expression cannot be evaluated");
  EXPECT_EQ(Error("10^400 * 0"), "Expression cannot be evaluated");
}

TEST(ExprBooleans, LogicalOperators) {
  EXPECT_TRUE(Bln(".T. = .T."));
  EXPECT_TRUE(Bln(".T. # .F."));
  EXPECT_FALSE(Bln(".T. .AND. .F."));
  EXPECT_TRUE(Bln("QSL .OR. .F."));
  EXPECT_EQ(Error(".T. + .T."), "A number value is required but invalid");
  EXPECT_EQ(Error(".T. ^ .T."), "A number value is required but invalid");
  EXPECT_EQ(Error(".T. > .F."), "A assigned value is required but invalid");
  EXPECT_EQ(Error(".T. $ .F."), "A assigned value is required but invalid");
}

TEST(ExprDates, ArithmeticKeepsTheRightOperandsType) {
  Result r = Eval("QSODATE + 1");
  EXPECT_EQ(r.type, etNumber);
  EXPECT_EQ(r.value.Number(), 2444241);
  r = Eval("1 + QSODATE");
  EXPECT_EQ(r.type, etDate);
  EXPECT_TRUE(Bln("DATE() - 1 > 0"));
  EXPECT_TRUE(Bln("QSODATE - 1 < QSODATE"));
  EXPECT_TRUE(Bln("QSODATE = {19800101}"));
  EXPECT_TRUE(Bln("QSODATE = CTOD('01/01/1980')"));
  EXPECT_EQ(Eval("{19800101}").type, etDate);
  // The empty date is larger than any day.
  EXPECT_TRUE(Bln("CTOD('') > DATE()"));
  EXPECT_EQ(Num("CTOD('')"), 1.0E100);
}

TEST(ExprNodes, EmptyParenthesesAndTypelessOperands) {
  EXPECT_EQ(Eval("()").type, etEmpty);
  Result r = Eval("() = ()");
  EXPECT_EQ(r.type, etBoolean);
  EXPECT_TRUE(r.value.IsNull());
  EXPECT_EQ(Error("() = 1"), "The two sides of an operation do not match");
  EXPECT_EQ(Error("1 + ()"), "The two sides of an operation do not match");
}

TEST(ExprFieldVars, ValuesAreReadAtEveryEvaluation) {
  TestLink t;
  ThxExpHandler handler(&t.link, false, "UPPER(STATION) = 'W1AW' .AND. BAND = 20");
  ThxExpValue v;
  handler.Evaluate(v);
  EXPECT_TRUE(v.Boolean());
  t.band->SetNumber(40);
  handler.Evaluate(v);
  EXPECT_FALSE(v.Boolean());
  t.band->SetNumber(20);
  t.station->SetText("w1aw");
  handler.Evaluate(v);
  EXPECT_TRUE(v.Boolean());
  EXPECT_EQ(t.station->reads, 3);
  // A variable of another type than expected gives the usual mismatch.
  t.band->SetText("20");
  EXPECT_THROW(handler.Evaluate(v), ESorrelExpression);
}

TEST(ExprHandler, WithoutATreeNothingIsEvaluated) {
  ThxExpHandler handler(nullptr, false, "");
  ThxExpValue v = ThxExpValue::OfText("kept");
  handler.Evaluate(v);
  EXPECT_EQ(handler.ResultType(), etUnknown);
  EXPECT_EQ(v.Text(), "kept");
  ThxVariant key;
  key.PutFloat(3);
  handler.EvaluateKey(key);
  EXPECT_EQ(key.Type(), vtText);
  EXPECT_EQ(key.GetString(), "");
  EXPECT_EQ(handler.ResultType(), etUnknown);
}

TEST(ExprHandler, EvaluateKeyStoresEachTypeInItsForm) {
  TestLink t;
  ThxVariant key;
  ThxExpHandler text(&t.link, false, "DTOS(QSODATE)+STATION");
  text.EvaluateKey(key);
  EXPECT_EQ(text.ResultType(), etText);
  EXPECT_EQ(key.Type(), vtText);
  EXPECT_EQ(key.GetString(), "19800101W1AW           ");

  ThxExpHandler number(&t.link, false, "BAND / 8");
  number.EvaluateKey(key);
  EXPECT_EQ(key.Type(), vtFloat);
  EXPECT_EQ(key.GetFloat(), 2.5);

  ThxExpHandler date(&t.link, false, "QSODATE + 0.75");  // right type Number: a double
  date.EvaluateKey(key);
  EXPECT_EQ(key.Type(), vtFloat);
  ThxExpHandler day(&t.link, false, "0.75 + QSODATE");  // right type Date: truncated day
  day.EvaluateKey(key);
  EXPECT_EQ(day.ResultType(), etDate);
  EXPECT_EQ(key.Type(), vtDate);
  EXPECT_EQ(key.GetDate(), 2444240);

  // The empty date becomes the engine's empty date 0, not an out-of-range cast.
  ThxExpHandler empty(&t.link, false, "CTOD('')");
  empty.EvaluateKey(key);
  EXPECT_EQ(key.Type(), vtDate);
  EXPECT_EQ(key.GetDate(), 0);

  ThxExpHandler logical(&t.link, false, "QSL");
  logical.EvaluateKey(key);
  EXPECT_EQ(key.Type(), vtBoolean);
  EXPECT_TRUE(key.GetBoolean());

  t.band->SetNumber(3, etDateTime);
  ThxExpHandler stamp(&t.link, false, "BAND");
  stamp.EvaluateKey(key);
  EXPECT_EQ(key.Type(), vtFloat);
  EXPECT_EQ(stamp.ResultType(), etDateTime);
}

TEST(ExprHandler, EvaluateKeyStoresNothingForOtherTypes) {
  TestLink t;
  ThxVariant key;
  key.PutString("before");
  t.band->SetNumber(7, etInteger);
  ThxExpHandler integer(&t.link, false, "BAND");
  integer.EvaluateKey(key);
  EXPECT_EQ(integer.ResultType(), etUnknown);
  EXPECT_EQ(key.GetString(), "before");

  ThxExpHandler empty(&t.link, false, "()");
  empty.EvaluateKey(key);
  EXPECT_EQ(empty.ResultType(), etUnknown);
  EXPECT_EQ(key.GetString(), "before");

  t.name->Set(ThxExpValue::OfText("memo"), etMemo);
  ThxExpHandler memo(&t.link, false, "NAME");
  memo.EvaluateKey(key);
  EXPECT_EQ(memo.ResultType(), etUnknown);
  EXPECT_EQ(key.GetString(), "before");
}

TEST(ExprValues, ConversionsAndComparison) {
  EXPECT_EQ(ExpFloatToText(3.5), "3.5");
  EXPECT_EQ(ExpFloatToText(1.0E100), "1E100");
  EXPECT_EQ(ExpFloatToText(-1.5E-7), "-1.5E-7");
  EXPECT_EQ(ExpFloatToText(0.1 + 0.2), "0.3");
  EXPECT_EQ(ExpFloatToText(20), "20");
  double v = 0;
  EXPECT_TRUE(ExpTextToFloat(" 12.5 ", v));
  EXPECT_EQ(v, 12.5);
  EXPECT_TRUE(ExpTextToFloat("+1e3", v));
  EXPECT_EQ(v, 1000);
  for (const char* bad : {"", "-", "1.2.3", "inf", "nan", "0x10", "12abc", "1e999", "--1"})
    EXPECT_FALSE(ExpTextToFloat(bad, v)) << bad;
  EXPECT_EQ(ExpTypeName(etDateTime), "DateTime");
  EXPECT_EQ(ExpTypeName(11), "Invalid Value");
  EXPECT_LT(ExpCompareValues(ThxExpValue(), ThxExpValue::OfText("")), 0);
  EXPECT_EQ(ExpCompareValues(ThxExpValue::OfNumber(2), ThxExpValue::OfNumber(2)), 0);
  EXPECT_GT(ExpCompareValues(ThxExpValue::OfBoolean(true), ThxExpValue::OfBoolean(false)), 0);
}

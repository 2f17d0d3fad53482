// The expression handler, its registries and its flags: what the table of expressions in
// expr_table_test.cpp cannot show (links, flags, index keys, counts, re-evaluation).
#include <cmath>

#include "expr/expr_test_util.h"
#include "base/hx6_date.h"
#include "base/hx6_tool.h"

using namespace expr_test;

TEST(ExprLexer, LinkFunctionsAreFoundAfterTheGlobalOnes) {
  class Recno : public ThxUserDefFunction {
   public:
    std::string GetName() const override { return "RECNO"; }
    void Evaluate(ThxExpFunction&, ThxExpValue& value, uint8_t& type) override {
      value.SetNumber(42);
      type = etNumber;
    }
  };
  TestLink t;
  ASSERT_NE(t.link.AddFunction(std::make_unique<Recno>()), nullptr);
  EXPECT_EQ(t.link.AddFunction(std::make_unique<Recno>()), nullptr);  // duplicate refused
  EXPECT_EQ(Eval("RECNO() + 1", &t.link).value.Number(), 43);
  EXPECT_NE(t.link.GetFunction("recno"), nullptr);
  try {
    t.link.GetFunction("deleted");
    FAIL();
  } catch (const ESorrelExpression& e) {
    EXPECT_EQ(e.Message(), "There is no function for DELETED");
  }
}

TEST(ExprLexer, AFieldVariableNeedsALink) {
  try {
    ThxExpHandler handler(nullptr, false, "TRUE");
    FAIL();
  } catch (const ESorrelExpression& e) {
    EXPECT_EQ(e.Message(), "Field/variable TRUE is unknown");
  }
  ThxExpHandler handler(nullptr, false, "UPPER('a') + 'b'");
  ThxExpValue v;
  handler.Evaluate(v);
  EXPECT_EQ(v.Text(), "Ab");
}

TEST(ExprHandler, CountsOperandsLengthsAndDecimals) {
  TestLink t;
  ThxExpHandler handler(&t.link, false, "STATION = 'X' .AND. (BAND > 3.125)");
  EXPECT_EQ(handler.OperandCount(), 4);
  EXPECT_EQ(handler.MaxLength(), 20);
  EXPECT_EQ(handler.MaxDecimals(), 3);
  handler.SetExpression("12.5");
  EXPECT_EQ(handler.OperandCount(), 1);
  EXPECT_EQ(handler.MaxLength(), 4);
  EXPECT_EQ(handler.MaxDecimals(), 1);
  EXPECT_EQ(handler.ResultType(), etUnknown);
  handler.SetExpression("");
  EXPECT_EQ(handler.Root(), nullptr);
  EXPECT_EQ(handler.OperandCount(), 0);
}

TEST(ExprHandler, FieldNamesListTheVariablesOfOneClass) {
  TestLink t;
  ThxExpHandler key(&t.link, false, "DTOS(QSODATE)+LOG->STATION");
  EXPECT_EQ(key.FieldNames(kTableFieldClassCode), ";QSODATE;STATION");
  ThxExpHandler filter(&t.link, false, "TRUE .AND. (QSL .OR. BAND > 1)");
  EXPECT_EQ(filter.FieldNames(kTableFieldClassCode), ";QSL;BAND");
  EXPECT_EQ(filter.FieldNames(kFieldVarClassCode), ";TRUE");
  ThxExpHandler none(&t.link, false, "");
  EXPECT_EQ(none.FieldNames(kTableFieldClassCode), "");
}

TEST(ExprRegistry, FieldVariablesStandUnderEveryName) {
  struct Counted : ThxUserDefFieldVar {
    explicit Counted(int* freed) : ThxUserDefFieldVar("call;Log.Call", 10), freed(freed) {}
    ~Counted() override { ++*freed; }
    int* freed;
  };
  int freed = 0;
  {
    ThxFieldVarReg reg;
    ThxUserDefFieldVar* v = reg.Add(std::make_unique<Counted>(&freed));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->RegCount(), 2);
    EXPECT_EQ(reg.Find("CALL"), v);
    EXPECT_EQ(reg.Find("log.call"), v);
    EXPECT_EQ(reg.IndexOf("CALL"), 0);
    EXPECT_EQ(reg.IndexOf("LOG.CALL"), 1);
    EXPECT_EQ(v->GetName(), "call");
    // Both names taken: the newcomer is refused and freed.
    EXPECT_EQ(reg.Add(std::make_unique<Counted>(&freed)), nullptr);
    EXPECT_EQ(freed, 1);
  }
  EXPECT_EQ(freed, 2);
}

TEST(ExprRegistry, GlobalRegistriesHoldTheBuiltIns) {
  EXPECT_EQ(GlobalFunctionReg().Count(), 55);
  EXPECT_EQ(GlobalFieldVarReg().Count(), 3);
  for (const char* name : {"ABS", "ALLTRIM", "DTOS", "STRZERO", "RTRIM", "VAL", "PADC"})
    EXPECT_NE(GlobalFunctionReg().Find(name), nullptr) << name;
  EXPECT_NE(GlobalFieldVarReg().Find("pi"), nullptr);
  ThxExpUserLink link;
  EXPECT_EQ(link.DefaultStrWidth(), 10);
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

TEST(ExprHandler, EmptyTextRendersNothing) {
  TestLink t;
  ThxExpHandler handler(&t.link, false, "");
  EXPECT_EQ(handler.GetText(), "");
  EXPECT_EQ(handler.Root(), nullptr);
}

TEST(ExprHandler, ExactEqualityIgnoresTheHandlerFlags) {
  TestLink t;
  ThxExpValue v;
  ThxExpHandler folded(&t.link, false, "");
  folded.SetCaseInsensitive(true);
  folded.SetExpression("'abc' == 'ABC'");
  folded.Evaluate(v);
  EXPECT_FALSE(v.Boolean());
  folded.SetExpression("NAME == 'SM*'");
  folded.Evaluate(v);
  EXPECT_FALSE(v.Boolean());
  ThxExpHandler literal(&t.link, false, "");
  literal.SetWildcard(false);
  literal.SetExpression("'SM*' == 'SM*'");
  literal.Evaluate(v);
  EXPECT_TRUE(v.Boolean());
}

TEST(ExprLexer, AQualifiedVariableReadsOnAfterItsPoint) {
  // REC stands alone and also begins the qualified names REC.NO and REC->NO; with the qualifier
  // flag the lexer reads on after the point, without it REC is taken and ".NO" is left over.
  TestLink t;
  TestVar* rec = t.Add("REC", 3);
  TestVar* recNo = t.Add("REC.NO", 5);
  rec->SetNumber(1);
  recNo->SetNumber(2);
  rec->SetQualifier(1);
  EXPECT_EQ(Eval("REC", &t.link).value.Number(), 1);
  EXPECT_EQ(Eval("REC.NO", &t.link).value.Number(), 2);
  EXPECT_EQ(Eval("REC + REC.NO", &t.link).value.Number(), 3);
  // "->" is only read as a point after a name that is not known.
  EXPECT_THROW(Eval("REC->NO", &t.link), ESorrelExpression);
  rec->SetQualifier(0);
  try {
    Eval("REC.NO", &t.link);
    FAIL();
  } catch (const ESorrelExpression& e) {
    EXPECT_EQ(e.Message(), "Syntax Error in expression \"REC.NO\"");
  }
}

TEST(Functions, DateIsToday) {
  Result r = Eval("DATE()");
  EXPECT_EQ(r.type, etDate);
  EXPECT_EQ(r.value.Number(), DBFDate().Today());
}

TEST(Functions, StrTakesItsDefaultWidthFromTheLink) {
  TestLink t;
  t.link.SetDefaultStrWidth(5);
  EXPECT_EQ(Eval("STR(5)", &t.link).value.Text(), "    5");
  EXPECT_EQ(Eval("STR(5, 3)", &t.link).value.Text(), "  5");
  t.link.SetDefaultStrWidth(0);
  EXPECT_EQ(Eval("STR(5)", &t.link).value.Text(), "         5");
  ThxExpHandler unlinked(nullptr, false, "STR(5)");
  ThxExpValue v;
  unlinked.Evaluate(v);
  EXPECT_EQ(v.Text(), "         5");
}

TEST(Functions, ANotANumberFromAFieldIsNeverCastToAnInteger) {
  // A damaged binary field can hand a NaN to the functions; every count, width, position and
  // day number made from it is refused or falls back, never converted blindly.
  TestLink t;
  t.band->SetNumber(std::nan(""));
  auto text = [&](const char* e) { return Eval(e, &t.link).value.Text(); };
  auto error = [&](const char* e) {
    try {
      Eval(e, &t.link);
    } catch (const ESorrelExpression& x) {
      return x.Message();
    }
    return std::string("no error");
  };
  EXPECT_EQ(error("SPACE(BAND)"), "Argument for SPACE must be 65535 or less");
  EXPECT_EQ(error("PADL('A', BAND)"), "Argument for PADL must be 65535 or less");
  EXPECT_EQ(error("STR(1, BAND)"), "Argument for STR must be 65535 or less");
  EXPECT_EQ(text("STR(1, 5, BAND)"), "    1");
  EXPECT_EQ(text("LEFT('ABC', BAND)"), "ABC");
  EXPECT_EQ(text("RIGHT('ABC', BAND)"), "ABC");
  EXPECT_EQ(text("SUBSTR('ABC', BAND)"), "ABC");
  EXPECT_EQ(text("SUBSTR('ABC', 2, BAND)"), "");
  EXPECT_EQ(Eval("AT('A', 'BANANA', BAND)", &t.link).value.Number(), 0);
  EXPECT_EQ(text("DTOS(BAND)"), "        ");
  EXPECT_EQ(Eval("DOW(BAND)", &t.link).value.Number(), 0);
  EXPECT_EQ(error("CHR(BAND)"), "A Byte value is required but invalid");
  EXPECT_EQ(error("MOD(BAND, 2)"), "Expression cannot be evaluated");
  EXPECT_EQ(error("BAND = 20"), "Expression cannot be evaluated");

  t.qsoDate->SetNumber(std::nan(""), etDate);
  ThxExpHandler key(&t.link, false, "QSODATE");
  ThxVariant variant;
  key.EvaluateKey(variant);
  EXPECT_EQ(variant.GetDate(), 0);
}

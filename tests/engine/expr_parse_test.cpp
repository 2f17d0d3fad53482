// Lexer, operator table, binding by levels and renderings of the expression language.
#include <string>

#include "expr_test_util.h"

using namespace expr_test;

TEST(ExprBinding, LevelsDecideWhatBindsFirst) {
  EXPECT_EQ(Num("2+3*4"), 14);
  EXPECT_EQ(Num("(2+3)*4"), 20);
  EXPECT_EQ(Num("2*3^2"), 18);
  EXPECT_EQ(Num("2^3"), 8);
  EXPECT_EQ(Num("2**3"), 8);
  EXPECT_EQ(Num("7/2"), 3.5);
  EXPECT_TRUE(Bln("1+2=3"));
  // .AND. binds tighter than .OR.
  EXPECT_TRUE(Bln(".T. .OR. .F. .AND. .F."));
}

TEST(ExprBinding, EqualLevelsGroupFromTheLeft) {
  EXPECT_EQ(Num("10-4-3"), 3);
  EXPECT_EQ(Num("16/4/2"), 2);
  EXPECT_EQ(Num("2^3^2"), 64);
  EXPECT_EQ(Rendering("10-4-3"), "10-4-3");
}

TEST(ExprBinding, NegationInsideAnExpressionTakesTheWholeRest) {
  // A .AND. .NOT. B .OR. C is A .AND. ((.NOT. B) .OR. C): false with A false.
  EXPECT_FALSE(Bln(".F. .AND. .NOT. .T. .OR. .T."));
  EXPECT_EQ(Rendering(".F. .AND. .NOT. .T. .OR. .T."), ".F..AND.(.NOT..T..OR..T.)");
  // At the start a negation covers the comparison after it.
  EXPECT_TRUE(Bln(".NOT. 1 = 2"));
  EXPECT_EQ(Rendering(".NOT. 1 = 2"), ".NOT.1=2");
  EXPECT_TRUE(Bln("!.F."));
  EXPECT_TRUE(Bln("not .F."));
  EXPECT_TRUE(Bln("NOT(.F.)"));
  EXPECT_TRUE(Bln(".T. .AND. !.F."));
}

TEST(ExprBinding, TwoNegationsInARowAreRefused) {
  EXPECT_EQ(Error(".NOT. .NOT. .T."), "Expecting \".T.\" or \".F.\"");
  EXPECT_EQ(Error("NOT NOT QSL"), "There is no function for NOT");
}

TEST(ExprBinding, MinusInOperandPositionStartsANumber) {
  EXPECT_EQ(Num("-3+5"), 2);
  EXPECT_EQ(Num("5 - -3"), 8);
  EXPECT_EQ(Num("2*-3"), -6);
  EXPECT_EQ(Num("+4"), 4);
}

TEST(ExprOperators, EverySpellingReachesItsOperator) {
  EXPECT_TRUE(Bln("1 = 1"));
  EXPECT_TRUE(Bln("1 EQ 1"));
  EXPECT_TRUE(Bln("1 .eq. 1"));
  for (const char* ne : {"<>", "!=", "#", "NE", ".ne."}) EXPECT_TRUE(Bln(std::string("1 ") + ne + " 2")) << ne;
  for (const char* ge : {">=", "=>", "GE"}) EXPECT_TRUE(Bln(std::string("2 ") + ge + " 2")) << ge;
  for (const char* le : {"<=", "=<", "LE"}) EXPECT_TRUE(Bln(std::string("2 ") + le + " 2")) << le;
  EXPECT_TRUE(Bln("2 GT 1"));
  EXPECT_TRUE(Bln("1 lt 2"));
  EXPECT_TRUE(Bln(".T. AND .T."));
  EXPECT_TRUE(Bln(".F. or .T."));
  EXPECT_TRUE(Bln(".T..AND..T."));
  EXPECT_TRUE(Bln(".T. .AND .T."));
}

TEST(ExprRendering, EachNodeRendersItsOwnWay) {
  EXPECT_EQ(Rendering("station = 'W1AW'"), "STATION=\"W1AW\"");
  EXPECT_EQ(Rendering("[x] + \"y\""), "\"x\"+\"y\"");
  EXPECT_EQ(Rendering("\"B\" $ \"ABC\""), "\"B\"in string\"ABC\"");
  EXPECT_EQ(Rendering("1 == 1"), "1exactly equal1");
  EXPECT_EQ(Rendering("1 <> 2 .or. 1 != 2"), "1#2.OR.1#2");
  EXPECT_EQ(Rendering("2 ** 3"), "2^3");
  EXPECT_EQ(Rendering("3.50 + 1"), "3.50+1");
  EXPECT_EQ(Rendering("1.2.3"), "0.000");
  EXPECT_EQ(Rendering(".t. .and. .f."), ".T..AND..F.");
  EXPECT_EQ(Rendering("( 1 + 2 ) * 3"), "(1+2)*3");
  EXPECT_EQ(Rendering("dtos( qsodate )+station"), "DTOS(QSODATE)+STATION");
  EXPECT_EQ(Rendering("log->station"), "STATION");
  EXPECT_EQ(Rendering("log.name"), "NAME");
  EXPECT_EQ(Rendering("{19800101}"), "{01/01/1980}");
  EXPECT_EQ(Rendering("()"), "()");
  EXPECT_EQ(Rendering(""), "");
}

TEST(ExprLexer, FunctionArgumentsSplitOnlyAtTopLevelCommas) {
  EXPECT_EQ(Rendering("IIF(.T.,,'a,b')"), "IIF(.T.,\"a,b\")");
  EXPECT_EQ(Txt("IIF(.T.,,'a,b')"), "a,b");
  EXPECT_EQ(Rendering("AT(\",\", [x,y], MAX(1,2))"), "AT(\",\",\"x,y\",MAX(1,2))");
  EXPECT_EQ(Num("AT(\",\", [x,y], MAX(1,2))"), 2);
  EXPECT_EQ(Rendering("MAX( 1 , (2+3) )"), "MAX(1,(2+3))");
}

TEST(ExprLexer, LiteralsAndTheirErrors) {
  EXPECT_EQ(Txt("\"it's\""), "it's");
  EXPECT_EQ(Error("'it''"), "Syntax Error in expression \"'it''\"");  // no escapes
  EXPECT_EQ(Error("'abc"), "Missing closing \"'\" on literal");
  EXPECT_EQ(Error("\"abc"), "Missing closing \"\"\" on literal");
  EXPECT_EQ(Error("[abc"), "Missing closing \"[\" on literal");
  EXPECT_EQ(Error("{19800101"), "Missing closing \"{\" on literal");
  EXPECT_EQ(Error(".T"), "Missing closing period");
  EXPECT_EQ(Error(".5"), "Missing closing period");
  EXPECT_EQ(Error(".X."), "Expecting \".T.\" or \".F.\"");
  EXPECT_EQ(Error("(1+2"), "Missing closing parentheses");
  EXPECT_EQ(Error("UPPER('a'"), "Missing closing parentheses");
  EXPECT_EQ(Error("{not a date}"), "Syntax Error in expression \"{not a date}\"");
  EXPECT_EQ(Num("1.2.3"), 0);
  EXPECT_EQ(Num("-"), 0);
  EXPECT_EQ(Num("12."), 12);
}

TEST(ExprLexer, NamesResolveThroughGlobalsAndTheLink) {
  EXPECT_EQ(Error("FOO"), "There is no function for FOO");
  EXPECT_EQ(Error("foo(1)"), "There is no function for FOO");
  EXPECT_EQ(Error("XX->STATION"), "There is no function for XX.STATION");
  EXPECT_EQ(Error("UPPER (NAME)"), "There is no function for UPPER");
  EXPECT_EQ(Txt("LOG->STATION"), "W1AW           ");
  EXPECT_TRUE(Bln("TRUE .AND. .NOT. FALSE"));
  EXPECT_NEAR(Num("PI"), 3.141592653589793, 1e-15);
  EXPECT_NEAR(Num("PI()"), 3.141592653589793, 1e-15);
  // A name such as NOTE is a name, not a negation.
  EXPECT_EQ(Error("NOTE"), "There is no function for NOTE");
}

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

TEST(ExprSyntax, IncompleteExpressionsAreRefused) {
  EXPECT_EQ(Error("1 2"), "Syntax Error in expression \"1 2\"");
  EXPECT_EQ(Error("1 @ 2"), "Syntax Error in expression \"1 @ 2\"");
  EXPECT_EQ(Error("@"), "Syntax Error in expression \"@\"");
  EXPECT_EQ(Error("1 >=< 2"), "Syntax Error in expression \"1 >=< 2\"");
  EXPECT_EQ(Error("1 NOT 2"), "Syntax Error in expression \"1 NOT 2\"");
  EXPECT_EQ(Error("1 +"), "Expression cannot be evaluated");
  EXPECT_EQ(Error("1 + 2 *"), "Expression cannot be evaluated");
  EXPECT_EQ(Error(".NOT."), "Expression cannot be evaluated");
  EXPECT_EQ(Error("!"), "Expression cannot be evaluated");
  EXPECT_EQ(Error(".T. .AND. .NOT."), "Expression cannot be evaluated");
  EXPECT_EQ(Error("1 ! 2"), "Expression cannot be evaluated");
  EXPECT_EQ(Error("(1 +) * 2"), "Expression cannot be evaluated");
  EXPECT_EQ(Error("   "), "Expression cannot be evaluated");
  EXPECT_EQ(Error("MAX(1, 2 +)"), "Expression cannot be evaluated");
}

TEST(ExprSyntax, NestingAndDepthAreCapped) {
  auto nested = [](int n) { return std::string(n, '(') + "1" + std::string(n, ')'); };
  EXPECT_EQ(Num(nested(50)), 1);
  EXPECT_EQ(Error(nested(5000)), "Expression cannot be evaluated");

  auto chain = [](int n) {
    std::string text = "1";
    for (int i = 1; i < n; ++i) text += "+1";
    return text;
  };
  EXPECT_EQ(Num(chain(300)), 300);
  EXPECT_EQ(Error(chain(20000)), "Expression cannot be evaluated");

  std::string calls;
  for (int i = 0; i < 5000; ++i) calls += "ABS(";
  calls += "1" + std::string(5000, ')');
  EXPECT_EQ(Error(calls), "Expression cannot be evaluated");

  std::string negations = ".T.";
  for (int i = 0; i < 5000; ++i) negations += " .AND. .NOT. .F.";
  EXPECT_EQ(Error(negations), "Expression cannot be evaluated");
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

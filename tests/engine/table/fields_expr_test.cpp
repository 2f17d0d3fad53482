// A table's fields and pseudo-functions seen from its expressions.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/SysSorl.h"
#include "base/hx6_date.h"
#include "table/hx6_dbf_build.h"
#include "table/hx6_dbf_fld.h"
#include "expr/hx6_fctn.h"
#include "expr/hx6_sql.h"
#include "base/hx6_tool.h"
#include "table/table_images.h"

using namespace table_images;

namespace {

class FieldsExprTest : public TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    SetShortDateFormat("MM/dd/yy");
    HXO_DB4Build b(PathOf("LOG.DBF"));
    b.AddField("DATE", "D", 8, 0);
    b.AddField("TIME", "C", 6, 0);
    b.AddField("STATION", "C", 15, 0);
    b.AddField("BAND", "N", 20, 4);
    b.AddField("QSL", "L", 1, 0);
    b.AddField("NOTES", "M", 10, 0);
    b.AddField("REMARK", "C", 300, 0);
    b.CreateFiles();
    table_ = std::make_unique<HXO_dBaseFld>(PathOf("LOG.DBF"), true, true);
    Append("20240315", "1402", "W1AW", "20", "Y", "first");
    Append("20240316", "0830", "DL1ABC", "40", "N", "");
  }

  void Append(const char* date, const char* time, const char* station, const char* band,
              const char* qsl, const char* notes) {
    table_->BlankRecord();
    table_->PutText("DATE", date);
    table_->PutText("TIME", time);
    table_->PutText("STATION", station);
    table_->PutText("BAND", band);
    table_->PutText("QSL", qsl);
    if (*notes != '\0') table_->PutText("NOTES", notes);
    table_->AppendRecord();
  }

  struct Result {
    ThxExpValue value;
    uint8_t type = etUnknown;
  };
  Result Eval(const std::string& text) {
    ThxExpHandler handler(table_->Link(), false, text);
    Result r;
    handler.Evaluate(r.value);
    r.type = handler.ResultType();
    return r;
  }

  std::unique_ptr<HXO_dBaseFld> table_;
};

TEST_F(FieldsExprTest, FieldsByTypeUnderBothNames) {
  table_->GotoRecord(1);
  Result r = Eval("STATION");
  EXPECT_EQ(r.type, etText);
  EXPECT_EQ(r.value.Text(), "W1AW           ");  // the full field text
  EXPECT_EQ(Eval("LOG.STATION").value.Text(), "W1AW           ");
  EXPECT_EQ(Eval("log->station").value.Text(), "W1AW           ");
  r = Eval("BAND * 2");
  EXPECT_EQ(r.type, etNumber);
  EXPECT_EQ(r.value.Number(), 40.0);
  r = Eval("DATE");
  EXPECT_EQ(r.type, etDate);
  EXPECT_EQ(r.value.Number(), DBFDate().EncodeDate(2024, 3, 15));
  r = Eval("QSL");
  EXPECT_EQ(r.type, etBoolean);
  EXPECT_TRUE(r.value.Boolean());
  r = Eval("NOTES");
  EXPECT_EQ(r.type, etText);
  EXPECT_EQ(r.value.Text(), "first");
  EXPECT_EQ(Eval("DTOS(DATE)+TIME").value.Text(), "202403151402  ");
  EXPECT_TRUE(Eval("STATION = \"W1AW\" .AND. BAND > 10").value.Boolean());
  // The same handler follows the current record.
  ThxExpHandler key(table_->Link(), false, "DTOS(DATE)+TIME");
  EXPECT_EQ(key.FieldNames(kTableFieldClassCode), ";DATE;TIME");
  ThxExpValue v;
  table_->GotoRecord(2);
  key.Evaluate(v);
  EXPECT_EQ(v.Text(), "202403160830  ");
  EXPECT_FALSE(Eval("QSL").value.Boolean());
  EXPECT_EQ(Eval("NOTES").value.Text(), "");
  table_->BlankRecord();
  key.Evaluate(v);
  EXPECT_EQ(v.Text(), std::string(8 + 6, ' '));
}

TEST_F(FieldsExprTest, RecordPseudoFunctions) {
  table_->GotoRecord(2);
  Result r = Eval("RECNO()");
  EXPECT_EQ(r.type, etNumber);
  EXPECT_EQ(r.value.Number(), 2.0);
  EXPECT_EQ(Eval("DELETED()").type, etBoolean);
  EXPECT_FALSE(Eval("DELETED()").value.Boolean());
  table_->DeleteRecord();
  EXPECT_TRUE(Eval("DELETED()").value.Boolean());
  table_->GotoRecord(1);
  EXPECT_FALSE(Eval("DELETED()").value.Boolean());
  table_->GotoRecord(2);
  EXPECT_TRUE(Eval("DELETED()").value.Boolean());
  table_->RecallRecord();
  EXPECT_FALSE(Eval("DELETED()").value.Boolean());
  table_->GotoRecord(2);
  EXPECT_FALSE(Eval("DELETED()").value.Boolean());  // the recall was written

  EXPECT_FALSE(Eval("EOF()").value.Boolean());
  table_->GotoRecord(kGotoNext);
  EXPECT_TRUE(Eval("EOF()").value.Boolean());
  table_->GotoRecord(1);
  EXPECT_FALSE(Eval("BOF()").value.Boolean());
  table_->GotoRecord(kGotoPrevious);
  EXPECT_TRUE(Eval("BOF()").value.Boolean());
  EXPECT_EQ(Eval("BOF()").type, etBoolean);
}

TEST_F(FieldsExprTest, FieldPseudoFunctions) {
  Result r = Eval("TYPE(\"band\")");
  EXPECT_EQ(r.type, etText);
  EXPECT_EQ(r.value.Text(), "N");
  EXPECT_EQ(Eval("TYPE('DATE')").value.Text(), "D");
  EXPECT_EQ(Eval("TYPE('notes')").value.Text(), "M");
  EXPECT_EQ(ErrorOf<ESorrelError>([&] { Eval("TYPE('NOPE')"); }),
            "There is no field name " + table_->Name() + "->NOPE");
  r = Eval("FIELDNO(\"qsl\")");
  EXPECT_EQ(r.type, etNumber);
  EXPECT_EQ(r.value.Number(), 5.0);
  EXPECT_EQ(Eval("FIELDNO('NOPE')").value.Number(), 0.0);
  EXPECT_NE(ErrorOf<ESorrelExpression>([&] { Eval("FIELDNO(5)"); }), "");
}

// LEN in an expression is the built-in text length; the table's own LEN is reached through its
// registry.
TEST_F(FieldsExprTest, TableLenAnswersTheWholeLength) {
  ThxUserDefFunction* len = table_->Link()->GetFunction("LEN");
  ASSERT_NE(len, nullptr);
  ThxExpHandler holder(table_->Link(), false, "");
  for (auto [name, length] :
       {std::pair{"REMARK", 300}, std::pair{"band", 20}, std::pair{"DATE", 8}}) {
    std::vector<std::unique_ptr<ThxExpBaseObject>> args;
    args.push_back(std::make_unique<ThxExpTextLit>(&holder, name));
    ThxExpFunction node(&holder, len, std::move(args));
    ThxExpValue value;
    uint8_t type = etUnknown;
    len->Evaluate(node, value, type);
    EXPECT_EQ(type, etNumber);
    EXPECT_EQ(value.Number(), length) << name;
  }
  table_->GotoRecord(1);
  EXPECT_EQ(Eval("LEN(REMARK)").value.Number(), 300.0);
}

TEST_F(FieldsExprTest, EveryFieldIsRegisteredOnceUnderEachName) {
  const ThxFieldVarReg& vars = table_->Link()->FieldVars();
  EXPECT_EQ(vars.Count(), 14);
  ThxUserDefFieldVar* station = table_->Link()->LookupFieldVar("STATION");
  ASSERT_NE(station, nullptr);
  EXPECT_EQ(station, table_->Link()->LookupFieldVar("LOG.STATION"));
  EXPECT_EQ(station, table_->Field(3)->FieldVar());
  EXPECT_EQ(station->ClassCode(), kTableFieldClassCode);
  EXPECT_EQ(station->Length(), 15);
  EXPECT_EQ(station->GetName(), "STATION");
  EXPECT_EQ(station->RegCount(), 2);
  EXPECT_EQ(table_->Link()->LookupFieldVar("REMARK")->Length(), 300);
  for (const char* f : {"RECNO", "DELETED", "BOF", "EOF", "TYPE", "LEN", "FIELDNO"})
    EXPECT_NE(table_->Link()->LookupFunction(f), nullptr) << f;
}

TEST_F(FieldsExprTest, ABadFieldTextReachesTheExpressionAsAnError) {
  table_->GotoRecord(1);
  table_->PutString("BAND", "x");
  EXPECT_EQ(ErrorOf<ESorrelError>([&] { Eval("BAND"); }),
            "Invalid numeric value in field LOG->BAND (                   x)");
}

// "=" and "#" on a text field read the field in place and settle equality by bytes; the ordering
// operators still go through the collation. Each handler is evaluated over many records (the
// first evaluation takes the general path, the later ones the short one), and both must agree
// with ">= .AND. <=", under the fixed order and under a library locale, with every option.
TEST_F(FieldsExprTest, FieldEqualityAgreesWithTheOrderingComparisons) {
  const std::vector<std::string> stations = {
      "W1AW", "W1A", "W1AWX", "w1aw", "W1AW*", "*", "K1ABC", "ABCDEFGHIJKLMNO", " W1AW", "",
      "W1AW  X", "\xC4W1"};
  const std::vector<std::string> literals = {"W1AW", "w1aw", "W1AW   ", "", "   ", "W1*", "*AW",
                                             "*", "W1A", "ABCDEFGHIJKLMNOP", " W1AW", "\xE4w1"};
  table_->GotoRecord(1);
  for (const char* locale : {"C", "C.UTF-8"}) {
    const bool inForce = SysSetCollationLocale(locale);
    if (!inForce && std::string(locale) != "C") continue;
    for (const bool caseInsensitive : {false, true}) {
      for (const bool wildcard : {false, true}) {
        for (const std::string& literal : literals) {
          auto make = [&](const std::string& text) {
            auto h = std::make_unique<ThxExpHandler>(table_->Link(), false, std::string_view());
            h->SetCaseInsensitive(caseInsensitive);
            h->SetWildcard(wildcard);
            h->SetExpression(text);
            return h;
          };
          const std::string quoted = "'" + literal + "'";
          auto equal = make("STATION = " + quoted);
          auto differ = make("STATION # " + quoted);
          auto ordered = make("STATION >= " + quoted + " .AND. STATION <= " + quoted);
          for (int round = 0; round < 2; ++round) {
            for (const std::string& station : stations) {
              table_->PutString("STATION", station);
              ThxExpValue a, b, c;
              equal->Evaluate(a);
              differ->Evaluate(b);
              ordered->Evaluate(c);
              const std::string where = std::string(locale) + " case-insensitive " +
                                        std::to_string(caseInsensitive) + " wildcard " +
                                        std::to_string(wildcard) + ": [" + station + "] = [" +
                                        literal + "]";
              ASSERT_EQ(equal->ResultType(), etBoolean) << where;
              ASSERT_EQ(differ->ResultType(), etBoolean) << where;
              ASSERT_EQ(a.Boolean(), c.Boolean()) << where;
              ASSERT_EQ(b.Boolean(), !c.Boolean()) << where;
            }
          }
        }
      }
    }
  }
  SysSetCollationLocale(nullptr);
}

}  // namespace

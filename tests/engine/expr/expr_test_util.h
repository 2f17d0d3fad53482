// Shared helpers of the expression tests: a link with settable field variables and one-call
// evaluation of an expression text.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "expr/hx6_fctn.h"
#include "expr/hx6_sql.h"

namespace expr_test {

// A field variable whose value and type the test sets.
class TestVar : public ThxUserDefFieldVar {
 public:
  TestVar(std::string names, int length, int classCode = kTableFieldClassCode)
      : ThxUserDefFieldVar(std::move(names), length), classCode_(classCode) {}
  int ClassCode() const override { return classCode_; }
  void GetValue(ThxExpValue& value, uint8_t& type) override {
    value = value_;
    type = type_;
    ++reads;
  }
  void Set(ThxExpValue value, uint8_t type) {
    value_ = std::move(value);
    type_ = type;
  }
  void SetText(std::string text) { Set(ThxExpValue::OfText(std::move(text)), etText); }
  void SetNumber(double n, uint8_t type = etNumber) { Set(ThxExpValue::OfNumber(n), type); }
  void SetBoolean(bool b) { Set(ThxExpValue::OfBoolean(b), etBoolean); }
  int reads = 0;

 private:
  int classCode_;
  ThxExpValue value_;
  uint8_t type_ = etEmpty;
};

// A link like a table's: fields STATION (C 15), NAME (C 20), BAND (N 20.4), QSODATE (D 8),
// QSL (L 1), each also under LOG.<name>.
struct TestLink {
  ThxExpUserLink link;
  TestVar* station;
  TestVar* name;
  TestVar* band;
  TestVar* qsoDate;
  TestVar* qsl;

  TestLink() {
    station = Add("STATION;LOG.STATION", 15);
    name = Add("NAME;LOG.NAME", 20);
    band = Add("BAND;LOG.BAND", 20);
    qsoDate = Add("QSODATE;LOG.QSODATE", 8);
    qsl = Add("QSL;LOG.QSL", 1);
    station->SetText("W1AW           ");
    name->SetText("SMITH               ");
    band->SetNumber(20);
    qsoDate->SetNumber(2444240, etDate);
    qsl->SetBoolean(true);
  }
  TestVar* Add(const char* names, int length) {
    return static_cast<TestVar*>(link.AddFieldVar(std::make_unique<TestVar>(names, length)));
  }
};

struct Result {
  ThxExpValue value;
  uint8_t type = etUnknown;
};

inline Result Eval(std::string_view text, ThxExpUserLink* link) {
  ThxExpHandler handler(link, false, text);
  Result r;
  handler.Evaluate(r.value);
  r.type = handler.ResultType();
  return r;
}

// Evaluates with a fresh test link.
inline Result Eval(std::string_view text) {
  TestLink t;
  return Eval(text, &t.link);
}

inline double Num(std::string_view text) {
  Result r = Eval(text);
  EXPECT_TRUE(ExpIsNumeric(r.type)) << text << " gave type " << int(r.type);
  return r.value.Number();
}

inline std::string Txt(std::string_view text) {
  Result r = Eval(text);
  EXPECT_EQ(r.type, etText) << text;
  return r.value.Text();
}

inline bool Bln(std::string_view text) {
  Result r = Eval(text);
  EXPECT_EQ(r.type, etBoolean) << text;
  return r.value.Boolean();
}

// The message of the ESorrelExpression that evaluating (or parsing) `text` raises; "" when none.
inline std::string Error(std::string_view text) {
  TestLink t;
  try {
    Eval(text, &t.link);
  } catch (const ESorrelExpression& e) {
    return e.Message();
  }
  return "";
}

inline std::string Rendering(std::string_view text) {
  TestLink t;
  ThxExpHandler handler(&t.link, false, text);
  return handler.GetText();
}

}  // namespace expr_test

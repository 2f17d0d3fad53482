// hx6_fctn: registration of the built-in functions and system variables, and the numeric, date
// and logical functions. The text functions are in hx6_fctn_text.cpp.
#include "expr/hx6_fctn.h"

#include <cmath>

#include "base/hx6_date.h"
#include "expr/hx6_fctn_args.h"

using namespace hx6_fctn;

namespace {

constexpr double kPi = 3.141592653589793;
// DESCEND of a date: this minus the day number, so later dates sort first.
constexpr double kDescendDateBase = 5231808.0;

struct GlobalRegistries {
  ThxFieldVarReg fieldVars;
  ThxFunctionReg functions;

  GlobalRegistries() {
    fieldVars.Add(std::make_unique<ThxSDVTrue>());
    fieldVars.Add(std::make_unique<ThxSDVFalse>());
    fieldVars.Add(std::make_unique<ThxSDVPi>());
    auto add = [this](auto function) { functions.Add(std::move(function)); };
    add(std::make_unique<ThxUDFAbsolute>());
    add(std::make_unique<ThxUDFAllTrim>());
    add(std::make_unique<ThxUDFArcCos>());
    add(std::make_unique<ThxUDFArcSin>());
    add(std::make_unique<ThxUDFArcTan>());
    add(std::make_unique<ThxUDFArcTan2>());
    add(std::make_unique<ThxUDFAsc>());
    add(std::make_unique<ThxUDFAt>());
    add(std::make_unique<ThxUDFAtC>());
    add(std::make_unique<ThxUDFBetween>());
    add(std::make_unique<ThxUDFCeiling>());
    add(std::make_unique<ThxUDFChr>());
    add(std::make_unique<ThxUDFCosine>());
    add(std::make_unique<ThxUDFCTOD>());
    add(std::make_unique<ThxUDFDate>());
    add(std::make_unique<ThxUDFDescend>());
    add(std::make_unique<ThxUDFDOW>());
    add(std::make_unique<ThxUDFDTOC>());
    add(std::make_unique<ThxUDFDegToRad>());
    add(std::make_unique<ThxUDFDTOS>());
    add(std::make_unique<ThxUDFEmpty>());
    add(std::make_unique<ThxUDFFloor>());
    add(std::make_unique<ThxUDFFutureValue>());
    add(std::make_unique<ThxUDFIIF>());
    add(std::make_unique<ThxUDFInlist>());
    add(std::make_unique<ThxUDFInt>());
    add(std::make_unique<ThxUDFLeft>());
    add(std::make_unique<ThxUDFLen>());
    add(std::make_unique<ThxUDFLog>());
    add(std::make_unique<ThxUDFLog10>());
    add(std::make_unique<ThxUDFLower>());
    add(std::make_unique<ThxUDFLTrim>());
    add(std::make_unique<ThxUDFMax>());
    add(std::make_unique<ThxUDFMin>());
    add(std::make_unique<ThxUDFMod>());
    add(std::make_unique<ThxUDFPadC>());
    add(std::make_unique<ThxUDFPadL>());
    add(std::make_unique<ThxUDFPadR>());
    add(std::make_unique<ThxUDFPi>());
    add(std::make_unique<ThxUDFPresentValue>());
    add(std::make_unique<ThxUDFProper>());
    add(std::make_unique<ThxUDFRight>());
    add(std::make_unique<ThxUDFRTrim>());
    add(std::make_unique<ThxUDFRadToDeg>());
    add(std::make_unique<ThxUDFSin>());
    add(std::make_unique<ThxUDFSoundex>());
    add(std::make_unique<ThxUDFSpace>());
    add(std::make_unique<ThxUDFStr>());
    add(std::make_unique<ThxUDFStrTran>());
    add(std::make_unique<ThxUDFStrZero>());
    add(std::make_unique<ThxUDFSubStr>());
    add(std::make_unique<ThxUDFTan>());
    add(std::make_unique<ThxUDFTrim>());
    add(std::make_unique<ThxUDFUpper>());
    add(std::make_unique<ThxUDFVal>());
  }
};

GlobalRegistries& Globals() {
  static GlobalRegistries registries;
  return registries;
}

// Reads the one numeric argument of a plain numeric function and writes f(argument).
template <class F>
void Numeric(ThxExpFunction& node, ThxExpValue& value, uint8_t& type, F f) {
  type = etNumber;
  double x = Arg(node, 0, etNumber).Number();
  SetNumberResult(value, type, f(x));
}

// The optional argument `index` as a number, or `fallback` when it is absent or not a number.
double OptionalNumber(ThxExpFunction& node, int index, double fallback, bool* given = nullptr) {
  uint8_t actual = etUnknown;
  ThxExpValue v = Arg(node, index, etAny, actual);
  bool numeric = ExpIsNumeric(actual);
  if (given) *given = numeric;
  return numeric ? v.Number() : fallback;
}

// The payment time of FV and PV: 0 (end of period) or 1 (start).
double PaymentTime(ThxExpFunction& node, const char* name) {
  double t = OptionalNumber(node, 4, 0.0);
  if (t != 0.0 && t != 1.0) ArgumentMustBe(std::string(name) + " PaymentTime", "0 or 1");
  return t;
}

// The annuity part shared by FV and PV: P*(1+r*t)*((1+r)^n-1)/r.
double Annuity(double payment, double rate, double periods, double time) {
  return payment * (1.0 + rate * time) * (std::pow(1.0 + rate, periods) - 1.0) / rate;
}

}  // namespace

ThxFunctionReg& GlobalFunctionReg() { return Globals().functions; }
ThxFieldVarReg& GlobalFieldVarReg() { return Globals().fieldVars; }

// ---------------------------------------------------------------------------------------------
// System variables

void ThxSDVTrue::GetValue(ThxExpValue& value, uint8_t& type) {
  value.SetBoolean(true);
  type = etBoolean;
}

void ThxSDVFalse::GetValue(ThxExpValue& value, uint8_t& type) {
  value.SetBoolean(false);
  type = etBoolean;
}

void ThxSDVPi::GetValue(ThxExpValue& value, uint8_t& type) {
  value.SetNumber(kPi);
  type = etNumber;
}

// ---------------------------------------------------------------------------------------------
// Numeric functions

void ThxUDFAbsolute::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Numeric(node, value, type, [](double x) { return std::fabs(x); });
}

void ThxUDFArcCos::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Numeric(node, value, type, [](double x) {
    if (std::fabs(x) > 1.0) ArgumentMustBe("ACOS", "-1 to +1");
    return std::acos(x);
  });
}

void ThxUDFArcSin::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Numeric(node, value, type, [](double x) {
    if (std::fabs(x) > 1.0) ArgumentMustBe("ASIN", "-1 to +1");
    return std::asin(x);
  });
}

void ThxUDFArcTan::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Numeric(node, value, type, [](double x) { return std::atan(x); });
}

void ThxUDFArcTan2::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etNumber;
  double y = Arg(node, 0, etNumber).Number();
  double x = Arg(node, 1, etNumber).Number();
  SetNumberResult(value, type, std::atan2(y, x));
}

void ThxUDFCeiling::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Numeric(node, value, type, [](double x) { return std::ceil(x); });
}

void ThxUDFCosine::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Numeric(node, value, type, [](double x) { return std::cos(x); });
}

void ThxUDFDegToRad::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Numeric(node, value, type, [](double x) { return x * kPi / 180.0; });
}

void ThxUDFFloor::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Numeric(node, value, type, [](double x) { return std::floor(x); });
}

void ThxUDFFutureValue::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etNumber;
  double payment = Arg(node, 0, etNumber).Number();
  double rate = Arg(node, 1, etNumber).Number();
  double periods = std::trunc(Arg(node, 2, etNumber).Number());
  bool presentGiven = false;
  double present = OptionalNumber(node, 3, 0.0, &presentGiven);
  double time = presentGiven ? PaymentTime(node, "FV") : 0.0;
  double result = rate == 0.0 ? present + payment * periods
                              : present * std::pow(1.0 + rate, periods) +
                                    Annuity(payment, rate, periods, time);
  SetNumberResult(value, type, std::fabs(result));
}

void ThxUDFInt::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Numeric(node, value, type, [](double x) { return std::trunc(x) + 0.0; });
}

void ThxUDFLog::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Numeric(node, value, type, [](double x) {
    if (!(x > 0.0)) ArgumentMustBe("LOG", "> 0");
    return std::log(x);
  });
}

void ThxUDFLog10::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Numeric(node, value, type, [](double x) {
    if (!(x > 0.0)) ArgumentMustBe("LOG10", "> 0");
    return std::log10(x);
  });
}

void ThxUDFMod::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etNumber;
  double a = std::trunc(Arg(node, 0, etNumber).Number());
  double b = std::trunc(Arg(node, 1, etNumber).Number());
  if (b == 0.0) DivisionByZero();
  // fmod keeps the sign of the dividend, as the integer remainder does; + 0.0 drops a "-0".
  SetNumberResult(value, type, std::fmod(a, b) + 0.0);
}

void ThxUDFPi::Evaluate(ThxExpFunction&, ThxExpValue& value, uint8_t& type) {
  value.SetNumber(kPi);
  type = etNumber;
}

void ThxUDFPresentValue::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etNumber;
  double payment = Arg(node, 0, etNumber).Number();
  double rate = Arg(node, 1, etNumber).Number();
  double periods = std::trunc(Arg(node, 2, etNumber).Number());
  bool futureGiven = false;
  double future = OptionalNumber(node, 3, 0.0, &futureGiven);
  double time = futureGiven ? PaymentTime(node, "PV") : 0.0;
  double result = 0.0;
  if (rate == 0.0) {
    result = future + payment * periods;
  } else {
    double growth = std::pow(1.0 + rate, periods);
    if (growth == 0.0) DivisionByZero();
    result = (future + Annuity(payment, rate, periods, time)) / growth;
  }
  SetNumberResult(value, type, std::fabs(result));
}

void ThxUDFRadToDeg::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Numeric(node, value, type, [](double x) { return x * 180.0 / kPi; });
}

void ThxUDFSin::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Numeric(node, value, type, [](double x) { return std::sin(x); });
}

void ThxUDFTan::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Numeric(node, value, type, [](double x) { return std::tan(x); });
}

// ---------------------------------------------------------------------------------------------
// Date functions

void ThxUDFCTOD::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etDate;
  std::string text = Arg(node, 0, etText).Text();
  int32_t day = 0;
  try {
    day = DBFDate().CTOD(text);
  } catch (const EConvertError&) {
    throw ESorrelExpression(smValueRequiredInvalid, {"Date"});
  }
  value.SetNumber(day == 0 ? kExpEmptyDate : day);
}

void ThxUDFDate::Evaluate(ThxExpFunction&, ThxExpValue& value, uint8_t& type) {
  type = etDate;
  value.SetNumber(DBFDate().Today());
}

void ThxUDFDOW::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etNumber;
  int32_t day = JulianOf(Arg(node, 0, etDate).Number());
  value.SetNumber(DBFDate().DayOfWeek(day));
}

void ThxUDFDTOC::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  int32_t day = JulianOf(Arg(node, 0, etDate).Number());
  bool sortable = RoundVariant(OptionalNumber(node, 1, 0.0)) == 1.0;
  value.SetText(sortable ? DBFDate().DTOS(day) : DBFDate().DTOC(day));
}

void ThxUDFDTOS::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  int32_t day = JulianOf(Arg(node, 0, etDate).Number());
  value.SetText(DBFDate().DTOS(day));
}

// ---------------------------------------------------------------------------------------------
// Functions over any type

void ThxUDFBetween::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etBoolean;
  uint8_t valueType = etUnknown;
  ThxExpValue tested = Arg(node, 0, etAny, valueType);
  // The bounds must have the tested value's type; a value of type Any cannot occur, and asking
  // for Any would accept everything.
  uint8_t required = valueType == etAny ? static_cast<uint8_t>(etUnknown) : valueType;
  ThxExpValue low = Arg(node, 1, required);
  ThxExpValue high = Arg(node, 2, required);
  value.SetBoolean(ExpCompareValues(low, tested) <= 0 && ExpCompareValues(tested, high) <= 0);
}

void ThxUDFDescend::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  uint8_t argType = etUnknown;
  ThxExpValue v = Arg(node, 0, etAny, argType);
  type = argType;
  switch (argType) {
    case etDate:
    case etDateTime: {
      double d = v.Number();
      value.SetNumber(d == kExpEmptyDate ? d : kDescendDateBase - d);
      break;
    }
    case etNumber:
    case etInteger: {
      double n = v.Number();
      value.SetNumber(n == 0.0 ? 0.0 : -n);
      break;
    }
    case etText: {
      std::string text = v.Text();
      for (char& c : text)
        c = static_cast<char>((256 - static_cast<unsigned char>(c)) % 256);
      value.SetText(std::move(text));
      break;
    }
    case etBoolean:
      value.SetBoolean(!v.Boolean());
      break;
    default:
      value.SetBoolean(false);
      break;
  }
}

void ThxUDFEmpty::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etBoolean;
  uint8_t argType = etUnknown;
  ThxExpValue v = Arg(node, 0, etAny, argType);
  bool empty = false;
  switch (argType) {
    case etDate:
    case etDateTime:
      empty = v.Number() == kExpEmptyDate || v.Number() == 0.0;
      break;
    case etNumber:
    case etInteger:
      empty = v.Number() == 0.0;
      break;
    case etText:
      empty = v.Text().find_first_not_of(' ') == std::string::npos;
      break;
    case etBoolean:
      empty = !v.Boolean();
      break;
    default:
      break;
  }
  value.SetBoolean(empty);
}

void ThxUDFIIF::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etUnknown;
  bool condition = Arg(node, 0, etBoolean).Boolean();
  value.Clear();
  node.GetArgument(condition ? 1 : 2, value, etAny, type);
}

void ThxUDFInlist::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etBoolean;
  uint8_t valueType = etUnknown;
  ThxExpValue tested = Arg(node, 0, etAny, valueType);
  bool found = false;
  if (valueType != etEmpty) {
    if (tested.kind() == ThxExpValue::Kind::Text) {
      std::string text = tested.Text();
      text.erase(text.find_last_not_of(' ') + 1);
      tested.SetText(std::move(text));
    }
    for (int i = 1;; ++i) {
      uint8_t itemType = etUnknown;
      ThxExpValue item = Arg(node, i, etAny, itemType);
      if (itemType == etEmpty) break;
      if (item.kind() == tested.kind() && ExpCompareValues(tested, item) == 0) {
        found = true;
        break;
      }
    }
  }
  value.SetBoolean(found);
}

namespace {

// MAX and MIN: every argument of the first one's type; `sign` 1 keeps the largest, -1 the smallest.
void Extreme(ThxExpFunction& node, ThxExpValue& value, uint8_t& type, int sign,
             const char* name) {
  uint8_t firstType = etUnknown;
  ThxExpValue best = Arg(node, 0, etAny, firstType);
  type = firstType;
  if (firstType == etEmpty) throw ESorrelExpression(smValueRequiredFor, {name});
  for (int i = 1;; ++i) {
    uint8_t itemType = etUnknown;
    ThxExpValue item = Arg(node, i, etAny, itemType);
    if (itemType == etEmpty) break;
    if (itemType != firstType) throw ESorrelExpression(smArgumentsSameType, {name});
    if (ExpCompareValues(item, best) * sign > 0) best = std::move(item);
  }
  value = std::move(best);
}

}  // namespace

void ThxUDFMax::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Extreme(node, value, type, 1, "Max()");
}

void ThxUDFMin::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  Extreme(node, value, type, -1, "Min()");
}

// hx6_sql_eval: evaluation of operator nodes and the text comparison rule of the language.
#include <cmath>

#include "base/SysSorl.h"
#include "expr/hx6_sql.h"

namespace {

// Texts that operators build stay below this size: an expression is user input, and a few nested
// concatenations must not be able to ask for gigabytes.
constexpr size_t kMaxOperatorText = 16u << 20;
// Operand texts up to this capacity stay in the operator node for the next evaluation.
constexpr size_t kKeptOperandText = 4096;

std::string_view TrimmedView(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  return text.substr(0, end);
}

std::string TrimRightBlanks(std::string_view text) { return std::string(TrimmedView(text)); }

[[noreturn]] void ValueRequired(const char* what) {
  throw ESorrelExpression(smValueRequiredInvalid, {what});
}

void CheckTextSize(size_t size) {
  if (size > kMaxOperatorText) throw ESorrelExpression(smCannotEvaluate);
}

// A numeric result that is not a number would break the order of index keys and make every
// filter comparison false; it is refused instead.
double Checked(double result) {
  if (std::isnan(result)) throw ESorrelExpression(smCannotEvaluate);
  return result;
}

[[noreturn]] void DivisionByZero() { ValueRequired("non-zero"); }

}  // namespace

// The text comparison of the language: empty sides first, then trailing blanks dropped, then a
// pattern on the right matched by the wildcard test, else the locale's case-sensitive order.
int ExpCompareText(const ThxExpValue& left, const ThxExpValue& right, bool caseInsensitive,
                   bool wildcard, char manyWildcard) {
  bool leftEmpty = left.IsNull() || left.Text().empty();
  bool rightEmpty = right.IsNull() || right.Text().empty();
  if (leftEmpty || rightEmpty) return leftEmpty == rightEmpty ? 0 : (leftEmpty ? -1 : 1);
  // Views on the trimmed texts: a filter runs this once per record, so nothing is copied unless
  // the texts must be upper-cased.
  std::string_view a = TrimmedView(left.Text());
  std::string_view b = TrimmedView(right.Text());
  std::string upperA, upperB;
  if (caseInsensitive) {
    upperA = SysUpperCase(a);
    upperB = SysUpperCase(b);
    a = upperA;
    b = upperB;
  }
  if (wildcard && !b.empty() && (b.front() == manyWildcard || b.back() == manyWildcard))
    return SysWildMatch(b, a) != 0 ? 0 : -1;
  int r = SysCompareStr(a, b);
  return (r > 0) - (r < 0);
}

namespace {

// Whether ExpCompareText answers 0, found without ordering the texts. The locale's order and the
// fixed rule behind it find only byte-identical texts equal, so once the empty sides, the
// trailing blanks and a wildcard pattern are dealt with as ExpCompareText does, equality is a
// byte comparison. A filter's "=" and "#" run this once per record: it spares them the
// collation (and its wide-text copies) while giving the same answers.
// The sides are the operands' texts: a value that is null or not a text has an empty one, which
// is how ExpCompareText finds a side empty. Case-sensitive comparison only.
bool TextsEqual(std::string_view a, std::string_view right, bool wildcard, char manyWildcard) {
  if (a.empty() || right.empty()) return a.empty() == right.empty();
  std::string_view b = TrimmedView(right);
  if (wildcard && !b.empty() && (b.front() == manyWildcard || b.back() == manyWildcard))
    return SysWildMatch(b, TrimmedView(a)) != 0;
  // The trimmed left side equals b exactly when the left side is b followed by blanks only (b
  // ends in a non-blank or is empty). Most records of a filter differ within b's length and are
  // answered without walking the left side's trailing blanks.
  if (a.size() < b.size()) return false;
  if (!b.empty() && a.front() != b.front()) return false;  // the common miss, without a call
  if (a.compare(0, b.size(), b) != 0) return false;
  return a.find_first_not_of(' ', b.size()) == std::string_view::npos;
}

}  // namespace

ThxExpOperator::ThxExpOperator(ThxExpHandler* handler, uint8_t code, uint8_t level)
    : ThxExpBaseObject(handler, enOperator),
      code_(code),
      level_(level),
      caseInsensitive_(handler->CaseInsensitive()),
      wildcard_(handler->Wildcard()),
      manyWildcard_(handler->ManyWildcard()),
      oneWildcard_(handler->OneWildcard()) {}

std::string ThxExpOperator::GetName() const {
  switch (code_) {
    case ocEqual: return "=";
    case ocNotEqual: return "#";
    case ocGreater: return ">";
    case ocLess: return "<";
    case ocGreaterEqual: return ">=";
    case ocLessEqual: return "<=";
    case ocInString: return "in string";
    case ocExactlyEqual: return "exactly equal";
    case ocPlus: return "+";
    case ocMinus: return "-";
    case ocTimes: return "*";
    case ocDivide: return "/";
    case ocPower: return "^";
    case ocAnd: return ".AND.";
    case ocOr: return ".OR.";
    case ocNot: return ".NOT.";
    default: return {};
  }
}

namespace {

bool SignTest(uint8_t code, int sign) {
  switch (code) {
    case ocEqual: return sign == 0;
    case ocNotEqual: return sign != 0;
    case ocGreater: return sign > 0;
    case ocLess: return sign < 0;
    case ocGreaterEqual: return sign >= 0;
    case ocLessEqual: return sign <= 0;
    default: return false;
  }
}

bool IsComparison(uint8_t code) { return code >= ocEqual && code <= ocLessEqual; }

// left ^ right with the exponent truncated to a whole number, as the language defines it.
double Power(double base, double exponent) {
  double n = std::trunc(exponent);
  if (base == 0.0 && n < 0.0) DivisionByZero();
  return std::pow(base, n);
}

}  // namespace

void ThxExpOperator::Evaluate(ThxExpValue& value, uint8_t& type) {
  // The short path: a held text literal on the right, "=" or "#" compared case-sensitively, and a
  // table's text field on the left read in place. It gives what EvaluateOperands gives for the
  // same operands (both sides text, a logical result) without its setup per record.
  if (rightHeld_ && !caseInsensitive_ && (code_ == ocEqual || code_ == ocNotEqual) && left_ &&
      left_->Kind() == enFieldVar) {
    std::string_view leftView;
    if (static_cast<ThxExpFieldvar&>(*left_).EvaluateView(leftView)) {
      const bool equal = TextsEqual(leftView, rightValue_.Text(), wildcard_, manyWildcard_);
      value.SetBoolean(equal == (code_ == ocEqual));
      type = etBoolean;
      resultType_ = type;
      return;
    }
  }
  EvaluateOperands(value, type);
}

void ThxExpOperator::EvaluateOperands(ThxExpValue& value, uint8_t& type) {
  type = etUnknown;
  if (!left_ && code_ != ocNot) throw ESorrelExpression(smTargetMissing, {GetName()});
  if (!right_) throw ESorrelExpression(smCannotEvaluate);

  // The operands' values live in the node between evaluations, so a filter run over many records
  // reuses their text buffers instead of allocating them per record.
  ThxExpValue& rightValue = rightValue_;
  ThxExpValue& leftValue = leftValue_;
  leftValue.Clear();
  uint8_t rightType = etUnknown;
  if (rightHeld_) {
    // A text literal on the right (FIELD = "text", the usual filter) gives the same value every
    // time: it stays in rightValue_ from the first evaluation instead of being copied per record.
    rightType = etText;
  } else {
    rightValue.Clear();
    right_->Evaluate(rightValue, rightType);
    rightHeld_ = right_->Kind() == enTextLit && rightType == etText &&
                 rightValue.Text().capacity() <= kKeptOperandText;
  }
  // A table's text field compared for equality is read in place in the record buffer: the
  // comparison below is all that looks at it, so it need not be copied into leftValue.
  const bool equality = code_ == ocEqual || code_ == ocNotEqual;
  std::string_view leftView;
  bool leftIsView = false;
  uint8_t leftType = rightType;
  if (left_) {
    leftType = etUnknown;
    if (equality && !caseInsensitive_ && left_->Kind() == enFieldVar)
      leftIsView = static_cast<ThxExpFieldvar&>(*left_).EvaluateView(leftView);
    if (leftIsView)
      leftType = etText;
    else
      left_->Evaluate(leftValue, leftType);
  }
  if (!ExpTypesAgree(leftType, rightType)) throw ESorrelExpression(smSidesDoNotMatch);

  value.Clear();
  if (rightType == etText) {
    if (equality) {
      const bool equal =
          caseInsensitive_
              ? ExpCompareText(leftValue, rightValue, true, wildcard_, manyWildcard_) == 0
              : TextsEqual(leftIsView ? leftView : std::string_view(leftValue.Text()),
                           rightValue.Text(), wildcard_, manyWildcard_);
      value.SetBoolean(equal == (code_ == ocEqual));
    } else if (IsComparison(code_)) {
      int sign = ExpCompareText(leftValue, rightValue, caseInsensitive_, wildcard_, manyWildcard_);
      value.SetBoolean(SignTest(code_, sign));
    } else if (code_ == ocExactlyEqual) {
      // Exact equality: byte for byte, trailing blanks and wildcard characters included.
      value.SetBoolean(leftValue.Text() == rightValue.Text());
    } else if (code_ == ocInString) {
      const std::string& needle = leftValue.Text();
      value.SetBoolean(!needle.empty() && SysPos(needle, rightValue.Text()) > 0);
    } else if (code_ == ocPlus) {
      CheckTextSize(leftValue.Text().size() + rightValue.Text().size());
      value.SetText(leftValue.Text() + rightValue.Text());
    } else if (code_ == ocMinus) {
      // The left side's trailing blanks move to the end of the result.
      size_t total = leftValue.Text().size() + rightValue.Text().size();
      CheckTextSize(total);
      std::string text = TrimRightBlanks(leftValue.Text()) + rightValue.Text();
      text.resize(total, ' ');
      value.SetText(std::move(text));
    } else {
      ValueRequired("assigned");
    }
  } else if (ExpIsNumeric(rightType)) {
    double a = leftValue.Number();
    double b = rightValue.Number();
    switch (code_) {
      case ocEqual:
      case ocNotEqual:
      case ocGreater:
      case ocLess:
      case ocGreaterEqual:
      case ocLessEqual: {
        double difference = Checked(a - b);
        value.SetBoolean(SignTest(code_, (difference > 0) - (difference < 0)));
        break;
      }
      case ocExactlyEqual: value.SetBoolean(a == b); break;
      case ocPlus: value.SetNumber(Checked(a + b)); break;
      case ocMinus: value.SetNumber(Checked(a - b)); break;
      case ocTimes: value.SetNumber(Checked(a * b)); break;
      case ocDivide:
        if (b == 0.0) DivisionByZero();
        value.SetNumber(Checked(a / b));
        break;
      case ocPower: value.SetNumber(Checked(Power(a, b))); break;
      default: ValueRequired("assigned");
    }
  } else if (rightType == etBoolean) {
    bool a = leftValue.Boolean();
    bool b = rightValue.Boolean();
    switch (code_) {
      case ocEqual:
      case ocExactlyEqual: value.SetBoolean(a == b); break;
      case ocNotEqual: value.SetBoolean(a != b); break;
      case ocAnd: value.SetBoolean(a && b); break;
      case ocOr: value.SetBoolean(a || b); break;
      case ocNot: value.SetBoolean(!b); break;
      case ocPlus:
      case ocMinus:
      case ocTimes:
      case ocDivide:
      case ocPower: ValueRequired("number");
      default: ValueRequired("assigned");
    }
  }
  // Any other type produces no value.

  // Large operand texts are not kept between evaluations.
  if (rightValue.Text().capacity() > kKeptOperandText) rightValue = ThxExpValue();
  if (leftValue.Text().capacity() > kKeptOperandText) leftValue = ThxExpValue();

  bool logical = (code_ >= ocEqual && code_ <= ocExactlyEqual) ||
                 (code_ >= ocAnd && code_ <= ocNot);
  type = logical ? static_cast<uint8_t>(etBoolean) : rightType;
  resultType_ = type;
}

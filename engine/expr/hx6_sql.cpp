// hx6_sql: expression values, registries, node rendering and the handler.
// The lexer and parser live in hx6_sql_parse.cpp, operator evaluation in hx6_sql_eval.cpp.
#include "expr/hx6_sql.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "base/SysSorl.h"
#include "base/hx6_date.h"
#include "expr/hx6_sql_parse.h"
#include "base/hx6_tool.h"

// ---------------------------------------------------------------------------------------------
// Type names and values

std::string ExpTypeName(uint8_t type) {
  static const char* const kNames[] = {"Unknown", "Empty",    "Any",     "Text",
                                       "Number",  "Integer",  "Date",    "DateTime",
                                       "Boolean", "Memo",     "Pointer"};
  if (type < std::size(kNames)) return kNames[type];
  return "Invalid Value";
}

ThxExpValue ThxExpValue::OfText(std::string text) {
  ThxExpValue v;
  v.SetText(std::move(text));
  return v;
}

ThxExpValue ThxExpValue::OfNumber(double number) {
  ThxExpValue v;
  v.SetNumber(number);
  return v;
}

ThxExpValue ThxExpValue::OfBoolean(bool value) {
  ThxExpValue v;
  v.SetBoolean(value);
  return v;
}

double ThxExpValue::ConvertedNumber() const {
  switch (kind_) {
    case Kind::Number:
      return number_;
    case Kind::Boolean:
      return boolean_ ? 1.0 : 0.0;
    case Kind::Text: {
      double v = 0.0;
      return ExpTextToFloat(text_, v) ? v : 0.0;
    }
    case Kind::Null:
      break;
  }
  return 0.0;
}

bool ThxExpValue::ConvertedBoolean() const {
  switch (kind_) {
    case Kind::Boolean:
      return boolean_;
    case Kind::Number:
      return number_ != 0.0;
    case Kind::Text:
      return !text_.empty() && IsTrueLetter(text_[0]);
    case Kind::Null:
      break;
  }
  return false;
}

std::string ThxExpValue::AsString() const {
  switch (kind_) {
    case Kind::Text:
      return text_;
    case Kind::Number:
      return ExpFloatToText(number_);
    case Kind::Boolean:
      return boolean_ ? "True" : "False";
    case Kind::Null:
      break;
  }
  return {};
}

int ExpCompareValues(const ThxExpValue& a, const ThxExpValue& b) {
  if (a.kind() != b.kind()) return static_cast<int>(a.kind()) - static_cast<int>(b.kind());
  switch (a.kind()) {
    case ThxExpValue::Kind::Text: {
      int r = SysCompareStr(a.Text(), b.Text());
      return (r > 0) - (r < 0);
    }
    case ThxExpValue::Kind::Number: {
      double x = a.Number(), y = b.Number();
      return (x > y) - (x < y);
    }
    case ThxExpValue::Kind::Boolean:
      return static_cast<int>(a.Boolean()) - static_cast<int>(b.Boolean());
    case ThxExpValue::Kind::Null:
      break;
  }
  return 0;
}

bool ExpTextToFloat(std::string_view text, double& value) {
  size_t begin = 0, end = text.size();
  while (begin < end && text[begin] == ' ') ++begin;
  while (end > begin && text[end - 1] == ' ') --end;
  std::string_view body = text.substr(begin, end - begin);
  bool negative = false;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
    negative = body[0] == '-';
    body.remove_prefix(1);
  }
  // Only digits, a point and an exponent are numbers here: "inf", "nan" and hexadecimal forms
  // that the library would accept are not.
  if (body.empty() || !(std::isdigit(static_cast<unsigned char>(body[0])) || body[0] == '.'))
    return false;
  for (char c : body) {
    if (c == 'x' || c == 'X' || c == 'p' || c == 'P') return false;
  }
  double parsed = 0.0;
  auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), parsed,
                                   std::chars_format::general);
  if (ec != std::errc() || ptr != body.data() + body.size()) return false;
  if (!std::isfinite(parsed)) return false;
  value = negative ? -parsed : parsed;
  return true;
}

std::string ExpFloatToText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  // Fifteen significant digits as printf's %.15G gives them, but always in the C locale.
  char buffer[64];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, value,
                                     std::chars_format::general, 15);
  std::string text(buffer, written.ptr);
  for (char& c : text)
    if (c == 'e') c = 'E';
  // The exponent without "+" and leading zeros: 1E100, 1.5E-7.
  size_t e = text.find('E');
  if (e != std::string::npos) {
    std::string mantissa = text.substr(0, e);
    std::string exponent = text.substr(e + 1);
    bool negative = !exponent.empty() && exponent[0] == '-';
    if (!exponent.empty() && (exponent[0] == '-' || exponent[0] == '+')) exponent.erase(0, 1);
    size_t nz = exponent.find_first_not_of('0');
    exponent = nz == std::string::npos ? "0" : exponent.substr(nz);
    text = mantissa + "E" + (negative ? "-" : "") + exponent;
  }
  return text;
}

// ---------------------------------------------------------------------------------------------
// Functions, field variables and registries

void ThxUserDefFunction::Evaluate(ThxExpFunction& /*node*/, ThxExpValue& value, uint8_t& type) {
  value.Clear();
  type = etEmpty;
}

std::string ThxUserDefFieldVar::GetName() const {
  std::string names = GetNames();
  size_t semicolon = names.find(';');
  return semicolon == std::string::npos ? names : names.substr(0, semicolon);
}

void ThxUserDefFieldVar::GetValue(ThxExpValue& value, uint8_t& type) {
  value.Clear();
  type = etEmpty;
}

namespace {

// ASCII upper case for registry names: names are compared the same way whatever the locale.
std::string RegistryName(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

char RegistryChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Orders a registered (upper-case) name against a name as written, upper-casing the latter on
// the fly: a look-up costs the common prefix, not a copy of the name, which matters when the
// lexer tries ever longer qualified names on a hostile text.
int CompareRegistryName(std::string_view registered, std::string_view name) {
  size_t n = std::min(registered.size(), name.size());
  for (size_t i = 0; i < n; ++i) {
    auto a = static_cast<unsigned char>(registered[i]);
    auto b = static_cast<unsigned char>(RegistryChar(name[i]));
    if (a != b) return a < b ? -1 : 1;
  }
  return registered.size() == name.size() ? 0 : (registered.size() < name.size() ? -1 : 1);
}

template <class Entries>
int SortedIndexOf(const Entries& entries, std::string_view name) {
  auto it = std::lower_bound(entries.begin(), entries.end(), name,
                             [](const auto& entry, std::string_view k) {
                               return CompareRegistryName(entry.first, k) < 0;
                             });
  if (it == entries.end() || CompareRegistryName(it->first, name) != 0) return -1;
  return static_cast<int>(it - entries.begin());
}

template <class Entries, class Ptr>
bool SortedInsert(Entries& entries, std::string name, Ptr object) {
  auto it = std::lower_bound(entries.begin(), entries.end(), name,
                             [](const auto& entry, const std::string& k) { return entry.first < k; });
  if (it != entries.end() && it->first == name) return false;
  entries.emplace(it, std::move(name), std::move(object));
  return true;
}

}  // namespace

ThxUserDefFunction* ThxFunctionReg::Add(std::unique_ptr<ThxUserDefFunction> function) {
  if (!function) return nullptr;
  ThxUserDefFunction* raw = function.get();
  std::string name = RegistryName(raw->GetName());
  if (name.empty()) return nullptr;
  return SortedInsert(entries_, std::move(name), std::move(function)) ? raw : nullptr;
}

int ThxFunctionReg::IndexOf(std::string_view name) const { return SortedIndexOf(entries_, name); }

ThxUserDefFunction* ThxFunctionReg::Find(std::string_view name) const {
  int i = IndexOf(name);
  return i < 0 ? nullptr : Objects(i);
}

ThxFieldVarReg::~ThxFieldVarReg() {
  // Each entry gives up its registration; the shared pointer frees the variable with its last one.
  for (auto& entry : entries_) --entry.second->regCount_;
}

ThxUserDefFieldVar* ThxFieldVarReg::Add(std::unique_ptr<ThxUserDefFieldVar> fieldVar) {
  if (!fieldVar) return nullptr;
  std::shared_ptr<ThxUserDefFieldVar> shared(std::move(fieldVar));
  std::string names = RegistryName(shared->GetNames());
  size_t start = 0;
  while (start <= names.size()) {
    size_t semicolon = names.find(';', start);
    if (semicolon == std::string::npos) semicolon = names.size();
    std::string name = names.substr(start, semicolon - start);
    if (!name.empty() && SortedInsert(entries_, name, shared)) ++shared->regCount_;
    start = semicolon + 1;
  }
  return shared->regCount_ > 0 ? shared.get() : nullptr;
}

int ThxFieldVarReg::IndexOf(std::string_view name) const { return SortedIndexOf(entries_, name); }

ThxUserDefFieldVar* ThxFieldVarReg::Find(std::string_view name) const {
  int i = IndexOf(name);
  return i < 0 ? nullptr : Objects(i);
}

ThxUserDefFunction* ThxExpUserLink::LookupFunction(std::string_view name, int* index) const {
  int i = functions_.IndexOf(name);
  if (index) *index = i;
  return i < 0 ? nullptr : functions_.Objects(i);
}

ThxUserDefFieldVar* ThxExpUserLink::LookupFieldVar(std::string_view name, int* index) const {
  int i = fieldVars_.IndexOf(name);
  if (index) *index = i;
  return i < 0 ? nullptr : fieldVars_.Objects(i);
}

ThxUserDefFunction* ThxExpUserLink::GetFunction(std::string_view name) const {
  ThxUserDefFunction* function = LookupFunction(name);
  if (!function) throw ESorrelExpression(smNoFunction, {RegistryName(name)});
  return function;
}

// ---------------------------------------------------------------------------------------------
// Node renderings and the simple nodes' evaluation

std::string ThxExpBaseObject::GetText() const {
  std::string text;
  if (left_) text += left_->GetText();
  text += GetName();
  if (right_) text += right_->GetText();
  return text;
}

std::string ThxExpBaseObject::CollectNames(int code) const {
  std::string names;
  if (left_) names += left_->CollectNames(code);
  if (ClassCode() == code) {
    names += ';';
    names += GetName();
  }
  if (right_) names += right_->CollectNames(code);
  return names;
}

void ThxExpBaseObject::Evaluate(ThxExpValue& /*value*/, uint8_t& type) {
  type = etUnknown;
  resultType_ = type;
}

ThxExpFunction::ThxExpFunction(ThxExpHandler* handler, ThxUserDefFunction* function,
                               std::vector<std::unique_ptr<ThxExpBaseObject>> arguments)
    : ThxExpBaseObject(handler, enFunction), function_(function), arguments_(std::move(arguments)) {
  int deepest = 0;
  for (const auto& argument : arguments_) deepest = std::max(deepest, argument->Depth());
  depth_ = deepest + 1;
}

std::string ThxExpFunction::GetName() const { return function_->GetName(); }

std::string ThxExpFunction::GetText() const {
  std::string text = GetName() + "(";
  for (size_t i = 0; i < arguments_.size(); ++i) {
    if (i > 0) text += ",";
    text += arguments_[i]->GetText();
  }
  return text + ")";
}

std::string ThxExpFunction::CollectNames(int code) const {
  std::string names;
  for (const auto& argument : arguments_) names += argument->CollectNames(code);
  return names;
}

void ThxExpFunction::Evaluate(ThxExpValue& value, uint8_t& type) {
  type = etUnknown;
  function_->Evaluate(*this, value, type);
  resultType_ = type;
}

void ThxExpFunction::GetArgument(int index, ThxExpValue& value, uint8_t required,
                                 uint8_t& actual) {
  if (index >= 0 && index < ArgumentCount()) {
    arguments_[static_cast<size_t>(index)]->Evaluate(value, actual);
  } else {
    actual = etEmpty;
  }
  if (required != etAny && !ExpTypesAgree(required, actual)) {
    throw ESorrelExpression(smArgumentNeeded, {ExpTypeName(required), index + 1, GetName()});
  }
}

ThxExpFieldvar::ThxExpFieldvar(ThxExpHandler* handler, ThxUserDefFieldVar* fieldVar)
    : ThxExpBaseObject(handler, enFieldVar), fieldVar_(fieldVar) {
  length_ = fieldVar->Length();
}

std::string ThxExpFieldvar::GetName() const { return fieldVar_->GetName(); }

int ThxExpFieldvar::ClassCode() const { return fieldVar_->ClassCode(); }

void ThxExpFieldvar::Evaluate(ThxExpValue& value, uint8_t& type) {
  type = etUnknown;
  fieldVar_->GetValue(value, type);
  resultType_ = type;
}

ThxExpTextLit::ThxExpTextLit(ThxExpHandler* handler, std::string text)
    : ThxExpBaseObject(handler, enTextLit), text_(std::move(text)) {
  resultType_ = etText;
  length_ = static_cast<int>(std::min<size_t>(text_.size(), std::numeric_limits<int>::max()));
}

std::string ThxExpTextLit::GetName() const { return "\"" + text_ + "\""; }

void ThxExpTextLit::Evaluate(ThxExpValue& value, uint8_t& type) {
  value.AssignText(text_);
  type = etText;
}

ThxExpNumLit::ThxExpNumLit(ThxExpHandler* handler, std::string_view literal)
    : ThxExpBaseObject(handler, enNumLit) {
  resultType_ = etNumber;
  if (!ExpTextToFloat(literal, value_)) value_ = 0.0;
  length_ = static_cast<int>(std::min<size_t>(literal.size(), std::numeric_limits<int>::max()));
  size_t point = literal.find('.');
  decimals_ = point == std::string_view::npos
                  ? 0
                  : static_cast<int>(std::min<size_t>(literal.size() - point - 1, 1000000));
}

std::string ThxExpNumLit::GetName() const {
  // Width 20 with the literal's decimals, leading blanks removed: the fixed form with those
  // decimals. Beyond 60 decimals a double has nothing more to show.
  int decimals = std::min(decimals_, 60);
  return SysFloatToFixed(value_, decimals);
}

void ThxExpNumLit::Evaluate(ThxExpValue& value, uint8_t& type) {
  value.SetNumber(value_);
  type = etNumber;
}

ThxExpDateLit::ThxExpDateLit(ThxExpHandler* handler, int32_t julian)
    : ThxExpBaseObject(handler, enDateLit), julian_(julian) {
  resultType_ = etDate;
}

// Built by appending: g++ 12 at -O3 warns falsely (-Wrestrict) on "literal" + string + "literal".
std::string ThxExpDateLit::GetName() const {
  std::string text = "{";
  text += DBFDate().DTOC(julian_);
  text += '}';
  return text;
}

void ThxExpDateLit::Evaluate(ThxExpValue& value, uint8_t& type) {
  value.SetNumber(julian_);
  type = etDate;
}

ThxExpBlnLit::ThxExpBlnLit(ThxExpHandler* handler, bool value)
    : ThxExpBaseObject(handler, enBlnLit), value_(value) {
  resultType_ = etBoolean;
}

std::string ThxExpBlnLit::GetName() const { return value_ ? ".T." : ".F."; }

void ThxExpBlnLit::Evaluate(ThxExpValue& value, uint8_t& type) {
  value.SetBoolean(value_);
  type = etBoolean;
}

ThxExpContainer::ThxExpContainer(ThxExpHandler* handler, std::unique_ptr<ThxExpBaseObject> inner)
    : ThxExpBaseObject(handler, enContainer), inner_(std::move(inner)) {
  if (inner_) {
    resultType_ = inner_->ResultType();
    depth_ = inner_->Depth() + 1;
  }
}

std::string ThxExpContainer::GetText() const {
  std::string text = "(";
  if (inner_) text += inner_->GetText();
  text += ')';
  return text;
}

std::string ThxExpContainer::CollectNames(int code) const {
  return inner_ ? inner_->CollectNames(code) : std::string();
}

void ThxExpContainer::Evaluate(ThxExpValue& value, uint8_t& type) {
  if (inner_) {
    inner_->Evaluate(value, type);
  } else {
    type = etEmpty;
  }
  resultType_ = type;
}

// ---------------------------------------------------------------------------------------------
// The handler

ThxExpHandler::ThxExpHandler(ThxExpUserLink* link, bool sqlWildcards, std::string_view text)
    : link_(link),
      manyWildcard_(sqlWildcards ? '%' : '*'),
      oneWildcard_(sqlWildcards ? '_' : '?') {
  SetExpression(text);
}

ThxExpHandler::~ThxExpHandler() = default;

void ThxExpHandler::SetExpression(std::string_view text) {
  root_.reset();
  maxLength_ = 0;
  maxDecimals_ = 0;
  operandCount_ = 0;
  resultType_ = etUnknown;
  if (text.empty()) return;
  ThxExpParser parser(*this);
  root_ = parser.Parse(text);
}

std::string ThxExpHandler::GetText() const { return root_ ? root_->GetText() : std::string(); }

void ThxExpHandler::Evaluate(ThxExpValue& value) {
  resultType_ = etUnknown;
  if (!root_) return;
  uint8_t type = etUnknown;
  root_->Evaluate(value, type);
  resultType_ = type;
}

void ThxExpHandler::EvaluateKey(ThxVariant& key) {
  if (!root_) {
    key.PutString("");
    resultType_ = etUnknown;
    return;
  }
  ThxExpValue value;
  Evaluate(value);
  if (value.IsNull()) {
    resultType_ = etUnknown;
    return;
  }
  switch (resultType_) {
    case etText:
      key.PutString(value.AsString());
      break;
    case etNumber:
    case etDateTime:
      key.PutFloat(value.Number());
      break;
    case etDate: {
      // The empty date (1.0E100) and anything else outside the day-number range (a NaN from a
      // damaged field included) is the engine's empty date 0; a plain cast would be undefined.
      double day = std::trunc(value.Number());
      int32_t julian = 0;
      if (day >= static_cast<double>(std::numeric_limits<int32_t>::min()) &&
          day <= static_cast<double>(std::numeric_limits<int32_t>::max()))
        julian = static_cast<int32_t>(day);
      key.PutDate(julian);
      break;
    }
    case etBoolean:
      key.PutBoolean(value.Boolean());
      break;
    default:
      resultType_ = etUnknown;
      break;
  }
}

std::string ThxExpHandler::FieldNames(int code) const {
  return root_ ? root_->CollectNames(code) : std::string();
}

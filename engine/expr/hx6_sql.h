// hx6_sql: the dBase expression language.
//
// A ThxExpHandler turns an expression text (an index key such as "DTOS(DATE)+TIME", a filter, a FOR
// condition) into a tree of ThxExpBaseObject nodes once, and evaluates that tree against the current
// record as often as asked. Names in an expression resolve through two kinds of registry: the global
// ones (built-in functions and the system variables TRUE, FALSE and PI, filled by hx6_fctn) and the
// owner's ThxExpUserLink, in which a table registers its fields and pseudo-functions.
//
// Ownership: a handler owns its tree; every node owns its operands (and a function node its
// arguments, a container its inner tree). Function objects and field variables belong to the
// registry they were added to; nodes only point at them. A link owns its two registries.
//
// Thread-safety: none. A handler and its tree are used by one thread at a time. The global
// registries are filled once on first use and only read afterwards; the built-in functions keep no
// state, so handlers on different threads may share them.
//
// Every failure is raised as ESorrelExpression with a text from the engine's message table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/hx6_glbl.h"

class ThxVariant;
class ThxExpHandler;
class ThxExpFunction;

// Value type codes of the language. Number, Integer, Date and DateTime form one numeric family
// that is interchangeable wherever a type is tested.
enum ThxExpTypeCode : uint8_t {
  etUnknown = 0,   // no value
  etEmpty = 1,     // argument or operand missing
  etAny = 2,       // only as a requirement: accepts every type
  etText = 3,
  etNumber = 4,
  etInteger = 5,
  etDate = 6,      // Julian day number carried as a double; the empty date is kExpEmptyDate
  etDateTime = 7,
  etBoolean = 8,
  etMemo = 9,
  etPointer = 10,
};

// The empty date inside expressions (what CTOD of an empty text yields).
inline constexpr double kExpEmptyDate = 1.0E100;

// Class codes used to select field variables in ThxExpHandler::FieldNames.
inline constexpr int kFieldVarClassCode = 16;    // ThxUserDefFieldVar and the system variables
inline constexpr int kTableFieldClassCode = 17;  // a table's field variables

// The name of a type code in messages ("Text", "Number", ...; "Invalid Value" for other codes).
std::string ExpTypeName(uint8_t type);
// Whether `type` belongs to the numeric family (Number, Integer, Date, DateTime).
inline bool ExpIsNumeric(uint8_t type) { return type >= etNumber && type <= etDateTime; }
// Whether two type codes agree: equal, or both of the numeric family.
inline bool ExpTypesAgree(uint8_t a, uint8_t b) {
  return a == b || (ExpIsNumeric(a) && ExpIsNumeric(b));
}

// The value that travels through an expression: null, a text, a double (the whole numeric
// family) or a logical. Reading a value as another kind converts it the way the language's
// variants do and never fails.
class ThxExpValue {
 public:
  enum class Kind : uint8_t { Null, Text, Number, Boolean };

  ThxExpValue() = default;
  static ThxExpValue OfText(std::string text);
  static ThxExpValue OfNumber(double number);
  static ThxExpValue OfBoolean(bool value);

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }
  // The setters are inline and keep the text buffer's capacity: a filter sets values once per
  // operand per record.
  void Clear() {
    kind_ = Kind::Null;
    text_.clear();
  }
  void SetText(std::string text) {
    kind_ = Kind::Text;
    text_ = std::move(text);
  }
  // Copies `text` into the value's own buffer.
  void AssignText(std::string_view text) {
    kind_ = Kind::Text;
    text_.assign(text);
  }
  void SetNumber(double number) {
    kind_ = Kind::Number;
    text_.clear();
    number_ = number;
  }
  void SetBoolean(bool value) {
    kind_ = Kind::Boolean;
    text_.clear();
    boolean_ = value;
  }

  // The text of a text value; empty for every other kind.
  const std::string& Text() const { return text_; }
  // A number as it is; a logical as 1 or 0; a text through the decimal conversion (0 when it
  // does not convert); null as 0.
  double Number() const { return kind_ == Kind::Number ? number_ : ConvertedNumber(); }
  // A logical as it is; a number true when non-zero; a text true when it begins with a true
  // letter; null false.
  bool Boolean() const { return kind_ == Kind::Boolean ? boolean_ : ConvertedBoolean(); }
  // The value as text: numbers in their shortest form, logicals "True"/"False", null empty.
  std::string AsString() const;

 private:
  double ConvertedNumber() const;
  bool ConvertedBoolean() const;

  Kind kind_ = Kind::Null;
  std::string text_;
  double number_ = 0.0;
  bool boolean_ = false;
};

// Variant comparison of two values of one kind: texts by the locale's case-sensitive order,
// numbers and logicals by value, null below everything; values of different kinds order by kind.
// Result negative, 0 or positive.
int ExpCompareValues(const ThxExpValue& a, const ThxExpValue& b);

// The text comparison rule of the operators "=", "#", ">", "<", ">=", "<=": an empty side (null
// or zero length) is smaller; otherwise trailing blanks are dropped, both sides are upper-cased
// when `caseInsensitive`, a right side that begins or ends with `manyWildcard` is a pattern
// matched by SysWildMatch when `wildcard` (match 0, miss -1), and else the locale's case-sensitive
// order decides. Result -1, 0 or 1.
int ExpCompareText(const ThxExpValue& left, const ThxExpValue& right, bool caseInsensitive,
                   bool wildcard, char manyWildcard);

// The engine's decimal conversion of a text (C locale; leading and trailing blanks allowed;
// an optional sign, digits, one point, an optional exponent). False when it does not convert.
bool ExpTextToFloat(std::string_view text, double& value);
// The shortest text form of a number: at most 15 significant digits, an exponent as "E100".
std::string ExpFloatToText(double value);

// A function that expressions can call. Registered under its upper-case name; one object serves
// every call and keeps no state between calls.
class ThxUserDefFunction {
 public:
  ThxUserDefFunction() = default;
  ThxUserDefFunction(const ThxUserDefFunction&) = delete;
  ThxUserDefFunction& operator=(const ThxUserDefFunction&) = delete;
  virtual ~ThxUserDefFunction() = default;

  // The upper-case name under which the function is registered; empty in the base.
  virtual std::string GetName() const { return {}; }
  // Reads the arguments through node.GetArgument and writes the result into `value` and its type
  // code into `type`. The base yields a null value of type Empty.
  virtual void Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type);
};

// A named value that expressions can read (a table field, a system variable). The name text may
// hold several names separated by ";" (a table field is "NAME;ALIAS.NAME"); the variable is
// registered under each of them.
class ThxUserDefFieldVar {
 public:
  explicit ThxUserDefFieldVar(std::string names, int length = 0, uint8_t qualifier = 0)
      : names_(std::move(names)), length_(length), qualifier_(qualifier) {}
  ThxUserDefFieldVar(const ThxUserDefFieldVar&) = delete;
  ThxUserDefFieldVar& operator=(const ThxUserDefFieldVar&) = delete;
  virtual ~ThxUserDefFieldVar() = default;

  // The whole name text.
  virtual std::string GetNames() const { return names_; }
  // The text before the first ";".
  virtual std::string GetName() const;
  // 16 in the base; table fields answer 17.
  virtual int ClassCode() const { return kFieldVarClassCode; }
  // The current value and its type code; the base yields a null value of type Empty.
  virtual void GetValue(ThxExpValue& value, uint8_t& type);
  // When the current value is a text the variable can show without a copy (a table's text field
  // in its record buffer): sets `text` to the bytes GetValue would give and answers true. The view
  // lasts until the variable's source changes. The base answers false.
  virtual bool TextView(std::string_view& /*text*/) { return false; }

  int Length() const { return length_; }
  void SetLength(int length) { length_ = length; }
  // When set, a name followed by "." is read on as a qualified name (NAME.MORE) before this
  // variable is taken.
  uint8_t Qualifier() const { return qualifier_; }
  void SetQualifier(uint8_t qualifier) { qualifier_ = qualifier; }
  // How many registry entries name this variable.
  int RegCount() const { return regCount_; }

 private:
  friend class ThxFieldVarReg;
  std::string names_;
  int length_;
  uint8_t qualifier_;
  int regCount_ = 0;
};

// A registry of functions: a sorted list of upper-case names, each with its function object,
// refusing duplicate names. Owns its functions.
class ThxFunctionReg {
 public:
  ThxFunctionReg() = default;
  ThxFunctionReg(const ThxFunctionReg&) = delete;
  ThxFunctionReg& operator=(const ThxFunctionReg&) = delete;

  // Registers the function under its upper-cased name and answers it; a duplicate name is refused
  // (the object is freed) and answers nullptr.
  ThxUserDefFunction* Add(std::unique_ptr<ThxUserDefFunction> function);
  // The index of `name` (compared upper-cased) in the sorted list, -1 when absent.
  int IndexOf(std::string_view name) const;
  // The function registered under `name`, nullptr when none.
  ThxUserDefFunction* Find(std::string_view name) const;
  int Count() const { return static_cast<int>(entries_.size()); }
  const std::string& Names(int index) const { return entries_[static_cast<size_t>(index)].first; }
  ThxUserDefFunction* Objects(int index) const {
    return entries_[static_cast<size_t>(index)].second.get();
  }

 private:
  std::vector<std::pair<std::string, std::unique_ptr<ThxUserDefFunction>>> entries_;
};

// A registry of field variables: a sorted list of upper-case names, each with its variable,
// refusing duplicate names. A variable may stand under several names; it is freed when the last
// registry entry naming it goes.
class ThxFieldVarReg {
 public:
  ThxFieldVarReg() = default;
  ThxFieldVarReg(const ThxFieldVarReg&) = delete;
  ThxFieldVarReg& operator=(const ThxFieldVarReg&) = delete;
  ~ThxFieldVarReg();

  // Registers the variable under each ";"-separated name of its upper-cased name text, counting
  // one registration per name taken. Answers the variable, or nullptr when every name was already
  // taken (the object is then freed).
  ThxUserDefFieldVar* Add(std::unique_ptr<ThxUserDefFieldVar> fieldVar);
  int IndexOf(std::string_view name) const;
  ThxUserDefFieldVar* Find(std::string_view name) const;
  int Count() const { return static_cast<int>(entries_.size()); }
  const std::string& Names(int index) const { return entries_[static_cast<size_t>(index)].first; }
  ThxUserDefFieldVar* Objects(int index) const {
    return entries_[static_cast<size_t>(index)].second.get();
  }

 private:
  std::vector<std::pair<std::string, std::shared_ptr<ThxUserDefFieldVar>>> entries_;
};

// The registries of one expression owner (a table): its own functions and field variables, and
// the default STR width of its expressions.
class ThxExpUserLink {
 public:
  ThxExpUserLink() = default;
  ThxExpUserLink(const ThxExpUserLink&) = delete;
  ThxExpUserLink& operator=(const ThxExpUserLink&) = delete;

  // Registers a function under its upper-cased name; nullptr when the name was taken.
  ThxUserDefFunction* AddFunction(std::unique_ptr<ThxUserDefFunction> function) {
    return functions_.Add(std::move(function));
  }
  // Registers a field variable under each of its names; nullptr when none was free.
  ThxUserDefFieldVar* AddFieldVar(std::unique_ptr<ThxUserDefFieldVar> fieldVar) {
    return fieldVars_.Add(std::move(fieldVar));
  }
  // Look-ups by name: the object or nullptr; `index` (when given) receives the position in the
  // sorted list or -1.
  ThxUserDefFunction* LookupFunction(std::string_view name, int* index = nullptr) const;
  ThxUserDefFieldVar* LookupFieldVar(std::string_view name, int* index = nullptr) const;
  // The function registered under `name`; raises "There is no function for %s" when none.
  ThxUserDefFunction* GetFunction(std::string_view name) const;

  ThxFunctionReg& Functions() { return functions_; }
  ThxFieldVarReg& FieldVars() { return fieldVars_; }
  const ThxFunctionReg& Functions() const { return functions_; }
  const ThxFieldVarReg& FieldVars() const { return fieldVars_; }

  int DefaultStrWidth() const { return defaultStrWidth_; }
  void SetDefaultStrWidth(int width) { defaultStrWidth_ = width; }

 private:
  ThxFunctionReg functions_;
  ThxFieldVarReg fieldVars_;
  int defaultStrWidth_ = 10;
};

// The process-wide registries of the built-in functions and system variables (defined by
// hx6_fctn, filled on first use).
ThxFunctionReg& GlobalFunctionReg();
ThxFieldVarReg& GlobalFieldVarReg();

// ---------------------------------------------------------------------------------------------
// Nodes of an expression tree.

// Node kinds.
enum ThxExpNodeKind : uint8_t {
  enContainer = 0,
  enOperatorBound = 2,
  enOperator = 3,  // an operator not yet given its operands
  enFunction = 4,
  enFieldVar = 5,
  enTextLit = 6,
  enNumLit = 7,
  enDateLit = 8,
  enBlnLit = 9,
};

// Operator codes.
enum ThxExpOperatorCode : uint8_t {
  ocEqual = 129,
  ocNotEqual = 130,
  ocGreater = 131,
  ocLess = 132,
  ocGreaterEqual = 133,
  ocLessEqual = 134,
  ocInString = 135,
  ocExactlyEqual = 136,
  ocPlus = 137,
  ocMinus = 138,
  ocTimes = 139,
  ocDivide = 140,
  ocPower = 141,
  ocAnd = 144,
  ocOr = 145,
  ocNot = 146,
};

// The base of every node: a kind, a result type, a length and decimals, two optional operands
// (owned) and the handler the node belongs to.
class ThxExpBaseObject {
 public:
  ThxExpBaseObject(ThxExpHandler* handler, uint8_t kind) : handler_(handler), kind_(kind) {}
  ThxExpBaseObject(const ThxExpBaseObject&) = delete;
  ThxExpBaseObject& operator=(const ThxExpBaseObject&) = delete;
  virtual ~ThxExpBaseObject() = default;

  // The node's own text: operator symbol, literal rendering, function or variable name.
  virtual std::string GetName() const { return {}; }
  // The class code that selects field variables; -1 except for field-variable nodes.
  virtual int ClassCode() const { return -1; }
  // The full rendering: left operand, own text, right operand, without blanks.
  virtual std::string GetText() const;
  // The names of the nodes whose class code is `code`, each preceded by ";", in text order.
  virtual std::string CollectNames(int code) const;
  // Computes the node's value and reports its type code.
  virtual void Evaluate(ThxExpValue& value, uint8_t& type);

  uint8_t Kind() const { return kind_; }
  uint8_t ResultType() const { return resultType_; }
  int Length() const { return length_; }
  int Decimals() const { return decimals_; }
  const ThxExpBaseObject* Left() const { return left_.get(); }
  const ThxExpBaseObject* Right() const { return right_.get(); }
  ThxExpHandler* Handler() const { return handler_; }
  // Levels of nodes from this one down to its deepest leaf (1 for a leaf).
  int Depth() const { return depth_; }

 protected:
  friend class ThxExpParser;
  ThxExpHandler* handler_;
  uint8_t kind_;
  uint8_t resultType_ = etUnknown;
  int length_ = 0;
  int decimals_ = 0;
  int depth_ = 1;
  std::unique_ptr<ThxExpBaseObject> left_;
  std::unique_ptr<ThxExpBaseObject> right_;
};

class ThxExpOperator : public ThxExpBaseObject {
 public:
  ThxExpOperator(ThxExpHandler* handler, uint8_t code, uint8_t level);
  std::string GetName() const override;
  void Evaluate(ThxExpValue& value, uint8_t& type) override;

  uint8_t Code() const { return code_; }
  uint8_t Level() const { return level_; }
  // The comparison flags copied from the handler when the node was made.
  bool CaseInsensitive() const { return caseInsensitive_; }
  bool Wildcard() const { return wildcard_; }
  char ManyWildcard() const { return manyWildcard_; }

 private:
  // Evaluate for every case; Evaluate itself first tries the short path of a filter's
  // FIELD = "text", which needs neither operand copied.
  void EvaluateOperands(ThxExpValue& value, uint8_t& type);

  uint8_t code_;
  uint8_t level_;
  ThxExpValue rightValue_, leftValue_;  // scratch for the operands during Evaluate
  bool rightHeld_ = false;               // rightValue_ holds the right text literal's value
  bool caseInsensitive_;
  bool wildcard_;
  char manyWildcard_;
  char oneWildcard_;
};

class ThxExpFunction : public ThxExpBaseObject {
 public:
  ThxExpFunction(ThxExpHandler* handler, ThxUserDefFunction* function,
                 std::vector<std::unique_ptr<ThxExpBaseObject>> arguments);
  std::string GetName() const override;
  std::string GetText() const override;
  std::string CollectNames(int code) const override;
  void Evaluate(ThxExpValue& value, uint8_t& type) override;

  // Evaluates argument `index` (0-based) into `value` and reports its type in `actual`; a missing
  // argument reports Empty and leaves `value` as it was. Unless `required` is Any, an actual type
  // that does not agree with it raises "%s needed for Argument %d of %s".
  void GetArgument(int index, ThxExpValue& value, uint8_t required, uint8_t& actual);
  int ArgumentCount() const { return static_cast<int>(arguments_.size()); }
  ThxUserDefFunction* Function() const { return function_; }

 private:
  ThxUserDefFunction* function_;
  std::vector<std::unique_ptr<ThxExpBaseObject>> arguments_;
};

class ThxExpFieldvar : public ThxExpBaseObject {
 public:
  ThxExpFieldvar(ThxExpHandler* handler, ThxUserDefFieldVar* fieldVar);
  std::string GetName() const override;
  int ClassCode() const override;
  void Evaluate(ThxExpValue& value, uint8_t& type) override;
  // Evaluation as a view of the variable's text (see ThxUserDefFieldVar::TextView): true with the
  // result type set to Text, false (nothing changed) when the variable gives no view.
  bool EvaluateView(std::string_view& text) {
    if (!fieldVar_->TextView(text)) return false;
    resultType_ = etText;
    return true;
  }
  ThxUserDefFieldVar* FieldVar() const { return fieldVar_; }

 private:
  ThxUserDefFieldVar* fieldVar_;
};

class ThxExpTextLit : public ThxExpBaseObject {
 public:
  ThxExpTextLit(ThxExpHandler* handler, std::string text);
  std::string GetName() const override;
  void Evaluate(ThxExpValue& value, uint8_t& type) override;
  // The text between the delimiters.
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

class ThxExpNumLit : public ThxExpBaseObject {
 public:
  // `literal` is the number as written; its value comes from the decimal conversion (0 when it
  // does not convert).
  ThxExpNumLit(ThxExpHandler* handler, std::string_view literal);
  std::string GetName() const override;
  void Evaluate(ThxExpValue& value, uint8_t& type) override;
  double Value() const { return value_; }

 private:
  double value_ = 0.0;
};

class ThxExpDateLit : public ThxExpBaseObject {
 public:
  ThxExpDateLit(ThxExpHandler* handler, int32_t julian);
  std::string GetName() const override;
  void Evaluate(ThxExpValue& value, uint8_t& type) override;

 private:
  int32_t julian_;
};

class ThxExpBlnLit : public ThxExpBaseObject {
 public:
  ThxExpBlnLit(ThxExpHandler* handler, bool value);
  std::string GetName() const override;
  void Evaluate(ThxExpValue& value, uint8_t& type) override;

 private:
  bool value_;
};

// A parenthesised sub-expression; its inner tree may be absent (empty parentheses).
class ThxExpContainer : public ThxExpBaseObject {
 public:
  ThxExpContainer(ThxExpHandler* handler, std::unique_ptr<ThxExpBaseObject> inner);
  std::string GetText() const override;
  std::string CollectNames(int code) const override;
  void Evaluate(ThxExpValue& value, uint8_t& type) override;
  const ThxExpBaseObject* Inner() const { return inner_.get(); }

 private:
  std::unique_ptr<ThxExpBaseObject> inner_;
};

// ---------------------------------------------------------------------------------------------

// One expression: parsed once, evaluated per record.
class ThxExpHandler {
 public:
  // Sub-expression nesting (parentheses, function arguments, negations inside an expression) and
  // tree depth beyond these raise "Expression cannot be evaluated": the text is user input and a
  // deeper tree would only exhaust the stack.
  static constexpr int kMaxNesting = 100;
  static constexpr int kMaxTreeDepth = 500;

  // Parses `text` unless it is empty. `link` (may be null) supplies the owner's functions and
  // field variables; `sqlWildcards` selects "%" and "_" instead of "*" and "?".
  ThxExpHandler(ThxExpUserLink* link, bool sqlWildcards, std::string_view text);
  ThxExpHandler(const ThxExpHandler&) = delete;
  ThxExpHandler& operator=(const ThxExpHandler&) = delete;
  virtual ~ThxExpHandler();

  // The rendering of the tree; empty without one.
  virtual std::string GetText() const;
  // Evaluates the tree into `value` and keeps the result type; without a tree the result type
  // becomes Unknown and `value` is left as it was.
  virtual void Evaluate(ThxExpValue& value);
  // Evaluates into an index key: Text as text, Number and DateTime as a double, Date as a Julian
  // day number, Boolean as a logical. Any other result stores nothing and leaves result type
  // Unknown; without a tree an empty text is stored.
  virtual void EvaluateKey(ThxVariant& key);

  // Frees the tree, clears the counters and parses `text` (empty: no tree).
  void SetExpression(std::string_view text);

  uint8_t ResultType() const { return resultType_; }
  // The names of the field variables of class `code` that the expression uses, each preceded by
  // ";" (code 17: the table fields a key depends on). Empty without a tree.
  std::string FieldNames(int code) const;

  ThxExpUserLink* Link() const { return link_; }
  const ThxExpBaseObject* Root() const { return root_.get(); }
  // The largest length and decimals met among number literals and field variables.
  int MaxLength() const { return maxLength_; }
  int MaxDecimals() const { return maxDecimals_; }
  // Functions, field variables and literals in the text.
  int OperandCount() const { return operandCount_; }

  // Operators copy these when they are made, so set them before SetExpression.
  bool CaseInsensitive() const { return caseInsensitive_; }
  void SetCaseInsensitive(bool value) { caseInsensitive_ = value; }
  bool Wildcard() const { return wildcard_; }
  void SetWildcard(bool value) { wildcard_ = value; }
  char ManyWildcard() const { return manyWildcard_; }
  char OneWildcard() const { return oneWildcard_; }

 private:
  friend class ThxExpParser;
  ThxExpUserLink* link_;
  std::unique_ptr<ThxExpBaseObject> root_;
  uint8_t resultType_ = etUnknown;
  int maxLength_ = 0;
  int maxDecimals_ = 0;
  int operandCount_ = 0;
  bool caseInsensitive_ = false;
  bool wildcard_ = true;
  char manyWildcard_;
  char oneWildcard_;
};

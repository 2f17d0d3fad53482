// hx6_sql_parse: lexer, operator table and binding of the expression language.
#include "expr/hx6_sql_parse.h"

#include <algorithm>
#include <exception>

#include "base/hx6_date.h"

namespace {

struct OperatorSpelling {
  std::string_view spelling;
  uint8_t code;
  uint8_t level;
};

// Every spelling of every operator; a smaller level binds tighter. Word operators are listed
// without their periods.
constexpr OperatorSpelling kOperators[] = {
    {"=", ocEqual, 5},         {"EQ", ocEqual, 5},        {"<>", ocNotEqual, 5},
    {"!=", ocNotEqual, 5},     {"#", ocNotEqual, 5},      {"NE", ocNotEqual, 5},
    {">", ocGreater, 5},       {"GT", ocGreater, 5},      {"<", ocLess, 5},
    {"LT", ocLess, 5},         {">=", ocGreaterEqual, 5}, {"=>", ocGreaterEqual, 5},
    {"GE", ocGreaterEqual, 5}, {"<=", ocLessEqual, 5},    {"=<", ocLessEqual, 5},
    {"LE", ocLessEqual, 5},    {"$", ocInString, 5},      {"==", ocExactlyEqual, 5},
    {"+", ocPlus, 4},          {"-", ocMinus, 4},         {"*", ocTimes, 3},
    {"/", ocDivide, 3},        {"**", ocPower, 2},        {"^", ocPower, 2},
    {"AND", ocAnd, 7},         {"OR", ocOr, 8},           {"NOT", ocNot, 6},
    {"!", ocNot, 6},
};

constexpr uint8_t kNotLevel = 6;
constexpr uint8_t kFirstLevel = 2;
constexpr uint8_t kLastLevel = 8;

// The word operators that may stand where an operator is expected (NOT may not).
constexpr std::string_view kWordOperators[] = {"AND", "OR", "EQ", "NE", "GE", "LE", "LT", "GT"};

const OperatorSpelling* FindSpelling(std::string_view spelling) {
  for (const auto& op : kOperators) {
    if (op.spelling == spelling) return &op;
  }
  return nullptr;
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameStart(char c) { return IsLetter(c) || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = Upper(c);
  return upper;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

void SkipBlanks(std::string_view text, size_t& pos) {
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
}

// Position of the ")" that closes the "(" at `open`, counting only parentheses; npos when none.
size_t MatchingParenthesis(std::string_view text, size_t open) {
  int depth = 0;
  for (size_t i = open; i < text.size(); ++i) {
    if (text[i] == '(') {
      ++depth;
    } else if (text[i] == ')') {
      if (--depth == 0) return i;
    }
  }
  return std::string_view::npos;
}

// The length of a negation at `pos` ("!", ".NOT.", "NOT", any case), 0 when there is none.
size_t NegationLength(std::string_view text, size_t pos) {
  if (text[pos] == '!') return 1;
  std::string head = UpperAscii(text.substr(pos, 5));
  if (head.starts_with(".NOT.")) return 5;
  if (head.starts_with("NOT")) {
    if (pos + 3 == text.size()) return 3;
    char next = text[pos + 3];
    if (next == '.') return 4;
    if (!IsNameChar(next)) return 3;
  }
  return 0;
}

// Splits a function's argument text at the commas that stand outside literals and nested
// parentheses; pieces are trimmed and empty ones dropped. A literal runs from its opening
// delimiter (a double or single quote, "[" or "{") to the first closing one, as the lexer reads
// it, so a quote inside brackets (an apostrophe in [O'BRIEN]) does not hide the commas after it.
std::vector<std::string_view> SplitArguments(std::string_view text) {
  std::vector<std::string_view> pieces;
  char closing = 0;  // inside a literal: the delimiter that ends it
  int parentheses = 0;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    char c = i < text.size() ? text[i] : ',';
    if (i < text.size() && closing != 0) {
      if (c == closing) closing = 0;
      continue;
    }
    switch (c) {
      case '"':
      case '\'':
        closing = c;
        break;
      case '[':
        closing = ']';
        break;
      case '{':
        closing = '}';
        break;
      case '(':
        ++parentheses;
        break;
      case ')':
        if (parentheses > 0) --parentheses;
        break;
      case ',':
        if (i == text.size() || parentheses == 0) {
          std::string_view piece = Trim(text.substr(start, i - start));
          if (!piece.empty()) pieces.push_back(piece);
          start = i + 1;
        }
        break;
      default:
        break;
    }
  }
  return pieces;
}

[[noreturn]] void SyntaxError(std::string_view text) {
  throw ESorrelExpression(smSyntaxError, {std::string(text)});
}

[[noreturn]] void CannotEvaluate() { throw ESorrelExpression(smCannotEvaluate); }

bool IsUnboundOperator(const ThxExpBaseObject* node) { return node->Kind() == enOperator; }

}  // namespace

// ---------------------------------------------------------------------------------------------

std::unique_ptr<ThxExpBaseObject> ThxExpParser::Parse(std::string_view text) {
  std::unique_ptr<ThxExpBaseObject> root = ParseSub(text);
  if (!root) CannotEvaluate();
  return root;
}

std::unique_ptr<ThxExpBaseObject> ThxExpParser::ParseSub(std::string_view text) {
  // Every parenthesised sub-expression, function argument and inner negation comes through here;
  // the nesting cap keeps hostile input from exhausting the stack.
  struct NestingGuard {
    int& level;
    explicit NestingGuard(int& l) : level(l) {
      if (++level > ThxExpHandler::kMaxNesting) {
        --level;
        CannotEvaluate();
      }
    }
    ~NestingGuard() { --level; }
  } guard(nesting_);
  NodeList nodes = Lex(text);
  if (nodes.empty()) return nullptr;
  return Bind(std::move(nodes));
}

ThxExpParser::NodeList ThxExpParser::Lex(std::string_view source) {
  std::string text(Trim(source));
  NodeList nodes;
  size_t pos = 0;
  bool expectOperand = true;
  bool negationTried = false;  // the negation recogniser runs once per operand
  while (pos < text.size()) {
    if (!expectOperand) {
      nodes.push_back(LexOperator(text, pos));
      expectOperand = true;
      negationTried = false;
      SkipBlanks(text, pos);
      continue;
    }
    char c = text[pos];
    if (!negationTried) {
      negationTried = true;
      if (size_t length = NegationLength(text, pos); length > 0) {
        if (nodes.empty()) {
          nodes.push_back(std::make_unique<ThxExpOperator>(&handler_, ocNot, kNotLevel));
          pos += length;
          SkipBlanks(text, pos);
          continue;
        }
        // A negation inside an expression takes everything after it as its operand, as if that
        // rest had been written in parentheses: A .AND. .NOT. B .OR. C is A .AND. (.NOT. B .OR. C).
        auto node = std::make_unique<ThxExpContainer>(&handler_, ParseSub(text.substr(pos)));
        CheckDepth(*node);
        nodes.push_back(std::move(node));
        pos = text.size();
        expectOperand = false;
        continue;
      }
    }
    std::unique_ptr<ThxExpBaseObject> node;
    if (c == '(') {
      size_t close = MatchingParenthesis(text, pos);
      if (close == std::string::npos) throw ESorrelExpression(smMissingParenthesis);
      std::string inner = text.substr(pos + 1, close - pos - 1);
      node = std::make_unique<ThxExpContainer>(&handler_, ParseSub(inner));
      CheckDepth(*node);
      pos = close + 1;
    } else if (c == '.') {
      size_t close = text.find('.', pos + 1);
      if (close == std::string::npos) throw ESorrelExpression(smMissingPeriod);
      std::string literal = UpperAscii(std::string_view(text).substr(pos, close - pos + 1));
      if (literal != ".T." && literal != ".F.") throw ESorrelExpression(smExpectingLogical);
      node = Operand(std::make_unique<ThxExpBlnLit>(&handler_, literal == ".T."));
      pos = close + 1;
    } else if (IsNameStart(c)) {
      node = LexName(text, pos);
    } else if (c == '"' || c == '\'' || c == '[' || c == '{') {
      node = LexLiteral(text, pos);
    } else if (c == '+' || c == '-' || IsDigit(c)) {
      size_t end = pos + 1;
      while (end < text.size() && (IsDigit(text[end]) || text[end] == '.')) ++end;
      auto number =
          std::make_unique<ThxExpNumLit>(&handler_, std::string_view(text).substr(pos, end - pos));
      handler_.maxDecimals_ = std::max(handler_.maxDecimals_, number->Decimals());
      node = Operand(std::move(number));
      pos = end;
    } else {
      SyntaxError(text);
    }
    nodes.push_back(std::move(node));
    expectOperand = false;
    SkipBlanks(text, pos);
  }
  return nodes;
}

std::unique_ptr<ThxExpBaseObject> ThxExpParser::LexName(std::string_view text, size_t& pos) {
  size_t end = pos;
  while (end < text.size() && IsNameChar(text[end])) ++end;
  std::string name = UpperAscii(text.substr(pos, end - pos));
  if (end < text.size() && text[end] == '(') {
    pos = end;
    return LexFunction(name, text, pos);
  }
  // A variable name, possibly qualified (ALIAS.FIELD, or ALIAS->FIELD read as ALIAS.FIELD). The
  // name grows by one part per round, so a long chain of parts costs linear time.
  for (;;) {
    ThxUserDefFieldVar* fieldVar = GlobalFieldVarReg().Find(name);
    if (!fieldVar && handler_.link_) fieldVar = handler_.link_->LookupFieldVar(name);
    size_t separator = 0;  // length of the "." or "->" that joins the next part
    if (end < text.size() && text[end] == '.') {
      separator = 1;
    } else if (!fieldVar && text.compare(end, 2, "->") == 0) {
      separator = 2;
    }
    if (fieldVar && (!fieldVar->Qualifier() || separator == 0)) {
      if (!handler_.link_) throw ESorrelExpression(smFieldVariableUnknown, {name});
      pos = end;
      auto node = std::make_unique<ThxExpFieldvar>(&handler_, fieldVar);
      handler_.maxLength_ = std::max(handler_.maxLength_, node->Length());
      return Operand(std::move(node));
    }
    if (separator == 0) throw ESorrelExpression(smNoFunction, {name});
    size_t next = end + separator;
    while (next < text.size() && IsNameChar(text[next])) ++next;
    name += '.';
    name += UpperAscii(text.substr(end + separator, next - end - separator));
    end = next;
  }
}

std::unique_ptr<ThxExpBaseObject> ThxExpParser::LexFunction(const std::string& name,
                                                            std::string_view text, size_t& pos) {
  size_t close = MatchingParenthesis(text, pos);
  if (close == std::string_view::npos) throw ESorrelExpression(smMissingParenthesis);
  ThxUserDefFunction* function = GlobalFunctionReg().Find(name);
  if (!function && handler_.link_) function = handler_.link_->LookupFunction(name);
  if (!function) throw ESorrelExpression(smNoFunction, {name});
  NodeList arguments;
  for (std::string_view piece : SplitArguments(text.substr(pos + 1, close - pos - 1))) {
    std::unique_ptr<ThxExpBaseObject> argument = ParseSub(piece);
    if (!argument) CannotEvaluate();
    arguments.push_back(std::move(argument));
  }
  pos = close + 1;
  return Operand(std::make_unique<ThxExpFunction>(&handler_, function, std::move(arguments)));
}

std::unique_ptr<ThxExpBaseObject> ThxExpParser::LexLiteral(std::string_view text, size_t& pos) {
  char open = text[pos];
  char closing = open == '[' ? ']' : open == '{' ? '}' : open;
  size_t close = text.find(closing, pos + 1);
  if (close == std::string_view::npos)
    throw ESorrelExpression(smMissingQuote, {std::string(1, open)});
  std::string inner(text.substr(pos + 1, close - pos - 1));
  pos = close + 1;
  if (open != '{') return Operand(std::make_unique<ThxExpTextLit>(&handler_, std::move(inner)));
  int32_t julian = 0;
  try {
    julian = DBFDate().CTOD(inner);
  } catch (const std::exception&) {
    // A date the conversion cannot read is a fault in the expression text.
    SyntaxError(text);
  }
  return Operand(std::make_unique<ThxExpDateLit>(&handler_, julian));
}

std::unique_ptr<ThxExpBaseObject> ThxExpParser::LexOperator(std::string_view text, size_t& pos) {
  static constexpr std::string_view kSymbolStarts = "!#$*+-/<=>^";
  static constexpr std::string_view kSymbolRun = "*<=>";
  const OperatorSpelling* op = nullptr;
  char c = text[pos];
  if (kSymbolStarts.find(c) != std::string_view::npos) {
    size_t end = pos + 1;
    while (end < text.size() && kSymbolRun.find(text[end]) != std::string_view::npos) ++end;
    op = FindSpelling(text.substr(pos, end - pos));
    if (op) pos = end;
  } else if (c == '.' || IsLetter(c)) {
    size_t end = c == '.' ? pos + 1 : pos;
    size_t wordStart = end;
    while (end < text.size() && IsLetter(text[end])) ++end;
    std::string word = UpperAscii(text.substr(wordStart, end - wordStart));
    if (end < text.size() && text[end] == '.') ++end;
    if (std::find(std::begin(kWordOperators), std::end(kWordOperators), word) !=
        std::end(kWordOperators)) {
      op = FindSpelling(word);
      pos = end;
    }
  }
  if (!op) SyntaxError(text);
  return std::make_unique<ThxExpOperator>(&handler_, op->code, op->level);
}

std::unique_ptr<ThxExpBaseObject> ThxExpParser::Operand(std::unique_ptr<ThxExpBaseObject> node) {
  ++handler_.operandCount_;
  if (node->Kind() == enNumLit) handler_.maxLength_ = std::max(handler_.maxLength_, node->Length());
  CheckDepth(*node);
  return node;
}

void ThxExpParser::CheckDepth(const ThxExpBaseObject& node) const {
  if (node.Depth() > ThxExpHandler::kMaxTreeDepth) CannotEvaluate();
}

std::unique_ptr<ThxExpBaseObject> ThxExpParser::Bind(NodeList nodes) {
  // Level by level, each operator of the level takes the node after it as its right operand and
  // (except a negation) the node before it as its left one, leftmost first, so equal levels group
  // from the left. One pass per level gives the same grouping as restarting from the left after
  // every binding, without the quadratic cost on long expressions.
  for (uint8_t level = kFirstLevel; level <= kLastLevel && nodes.size() > 1; ++level) {
    NodeList bound;
    bound.reserve(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
      ThxExpBaseObject* node = nodes[i].get();
      auto* op = IsUnboundOperator(node) ? static_cast<ThxExpOperator*>(node) : nullptr;
      if (!op || op->Level() != level) {
        bound.push_back(std::move(nodes[i]));
        continue;
      }
      // An operator without an operand on either side is an incomplete expression.
      if (i + 1 >= nodes.size() || IsUnboundOperator(nodes[i + 1].get())) CannotEvaluate();
      std::unique_ptr<ThxExpBaseObject> opNode = std::move(nodes[i]);
      opNode->right_ = std::move(nodes[i + 1]);
      int depth = opNode->right_->Depth();
      if (level != kNotLevel) {
        if (bound.empty() || IsUnboundOperator(bound.back().get())) CannotEvaluate();
        opNode->left_ = std::move(bound.back());
        bound.pop_back();
        depth = std::max(depth, opNode->left_->Depth());
      }
      opNode->kind_ = enOperatorBound;
      opNode->depth_ = depth + 1;
      CheckDepth(*opNode);
      bound.push_back(std::move(opNode));
      ++i;
    }
    nodes = std::move(bound);
  }
  if (nodes.size() != 1 || IsUnboundOperator(nodes.front().get())) CannotEvaluate();
  return std::move(nodes.front());
}

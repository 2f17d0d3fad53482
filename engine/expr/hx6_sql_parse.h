// hx6_sql_parse: the lexer and parser behind ThxExpHandler::SetExpression.
//
// One parser object serves one SetExpression call: it lexes the text into nodes, reading
// parenthesised sub-expressions and function arguments recursively, binds operators to their
// operands level by level and hands back the root. It counts operands and the largest length and
// decimals into the handler it was made for.
//
// Thread-safety: none; used on the stack of one call.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "expr/hx6_sql.h"

class ThxExpParser {
 public:
  explicit ThxExpParser(ThxExpHandler& handler) : handler_(handler) {}

  // The root of `text`; raises ESorrelExpression for any text that does not give exactly one tree.
  std::unique_ptr<ThxExpBaseObject> Parse(std::string_view text);

 private:
  using NodeList = std::vector<std::unique_ptr<ThxExpBaseObject>>;

  // Lexes and binds one (sub-)expression; nullptr for a text of blanks only.
  std::unique_ptr<ThxExpBaseObject> ParseSub(std::string_view text);
  NodeList Lex(std::string_view text);
  std::unique_ptr<ThxExpBaseObject> Bind(NodeList nodes);

  // Operand recognisers; each starts at `pos` in `text` and moves `pos` past what it read.
  std::unique_ptr<ThxExpBaseObject> LexName(std::string_view text, size_t& pos);
  std::unique_ptr<ThxExpBaseObject> LexFunction(const std::string& name, std::string_view text,
                                                size_t& pos);
  std::unique_ptr<ThxExpBaseObject> LexLiteral(std::string_view text, size_t& pos);
  std::unique_ptr<ThxExpBaseObject> LexOperator(std::string_view text, size_t& pos);

  // Counts an operand node into the handler and checks the tree depth.
  std::unique_ptr<ThxExpBaseObject> Operand(std::unique_ptr<ThxExpBaseObject> node);
  void CheckDepth(const ThxExpBaseObject& node) const;

  ThxExpHandler& handler_;
  int nesting_ = 0;
};

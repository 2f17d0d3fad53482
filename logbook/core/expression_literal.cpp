#include "expression_literal.h"

namespace quillmere {

std::optional<std::string> QuoteExpressionLiteral(std::string_view text) {
  struct Delimiters {
    char open, close;
  };
  // The single quote first: it is what the logbook's filters have always used.
  static constexpr Delimiters kChoices[] = {{'\'', '\''}, {'"', '"'}, {'[', ']'}};
  for (const Delimiters& d : kChoices) {
    if (text.find(d.close) != std::string_view::npos) continue;
    std::string literal;
    literal.reserve(text.size() + 2);
    literal += d.open;
    literal += text;
    literal += d.close;
    return literal;
  }
  return std::nullopt;
}

std::optional<std::string> StationSearchFilter(std::string_view text) {
  std::optional<std::string> literal = QuoteExpressionLiteral(text);
  if (!literal) return std::nullopt;
  return "STATION = " + *literal;
}

}  // namespace quillmere

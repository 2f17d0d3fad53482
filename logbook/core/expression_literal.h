// expression_literal: typed text turned into a text literal of the table engine's expression
// language, for filters built from what the operator types (the search box of the Edit page).
//
// The language has no escape inside a literal: a literal runs from its opening delimiter to the
// first closing one. Pasting typed text between fixed quotes therefore lets a quote in the text end
// the literal early, and whatever follows is read as expression text. The text is instead
// delimited by the first of ', " and [...] whose closing character it does not hold; a text that
// holds ', " and ] all together cannot be written as a literal and is refused.
//
// Pure functions; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillmere {

// `text` between delimiters it does not hold: 'text', "text" or [text]; nullopt when it holds
// ', " and ] all three.
std::optional<std::string> QuoteExpressionLiteral(std::string_view text);

// The search box's filter: "STATION = " + the quoted text (bytes of the table's code page);
// nullopt when the text cannot be quoted.
std::optional<std::string> StationSearchFilter(std::string_view text);

}  // namespace quillmere

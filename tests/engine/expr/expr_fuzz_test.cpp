// Expression text is user input: random and mutated texts must give a value or an
// ESorrelExpression, never another exception, a crash or a hang (run under the sanitizers).
#include <random>
#include <string>
#include <vector>

#include "expr/expr_test_util.h"
#include "base/hx6_tool.h"

using namespace expr_test;

namespace {

const std::vector<std::string> kSeeds = {
    "DTOS(QSODATE)+STATION",
    "STATION = 'W1*' .AND. .NOT. QSL .OR. BAND > 14.5",
    "UPPER(NAME) $ \"SMITH JONES\"",
    "IIF(BAND >= 20, STR(BAND, 5, 1), PADL(STATION, 20, '*'))",
    "LOG->STATION + [/] + DTOC(QSODATE, 1) - SPACE(3)",
    "STRTRAN(STATION, 'W', 'K', 1, 1) = SUBSTR(NAME, 2, 3)",
    "(2^3 - 7/2) * MOD(-7, 2) <> ABS(-1) .and. !EMPTY(CTOD(''))",
    "{19800101} < DATE() .OR. DESCEND(QSODATE) # 0",
    "MAX(1, 2, BAND) + MIN(3, 4) + AT('A', 'BANANA', 2) + FV(100, 0.1, 2, 0, 1)",
    "INLIST(STATION, 'A', 'B') .AND. BETWEEN(BAND, 1, 30) .AND. SOUNDEX(NAME) = 'S530'",
};

// Characters that matter to the lexer, plus a few that do not.
const std::string kAlphabet = "()[]{}'\".,!#$*+-/<=>^ _ANDORTF0123456789aeXQ\t\x01\xE9@;:";

const std::vector<std::string> kTokens = {
    "(", ")", ".T.", ".F.", ".NOT.", "!", "NOT", ".AND.", "OR", "=", "<>", "#", ">=", "=<", "$",
    "==", "+", "-", "*", "/", "^", "**", "1", "-2.5", "1.2.3", "'A'", "\"B C\"", "[x]", "{19800101}",
    "STATION", "BAND", "QSODATE", "QSL", "LOG->NAME", "TRUE", "PI", "UPPER(", "SPACE(", "STR(",
    "PADC(", "STRTRAN(", "IIF(", "MAX(", ",", "CTOD(", "DESCEND(", "10^300", "0", "65535",
    "-10^301", "10^400", "AT(", "CHR(", "MOD(", "LEFT(", "SUBSTR(", "VAL(", "FV(", "LOG->",
    "LOG.", "->", "[O'B,]", "EMPTY(", "DTOS(", "NOTE",
};

std::string Mutate(std::string text, std::mt19937& rng) {
  std::uniform_int_distribution<int> kind(0, 4);
  int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits; ++e) {
    size_t pos = text.empty() ? 0 : rng() % (text.size() + 1);
    switch (kind(rng)) {
      case 0:
        text.insert(pos, 1, kAlphabet[rng() % kAlphabet.size()]);
        break;
      case 1:
        if (pos < text.size()) text.erase(pos, 1 + rng() % 3);
        break;
      case 2:
        text.insert(pos, kTokens[rng() % kTokens.size()]);
        break;
      case 3:
        if (!text.empty()) {
          size_t from = rng() % text.size();
          text.insert(pos, text.substr(from, 1 + rng() % 8));
        }
        break;
      default:
        if (pos < text.size()) text[pos] = kAlphabet[rng() % kAlphabet.size()];
        break;
    }
  }
  return text;
}

std::string RandomTokens(std::mt19937& rng) {
  std::string text;
  int count = 1 + static_cast<int>(rng() % 12);
  for (int i = 0; i < count; ++i) {
    text += kTokens[rng() % kTokens.size()];
    if (rng() % 2) text += ' ';
  }
  return text;
}

// Parses and evaluates one text every way a caller would; true when it gave a value.
bool Exercise(TestLink& t, const std::string& text) {
  try {
    ThxExpHandler handler(&t.link, false, text);
    (void)handler.GetText();
    (void)handler.FieldNames(kTableFieldClassCode);
    ThxExpValue value;
    handler.Evaluate(value);
    ThxVariant key;
    handler.EvaluateKey(key);
    return true;
  } catch (const ESorrelExpression&) {
    return false;
  }
}

}  // namespace

TEST(ExprFuzz, MutatedAndRandomTextsNeverEscapeAsOtherErrors) {
  TestLink t;
  std::mt19937 rng(20240611);
  int values = 0, errors = 0;
  for (int i = 0; i < 30000; ++i) {
    std::string text = i % 3 == 2 ? RandomTokens(rng) : Mutate(kSeeds[rng() % kSeeds.size()], rng);
    bool ok = false;
    ASSERT_NO_THROW(ok = Exercise(t, text)) << text;
    (ok ? values : errors) += 1;
  }
  // Both outcomes occur, so the inputs reach past the lexer.
  EXPECT_GT(values, 1000);
  EXPECT_GT(errors, 1000);
}

TEST(ExprFuzz, EverySeedEvaluates) {
  TestLink t;
  for (const std::string& seed : kSeeds) EXPECT_TRUE(Exercise(t, seed)) << seed;
}

TEST(ExprFuzz, EveryPrefixAndSuffixOfTheSeedsIsHandled) {
  TestLink t;
  for (const std::string& seed : kSeeds) {
    for (size_t n = 0; n <= seed.size(); ++n) {
      EXPECT_NO_THROW(Exercise(t, seed.substr(0, n))) << seed.substr(0, n);
      EXPECT_NO_THROW(Exercise(t, seed.substr(n))) << seed.substr(n);
    }
  }
}

// hx6_fctn_text: the text functions of the expression language.
#include <algorithm>
#include <cstdio>
#include <string_view>

#include "base/SysSorl.h"
#include "expr/hx6_fctn.h"
#include "expr/hx6_fctn_args.h"

using namespace hx6_fctn;

namespace {

// STRTRAN results stay below this size (an expression is user input).
constexpr size_t kMaxStrTranText = 16u << 20;

std::string TextArg(ThxExpFunction& node, int index) { return Arg(node, index, etText).Text(); }

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The 1-based position of the occurrence-th appearance of `search` in `target`; each further
// search starts one character after the previous find. When fewer appearances exist, the last
// one found; 0 when none is found or the occurrence is below 1.
double Occurrence(const std::string& search, const std::string& target, double occurrence) {
  if (occurrence < 1.0 || search.empty()) return 0.0;
  size_t offset = 0;
  double last = 0.0;
  for (double k = 1.0; k <= occurrence && offset < target.size(); k += 1.0) {
    int p = SysPos(search, std::string_view(target).substr(offset));
    if (p <= 0) break;
    offset += static_cast<size_t>(p);
    last = static_cast<double>(offset);
  }
  return last;
}

void AtCommon(ThxExpFunction& node, ThxExpValue& value, uint8_t& type, bool ignoreCase) {
  type = etNumber;
  std::string search = TextArg(node, 0);
  std::string target = TextArg(node, 1);
  uint8_t occurrenceType = etUnknown;
  ThxExpValue occurrenceValue = Arg(node, 2, etAny, occurrenceType);
  double occurrence = ExpIsNumeric(occurrenceType) ? std::trunc(occurrenceValue.Number()) : 1.0;
  if (ignoreCase) {
    search = UpperAscii(std::move(search));
    target = UpperAscii(std::move(target));
  }
  value.SetNumber(Occurrence(search, target, occurrence));
}

std::string TrimLeft(const std::string& text) {
  size_t begin = 0;
  while (begin < text.size() && IsTrimmed(text[begin])) ++begin;
  return text.substr(begin);
}

std::string TrimRight(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && IsTrimmed(text[end - 1])) --end;
  return text.substr(0, end);
}

// The characters after which PROPER starts a capital.
bool StartsWord(unsigned char c) {
  static constexpr std::string_view kSeparators = " !\"#$%&()*+,-./:;<=>?[\\]^_{|}~@";
  return c == 0 || c == 127 || kSeparators.find(static_cast<char>(c)) != std::string_view::npos;
}

char SoundexDigit(char c) {
  switch (c) {
    case 'B': case 'F': case 'P': case 'V':
      return '1';
    case 'C': case 'G': case 'J': case 'K': case 'Q': case 'S': case 'X': case 'Z':
      return '2';
    case 'D': case 'T':
      return '3';
    case 'L':
      return '4';
    case 'M': case 'N':
      return '5';
    case 'R':
      return '6';
    default:
      return 0;
  }
}

// STR's formatting: the value right-aligned in `width` with `decimals`, at full length when it
// needs more room.
std::string FormatStr(ThxExpFunction& node, const std::string& name) {
  double number = Arg(node, 0, etNumber).Number();
  uint8_t widthType = etUnknown;
  ThxExpValue widthValue = Arg(node, 1, etAny, widthType);
  double width = 0.0, decimals = 0.0;
  if (ExpIsNumeric(widthType)) {
    width = RoundVariant(widthValue.Number());
    uint8_t decimalsType = etUnknown;
    ThxExpValue decimalsValue = Arg(node, 2, etAny, decimalsType);
    if (ExpIsNumeric(decimalsType)) decimals = RoundVariant(decimalsValue.Number());
  } else {
    ThxExpUserLink* link = node.Handler() ? node.Handler()->Link() : nullptr;
    int linkWidth = link ? link->DefaultStrWidth() : 0;
    width = linkWidth > 0 ? linkWidth : 10;
  }
  CheckTextCount(width, name);
  // A double shows nothing beyond about 17 significant digits; more decimals only add zeros.
  int places = decimals > 0.0 ? static_cast<int>(std::min(decimals, 60.0)) : 0;
  int fieldWidth = width > 0.0 ? static_cast<int>(width) : 0;
  // Fixed decimals in the C locale with halves rounded away from zero, whatever the process
  // locale (a GUI program runs under the user's, where printf may write a decimal comma).
  std::string text = SysFloatToFixed(number, places);
  if (text.size() < static_cast<size_t>(fieldWidth))
    text.insert(0, static_cast<size_t>(fieldWidth) - text.size(), ' ');
  return text;
}

}  // namespace

void ThxUDFAllTrim::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  SetTextResult(value, type, TrimRight(TrimLeft(TextArg(node, 0))));
}

void ThxUDFAsc::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etNumber;
  std::string text = TextArg(node, 0);
  value.SetNumber(text.empty() ? 0 : static_cast<unsigned char>(text[0]));
}

void ThxUDFAt::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  AtCommon(node, value, type, false);
}

void ThxUDFAtC::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  AtCommon(node, value, type, true);
}

void ThxUDFChr::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  double code = RoundVariant(Arg(node, 0, etNumber).Number());
  if (!(code >= 0.0 && code <= 255.0)) throw ESorrelExpression(smValueRequiredInvalid, {"Byte"});
  SetTextResult(value, type, std::string(1, static_cast<char>(static_cast<unsigned char>(code))));
}

void ThxUDFLeft::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  std::string text = TextArg(node, 0);
  double count = std::trunc(Arg(node, 1, etNumber).Number());
  if (count < 1.0) text.clear();
  else if (count < static_cast<double>(text.size())) text.resize(static_cast<size_t>(count));
  SetTextResult(value, type, std::move(text));
}

void ThxUDFLen::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etNumber;
  value.SetNumber(static_cast<double>(TextArg(node, 0).size()));
}

void ThxUDFLower::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  SetTextResult(value, type, SysLowerCase(TextArg(node, 0)));
}

void ThxUDFLTrim::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  SetTextResult(value, type, TrimLeft(TextArg(node, 0)));
}

void ThxUDFPadMain::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  uint8_t fillType = etUnknown;
  ThxExpValue fillValue = Arg(node, 2, etAny, fillType);
  char fill = ' ';
  if (fillType != etEmpty) {
    if (fillType != etText || fillValue.Text().size() != 1)
      throw ESorrelExpression(smValueRequiredInvalid, {"Char"});
    fill = fillValue.Text()[0];
  }
  uint8_t valueType = etUnknown;
  ThxExpValue padded = Arg(node, 0, etAny, valueType);
  if (valueType == etEmpty) throw ESorrelExpression(smArgumentNeeded, {"Value", 1, "Pad"});
  std::string text = padded.AsString();
  double width = RoundVariant(Arg(node, 1, etNumber).Number());
  CheckTextCount(width, GetName());
  if (width > static_cast<double>(text.size())) {
    size_t w = static_cast<size_t>(width);
    std::string buffer(w, fill);
    buffer.replace(Offset(w, text.size()), text.size(), text);
    text = std::move(buffer);
  }
  SetTextResult(value, type, std::move(text));
}

void ThxUDFProper::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  std::string text = TextArg(node, 0);
  std::string upper = SysUpperCase(text);
  std::string lower = SysLowerCase(text);
  std::string result(text.size(), ' ');
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char before = i == 0 ? 0 : static_cast<unsigned char>(result[i - 1]);
    const std::string& source = StartsWord(before) ? upper : lower;
    result[i] = i < source.size() ? source[i] : text[i];
  }
  SetTextResult(value, type, std::move(result));
}

void ThxUDFRight::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  std::string text = TextArg(node, 0);
  double count = std::trunc(Arg(node, 1, etNumber).Number());
  if (count >= 1.0 && static_cast<double>(text.size()) > count)
    text.erase(0, text.size() - static_cast<size_t>(count));
  SetTextResult(value, type, std::move(text));
}

void ThxUDFSoundex::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  std::string text = UpperAscii(TextArg(node, 0));
  if (text.empty()) {
    SetTextResult(value, type, "0000");
    return;
  }
  std::string code(1, text[0]);
  for (size_t i = 1; i < text.size(); ++i) {
    if (char digit = SoundexDigit(text[i])) code += digit;
  }
  std::string result(1, code[0]);
  for (size_t i = 1; i < code.size(); ++i) {
    if (code[i] != code[i - 1]) result += code[i];
  }
  result += "0000";
  result.resize(4);
  SetTextResult(value, type, std::move(result));
}

void ThxUDFSpace::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  double count = std::trunc(Arg(node, 0, etNumber).Number());
  CheckTextCount(count, "SPACE");
  SetTextResult(value, type, std::string(count > 0.0 ? static_cast<size_t>(count) : 0, ' '));
}

void ThxUDFStr::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  SetTextResult(value, type, FormatStr(node, GetName()));
}

void ThxUDFStrZero::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  std::string text = FormatStr(node, GetName());
  for (char& c : text) {
    if (c != ' ') break;
    c = '0';
  }
  SetTextResult(value, type, std::move(text));
}

void ThxUDFStrTran::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  std::string text = TextArg(node, 0);
  std::string find = TextArg(node, 1);
  if (text.empty() || find.empty()) {
    SetTextResult(value, type, std::move(text));
    return;
  }
  uint8_t replaceType = etUnknown;
  ThxExpValue replaceValue = Arg(node, 2, etAny, replaceType);
  std::string replace = replaceType == etText ? replaceValue.Text() : std::string();
  uint8_t startType = etUnknown;
  ThxExpValue startValue = Arg(node, 3, etAny, startType);
  double start = ExpIsNumeric(startType) ? std::trunc(startValue.Number()) : 1.0;
  uint8_t countType = etUnknown;
  ThxExpValue countValue = Arg(node, 4, etAny, countType);
  bool limited = ExpIsNumeric(countType);
  double count = limited ? std::trunc(countValue.Number()) : 0.0;

  std::string result;
  size_t offset = 0;
  while (!limited || count > 0.0) {
    int p = SysPos(find, std::string_view(text).substr(offset));
    if (p <= 0) break;
    size_t at = offset + static_cast<size_t>(p) - 1;
    start -= 1.0;
    if (start >= 1.0) {
      result.append(text, offset, at + find.size() - offset);
    } else {
      if (result.size() + (at - offset) + replace.size() > kMaxStrTranText)
        throw ESorrelExpression(smCannotEvaluate);
      result.append(text, offset, at - offset);
      result += replace;
      if (limited) count -= 1.0;
    }
    offset = at + find.size();
  }
  result.append(text, offset, std::string::npos);
  if (result.size() > kMaxStrTranText) throw ESorrelExpression(smCannotEvaluate);
  SetTextResult(value, type, std::move(result));
}

void ThxUDFSubStr::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  std::string text = TextArg(node, 0);
  double start = std::trunc(Arg(node, 1, etNumber).Number());
  uint8_t countType = etUnknown;
  ThxExpValue countValue = Arg(node, 2, etAny, countType);
  double length = static_cast<double>(text.size());
  double count = ExpIsNumeric(countType) ? std::trunc(countValue.Number()) : length;
  if (start != 0.0 && start <= length && count != 0.0) {
    // The run-time's copy: a start below 1 counts from the first character, a negative count
    // copies nothing, and the count is cut to the characters that remain.
    size_t from = start < 1.0 ? 0 : static_cast<size_t>(start) - 1;
    size_t take = count > 0.0 ? static_cast<size_t>(std::min(count, length)) : 0;
    text = text.substr(from, take);
  }
  SetTextResult(value, type, std::move(text));
}

void ThxUDFTrim::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  SetTextResult(value, type, TrimRight(TextArg(node, 0)));
}

void ThxUDFUpper::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etText;
  SetTextResult(value, type, SysUpperCase(TextArg(node, 0)));
}

void ThxUDFVal::Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) {
  type = etNumber;
  // Blanks and control characters go from both ends first, so a tab or a carriage return
  // around the digits does not turn the number into 0.
  double number = 0.0;
  if (!ExpTextToFloat(TrimRight(TrimLeft(TextArg(node, 0))), number)) number = 0.0;
  value.SetNumber(number);
}

#include "spoken_reading.h"

#include <cstddef>

#include "phrases.h"

namespace quillmere {

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}

bool BeginsWithIgnoringCase(std::string_view text, std::string_view start) {
  if (text.size() < start.size()) return false;
  for (size_t i = 0; i < start.size(); ++i)
    if (AsciiLower(text[i]) != AsciiLower(start[i])) return false;
  return true;
}

// Blanks, tabs and the other control characters at both ends go.
std::string Trimmed(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return std::string(text.substr(begin, end - begin));
}

// The first `count` characters of UTF-8 `text`, never cutting one in two.
std::string_view FirstCharacters(std::string_view text, size_t count) {
  size_t i = 0;
  for (size_t seen = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (seen++ == count) break;
  }
  return text.substr(0, i);
}

std::string StateOrText(std::string_view text, const std::vector<std::string>& wordList) {
  std::string name = StateName(wordList, text);
  return name.empty() ? std::string(text) : name;
}

}  // namespace

const std::vector<TEntryFieldReading>& EntryFieldReadings() {
  static const std::vector<TEntryFieldReading> fields = {
      {"LogEdit3", "enter call. ", TReadBack::Text},
      {"Edit3", "enter name. ", TReadBack::Text},
      {"LogEdit8", "enter Q.T.H. ", TReadBack::Text},
      {"LogEdit9", "enter city. ", TReadBack::Text},
      {"Edit4", "enter remarks. ", TReadBack::Text},
      {"LogEdit6", "enter state. ", TReadBack::StateName},
      {"logedit10", "enter grid. ", TReadBack::GridSquare},
      {"LogEdit4", "enter sent R.S.T. ", TReadBack::None},
      {"LogEdit5", "enter received R.S.T. ", TReadBack::None},
  };
  return fields;
}

const TEntryFieldReading* FindEntryFieldReading(std::string_view name) {
  for (const TEntryFieldReading& field : EntryFieldReadings())
    if (name == field.Name) return &field;
  return nullptr;
}

int FindWordListItem(const std::vector<std::string>& items, std::string_view code) {
  if (code.empty()) return -1;
  for (size_t i = 0; i < items.size(); ++i)
    if (BeginsWithIgnoringCase(items[i], code)) return static_cast<int>(i);
  return -1;
}

std::string StateName(const std::vector<std::string>& items, std::string_view code) {
  const int found = FindWordListItem(items, code);
  if (found < 0) return std::string();
  std::string_view item = items[static_cast<size_t>(found)];
  const size_t tab = item.find('\t');
  if (tab != std::string_view::npos) item.remove_prefix(tab);
  // The code is replaced by the item's text, so the name is that text, trimmed.
  return Trimmed(FirstCharacters(item, 25));
}

std::optional<std::string> DoubleClickPhrase(TReadBack reading, std::string_view text,
                                             const std::vector<std::string>& wordList) {
  if (reading == TReadBack::None) return std::nullopt;
  if (text.empty()) return std::string("empty");
  switch (reading) {
    case TReadBack::StateName:
      return StateOrText(text, wordList);
    case TReadBack::GridSquare:
      // No blanks inside the tags: the voice spells the square letter by letter.
      return "<SPELL>" + LowerCase(text) + "</SPELL>";
    default:
      return std::string(text);
  }
}

std::optional<std::string> EnterKeyPhrase(TReadBack reading, std::string_view text,
                                          const std::vector<std::string>& wordList) {
  if (reading == TReadBack::None || text.empty()) return std::nullopt;
  switch (reading) {
    case TReadBack::StateName:
      return StateOrText(text, wordList);
    case TReadBack::GridSquare:
      return LowerCase(text);
    default:
      return std::string(text);
  }
}

std::optional<std::string> GridCellPhrase(std::string_view cell, const TRecordReading& record,
                                          const std::vector<std::string>& wordList) {
  const std::string value = TrimmedField(cell);
  if (value.empty()) return std::nullopt;
  if (value == TrimmedField(record.GridSquare) || value == TrimmedField(record.Sent) ||
      value == TrimmedField(record.Received))
    return SpelledPhrase(value);
  if (value == TrimmedField(record.Mode)) return ModeWord(value);
  if (value == TrimmedField(record.State)) {
    std::string name = StateName(wordList, value);
    if (name.empty()) return std::nullopt;
    return name;
  }
  return value;
}

std::string EmissionWord(std::string_view mode) {
  if (mode == "USB" || mode == "LSB" || mode == "FM" || mode == "CW" || mode == "AM" || mode == "RTTY")
    return ModeWord(mode);
  return "Other";
}

std::string FrequencyPhrase(std::string_view frequency) { return std::string(frequency) + " mega hertz. "; }

std::vector<std::string> EmissionPhrases(std::string_view mode) {
  return {EmissionWord(mode) + " . ", "is the current mode."};
}

std::string BearingPhrase(std::string_view bearing, std::string_view dx) {
  return std::string(bearing) + "is the bearing to .  " + std::string(dx);
}

std::string PrefixPhrase(std::string_view dx) { return std::string(dx) + ". is the DX."; }

std::vector<std::string> ReviewLogPhrases(std::string_view date, std::string_view time, std::string_view station,
                                          std::string_view name, std::string_view state) {
  const std::string gap = "  ";
  return {std::string(date) + gap + std::string(time) + gap + std::string(station) + gap + std::string(name) + gap +
              " . ",
          std::string(state) + " . "};
}

std::vector<std::string> LogListPhrases(std::string_view fileName) {
  std::string_view base = fileName;
  const size_t dot = base.rfind('.');
  if (dot != std::string_view::npos) base = base.substr(0, dot);
  return {"Double click or press enter to select the ", std::string(base) + " . ", "log book."};
}

std::string TrimmedField(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  return std::string(text.substr(0, end));
}

}  // namespace quillmere

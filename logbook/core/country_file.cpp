#include "country_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "ascii_text.h"

namespace quillmere {

namespace {

// The text between `open` and `close` after position `from` in `item`, empty when absent.
std::string Override(std::string_view item, char open, char close) {
  const size_t a = item.find(open);
  if (a == std::string_view::npos) return {};
  const size_t b = item.find(close, a + 1);
  if (b == std::string_view::npos) return {};
  return std::string(TrimWhiteSpace(item.substr(a + 1, b - a - 1)));
}

}  // namespace

std::vector<std::string> SplitCtyLine(std::string_view line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ':' || line[i] == ';') {
      fields.emplace_back(TrimWhiteSpace(line.substr(start, i - start)));
      start = i + 1;
    }
  }
  return fields;
}

bool CountryFile::Load(const std::string& path, std::string* error) {
  memo_.clear();
  rows_.clear();
  prefixes_.clear();
  exactCalls_.clear();
  longestPrefix_ = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "Cannot read the country file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    if (error) *error = "Cannot read the country file " + path;
    return false;
  }
  Parse(text.str());
  return true;
}

void CountryFile::Parse(std::string_view text) {
  bool inList = false;
  std::string list;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (inList) {
      list += line;
      list += ' ';
      if (line.find(';') != std::string_view::npos) {
        AddItems(static_cast<int>(rows_.size()) - 1, list);
        list.clear();
        inList = false;
      }
      continue;
    }
    // Outside a prefix list: an indented line is a stray list line, a blank line nothing.
    if (TrimWhiteSpace(line).empty() || IsWhiteSpace(line.front())) continue;
    memo_.emplace_back(line);
    CtyRow row;
    std::vector<std::string> fields = SplitCtyLine(line);
    for (size_t c = 0; c < kCtyColumns && c < fields.size(); ++c) row[c] = std::move(fields[c]);
    rows_.push_back(std::move(row));
    inList = true;
  }
  if (inList && !list.empty()) AddItems(static_cast<int>(rows_.size()) - 1, list);
}

void CountryFile::AddItems(int row, std::string_view list) {
  size_t start = 0;
  for (size_t i = 0; i <= list.size(); ++i) {
    if (i < list.size() && list[i] != ',' && list[i] != ';') continue;
    std::string_view item = TrimWhiteSpace(list.substr(start, i - start));
    start = i + 1;
    if (item.empty()) continue;
    const bool exact = item.front() == '=';
    if (exact) item.remove_prefix(1);
    const size_t stop = item.find_first_of("([<{~");
    const std::string key = AsciiUpperCase(TrimWhiteSpace(item.substr(0, stop)));
    if (key.empty()) continue;
    Item entry{row, Override(item, '(', ')'), Override(item, '[', ']')};
    auto& map = exact ? exactCalls_ : prefixes_;
    // The first entity that lists an item keeps it.
    if (map.emplace(key, std::move(entry)).second && !exact && key.size() > longestPrefix_)
      longestPrefix_ = key.size();
  }
}

int CountryFile::FindName(std::string_view name) const {
  if (name.size() <= 2) return -1;
  for (size_t r = 0; r < rows_.size(); ++r)
    if (rows_[r][kCtyName] == name) return static_cast<int>(r);
  return -1;
}

const CountryFile::Item* CountryFile::LongestPrefix(std::string_view key, std::string& matched) const {
  for (size_t n = std::min(key.size(), longestPrefix_); n > 0; --n)
    if (auto p = prefixes_.find(std::string(key.substr(0, n))); p != prefixes_.end()) {
      matched = std::string(key.substr(0, n));
      return &p->second;
    }
  return nullptr;
}

namespace {

// Suffixes that say how a station works, not where: the home call's entity stays.
bool OperatingSuffix(std::string_view part) {
  for (const char* suffix : {"P", "M", "QRP", "QRPP", "A", "B", "LH"})
    if (part == suffix) return true;
  return false;
}

// `call` with its call-area digit (the last digit before the letters that end it) replaced by
// `digit`: "UA1ABC" and "9" give "UA9ABC"; a call without a digit stays as it is.
std::string WithCallArea(std::string call, char digit) {
  size_t end = call.size();
  while (end > 0 && !std::isdigit(static_cast<unsigned char>(call[end - 1]))) --end;
  if (end > 0) call[end - 1] = digit;
  return call;
}

}  // namespace

CtyCallInfo CountryFile::LookupCall(std::string_view call) const {
  CtyCallInfo info;
  const std::string key = AsciiUpperCase(TrimWhiteSpace(call));
  if (key.empty()) return info;
  const Item* found = nullptr;
  if (auto it = exactCalls_.find(key); it != exactCalls_.end()) {
    found = &it->second;
    info.exactCall = true;
    info.matched = key;
  } else if (key.find('/') == std::string::npos) {
    found = LongestPrefix(key, info.matched);
  } else {
    // A call with a slash, as the country file's own conventions read it. The parts after the
    // first: "/MM" and "/AM" (maritime and aeronautical mobile) are no entity; "/P", "/M",
    // "/QRP" and their kin change nothing; a single digit moves the call to that call area
    // ("UA1ABC/9" is read as "UA9ABC"). Of the two parts left, the shorter (the first on a tie)
    // is the location: when it is a prefix the file knows, the call belongs to that entity
    // ("K1ABC/KH6" and "KH6/K1ABC" are Hawaii); otherwise the other part decides.
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= key.size(); ++i) {
      if (i < key.size() && key[i] != '/') continue;
      std::string part = key.substr(start, i - start);
      start = i + 1;
      if (part.empty()) continue;
      if (!parts.empty()) {
        if (part == "MM" || part == "AM") return CtyCallInfo{};
        if (OperatingSuffix(part)) continue;
      }
      parts.push_back(std::move(part));
    }
    if (parts.empty()) return CtyCallInfo{};
    if (parts.size() == 1) {
      found = LongestPrefix(parts[0], info.matched);
    } else if (parts[1].size() == 1 && std::isdigit(static_cast<unsigned char>(parts[1][0]))) {
      found = LongestPrefix(WithCallArea(parts[0], parts[1][0]), info.matched);
    } else {
      const bool secondIsLocation = parts[1].size() < parts[0].size();
      const std::string& location = secondIsLocation ? parts[1] : parts[0];
      const std::string& home = secondIsLocation ? parts[0] : parts[1];
      found = LongestPrefix(location, info.matched);
      if (!found) found = LongestPrefix(home, info.matched);
    }
  }
  if (!found || found->row < 0 || static_cast<size_t>(found->row) >= rows_.size()) return CtyCallInfo{};
  info.row = found->row;
  const CtyRow& row = rows_[static_cast<size_t>(found->row)];
  info.cqZone = found->cqZone.empty() ? row[kCtyCqZone] : found->cqZone;
  info.ituZone = found->ituZone.empty() ? row[kCtyItuZone] : found->ituZone;
  return info;
}

}  // namespace quillmere

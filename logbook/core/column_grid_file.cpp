#include "column_grid_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>

#include "cp1252_text.h"

namespace quillmere {

namespace {

// A whole number as the format writes it: blanks around it, an optional sign, decimal digits.
std::optional<int> WholeNumber(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return std::nullopt;
  }
  return static_cast<int>(negative ? -value : value);
}

ColumnGridRead Bad(std::string reason) {
  ColumnGridRead out;
  out.status = ColumnGridRead::Status::Bad;
  out.reason = std::move(reason);
  return out;
}

}  // namespace

ColumnGridRead ReadColumnGridFile(const std::string& path, int rows, int minColumns, int maxColumns) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 && errno == ENOENT) {
    ColumnGridRead out;
    out.reason = "the file does not exist";
    return out;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream whole;
  if (in) whole << in.rdbuf();
  if (!in || in.bad()) return Bad(std::string("the file cannot be read (") + std::strerror(errno) + ")");
  std::string text = whole.str();
  const bool cp1252 = !IsUtf8(text);
  if (cp1252) text = Cp1252ToUtf8(text);

  // The lines, each without its CR LF or LF; a last line without a line end counts too.
  std::vector<std::string_view> lines;
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }

  if (lines.empty()) return Bad("the file is empty");
  const std::optional<int> columns = WholeNumber(lines[0]);
  if (!columns) return Bad("line 1 (the column count) is not a whole number");
  if (*columns < minColumns || *columns > maxColumns) {
    const std::string expected = minColumns == maxColumns ? std::to_string(minColumns)
                                                          : "at least " + std::to_string(minColumns);
    return Bad("the file has " + std::to_string(*columns) + " columns where " + expected + " are expected");
  }
  if (lines.size() < 2 || !WholeNumber(lines[1])) return Bad("line 2 (the row count) is not a whole number");
  const size_t needed = 2 + static_cast<size_t>(*columns) * static_cast<size_t>(rows);
  if (lines.size() < needed)
    return Bad("the file ends at line " + std::to_string(lines.size()) + ", before its last cell (line " +
               std::to_string(needed) + ")");

  ColumnGridRead out;
  out.status = ColumnGridRead::Status::Read;
  out.cp1252 = cp1252;
  out.cells.assign(static_cast<size_t>(*columns), std::vector<std::string>(static_cast<size_t>(rows)));
  size_t line = 2;
  for (auto& column : out.cells)
    for (auto& cell : column) cell = std::string(lines[line++]);
  return out;
}

std::string FormatColumnGridFile(const GridCells& cells, bool cp1252) {
  const size_t rows = cells.empty() ? 0 : cells.front().size();
  std::string out = std::to_string(cells.size()) + "\r\n" + std::to_string(rows) + "\r\n";
  for (const auto& column : cells)
    for (size_t row = 0; row < rows; ++row) {
      if (row < column.size()) out += WithoutLineBreaks(column[row]);
      out += "\r\n";
    }
  if (!cp1252) return out;
  // A character CP1252 has no byte for would become '?': then the file stays UTF-8.
  std::string bytes = Utf8ToCp1252(out);
  return Cp1252ToUtf8(bytes) == out ? bytes : out;
}

std::string WithoutLineBreaks(std::string text) {
  text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }), text.end());
  return text;
}

}  // namespace quillmere

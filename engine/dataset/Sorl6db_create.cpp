// Field definition lines and the creation of a new table from them.
#include "dataset/Sorl6db_create.h"

#include <sys/stat.h>

#include <charconv>
#include <set>

#include "base/SysSorl.h"
#include "table/hx6_dbf.h"
#include "table/hx6_dbf_build.h"
#include "base/hx6_disk.h"
#include "base/hx6_glbl.h"
#include "base/hx6_tool.h"

namespace {

constexpr size_t kStoredNameLength = 10;  // what a descriptor keeps of a field name
constexpr size_t kDecimalsDigits = 3;     // DEC is read from at most this many characters

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// A decimal integer with an optional sign, blanks around it allowed; nothing else.
bool ParseInteger(std::string_view text, int& value) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

[[noreturn]] void Invalid() { throw EDatabaseError(smFieldListInvalid); }

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

bool SorrelSplitFieldLine(std::string_view line, TSorrelFieldLine& out) {
  while (!line.empty() && (line.back() == ' ' || line.back() == ';')) line.remove_suffix(1);
  size_t first = line.find(';');
  if (first == std::string_view::npos) return false;
  // The type is exactly one character, closed by the second ';'.
  if (first + 2 >= line.size() || line[first + 2] != ';') return false;
  size_t second = first + 2;
  size_t third = line.find(';', second + 1);
  if (third == std::string_view::npos) return false;
  TSorrelFieldLine field;
  field.name = std::string(line.substr(0, first));
  field.type = line[first + 1];
  if (!ParseInteger(line.substr(second + 1, third - second - 1), field.length)) return false;
  if (!ParseInteger(line.substr(third + 1, kDecimalsDigits), field.decimals)) return false;
  out = std::move(field);
  return true;
}

std::vector<TSorrelFieldLine> SorrelParseFieldList(const std::vector<std::string>& lines) {
  if (lines.empty()) Invalid();
  std::vector<TSorrelFieldLine> fields;
  std::set<std::string> stored;
  long recordLength = 1;
  for (const std::string& raw : lines) {
    TSorrelFieldLine field;
    std::string_view line = TrimBlanks(raw);
    if (line.empty() || !SorrelSplitFieldLine(line, field)) Invalid();
    // Names are compared as the descriptor will hold them: a name the builder would cut to the
    // same ten characters as an earlier one would make two fields of one name.
    std::string name = SysUpperCase(TrimBlanks(field.name));
    if (name.empty()) Invalid();
    if (name.size() > kStoredNameLength) name.resize(kStoredNameLength);
    if (!stored.insert(name).second) Invalid();
    field.name = std::string(TrimBlanks(field.name));
    long width = 0;
    switch (SysUpperCase(std::string(1, field.type))[0]) {
      case 'B':
      case 'G':
      case 'M':
        width = 10;
        break;
      case 'D':
        width = 8;
        break;
      case 'L':
        width = 1;
        break;
      case 'C':
        if (field.length < 1 || field.length > kBuildMaxTextLength) Invalid();
        width = field.length;
        break;
      case 'N':
      case 'F':
        if (field.length < 1 || field.length > kBuildMaxByteValue) Invalid();
        if (field.decimals < 0 || field.decimals > kBuildMaxByteValue) Invalid();
        // A numeric field must hold at least zero with its decimals ("0.00" for two).
        if (field.decimals > 0 && field.length < field.decimals + 2) Invalid();
        width = field.length;
        break;
      default:
        Invalid();
    }
    recordLength += width;
    fields.push_back(std::move(field));
  }
  // The record must also be one that the table layer opens afterwards.
  if (recordLength > kDbfMaxRecordLength ||
      32L * static_cast<long>(fields.size()) + 33 > kBuildMaxHeaderLength)
    Invalid();
  return fields;
}

std::unique_ptr<HXO_DBFBuild> SorrelMakeBuilder(ThxDBFTypes type, const std::string& path) {
  switch (type) {
    case DBaseIV:
      return std::make_unique<HXO_DB4Build>(path);
    case FoxPro2:
      return std::make_unique<HXO_DBFoxBuild>(path);
    case Clipper:
    case DBaseIII:
    default:
      return std::make_unique<HXO_DBFBuild>(path);
  }
}

std::string SorrelTableFileName(std::string_view path) {
  std::string name = DefaultFileExt(TrimBlanks(path), ".DBF");
  return ResolveFileNameCase(name);
}

bool SorrelCreateTableFile(const std::string& path, const std::vector<std::string>& lines,
                           ThxDBFTypes type, bool autoOverwrite, const TSorrelConfirm& confirm) {
  // Ask about the file the builder will really replace: the name with the extension it adds,
  // found without regard to case.
  std::string target = SorrelTableFileName(path);
  if (FileExists(target) && !autoOverwrite) {
    if (!confirm || !confirm(SorrelMessage(smTableExists, {}))) return false;
  }
  std::vector<TSorrelFieldLine> fields = SorrelParseFieldList(lines);

  std::unique_ptr<HXO_DBFBuild> builder = SorrelMakeBuilder(type, target);
  for (const TSorrelFieldLine& field : fields)
    builder->AddField(field.name, std::string(1, field.type), field.length, field.decimals);
  builder->CreateFiles();
  return builder->FilesCreated();
}

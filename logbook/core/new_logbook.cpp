#include "new_logbook.h"

#include <algorithm>
#include <filesystem>

#include "logbook_fileset.h"

namespace quillmere {

namespace {

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

}  // namespace

bool NewLogNameKeyPasses(char32_t key) {
  if (key == 8) return true;
  return (key >= 'a' && key <= 'z') || (key >= '0' && key <= '9') || key == '_' || key == '.';
}

NewLogNameVerdict CheckNewLogName(std::string_view name, const std::vector<std::string>& listedFiles) {
  const std::string candidate = LowerAscii(std::string(name) + ".dbf");
  // A name already listed is refused first, "dummy" too when the placeholder is in the list.
  for (const std::string& listed : listedFiles)
    if (LowerAscii(listed) == candidate) return NewLogNameVerdict::Exists;
  if (name.empty() || LowerAscii(name) == "dummy") return NewLogNameVerdict::Nothing;
  if (name.front() >= '0' && name.front() <= '9') return NewLogNameVerdict::StartsWithDigit;
  const char first = static_cast<char>(LowerAscii(name.substr(0, 1)).front());
  if (first < 'a' || first > 'z') return NewLogNameVerdict::StartsOtherwise;
  const std::string base = LowerAscii(LogBaseName(candidate));
  if (IsReservedLogbookBase(base)) return NewLogNameVerdict::Reserved;
  for (const std::string& listed : listedFiles) {
    const std::string other = LowerAscii(listed);
    if (other == candidate || LowerAscii(LogBaseName(other)) == base) return NewLogNameVerdict::Exists;
  }
  return NewLogNameVerdict::Create;
}

std::vector<std::string> ListLogbookFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder.empty() ? "." : folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 4 && LowerAscii(name.substr(name.size() - 4)) == ".dbf" && entry.is_regular_file(ec))
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string CreateNewLogbook(const std::string& folder, std::string_view name,
                             const TSorrelConfirm& confirm) {
  const std::string path = folder + std::string(name) + ".dbf";
  return CreateLogbookTable(path, LogbookFieldLines(), confirm) ? path : std::string();
}

}  // namespace quillmere

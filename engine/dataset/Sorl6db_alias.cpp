// The alias list: read once from "sorrel.cfg", extended by data sets whose DatabaseName names a
// folder directly.
#include "dataset/Sorl6db_alias.h"

#include <unistd.h>

#include <fstream>
#include <mutex>

#include "base/SysSorl.h"
#include "base/hx6_glbl.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameText(std::string_view a, std::string_view b) { return SysCompareText(a, b) == 0; }

bool EndsInDelimiter(std::string_view text) {
  return !text.empty() && (text.back() == kPathDelimiter || text.back() == '\\');
}

struct AliasList {
  std::mutex mutex;
  bool loaded = false;
  std::vector<std::string> lines;

  // Caller holds the mutex.
  void EnsureLoaded() {
    if (loaded) return;
    lines.clear();
    lines.emplace_back(kDefaultDirectoryAlias);
    std::string path = SysWindowsDirectory();
    if (!EndsInDelimiter(path)) path += kPathDelimiter;
    path += kAliasFileName;
    for (auto& [key, value] : SorrelReadIniSection(path, kAliasSection))
      lines.push_back(key + "=" + value);
    loaded = true;
  }

  // Caller holds the mutex; the list is loaded.
  std::optional<std::string> Find(std::string_view name) const {
    for (const std::string& line : lines) {
      size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      if (SameText(std::string_view(line).substr(0, eq), name)) return line.substr(eq + 1);
    }
    return std::nullopt;
  }
};

AliasList& TheList() {
  static AliasList list;
  return list;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> SorrelReadIniSection(const std::string& path,
                                                                      std::string_view section) {
  std::vector<std::pair<std::string, std::string>> result;
  std::ifstream in(path, std::ios::binary);
  if (!in) return result;
  bool inSection = false;
  bool seen = false;
  std::string raw;
  while (std::getline(in, raw)) {
    std::string_view line = Trim(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (inSection) break;  // only the first section of that name counts
      size_t close = line.find(']');
      std::string_view name =
          Trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      inSection = !seen && SameText(name, section);
      seen = seen || inSection;
      continue;
    }
    if (!inSection) continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = Trim(line.substr(0, eq));
    if (key.empty()) continue;
    result.emplace_back(std::string(key), std::string(Trim(line.substr(eq + 1))));
  }
  return result;
}

std::vector<std::string> SorrelAliasLines() {
  AliasList& list = TheList();
  std::lock_guard lock(list.mutex);
  list.EnsureLoaded();
  return list.lines;
}

std::optional<std::string> SorrelAliasValue(std::string_view name) {
  AliasList& list = TheList();
  std::lock_guard lock(list.mutex);
  list.EnsureLoaded();
  return list.Find(name);
}

void SorrelAliasAdd(std::string_view name, std::string_view value) {
  AliasList& list = TheList();
  std::lock_guard lock(list.mutex);
  list.EnsureLoaded();
  list.lines.push_back(std::string(name) + "=" + std::string(value));
}

std::string SorrelAliasRegister(std::string_view value) {
  if (EndsInDelimiter(value)) value.remove_suffix(1);
  AliasList& list = TheList();
  std::lock_guard lock(list.mutex);
  list.EnsureLoaded();
  // An empty name stays unregistered: it means the current directory.
  if (!value.empty() && !SameText(value, kDefaultDirectoryAlias) && !list.Find(value))
    list.lines.push_back(std::string(value) + "=" + std::string(value));
  return std::string(value);
}

void SorrelAliasReload() {
  AliasList& list = TheList();
  std::lock_guard lock(list.mutex);
  list.loaded = false;
  list.EnsureLoaded();
}

std::string SorrelProgramDirectory() {
  std::string path(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return std::string(1, kPathDelimiter);
  path.resize(static_cast<size_t>(n));
  size_t slash = path.rfind(kPathDelimiter);
  return slash == std::string::npos ? std::string(1, kPathDelimiter) : path.substr(0, slash + 1);
}

std::string ResolveDatabaseName(std::string_view databaseName) {
  if (databaseName.empty()) return {};
  std::string result;
  if (SameText(databaseName, kDefaultDirectoryAlias)) {
    result = SorrelProgramDirectory();
  } else {
    std::optional<std::string> value = SorrelAliasValue(databaseName);
    result = value ? *value : std::string(databaseName);
  }
  if (!result.empty() && !EndsInDelimiter(result)) result += kPathDelimiter;
  return result;
}

#include "logbook_folders.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace quillmere {

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::vector<std::string> SplitColon(const std::string& list) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = list.find(':', start);
    const std::string part = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!part.empty()) parts.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

}  // namespace

std::string ExecutableFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec).string();
  return exe.parent_path().string();
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string ResolveFileCase(const std::string& path) {
  std::error_code ec;
  const fs::path p(path);
  if (fs::exists(p, ec)) return path;
  const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
  const std::string name = p.filename().string();
  fs::directory_iterator it(folder, ec);
  if (ec) return path;
  std::string best;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string candidate = it->path().filename().string();
    // Several matches are possible on Linux: the smallest name keeps the choice stable.
    if (SameTextAscii(candidate, name) && (best.empty() || candidate < best)) best = candidate;
  }
  if (best.empty()) return path;
  return (p.has_parent_path() ? (p.parent_path() / best) : fs::path(best)).string();
}

bool FileExistsAnyCase(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(ResolveFileCase(path), ec);
}

std::string ProgramFolder() {
  const std::string home = Env(kHomeVariable);
  if (!home.empty()) return home;
  const std::string exe = ExecutableFolder();
  if (FileExistsAnyCase(JoinPath(exe, kProgramFolderMarker))) return exe;
  std::string dataHome = Env("XDG_DATA_HOME");
  if (dataHome.empty() && !Env("HOME").empty()) dataHome = Env("HOME") + "/.local/share";
  std::vector<std::string> dirs;
  if (!dataHome.empty()) dirs.push_back(dataHome);
  std::string dataDirs = Env("XDG_DATA_DIRS");
  if (dataDirs.empty()) dataDirs = "/usr/local/share:/usr/share";
  for (const std::string& d : SplitColon(dataDirs)) dirs.push_back(d);
  for (const std::string& d : dirs) {
    const std::string candidate = JoinPath(d, "quillmere");
    if (FileExistsAnyCase(JoinPath(candidate, kProgramFolderMarker))) return candidate;
  }
  return exe;
}

std::string WritableFolder() {
  const std::string home = Env(kHomeVariable);
  if (!home.empty()) return home;
  const std::string exe = ExecutableFolder();
  if (::access(exe.c_str(), W_OK) == 0) return exe;
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty()) config = Env("HOME").empty() ? std::string("/tmp") : Env("HOME") + "/.config";
  const std::string folder = JoinPath(config, "quillmere");
  std::error_code ec;
  fs::create_directories(folder, ec);
  return folder;
}

}  // namespace quillmere

#include "logbook_folders.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "file_case.h"

namespace quillmere {

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
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

std::string ExecutableFolder() { return platform::ExecutableFolder(); }

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string ResolveFileCase(const std::string& path) { return platform::ResolveFileCase(path); }

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

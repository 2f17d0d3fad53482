#include "program_folder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "file_case.h"

namespace tarvane {

namespace fs = std::filesystem;

std::string ProgramFolder() {
  const char* home = std::getenv(kHomeVariable);
  if (home != nullptr && *home != '\0') return home;
  return ExecutableFolder();
}

std::string ExecutableFolder() { return platform::ExecutableFolder(); }

std::string UserDataFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && *data == '/') return (fs::path(data) / "Tarvane").string();
  const char* home = std::getenv("HOME");
  return (fs::path(home != nullptr && *home != '\0' ? home : ".") / ".local" / "share" / "Tarvane")
      .string();
}

std::string ResolveFileCase(const std::string& path) { return platform::ResolveFileCase(path); }

std::string RemoveFileExt(std::string_view name) {
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return std::string(name);
  }
  return std::string(name.substr(0, dot));
}

std::string RigsFolder(const std::string& programFolder) {
  return ResolveFileCase((fs::path(programFolder) / "Rigs").string());
}

std::vector<std::string> RigsFolders(const std::string& programFolder) {
  std::vector<std::string> folders;
  std::vector<fs::path> seen;
  for (const std::string& base : {UserDataFolder(), programFolder, ExecutableFolder()}) {
    const std::string folder = RigsFolder(base);
    std::error_code ec;
    fs::path same = fs::weakly_canonical(folder, ec);
    if (ec) same = fs::path(folder).lexically_normal();
    if (std::find(seen.begin(), seen.end(), same) != seen.end()) continue;
    seen.push_back(same);
    folders.push_back(folder);
  }
  return folders;
}

}  // namespace tarvane

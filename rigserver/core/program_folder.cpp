#include "program_folder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "text_utils.h"

namespace tarvane {

namespace fs = std::filesystem;

std::string ProgramFolder() {
  const char* home = std::getenv(kHomeVariable);
  if (home != nullptr && *home != '\0') return home;
  return ExecutableFolder();
}

std::string ExecutableFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec).string();
  return exe.parent_path().string();
}

std::string UserDataFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && *data == '/') return (fs::path(data) / "Tarvane").string();
  const char* home = std::getenv("HOME");
  return (fs::path(home != nullptr && *home != '\0' ? home : ".") / ".local" / "share" / "Tarvane")
      .string();
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
    // Several matches (possible on Linux): take the smallest name so the choice is stable.
    if (SameText(candidate, name) && (best.empty() || candidate < best)) best = candidate;
  }
  if (best.empty()) return path;
  return (p.has_parent_path() ? (p.parent_path() / best) : fs::path(best)).string();
}

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

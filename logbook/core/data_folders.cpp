#include "data_folders.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace quillmere {

namespace fs = std::filesystem;

namespace {

const char kSubFolder[] = "quillmere";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string HomeOverride() { return Env(kQuillmereHomeVariable); }

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// The XDG data folders in search order, each with the program's sub-folder.
std::vector<std::string> XdgDataFolders() {
  std::vector<std::string> out;
  std::string home = Env("XDG_DATA_HOME");
  if (home.empty() && !Env("HOME").empty()) home = Env("HOME") + "/.local/share";
  if (!home.empty()) out.push_back(home + "/" + kSubFolder);
  std::string dirs = Env("XDG_DATA_DIRS");
  if (dirs.empty()) dirs = "/usr/local/share:/usr/share";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t colon = dirs.find(':', start);
    const std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!dir.empty()) out.push_back(dir + "/" + kSubFolder);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return out;
}

}  // namespace

std::string ExecutableFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec).string();
  return exe.parent_path().string();
}

std::string ResolveDataFileCase(const std::string& path) {
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
    if (SameTextAscii(candidate, name) && (best.empty() || candidate < best)) best = candidate;
  }
  if (best.empty()) return path;
  return (p.has_parent_path() ? (p.parent_path() / best) : fs::path(best)).string();
}

std::string DataFilePath(std::string_view name) {
  std::vector<std::string> folders;
  const std::string home = HomeOverride();
  if (!home.empty()) {
    folders.push_back(home);
  } else {
    folders.push_back(ExecutableFolder());
    for (std::string& f : XdgDataFolders()) folders.push_back(std::move(f));
  }
  std::error_code ec;
  for (const std::string& folder : folders) {
    const std::string path = ResolveDataFileCase((fs::path(folder) / name).string());
    if (fs::exists(path, ec)) return path;
  }
  return (fs::path(folders.front()) / name).string();
}

std::string WritableDataFolder() {
  std::error_code ec;
  const std::string home = HomeOverride();
  if (!home.empty()) {
    fs::create_directories(home, ec);
    return fs::is_directory(home, ec) ? home : std::string();
  }
  const std::string exe = ExecutableFolder();
  if (access(exe.c_str(), W_OK | X_OK) == 0) return exe;
  std::string state = Env("XDG_STATE_HOME");
  if (state.empty() && !Env("HOME").empty()) state = Env("HOME") + "/.local/state";
  if (state.empty()) return {};
  const std::string folder = state + "/" + kSubFolder;
  fs::create_directories(folder, ec);
  return fs::is_directory(folder, ec) ? folder : std::string();
}

}  // namespace quillmere

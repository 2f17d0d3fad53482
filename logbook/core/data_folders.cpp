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

std::string HomeOverride() { return Env(kHomeVariable); }

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
    const std::string path = ResolveFileCase((fs::path(folder) / name).string());
    if (fs::exists(path, ec)) return path;
  }
  return (fs::path(folders.front()) / name).string();
}

std::string WritableDataFolder() {
  std::error_code ec;
  const std::string folder = WritableFolder();
  fs::create_directories(folder, ec);
  return fs::is_directory(folder, ec) ? folder : std::string();
}

}  // namespace quillmere

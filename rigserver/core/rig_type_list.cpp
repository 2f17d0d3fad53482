#include "rig_type_list.h"

#include <algorithm>
#include <exception>
#include <filesystem>

#include "program_folder.h"
#include "text_utils.h"

namespace tarvane {

namespace fs = std::filesystem;

std::vector<std::string> LoadFileNames(const std::string& folder, const std::string& extension) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec)) continue;
    const std::string name = it->path().filename().string();
    if (name.size() >= extension.size() &&
        SameText(std::string_view(name).substr(name.size() - extension.size()), extension)) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

TRigTypeList::TRigTypeList() { items_.push_back(TRigTypeEntry{kNoRig, nullptr}); }

void TRigTypeList::LoadRigTypes(const std::string& rigsFolder, const TLogProc& log) {
  LoadRigTypes(std::vector<std::string>{rigsFolder}, log);
}

void TRigTypeList::LoadRigTypes(const std::vector<std::string>& rigsFolders, const TLogProc& log) {
  auto write = [&log](const std::string& text) {
    if (log) log(text);
  };
  std::vector<TRigTypeEntry> loaded;
  rejected_.clear();
  // Every file name taken so far, with its folder; usable or not, it hides the name later on.
  std::vector<std::pair<std::string, std::string>> taken;
  for (const std::string& folder : rigsFolders) {
    const std::vector<std::string> files = LoadFileNames(folder, ".ini");
    for (auto it = files.rbegin(); it != files.rend(); ++it) {
      const auto earlier = std::find_if(taken.begin(), taken.end(), [&](const auto& t) {
        return SameText(t.first, *it);
      });
      if (earlier != taken.end()) {
        write(Format("\"%s\" in \"%s\" is passed over: \"%s\" in \"%s\" has the same name",
                     it->c_str(), folder.c_str(), earlier->first.c_str(), earlier->second.c_str()));
        continue;
      }
      taken.emplace_back(*it, folder);
      write(Format("Loading commands from \"%s\"", it->c_str()));
      auto commands = std::make_unique<TRigCommands>();
      try {
        commands->LoadFromFile((fs::path(folder) / *it).string());
      } catch (const std::exception& e) {
        // The type stays in the list without a command set: a rig set to it is not configured.
        write(e.what());
        loaded.push_back(TRigTypeEntry{*it, nullptr});
        continue;
      }
      if (!commands->Errors.empty()) {
        std::string text = "Errors:\r\n";
        for (const std::string& line : commands->Errors) text += line + "\r\n";
        write(text);
        rejected_.emplace_back(RemoveFileExt(*it), (fs::path(folder) / *it).string());
        continue;
      }
      loaded.push_back(TRigTypeEntry{*it, std::move(commands)});
    }
  }
  for (TRigTypeEntry& e : loaded) e.Name = RemoveFileExt(e.Name);
  std::stable_sort(loaded.begin(), loaded.end(), [](const TRigTypeEntry& a, const TRigTypeEntry& b) {
    const int c = CompareText(a.Name, b.Name);
    return c != 0 ? c < 0 : a.Name < b.Name;
  });
  items_.clear();
  items_.push_back(TRigTypeEntry{kNoRig, nullptr});
  for (TRigTypeEntry& e : loaded) items_.push_back(std::move(e));
}

const std::string& TRigTypeList::Name(int index) const {
  static const std::string kEmpty;
  return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)].Name : kEmpty;
}

const TRigCommands* TRigTypeList::Commands(int index) const {
  return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)].Commands.get()
                                       : nullptr;
}

int TRigTypeList::IndexOf(const std::string& name) const {
  for (int i = 0; i < Count(); ++i) {
    if (SameText(items_[static_cast<size_t>(i)].Name, name)) return i;
  }
  return -1;
}

std::vector<std::string> TRigTypeList::Names() const {
  std::vector<std::string> names;
  for (const TRigTypeEntry& e : items_) names.push_back(e.Name);
  return names;
}

std::string TRigTypeList::RejectedFile(const std::string& name) const {
  for (const auto& [type, path] : rejected_) {
    if (SameText(type, name)) return path;
  }
  return "";
}

}  // namespace tarvane

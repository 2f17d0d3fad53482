// rig_type_list: the list of rig types the user can choose: "NONE" first, then the name of every
// usable rig description file of the folders Rigs (without extension), sorted without regard to
// case. A type's position in the list is the rig-type index kept in the settings.
//
// The list owns the command sets; the rigs hold plain pointers to them. Loaded once on the main
// thread and then only read.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "log_file.h"
#include "rig_commands.h"

namespace tarvane {

// The names (without folder) of the plain files in `folder` whose extension is `extension`
// (".ini"), compared without regard to case; in byte order of the names. A missing or unreadable
// folder gives an empty list.
std::vector<std::string> LoadFileNames(const std::string& folder, const std::string& extension);

class TRigTypeList {
 public:
  static constexpr const char* kNoRig = "NONE";

  TRigTypeList();

  // Loads every "*.ini" file of `rigsFolder` (see RigsFolder in program_folder.h), logging
  // "Loading commands from "<name>"" for each, the error lines of files that are not usable and
  // the message of files that cannot be read. Replaces the previous contents.
  void LoadRigTypes(const std::string& rigsFolder, const TLogProc& log);
  // The same over several folders in order (see RigsFolders): a file whose name (without regard
  // to case) an earlier folder already had is passed over, with a log line naming both folders.
  void LoadRigTypes(const std::vector<std::string>& rigsFolders, const TLogProc& log);

  int Count() const { return static_cast<int>(items_.size()); }
  // The name at `index` ("" out of range).
  const std::string& Name(int index) const;
  // The command set at `index`; nullptr for "NONE", for a file that could not be read and for an
  // index out of range.
  const TRigCommands* Commands(int index) const;
  // The position of `name`, ignoring case; -1 when absent.
  int IndexOf(const std::string& name) const;
  std::vector<std::string> Names() const;
  // The path of the file of the rig type `name` (ignoring case) that was found at the last load
  // but not loaded for its errors; "" when there is none.
  std::string RejectedFile(const std::string& name) const;

 private:
  struct TRigTypeEntry {
    std::string Name;
    std::unique_ptr<TRigCommands> Commands;
  };
  std::vector<TRigTypeEntry> items_;
  std::vector<std::pair<std::string, std::string>> rejected_;  // type name, file path
};

}  // namespace tarvane

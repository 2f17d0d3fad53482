// program_folder: where the server finds its files: the settings and log files in the program
// folder, the rig description files in the folders Rigs beside the executable and in the user's
// data folder; and the one resolver through which every look-up of an existing file passes, since
// the server's own names mix upper and lower case.
//
// Pure functions; safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvane {

// The environment variable that overrides the program folder (used by tests).
inline constexpr const char* kHomeVariable = "TARVANE_HOME";

// TARVANE_HOME when set and not empty, else the folder of the running executable.
std::string ProgramFolder();

// The folder of the running executable (the current folder if it cannot be told).
std::string ExecutableFolder();

// The user's data folder of the server: $XDG_DATA_HOME/Tarvane, else ~/.local/share/Tarvane.
std::string UserDataFolder();

// `path` itself when it exists; otherwise the entry of its folder whose name matches the last
// path component without regard to case; otherwise `path` unchanged.
std::string ResolveFileCase(const std::string& path);

// The file name without its last extension ("a.b.ini" gives "a.b").
std::string RemoveFileExt(std::string_view name);

// The folder "Rigs" inside `programFolder`, resolved for case.
std::string RigsFolder(const std::string& programFolder);

// The folders searched for rig description files, a name found in an earlier one hiding the
// same name in a later one: Rigs in the user's data folder (files the user adds or mends), in
// `programFolder` (where the settings are), and beside the executable (the delivered files,
// found there whatever folder holds the settings). Each folder appears once.
std::vector<std::string> RigsFolders(const std::string& programFolder);

}  // namespace tarvane

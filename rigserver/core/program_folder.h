// program_folder: where the server finds the files that lie beside it (the folder Rigs with the
// rig description files, the settings file, the log file), and the one resolver through which
// every look-up of an existing file passes, since the server's own names mix upper and lower case.
//
// Pure functions; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace tarvane {

// The environment variable that overrides the program folder (used by tests).
inline constexpr const char* kHomeVariable = "TARVANE_HOME";

// TARVANE_HOME when set and not empty, else the folder of the running executable.
std::string ProgramFolder();

// `path` itself when it exists; otherwise the entry of its folder whose name matches the last
// path component without regard to case; otherwise `path` unchanged.
std::string ResolveFileCase(const std::string& path);

// The file name without its last extension ("a.b.ini" gives "a.b").
std::string RemoveFileExt(std::string_view name);

// The folder "Rigs" inside `programFolder`, resolved for case.
std::string RigsFolder(const std::string& programFolder);

}  // namespace tarvane

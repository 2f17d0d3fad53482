// data_folders: where the logbook finds the data files delivered beside it (the country file, the
// reference tables, the outside look-up libraries) and where it may write its own copies.
//
// Read side: QUILLMERE_HOME when set (tests), else the executable's folder when the file lies
// there (the build puts every data file beside the program), else the XDG data folders, each with
// a sub-folder "quillmere". Write side: QUILLMERE_HOME, else the executable's folder when it can
// be written, else $XDG_STATE_HOME/quillmere (default ~/.local/state/quillmere), made on demand.
// Every look-up of an existing file falls back to a case-insensitive match of its last path
// component, since the system's own names mix cases.
//
// Pure functions over the environment and the file system; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace quillmere {

// The environment variable that names the program folder (read and write side alike).
inline constexpr const char* kQuillmereHomeVariable = "QUILLMERE_HOME";

// The folder of the running executable.
std::string ExecutableFolder();

// The full path of the delivered data file `name`: the first folder of the read side that holds
// it (case-insensitive), or the path in the first folder of the read side when none does, so an
// error message names where the file was expected.
std::string DataFilePath(std::string_view name);

// The folder the logbook writes its own files into (see above); made when missing. Empty when no
// folder of the write side can be made.
std::string WritableDataFolder();

// `path` itself when it exists; otherwise the entry of its folder whose name matches the last
// path component without regard to case (the smallest such name); otherwise `path` unchanged.
std::string ResolveDataFileCase(const std::string& path);

}  // namespace quillmere

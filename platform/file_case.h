// file_case: the two file-system look-ups both programs need beyond the standard library: the
// folder of the running executable, and an existing file whose name differs in case only (the
// programs' own file names mix upper and lower case, and Linux file names are case-sensitive).
//
// Pure functions over the file system; safe from any thread.
#pragma once

#include <string>

namespace platform {

// The folder of the running executable (the current folder if it cannot be told).
std::string ExecutableFolder();

// `path` itself when it exists; otherwise the entry of its folder whose name matches the last
// path component without regard to the case of ASCII letters (the smallest such name, so that
// the choice is stable); otherwise `path` unchanged.
std::string ResolveFileCase(const std::string& path);

}  // namespace platform

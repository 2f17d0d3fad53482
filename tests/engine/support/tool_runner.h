// Runs the outside dBase tools Debian packages (Python's dbfread and dbf modules, Perl's
// dbf_dump) on files our engine wrote, for the cross-tool tests. Debian's modules are imported by
// /usr/bin/python3, whatever python3 comes first on the path.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace tool_runner {

struct Result {
  int status = -1;
  std::string output;
};

// Runs `command` through the shell and returns its exit status and standard output.
inline Result Run(const std::string& command) {
  Result result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, got);
  const int raw = pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

// Quotes `text` for the shell.
inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

// Runs a Python script (written to `scriptPath`) with Debian's interpreter; the table path is its
// first argument.
inline Result RunPython(const std::string& scriptPath, const std::string& script,
                        const std::string& argument) {
  std::ofstream(scriptPath) << script;
  return Run("/usr/bin/python3 " + Quote(scriptPath) + " " + Quote(argument) + " 2>&1");
}

}  // namespace tool_runner

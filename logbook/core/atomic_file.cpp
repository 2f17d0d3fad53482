#include "atomic_file.h"

#include <climits>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

#include "file_replacement.h"

namespace quillmere {

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
  try {
    FileReplacement replacement(path);
    replacement.Write(bytes);
    replacement.Commit();
    return true;
  } catch (const std::runtime_error& e) {
    if (error != nullptr) *error = e.what();
    return false;
  }
}

std::string SymbolicLinkTarget(const std::string& path) {
  // The system's own limit on links followed in one lookup.
  constexpr int kMaxLinks = 40;
  std::string current = path;
  for (int i = 0; i < kMaxLinks; ++i) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string target(size_t(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n <= 0) return current;
    target.resize(size_t(n));
    if (target.front() != '/') {
      const size_t slash = current.rfind('/');
      if (slash != std::string::npos) target = current.substr(0, slash + 1) + target;
    }
    current = target;
  }
  return path;
}

}  // namespace quillmere

#include "atomic_file.h"

#include <stdexcept>

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

}  // namespace quillmere

#include "shared_library.h"

#include <dlfcn.h>

namespace quillmere {

std::unique_ptr<SharedLibrary> SharedLibrary::Open(const std::string& path, std::string* error) {
  if (path.empty()) {
    if (error) *error = "no library configured";
    return nullptr;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    if (error) *error = why != nullptr ? why : ("cannot load " + path);
    return nullptr;
  }
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle, path));
}

SharedLibrary::~SharedLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

void* SharedLibrary::Symbol(const char* name) const {
  dlerror();
  return dlsym(handle_, name);
}

}  // namespace quillmere

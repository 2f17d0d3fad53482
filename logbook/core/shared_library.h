// shared_library: an outside library loaded at run time with dlopen, so that the logbook starts
// and works without it; its absence is an ordinary result, never a start-up failure.
//
// Owns the library handle (closed on destruction). Thread-safety: none needed after opening;
// the handle is not shared.
#pragma once

#include <memory>
#include <string>

namespace quillmere {

class SharedLibrary {
 public:
  // Loads the library at `path`; null with the reason in `error` when it cannot be loaded.
  static std::unique_ptr<SharedLibrary> Open(const std::string& path, std::string* error);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The address of the exported function `name`, null when the library lacks it.
  void* Symbol(const char* name) const;
  const std::string& Path() const { return path_; }

 private:
  SharedLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  void* handle_;
  std::string path_;
};

}  // namespace quillmere

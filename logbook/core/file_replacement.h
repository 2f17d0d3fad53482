// file_replacement: writes a file that replaces another whole, so that a failure or a crash at any
// point leaves the earlier file (or no file) under the name, never a half-written one.
//
// The new content goes into a temporary file beside the target; Commit flushes it to disk and
// renames it over the target. Destroyed without Commit, the temporary file is removed. Writes are
// gathered in a buffer of its own and handed to the system in large pieces.
//
// One object, one thread.
#pragma once

#include <string>
#include <string_view>

namespace quillmere {

class FileReplacement {
 public:
  // Creates the temporary file beside `targetPath`; raises std::runtime_error naming the target
  // when it cannot.
  explicit FileReplacement(std::string targetPath);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  void Write(std::string_view bytes);
  // Flushes, syncs and renames over the target; raises std::runtime_error on failure (the target
  // is then unchanged).
  void Commit();

 private:
  void Flush();
  [[noreturn]] void Fail(const char* what) const;

  std::string target_;
  std::string temp_;
  std::string buffer_;
  int fd_ = -1;
  bool committed_ = false;
};

}  // namespace quillmere

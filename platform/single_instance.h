// single_instance: the lock by which a program knows that another copy of it runs for the same
// user. It is a lock file in the user's runtime folder ($XDG_RUNTIME_DIR, else /tmp with the
// user id in the file's name), held as an open-file-description write lock for as long as the
// object lives; a copy that ends in any way (also by a crash) releases it with its descriptor.
// Two objects in one process conflict just as two processes do.
//
// One owner; not shared between threads.
#pragma once

#include <string>

namespace quillmere {

// $XDG_RUNTIME_DIR when set, else "/tmp".
std::string RuntimeFolder();

class SingleInstanceLock {
 public:
  enum TResult {
    Acquired,      // this object holds the lock now
    HeldElsewhere, // another copy holds it
    Failed,        // the lock file could not be made or locked; see Error()
  };

  SingleInstanceLock() = default;
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // Takes the lock named `name` (a file name such as "quillmere") in `folder` (empty: the
  // runtime folder). Never waits.
  TResult Acquire(const std::string& name, const std::string& folder = std::string());
  bool Held() const { return fd_ >= 0; }
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
  std::string error_;
};

}  // namespace quillmere

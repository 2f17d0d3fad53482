#include "single_instance.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quillmere {

std::string RuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return runtime;
  return "/tmp";
}

SingleInstanceLock::~SingleInstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

SingleInstanceLock::TResult SingleInstanceLock::Acquire(const std::string& name, const std::string& folder) {
  if (fd_ >= 0) return Acquired;
  const bool shared = folder.empty() && std::getenv("XDG_RUNTIME_DIR") == nullptr;
  const std::string dir = folder.empty() ? RuntimeFolder() : folder;
  // /tmp is shared by every user: the user id keeps their locks apart.
  path_ = dir + "/" + name + (shared ? "-" + std::to_string(::getuid()) : std::string()) + ".lock";
  const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error_ = "Cannot open " + path_ + ": " + std::strerror(errno);
    return Failed;
  }
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EAGAIN || err == EACCES) return HeldElsewhere;
    error_ = "Cannot lock " + path_ + ": " + std::strerror(err);
    return Failed;
  }
  fd_ = fd;
  return Acquired;
}

}  // namespace quillmere

// SysSorlFile: the file primitives of the system layer (flush, set end of file, byte-range
// locks), the pause between lock attempts and the folder of the engine's alias file.
//
// Byte-range locks are Linux open-file-description locks: they belong to the descriptor that took
// them, so two descriptors of one process conflict just as two processes do, and they never block.
// A region may lie past the end of the file.

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>

#include "base/SysSorl.h"

namespace {

// True when offset and length describe a region a lock call may be asked for: both non-negative
// and the last byte representable. A zero length would mean "to the end of every possible offset"
// to fcntl, so callers deal with it before coming here.
bool ValidRegion(int64_t offset, int64_t length) {
  if (offset < 0 || length < 0) return false;
  return offset <= std::numeric_limits<int64_t>::max() - length;
}

int SetOfdLock(int handle, short type, int64_t offset, int64_t length) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(offset);
  lock.l_len = static_cast<off_t>(length);
  lock.l_pid = 0;  // required to be zero for open-file-description locks
  int rc;
  do {
    rc = fcntl(handle, F_OFD_SETLK, &lock);
  } while (rc == -1 && errno == EINTR);
  return rc;
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

bool SysFlushFile(int handle) {
  if (handle < 0) return false;
  return fsync(handle) == 0;
}

int SysTruncateFile(int handle, int64_t size) {
  if (handle < 0 || size < 0) return -1;
  int rc;
  do {
    rc = ftruncate(handle, static_cast<off_t>(size));
  } while (rc == -1 && errno == EINTR);
  return rc == 0 ? 0 : -1;
}

bool SysLockRegion(int handle, int64_t offset, int64_t length) {
  if (handle < 0 || !ValidRegion(offset, length)) return false;
  if (length == 0) return true;  // an empty region locks nothing and conflicts with nothing
  if (SetOfdLock(handle, F_WRLCK, offset, length) == 0) return true;
  // A descriptor that could only be opened for reading cannot hold a write lock. A read lock on
  // it still keeps out every writer, which is what a reader's lock is for.
  if (errno == EBADF) return SetOfdLock(handle, F_RDLCK, offset, length) == 0;
  return false;
}

bool SysUnlockRegion(int handle, int64_t offset, int64_t length) {
  if (handle < 0 || !ValidRegion(offset, length)) return false;
  if (length == 0) return true;
  return SetOfdLock(handle, F_UNLCK, offset, length) == 0;
}

void SysSleep(int milliseconds) {
  if (milliseconds < 0) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string SysWindowsDirectory() {
  if (const char* dir = std::getenv("SORREL_CONFIG_DIR"); dir && *dir)
    return WithoutTrailingSlash(dir);
  if (const char* dir = std::getenv("XDG_CONFIG_HOME"); dir && *dir == '/')
    return WithoutTrailingSlash(dir);
  std::string home;
  if (const char* h = std::getenv("HOME"); h && *h) {
    home = h;
  } else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
    home = pw->pw_dir;
  }
  home = WithoutTrailingSlash(home);
  if (home == "/") return "/.config";
  return home + "/.config";
}

// hx6_disk: disk files, their opening modes, the nested region lock and the open-file registry.

#include "base/hx6_disk.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "base/SysSorl.h"
#include "base/hx6_glbl.h"

namespace {

// The process-wide registry and the guard around it. Both are constant-initialised, so a file
// opened during another unit's start-up finds them ready.
HXobjFileColl* gFileColl = nullptr;
std::mutex gFileCollGuard;

void ListFile(HXO_DiskFile* file) {
  std::lock_guard<std::mutex> guard(gFileCollGuard);
  if (gFileColl == nullptr) gFileColl = new HXobjFileColl();
  if (gFileColl->IndexOf(file) < 0) gFileColl->Add(file);
}

void UnlistFile(HXO_DiskFile* file) {
  std::lock_guard<std::mutex> guard(gFileCollGuard);
  if (gFileColl != nullptr) gFileColl->Remove(file);
}

// Creates the registry when the unit starts and runs the finalisation sweep at process end.
struct FileCollLifetime {
  FileCollLifetime() {
    std::lock_guard<std::mutex> guard(gFileCollGuard);
    if (gFileColl == nullptr) gFileColl = new HXobjFileColl();
  }
  ~FileCollLifetime() { HXO_DiskFile::CloseAllFiles(); }
};
FileCollLifetime gFileCollLifetime;

bool IsPresentFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The lock on the marker byte that records how a descriptor was opened: a read lock for shared
// use, a write lock for exclusive use. A descriptor opened only for reading cannot hold a write
// lock; it falls back to the read lock, which still keeps out every exclusive opener.
bool TakeOpenModeLock(int fd, bool exclusive) {
  struct flock lock {};
  lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(kOpenModeLockOffset);
  lock.l_len = 1;
  int rc;
  do {
    rc = fcntl(fd, F_OFD_SETLK, &lock);
  } while (rc == -1 && errno == EINTR);
  if (rc == -1 && errno == EBADF && exclusive) {
    lock.l_type = F_RDLCK;
    do {
      rc = fcntl(fd, F_OFD_SETLK, &lock);
    } while (rc == -1 && errno == EINTR);
  }
  return rc == 0;
}

// Moves a descriptor that landed on 0, 1 or 2 (standard streams closed by the host) above them,
// so that handle 0 keeps meaning "closed".
int AwayFromStandardStreams(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

int OpenDescriptor(const std::string& path, int flags) {
  int fd;
  do {
    fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd == -1 && errno == EINTR);
  return AwayFromStandardStreams(fd);
}

void CloseDescriptor(int fd) {
  if (fd > 0) close(fd);
}

// Renames without replacing an existing file: the engine's callers expect a rename onto an
// existing name to fail, not to destroy that file.
bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the no-replace flag: a hard link fails on an existing target.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  if (unlink(from.c_str()) != 0) {
    unlink(to.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::string ExpandFileName(std::string_view path) {
  std::string text(path);
  if (!text.empty() && text.front() == '/') return text;
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(std::filesystem::path(text), ec);
  if (ec) return text;
  std::string result = full.lexically_normal().string();
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

std::string ResolveFileNameCase(std::string_view path) {
  std::string text(path);
  if (text.empty() || IsPresentFile(text)) return text;
  size_t slash = text.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : text.substr(0, slash == 0 ? 1 : slash);
  std::string last = slash == std::string::npos ? text : text.substr(slash + 1);
  if (last.empty() || last == "." || last == "..") return text;

  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return text;
  std::vector<std::string> matches;
  while (const dirent* entry = readdir(dir)) {
    std::string_view entryName(entry->d_name);
    if (EqualsIgnoringAsciiCase(entryName, last)) matches.emplace_back(entryName);
  }
  closedir(dir);
  std::sort(matches.begin(), matches.end());
  std::string prefix = slash == std::string::npos ? std::string() : text.substr(0, slash + 1);
  for (const std::string& match : matches) {
    std::string candidate = prefix + match;
    if (IsPresentFile(candidate)) return candidate;
  }
  return text;
}

// ---------------------------------------------------------------------------------------------
// HXO_DiskFile

HXO_DiskFile::HXO_DiskFile(std::string_view path, bool shared, bool readWrite)
    : shared_(shared), readWrite_(readWrite) {
  name_ = ResolveFileNameCase(ExpandFileName(path));
  exists_ = IsPresentFile(name_);
}

HXO_DiskFile::~HXO_DiskFile() {
  try {
    HXO_DiskFile::Close();
  } catch (...) {
    // Destruction cannot report; closing the handle has already released every lock.
  }
}

int HXO_DiskFile::OpenMode() const {
  return (readWrite_ ? kOpenReadWrite : kOpenReadOnly) | (shared_ ? kOpenShareDenyNone : 0);
}

bool HXO_DiskFile::CloseHandle() {
  int fd = handle_;
  handle_ = 0;
  closed_ = true;
  position_ = 0;
  if (fd <= 0) return true;
  // Linux releases the descriptor even when close reports an error; EINTR is not a failure.
  return close(fd) == 0 || errno == EINTR;
}

bool HXO_DiskFile::Close() {
  if (closed_) return true;
  bool unlockFailed = false;
  if (lockCount_ > 0) {
    lockCount_ = 1;
    try {
      Unlock();
    } catch (const ESorrelError&) {
      // Closing the descriptor releases the region anyway; report after closing.
      unlockFailed = true;
      lockCount_ = 0;
    }
  }
  UnlistFile(this);
  bool closedCleanly = CloseHandle();
  if (unlockFailed) throw ESorrelError(smUnlockError, {name_});
  return closedCleanly;
}

int64_t HXO_DiskFile::FileSize() {
  struct stat st {};
  if (handle_ <= 0 || fstat(handle_, &st) != 0) throw ESorrelError(smFileSizeError, {name_});
  return static_cast<int64_t>(st.st_size);
}

void HXO_DiskFile::Flush() {
  if (handle_ > 0 && !SysFlushFile(handle_)) throw ESorrelError(smFlushError, {name_});
  dirty_ = false;
}

bool HXO_DiskFile::LockFile() {
  if (!shared_) return true;
  return LockRegion(kWholeFileLockOffset, kWholeFileLockLength);
}

bool HXO_DiskFile::LockRegion(int64_t offset, int64_t length) {
  // Regions must stay clear of the marker byte that records the open mode.
  if (offset < 0 || length < 0 || offset > kOpenModeLockOffset - length) return false;
  if (shared_) {
    if (lockCount_ > 0) {
      if (offset != lockOffset_ || length != lockLength_) return false;
    } else {
      if (handle_ <= 0 || !SysLockRegion(handle_, offset, length)) return false;
      lockOffset_ = offset;
      lockLength_ = length;
    }
  } else {
    lockOffset_ = offset;
    lockLength_ = length;
  }
  ++lockCount_;
  return true;
}

int32_t HXO_DiskFile::Read(int64_t offset, void* buffer, int32_t count) {
  if (handle_ <= 0 || offset < 0 || count < 0 || (buffer == nullptr && count > 0))
    throw ESorrelError(smReadError, {name_});
  char* out = static_cast<char*>(buffer);
  int32_t done = 0;
  while (done < count) {
    ssize_t got = pread(handle_, out + done, static_cast<size_t>(count - done),
                        static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw ESorrelError(smReadError, {name_});
    }
    if (got == 0) break;  // end of file: a short read is not an error
    done += static_cast<int32_t>(got);
  }
  bytesMoved_ = done;
  position_ = offset + count;
  return done;
}

bool HXO_DiskFile::Rename(std::string_view newPath) {
  if (!Close()) throw ESorrelError(smCloseError, {name_});
  std::string newName = ExpandFileName(newPath);
  if (!DiskFaultPermits() || !RenameNoReplace(name_, newName))
    throw ESorrelError(smRenameError, {name_});
  name_ = newName;
  Open();
  return true;
}

void HXO_DiskFile::Open() {
  if (!exists_) throw ESorrelError(smFileNotFound, {name_});
  if (!closed_) return;
  // Open for writing where the system allows it even when only reading is asked for, so that the
  // descriptor can hold write locks; Write and Truncate still refuse on a read-only object.
  int fd = OpenDescriptor(name_, O_RDWR);
  if (fd < 0 && !readWrite_ && (errno == EACCES || errno == EROFS || errno == EPERM))
    fd = OpenDescriptor(name_, O_RDONLY);
  if (fd < 0) throw ESorrelError(smAccessDenied, {name_});
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || !TakeOpenModeLock(fd, !shared_)) {
    CloseDescriptor(fd);
    throw ESorrelError(smAccessDenied, {name_});
  }
  handle_ = fd;
  position_ = 0;
  ListFile(this);
  closed_ = false;
}

void HXO_DiskFile::Rewrite() {
  // Create without truncating first: the file is emptied only once no other opener holds it, as a
  // create on the original platform fails while any handle is open.
  if (!DiskFaultPermits()) throw ESorrelError(smCannotCreate, {name_});
  int fd = OpenDescriptor(name_, O_RDWR | O_CREAT);
  if (fd < 0) throw ESorrelError(smCannotCreate, {name_});
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || !TakeOpenModeLock(fd, true) ||
      SysTruncateFile(fd, 0) != 0) {
    CloseDescriptor(fd);
    throw ESorrelError(smCannotCreate, {name_});
  }
  CloseDescriptor(fd);
  exists_ = true;
  Open();
}

void HXO_DiskFile::StatusReport(int, int, int) {}

void HXO_DiskFile::Truncate(int64_t size) {
  bool wholeFileLocked = lockCount_ >= 1 && lockOffset_ == kWholeFileLockOffset &&
                         lockLength_ == kWholeFileLockLength;
  if (!readWrite_ || (shared_ && !wholeFileLocked))
    throw ESorrelError(smRequiresFullAccess, {"Truncate", name_});
  if (handle_ <= 0 || !DiskFaultPermits() || SysTruncateFile(handle_, size) != 0)
    throw ESorrelError(smTruncateError, {name_});
}

bool HXO_DiskFile::Unlock() {
  if (lockCount_ <= 0) return true;
  if (shared_ && lockCount_ == 1 && handle_ > 0 &&
      !SysUnlockRegion(handle_, lockOffset_, lockLength_))
    throw ESorrelError(smUnlockError, {name_});
  --lockCount_;
  return true;
}

void HXO_DiskFile::Write(int64_t offset, const void* buffer, int32_t count) {
  dirty_ = false;
  if (handle_ <= 0 || !readWrite_ || offset < 0 || count < 0 || (buffer == nullptr && count > 0))
    throw ESorrelError(smWriteError, {name_});
  const char* in = static_cast<const char*>(buffer);
  int32_t allowed = count;
  if (diskfault_detail::gArmed.load(std::memory_order_relaxed)) [[unlikely]]
    allowed = diskfault_detail::Consult(count, true);
  int32_t done = 0;
  while (done < allowed) {
    ssize_t put = pwrite(handle_, in + done, static_cast<size_t>(allowed - done),
                         static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) throw ESorrelError(smWriteError, {name_});
    done += static_cast<int32_t>(put);
  }
  if (diskfault_detail::gArmed.load(std::memory_order_relaxed)) [[unlikely]] {
    diskfault_detail::Settle();
    if (allowed < count) throw ESorrelError(smWriteError, {name_});
  }
  bytesMoved_ = done;
  position_ = offset + count;
  dirty_ = true;
}

void HXO_DiskFile::CloseAllFiles() {
  std::lock_guard<std::mutex> guard(gFileCollGuard);
  if (gFileColl == nullptr) return;
  for (int i = 0; i < gFileColl->Count(); ++i) {
    HXO_DiskFile* file = gFileColl->Items(i);
    if (file->lockCount_ > 0 && file->shared_ && file->handle_ > 0)
      SysUnlockRegion(file->handle_, file->lockOffset_, file->lockLength_);
    file->lockCount_ = 0;
    file->CloseHandle();
  }
  delete gFileColl;
  gFileColl = nullptr;
}

HXobjFileColl* HXO_DiskFile::Registry() {
  std::lock_guard<std::mutex> guard(gFileCollGuard);
  return gFileColl;
}

// ---------------------------------------------------------------------------------------------

std::vector<int> LockRetryWaits(int totalMs, int stepMs) {
  std::vector<int> waits;
  if (stepMs <= 0) return waits;
  const int attempts = totalMs / stepMs;
  const int64_t budget = attempts > 1 ? static_cast<int64_t>(attempts - 1) * stepMs : 0;
  int64_t waited = 0;
  int next = 1;
  while (waited < budget) {
    const int wait = static_cast<int>(std::min<int64_t>(std::min(next, stepMs), budget - waited));
    waits.push_back(wait);
    waited += wait;
    next = std::min(next * 2, stepMs);
  }
  return waits;
}

void LockRegionWithRetry(HXO_DiskFile& file, int64_t offset, int64_t length, int totalMs,
                         int stepMs) {
  if (file.LockRegion(offset, length)) return;
  for (const int wait : LockRetryWaits(totalMs, stepMs)) {
    SysSleep(wait);
    if (file.LockRegion(offset, length)) return;
  }
  throw ESorrelError(smCannotLockFile, {file.Name()});
}

// ---------------------------------------------------------------------------------------------
// Write-fault seam

namespace {
DiskFaultPlan gFaultPlan;
int64_t gFaultCount = 0;
bool gFaultTriggered = false;
bool gKillPending = false;
}  // namespace

void ArmDiskFaults(const DiskFaultPlan& plan) {
  gFaultPlan = plan;
  gFaultCount = 0;
  gFaultTriggered = false;
  gKillPending = false;
  diskfault_detail::gArmed.store(true, std::memory_order_relaxed);
}

void DisarmDiskFaults() { diskfault_detail::gArmed.store(false, std::memory_order_relaxed); }

int64_t DiskFaultOperationCount() { return gFaultCount; }

bool DiskFaultTriggered() { return gFaultTriggered; }

int32_t diskfault_detail::Consult(int32_t count, bool isWrite) {
  const int64_t ordinal = ++gFaultCount;
  const DiskFaultPlan& plan = gFaultPlan;
  if (plan.action == DiskFaultPlan::kCount) return count;
  const bool hit = ordinal == plan.at;
  const bool stillFull =
      plan.action == DiskFaultPlan::kFail && plan.keepFailing && ordinal > plan.at;
  if (!hit && !stillFull) return count;
  const int32_t partial = hit && isWrite ? std::clamp<int32_t>(plan.partialBytes, 0, count) : 0;
  if (plan.action == DiskFaultPlan::kKill) {
    // A write dies once its partial bytes are on disk (Settle); anything else dies here.
    if (!isWrite || plan.partialBytes < 0) raise(SIGKILL);
    gKillPending = true;
    return partial;
  }
  gFaultTriggered = true;
  return partial;
}

void diskfault_detail::Settle() {
  if (gKillPending) raise(SIGKILL);
}

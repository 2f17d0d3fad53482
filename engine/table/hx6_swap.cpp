#include "table/hx6_swap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "base/hx6_disk.h"
#include "base/hx6_glbl.h"

namespace {

constexpr const char* kStagedPrefix = "~$";
constexpr const char* kPlanSuffix = ".plan";
constexpr const char* kManifestSuffix = ".swap";
constexpr const char* kListHead = "swap";
constexpr const char* kListEnd = "end";

bool Present(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// A rename or removal as the fault seam allows it; false when refused (by the seam or the system).
bool RenameFile(const std::string& from, const std::string& to) {
  if (!DiskFaultPermits()) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) {
  if (!DiskFaultPermits()) return false;
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

// fsync of a file or a folder by path; true when the system reports it on the disk.
bool SyncPath(const std::string& path, bool folder) {
  int fd;
  do {
    fd = ::open(path.c_str(), (folder ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
  } while (fd == -1 && errno == EINTR);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// The names of a plan or manifest: none when the file is missing or not complete.
bool ReadList(const std::string& path, std::vector<std::string>& names) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (lines.size() < 2 || lines.front() != kListHead || lines.back() != kListEnd) return false;
  names.assign(lines.begin() + 1, lines.end() - 1);
  for (const std::string& name : names)
    if (name.empty() || (name.front() != '/' && name.find('/') != std::string::npos)) return false;
  return true;
}

void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  const size_t slash = path.rfind('/');
  folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// The final and the staged path of an entry of the list: a name in the table's folder, or the
// full path of a file elsewhere.
std::string FinalOf(const std::string& folder, const std::string& entry) {
  return entry.front() == '/' ? entry : folder + entry;
}

std::string StagedOf(const std::string& folder, const std::string& entry) {
  std::string entryFolder, name;
  SplitPath(FinalOf(folder, entry), entryFolder, name);
  return entryFolder + kStagedPrefix + name;
}

// Finishes or abandons what a swap of `table` in `folder` left, while the caller keeps every
// other handle off the table. False when a step failed (the rest is left for the next time).
bool RecoverHeld(const std::string& folder, const std::string& table) {
  const std::string manifest = folder + kStagedPrefix + table + kManifestSuffix;
  const std::string plan = folder + kStagedPrefix + table + kPlanSuffix;
  std::vector<std::string> names;
  if (Present(manifest) && ReadList(manifest, names)) {
    // Committed: the new set stands. Staged files still there have not been renamed yet.
    for (const std::string& entry : names) {
      const std::string staged = StagedOf(folder, entry);
      if (Present(staged) && !RenameFile(staged, FinalOf(folder, entry))) return false;
    }
    SyncPath(folder, true);
    if (!RemoveFile(manifest)) return false;
    RemoveFile(plan);
    return true;
  }
  // Not committed: the old set stands; staged files of the plan are leftovers.
  if (Present(plan) && ReadList(plan, names))
    for (const std::string& entry : names)
      if (!RemoveFile(StagedOf(folder, entry))) return false;
  bool ok = true;
  if (Present(plan)) ok = RemoveFile(plan) && ok;
  if (Present(manifest)) ok = RemoveFile(manifest) && ok;
  return ok;
}

}  // namespace

int OpenExclusiveDescriptor(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  } while (fd == -1 && errno == EINTR);
  if (fd >= 0 && fd <= 2) {
    // Handle 0 means "closed" to the disk layer; keep clear of the standard streams.
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    fd = moved;
  }
  if (fd < 0) return -1;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(kOpenModeLockOffset);
  lock.l_len = 1;
  int rc;
  do {
    rc = ::fcntl(fd, F_OFD_SETLK, &lock);
  } while (rc == -1 && errno == EINTR);
  if (rc != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

ThxFileSwap::ThxFileSwap(std::string tablePath) { SplitPath(tablePath, folder_, table_); }

ThxFileSwap::~ThxFileSwap() { Abandon(); }

std::string ThxFileSwap::Add(const std::string& finalPath) {
  std::string folder, name;
  SplitPath(finalPath, folder, name);
  // Files beside the table are listed by name, so that a folder moved after a crash still finds
  // them; others by their full path.
  names_.push_back(folder == folder_ ? name : finalPath);
  return StagedOf(folder_, names_.back());
}

void ThxFileSwap::Begin() {
  RecoverHeld(folder_, table_);
  std::string text = std::string(kListHead) + "\n";
  for (const std::string& name : names_) text += name + "\n";
  text += std::string(kListEnd) + "\n";
  HXO_DiskFile plan(folder_ + kStagedPrefix + table_ + kPlanSuffix, false, true);
  begun_ = true;
  plan.Rewrite();
  plan.Write(0, text.data(), static_cast<int32_t>(text.size()));
  plan.Flush();
  if (!plan.Close()) throw ESorrelError(smCloseError, {plan.Name()});
}

void ThxFileSwap::Commit() {
  // 3. Everything staged on the disk before the manifest says it is the table's set.
  for (const std::string& entry : names_) {
    const std::string staged = StagedOf(folder_, entry);
    if (!SyncPath(staged, false)) throw ESorrelError(smFlushError, {staged});
  }
  const std::string plan = folder_ + kStagedPrefix + table_ + kPlanSuffix;
  const std::string manifest = folder_ + kStagedPrefix + table_ + kManifestSuffix;
  if (!SyncPath(folder_.empty() ? "." : folder_, true))
    throw ESorrelError(smFlushError, {folder_});
  if (!RenameFile(plan, manifest)) throw ESorrelError(smRenameError, {plan});
  committed_ = true;
  SyncPath(folder_.empty() ? "." : folder_, true);
  // 4. One file at a time; a crash in between is finished by the next open.
  for (const std::string& entry : names_) {
    const std::string staged = StagedOf(folder_, entry);
    if (!RenameFile(staged, FinalOf(folder_, entry))) throw ESorrelError(smRenameError, {staged});
  }
  for (const std::string& entry : names_) {
    std::string folder, name;
    SplitPath(FinalOf(folder_, entry), folder, name);
    if (folder != folder_) SyncPath(folder, true);
  }
  SyncPath(folder_.empty() ? "." : folder_, true);
  // 5. A manifest that cannot be removed now names no staged file any more; the next open
  // removes it.
  RemoveFile(manifest);
}

void ThxFileSwap::Abandon() noexcept {
  if (!begun_ || committed_) return;
  for (const std::string& entry : names_) RemoveFile(StagedOf(folder_, entry));
  RemoveFile(folder_ + kStagedPrefix + table_ + kPlanSuffix);
  begun_ = false;
}

void ThxFileSwap::Recover(const std::string& tablePath) {
  std::string folder, table;
  SplitPath(tablePath, folder, table);
  if (!Present(folder + kStagedPrefix + table + kManifestSuffix) &&
      !Present(folder + kStagedPrefix + table + kPlanSuffix))
    return;
  // Only while nobody else has the table open: a program that has it open exclusively may be in
  // the middle of its own swap.
  const int fd = OpenExclusiveDescriptor(tablePath);
  if (fd < 0) return;
  RecoverHeld(folder, table);
  ::close(fd);
}

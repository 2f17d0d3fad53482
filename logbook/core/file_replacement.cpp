#include "file_replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace quillmere {

namespace {

constexpr size_t kChunk = 1 << 20;

// The mode a newly created file gets: 0666 less the process's umask, read without changing it.
mode_t NewFileMode() {
  mode_t mask = 022;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0) mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  return 0666 & ~mask;
}

std::string FolderOfPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

}  // namespace

FileReplacement::FileReplacement(std::string targetPath) : target_(std::move(targetPath)) {
  const size_t slash = target_.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  temp_ = folder + "." + name + ".XXXXXX";
  fd_ = mkstemp(temp_.data());
  if (fd_ < 0) Fail("Cannot create");
  struct stat existing {};
  const mode_t mode = stat(target_.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : NewFileMode();
  fchmod(fd_, mode);
}

FileReplacement::~FileReplacement() {
  if (fd_ >= 0) close(fd_);
  if (!committed_) unlink(temp_.c_str());
}

void FileReplacement::Write(std::string_view bytes) {
  buffer_.append(bytes);
  if (buffer_.size() >= kChunk) Flush();
}

void FileReplacement::Flush() {
  size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("Cannot write");
    done += static_cast<size_t>(n);
  }
  buffer_.clear();
}

void FileReplacement::Commit() {
  Flush();
  if (fsync(fd_) != 0) Fail("Cannot write");
  if (close(fd_) != 0) {
    fd_ = -1;
    Fail("Cannot write");
  }
  fd_ = -1;
  if (rename(temp_.c_str(), target_.c_str()) != 0) Fail("Cannot replace");
  committed_ = true;
  const int dir = open(FolderOfPath(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

void FileReplacement::Fail(const char* what) const {
  throw std::runtime_error(std::string(what) + " file \"" + target_ + "\": " + std::strerror(errno));
}

}  // namespace quillmere

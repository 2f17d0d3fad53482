#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quillmere {

namespace {

// The temporary file: its descriptor is closed and the file removed unless Keep() was called.
class TempFile {
 public:
  explicit TempFile(std::string templ) : path_(std::move(templ)) {
    fd_ = ::mkstemp(path_.data());
    created_ = fd_ >= 0;
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (created_ && !kept_) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool Created() const { return created_; }
  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }
  bool Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  int fd_ = -1;
  bool created_ = false;
  bool kept_ = false;
};

bool Fail(std::string* error, const std::string& path, const char* what, int err) {
  if (error != nullptr) *error = std::string(what) + " " + path + ": " + std::strerror(err);
  return false;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
  const std::string folder = FolderOf(path);
  const size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  TempFile temp((folder == "/" ? std::string() : folder) + "/." + name + ".new-XXXXXX");
  if (!temp.Created()) return Fail(error, path, "Cannot create a file beside", errno);

  // The new file keeps the old one's permissions; a first file gets the usual ones.
  struct stat old {};
  mode_t mode = 0;
  if (::stat(path.c_str(), &old) == 0) {
    mode = old.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(temp.Fd(), mode) != 0) return Fail(error, path, "Cannot set the permissions for", errno);

  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(temp.Fd(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(error, path, "Cannot write", errno);
    }
    done += size_t(n);
  }
  if (::fsync(temp.Fd()) != 0) return Fail(error, path, "Cannot write", errno);
  if (!temp.Close()) return Fail(error, path, "Cannot write", errno);
  if (::rename(temp.Path().c_str(), path.c_str()) != 0) return Fail(error, path, "Cannot replace", errno);
  temp.Keep();

  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace quillmere

#include "log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "text_utils.h"

namespace tarvane {

TLogFile::TLogFile(TClock clock) : clock_(std::move(clock)) {
  if (!clock_) clock_ = &TLogFile::LocalTime;
}

TLogFile::~TLogFile() { Close(); }

TLogTime TLogFile::LocalTime() {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  const std::time_t secs = static_cast<std::time_t>(ms.count() / 1000);
  std::tm tm{};
  localtime_r(&secs, &tm);
  return TLogTime{tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms.count() % 1000)};
}

bool TLogFile::Open(const std::string& path, int level) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  open_ = false;
  path_ = path;
  level_ = level;
  if (level == 0) return false;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) return false;
  open_ = true;
  return true;
}

void TLogFile::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  open_ = false;
}

bool TLogFile::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

int TLogFile::Level() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return level_;
}

void TLogFile::WriteAll(const std::string& line) {
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a full disk loses log lines, never the server
    done += static_cast<size_t>(n);
  }
}

void TLogFile::Log(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_ || level_ == 0) return;
  if (level_ == 2) {
    // Reopen for every line so that each line is on disk, whoever reads the file meanwhile.
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ < 0) return;
  }
  const TLogTime t = clock_();
  std::string line = Format("%02d:%02d:%02d.%03d  ", t.Hour, t.Minute, t.Second, t.Millisecond);
  line += text;
  if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) line += "\r\n";
  WriteAll(line);
  if (level_ == 2) {
    ::close(fd_);
    fd_ = -1;
  }
}

void TLogFile::LogFmt(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = FormatV(fmt, args);
  va_end(args);
  Log(text);
}

TLogProc TLogFile::Proc() {
  return [this](const std::string& text) { Log(text); };
}

}  // namespace tarvane

// log_file: the server's log file. Every line is the local time "hh:nn:ss.zzz" and two blanks,
// then the text, ended by CR LF unless the text already ends with CR LF. Error lines carry the
// mark "{!}" inside their text; the writer does not add it.
//
// Levels: 0 no log, 1 the file is kept open, 2 the file is reopened and closed for every line so
// that each line is on disk before the next one is written. Every line goes straight to the
// operating system (no buffering in the process).
//
// Owns the file descriptor. Log may be called from any thread; lines never interleave.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace tarvane {

// Where lines of the rig-server core go; an empty function drops them.
using TLogProc = std::function<void(const std::string& text)>;

// The local time of day stamped on a log line.
struct TLogTime {
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};

class TLogFile {
 public:
  using TClock = std::function<TLogTime()>;

  // `clock` gives the time stamped on each line; empty means the system's local time.
  explicit TLogFile(TClock clock = {});
  ~TLogFile();
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  // Creates (truncating) the file at `path` for logging at `level`. Level 0, or a file that
  // cannot be created, leaves the log off; the result says whether lines will be written.
  bool Open(const std::string& path, int level);
  void Close();
  bool IsOpen() const;
  int Level() const;

  void Log(const std::string& text);
  void LogFmt(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // A TLogProc that writes to this log (the log must outlive it).
  TLogProc Proc();

  // The local time of day now.
  static TLogTime LocalTime();

 private:
  void WriteAll(const std::string& line);

  TClock clock_;
  mutable std::mutex mutex_;
  std::string path_;
  int level_ = 0;
  int fd_ = -1;
  bool open_ = false;
};

}  // namespace tarvane

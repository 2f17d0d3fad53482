// hx6_disk: the engine's only file layer.
//
// HXO_DiskFile is one table, memo or index file: positioned, unbuffered reads and writes (every
// write goes straight to the system), shared or exclusive opening, and one nested byte-range lock
// per file object. It owns its descriptor and closes it when closed or destroyed. Subclasses add
// their own virtual operations after the thirteen declared here.
//
// HXobjFileColl is the process-wide registry of open file objects; it lists them without owning
// them. HXO_DiskFile::CloseAllFiles sweeps it at program end (or when called) and frees it.
//
// Opening modes on Linux: a shared open takes a read lock and an exclusive open a write lock on one
// marker byte far beyond every region the engine locks, so an exclusive open refuses any other
// opener and a shared open refuses to join an exclusive one, within one process as between
// processes.
//
// Thread-safety: one file object is used by one thread at a time; the registry is guarded and may
// be reached from several threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/hx6_tool.h"

// Lock retries of memo and index-header locks: the waits between attempts add up to what 100
// attempts 50 ms apart wait in all (see LockRetryWaits).
inline constexpr int16_t kLockRetryTotalMs = 5000;
inline constexpr int16_t kLockRetryStepMs = 50;

// The whole-file lock region and the byte on which opens record their sharing mode. The marker lies
// above 2^40; no table, memo or index lock reaches past 2^33.
inline constexpr int64_t kWholeFileLockOffset = 0;
inline constexpr int64_t kWholeFileLockLength = 0x7FFFFFFF;
inline constexpr int64_t kOpenModeLockOffset = int64_t{1} << 40;

// Open modes in the engine's numbering: access in the low bits, deny-none sharing in 0x40.
inline constexpr int kOpenReadOnly = 0x00;
inline constexpr int kOpenReadWrite = 0x02;
inline constexpr int kOpenShareDenyNone = 0x40;

// The full path of `path`: a relative path is taken against the current directory and
// normalised; an absolute path is returned unchanged.
std::string ExpandFileName(std::string_view path);

// The path of an existing file whose name matches `path` without regard to case in the last
// component: `path` itself when it exists, else the entry of its folder whose name equals the last
// component ignoring ASCII case (the first in byte order when several do), else `path` unchanged.
std::string ResolveFileNameCase(std::string_view path);

class HXobjFileColl;

class HXO_DiskFile {
 public:
  // Stores the expanded name (with the case of an existing file), notes whether the file exists;
  // does not open.
  HXO_DiskFile(std::string_view path, bool shared, bool readWrite);
  HXO_DiskFile(const HXO_DiskFile&) = delete;
  HXO_DiskFile& operator=(const HXO_DiskFile&) = delete;
  // Closes the file. A subclass that overrides Close calls its own Close in its destructor: the
  // base destructor only reaches HXO_DiskFile::Close.
  virtual ~HXO_DiskFile();

  // Virtual operations, in slot order.
  virtual bool Close();
  virtual int64_t FileSize();
  virtual void Flush();
  virtual bool LockFile();
  virtual bool LockRegion(int64_t offset, int64_t length);
  virtual int32_t Read(int64_t offset, void* buffer, int32_t count);
  virtual bool Rename(std::string_view newPath);
  virtual void Open();
  virtual void Rewrite();
  virtual void StatusReport(int stat1, int stat2, int stat3);
  virtual void Truncate(int64_t size);
  virtual bool Unlock();
  virtual void Write(int64_t offset, const void* buffer, int32_t count);

  // One more level of the held lock, without a system call (the caller knows its region is
  // already covered).
  void CountLock() { ++lockCount_; }

  // The finalisation sweep: releases every listed file's lock, closes its handle, marks it closed
  // and frees the registry. Runs at process end; may be called earlier.
  static void CloseAllFiles();
  // The registry while it exists, else null.
  static HXobjFileColl* Registry();

  int Handle() const { return handle_; }
  bool Exists() const { return exists_; }
  const std::string& Name() const { return name_; }
  int64_t Position() const { return position_; }
  bool Shared() const { return shared_; }
  bool ReadWrite() const { return readWrite_; }
  int32_t BytesMoved() const { return bytesMoved_; }
  int32_t LockCount() const { return lockCount_; }
  int64_t LockOffset() const { return lockOffset_; }
  int64_t LockLength() const { return lockLength_; }
  bool Dirty() const { return dirty_; }
  bool Closed() const { return closed_; }
  // The open mode in the engine's numbering (0x42, 0x40, 0x02 or 0x00).
  int OpenMode() const;

 protected:
  int handle_ = 0;  // 0 when closed; an open file never gets 0, 1 or 2
  bool exists_ = false;
  std::string name_;
  int64_t position_ = 0;
  bool shared_ = false;
  bool readWrite_ = false;
  int32_t bytesMoved_ = 0;
  int32_t lockCount_ = 0;
  int64_t lockOffset_ = 0;
  int64_t lockLength_ = 0;
  bool dirty_ = false;
  bool closed_ = true;

 private:
  // Closes the handle and forgets it; true when the system reported no error.
  bool CloseHandle();
};

// The registry of open file objects. Lists, never frees.
class HXobjFileColl : public ThxCollection<HXO_DiskFile> {
 public:
  HXobjFileColl() = default;
  ~HXobjFileColl() override { FreeAll(); }

 protected:
  void FreeItem(HXO_DiskFile*) override {}
};

// The waits (milliseconds) between the attempts of a retrying lock. Another program holds such a
// lock for one append or one page update, a millisecond or so: the first waits are short and
// grow (1, 2, 4, ... ms) up to stepMs, and stay there; together they wait what totalMs / stepMs
// attempts stepMs apart did, (totalMs / stepMs - 1) x stepMs, the last wait cut to fit. One
// attempt more than there are waits is made.
std::vector<int> LockRetryWaits(int totalMs = kLockRetryTotalMs, int stepMs = kLockRetryStepMs);

// A lock that waits: attempts at file.LockRegion(offset, length) with the waits of
// LockRetryWaits between them; after the last failure raises "Can not Lock file %s" with the
// file's name.
void LockRegionWithRetry(HXO_DiskFile& file, int64_t offset, int64_t length,
                         int totalMs = kLockRetryTotalMs, int stepMs = kLockRetryStepMs);

// ---------------------------------------------------------------------------------------------
// Write-fault seam, for tests of what a full disk or a crash leaves behind.
//
// Off by default; while off, every write operation pays one test of a flag. While armed, each
// write operation counts: HXO_DiskFile::Write, Truncate, Rewrite (create or empty) and Rename,
// and every raw whole-file operation (rename, unlink) that engine code announces through
// DiskFaultPermits before doing it. Operations are numbered from 1 after arming.
//  - kCount only counts (a dry run: how many operations does this road do?).
//  - kFail makes operation `at` fail as the system would on a full disk: a write first puts
//    `partialBytes` bytes of its data (none when negative; capped at its length) and then
//    fails; with `keepFailing` every later operation fails too (no partial bytes) until
//    DisarmDiskFaults, as a disk that stays full.
//  - kKill puts `partialBytes` bytes of operation `at` (when it is a write) and then kills the
//    process with SIGKILL, for tests that fork a child and inspect its files.
// The seam is process-wide and meant for one thread at a time.
struct DiskFaultPlan {
  enum Action { kCount, kFail, kKill };
  Action action = kCount;
  int64_t at = 0;
  int32_t partialBytes = -1;
  bool keepFailing = true;
};

void ArmDiskFaults(const DiskFaultPlan& plan);
void DisarmDiskFaults();
// Operations counted since the last ArmDiskFaults (kept after DisarmDiskFaults).
int64_t DiskFaultOperationCount();
// True when some operation has been failed since the last ArmDiskFaults.
bool DiskFaultTriggered();

namespace diskfault_detail {
inline std::atomic<bool> gArmed{false};
// Counts one operation; returns how many leading bytes of it may be done (`count` when it
// proceeds; fewer, and the caller fails after doing them) or kills the process.
int32_t Consult(int32_t count, bool isWrite);
// After a write has put its allowed bytes: kills the process when the plan says so.
void Settle();
}  // namespace diskfault_detail

// Call before a raw file operation (rename or unlink of a whole file) done outside
// HXO_DiskFile: false when the seam fails it, and the caller must then act as if the system
// had refused (and not do it). Always true while the seam is off.
inline bool DiskFaultPermits() {
  if (!diskfault_detail::gArmed.load(std::memory_order_relaxed)) [[likely]]
    return true;
  return diskfault_detail::Consult(1, false) == 1;
}

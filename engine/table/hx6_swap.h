// hx6_swap: replacing a table's files (table, memo, index files) by new copies, so that a crash or
// a failed write at any point leaves either the whole old set or the whole new set.
//
// Pack and a change of password write the new files beside the old ones, under staged names
// ("~$" before the file's own name, in the same folder), and then swap them in. The order:
//   1. Begin writes the plan "~$<table>.plan" naming the files of the set (by name when beside
//      the table, else by full path), before anything is staged: after a crash during staging
//      it tells which staged files are leftovers.
//   2. The caller writes every staged file in full.
//   3. Commit flushes every staged file and the plan to the disk, then renames the plan to the
//      manifest "~$<table>.swap" and flushes the folder. That rename is the commit point:
//      without a manifest the old set stands; with one the new set does.
//   4. Commit renames each staged file over its final name (each rename replaces one file at
//      once) and flushes the folder.
//   5. Commit removes the manifest and the plan.
// Opening a table first runs Recover: a manifest left by a crash after step 3 has its renames
// finished (a staged file already gone was renamed before) and is removed; without a manifest,
// the staged files named by a plan are removed with the plan. Recover only acts while no other
// handle has the table open (it takes the table's exclusive open lock for the time it works), so
// that it never disturbs a swap another program is making.
//
// Every write, rename and removal here goes through the disk layer's fault seam, so tests can
// fail or stop each step in turn.
//
// Thread-safety: one swap is used by one thread; Recover may run in several programs at once.
#pragma once

#include <string>
#include <vector>

class ThxFileSwap {
 public:
  // A swap for the set of the table at `tablePath` (its full path).
  explicit ThxFileSwap(std::string tablePath);
  ThxFileSwap(const ThxFileSwap&) = delete;
  ThxFileSwap& operator=(const ThxFileSwap&) = delete;
  // Abandons the swap when it was not committed: the staged files and the plan are removed.
  ~ThxFileSwap();

  // Adds a file of the set (its full path) and returns its staged path: the same folder, "~$"
  // before the name. Files are swapped in the order added; add the table last.
  std::string Add(const std::string& finalPath);
  // Finishes a swap of this table that an earlier run left behind (the caller holds the table
  // open exclusively) and writes the plan. Raises the disk layer's errors.
  void Begin();
  // Steps 3 to 5. Raises the disk layer's errors; Committed() then tells whether the failure came
  // after the commit point (the new set stands on disk, or will once the table is opened again).
  void Commit();
  bool Committed() const { return committed_; }
  // Removes the staged files and the plan; never raises. Nothing once committed.
  void Abandon() noexcept;

  // Run before a table is opened: see above. Never raises; a step that fails is tried again at
  // the next open.
  static void Recover(const std::string& tablePath);

 private:
  std::string folder_;  // with its final '/'
  std::string table_;   // the table's file name
  std::vector<std::string> names_;  // file names of the set, in swap order
  bool begun_ = false;
  bool committed_ = false;
};

// Opens `path` for reading and writing and takes its exclusive open lock, as an exclusive open of
// the disk layer does; the descriptor, or -1 when the file cannot be opened or another handle
// holds it.
int OpenExclusiveDescriptor(const std::string& path);

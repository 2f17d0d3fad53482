// call_book_drives: what the Set page's call-book drive box offers. The call-book data sits on a
// CD; here a CD (or a stick holding a copy of it) is a file system mounted under /media, /mnt or
// /run/media, so the box lists those mount points, and the operator may type any other folder.
// Line 10 of the preferences holds the choice as text, a folder ending in '/'.
//
// Pure functions, except MountedCallBookDrives (reads the mount table); safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

// The drive delivered in the preferences: Debian's mount point for the first CD drive.
inline constexpr const char* kDefaultCallBookDrive = "/media/cdrom/";

// The mount points, each ending in '/', of the file systems in `mountTable` (the text of
// /proc/self/mounts: device, mount point, type ... per line, blanks in names written "\040") that
// lie under /media/, /mnt/ or /run/media/ (or are /media or /mnt themselves), in the table's
// order, each once.
std::vector<std::string> RemovableMountPoints(std::string_view mountTable);

// The mount points of the running system (none when the table cannot be read).
std::vector<std::string> MountedCallBookDrives(const std::string& mountTablePath = "/proc/self/mounts");

// The drive box's items: the preferences' drive first when it is not empty (so a folder typed in
// earlier, or a drive of a file carried over, stays as it is), then the mounted ones; the
// delivered drive when there would be none.
std::vector<std::string> CallBookDriveChoices(std::string_view saved, const std::vector<std::string>& mounted);

}  // namespace quillmere

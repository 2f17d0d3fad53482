// atomic_file: replaces a file whole so that a crash, a full disk or any other failure at any
// point leaves either the old file or the new one, never an empty or half-written one.
//
// One whole-file write through FileReplacement (file_replacement.h): the bytes go into a
// temporary file beside the target (same folder, so the rename cannot cross file systems), which
// is flushed to the disk with the old file's permissions and renamed over the target; the folder
// is flushed last so the rename itself survives a power cut.
// Stateless; safe from any thread (two writers of one file: the last rename wins).
#pragma once

#include <string>
#include <string_view>

namespace quillmere {

// Writes `bytes` as the new content of `path`. False with a reason in *error (naming the file)
// when anything fails; the old file is then untouched and no temporary file is left behind.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// The file a path names once its symbolic links are followed (relative links from the link's own
// folder), whether or not that file exists yet; `path` itself when it is no link. A loop of links
// (which the reader cannot read either, so nothing is written back) gives `path` itself.
std::string SymbolicLinkTarget(const std::string& path);

}  // namespace quillmere

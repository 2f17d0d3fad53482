#include "call_book_drives.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace quillmere {

namespace {

// A mount table field with its octal escapes ("\040" a blank, "\011" a tab ...) decoded.
std::string Unescaped(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    const auto octal = [&](size_t at) { return field[at] >= '0' && field[at] <= '7'; };
    if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

bool Removable(const std::string& point) {
  for (const char* root : {"/media", "/mnt", "/run/media"}) {
    const std::string r(root);
    if (point == r && r != "/run/media") return true;
    if (point.size() > r.size() + 1 && point.compare(0, r.size() + 1, r + "/") == 0) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> RemovableMountPoints(std::string_view mountTable) {
  std::vector<std::string> points;
  size_t start = 0;
  while (start < mountTable.size()) {
    size_t end = mountTable.find('\n', start);
    if (end == std::string_view::npos) end = mountTable.size();
    const std::string_view line = mountTable.substr(start, end - start);
    start = end + 1;
    // The second blank-separated field is the mount point.
    const size_t device = line.find_first_of(" \t");
    if (device == std::string_view::npos) continue;
    const size_t from = line.find_first_not_of(" \t", device);
    if (from == std::string_view::npos) continue;
    const size_t to = line.find_first_of(" \t", from);
    std::string point = Unescaped(line.substr(from, to == std::string_view::npos ? std::string_view::npos : to - from));
    if (!Removable(point)) continue;
    point += '/';
    if (std::find(points.begin(), points.end(), point) == points.end()) points.push_back(std::move(point));
  }
  return points;
}

std::vector<std::string> MountedCallBookDrives(const std::string& mountTablePath) {
  std::ifstream in(mountTablePath, std::ios::binary);
  if (!in) return {};
  const std::string table((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return RemovableMountPoints(table);
}

std::vector<std::string> CallBookDriveChoices(std::string_view saved, const std::vector<std::string>& mounted) {
  std::vector<std::string> choices;
  if (!saved.empty()) choices.emplace_back(saved);
  for (const std::string& point : mounted)
    if (std::find(choices.begin(), choices.end(), point) == choices.end()) choices.push_back(point);
  if (choices.empty()) choices.emplace_back(kDefaultCallBookDrive);
  return choices;
}

}  // namespace quillmere

#include "word_lists.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "base/hx6_disk.h"

namespace quillmere {

std::string WordListFileName(int item) { return item == 1 ? "WordList2.txt" : "WordList.txt"; }

std::string WordListItem(std::string_view line) {
  std::string item(line);
  for (char& c : item)
    if (c == ',') c = '\t';
  return item;
}

bool LoadWordList(const std::string& path, std::vector<std::string>& items, std::string& error) {
  const std::string found = ResolveFileNameCase(path);
  std::ifstream in(found, std::ios::binary);
  if (!in) {
    error = "Cannot open file \"" + path + "\". " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> loaded;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    loaded.push_back(WordListItem(line));
  }
  if (in.bad()) {
    error = "Cannot read file \"" + path + "\". " + std::strerror(errno);
    return false;
  }
  items = std::move(loaded);
  return true;
}

}  // namespace quillmere

// word_lists: the dictionary the spoken reading uses for codes (a state code and its name, one
// pair a line, "AL,Alabama"), loaded from a text file of the program folder into the hidden
// list's items with every comma turned into a tab ("AL\tAlabama").
//
// Pure functions, except LoadWordList (reads a file); safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

// The file start-up loads.
inline constexpr const char* kStartupWordList = "wordlist.txt";
// The files of the "Grammar" choice: item 0 "WordList.txt", item 1 "WordList2.txt". Item 0's file
// and the start-up list are one file, delivered as "wordlist.txt" and found without regard to case.
std::string WordListFileName(int item);

// Every ',' of a line replaced by a tab.
std::string WordListItem(std::string_view line);

// Reads `path` (the last component found without regard to case): one item per line (CR LF or
// LF), commas as tabs, into `items`; true. A file that cannot be read leaves `items` as they were
// and puts the error's text ("Cannot open file ...") into `error`; false.
bool LoadWordList(const std::string& path, std::vector<std::string>& items, std::string& error);

}  // namespace quillmere

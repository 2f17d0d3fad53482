#include "ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "text_utils.h"

namespace tarvane {

namespace {

std::string ErrorText(int err) { return std::strerror(err); }

// The line without its terminator.
std::string_view Content(const std::string& line) {
  std::string_view s = line;
  if (!s.empty() && s.back() == '\n') s.remove_suffix(1);
  if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
  return s;
}

std::string StripQuotes(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Values and names written by the program never break a line.
std::string OneLine(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return;
    throw EIniFileError(Format("Cannot open file \"%s\". %s", path_.c_str(),
                               ErrorText(errno).c_str()));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    throw EIniFileError(Format("Cannot open file \"%s\". %s", path_.c_str(),
                               ErrorText(err).c_str()));
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
    ::close(fd);
    throw EIniFileError(Format("File \"%s\" is too large", path_.c_str()));
  }
  std::string text;
  char buf[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      throw EIniFileError(Format("Cannot read file \"%s\". %s", path_.c_str(),
                                 ErrorText(err).c_str()));
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    // The file may grow while it is read; never hold more than the limit.
    if (text.size() > kMaxFileSize) {
      ::close(fd);
      throw EIniFileError(Format("File \"%s\" is too large", path_.c_str()));
    }
  }
  ::close(fd);
  Parse(text);
}

void TIniFile::Parse(std::string_view text) {
  lines_.clear();
  size_t p = 0;
  while (p < text.size()) {
    const size_t nl = text.find('\n', p);
    if (nl == std::string_view::npos) {
      lines_.emplace_back(text.substr(p));
      break;
    }
    lines_.emplace_back(text.substr(p, nl + 1 - p));
    p = nl + 1;
  }
  Reindex();
}

void TIniFile::Reindex() {
  sections_.clear();
  section_index_.clear();
  Section* current = nullptr;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string line = Trim(Content(lines_[i]));
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (current != nullptr) current->end = i;
      size_t close = line.find(']');
      if (close == std::string::npos) close = line.size();
      Section s;
      s.name = Trim(std::string_view(line).substr(1, close - 1));
      s.header = i;
      s.end = lines_.size();
      s.last_key = i;
      sections_.push_back(std::move(s));
      current = &sections_.back();
      section_index_.try_emplace(UpperCase(current->name), sections_.size() - 1);
      continue;
    }
    if (current == nullptr) continue;
    const size_t eq = line.find('=');
    Key k;
    if (eq == std::string::npos) {
      k.name = line;
    } else {
      k.name = Trim(std::string_view(line).substr(0, eq));
      k.value = StripQuotes(Trim(std::string_view(line).substr(eq + 1)));
    }
    if (k.name.empty()) continue;
    k.line = i;
    current->last_key = i;
    current->keys.push_back(std::move(k));
    current->key_index.try_emplace(UpperCase(current->keys.back().name),
                                   current->keys.size() - 1);
  }
}

const TIniFile::Section* TIniFile::FindSection(std::string_view name) const {
  const auto it = section_index_.find(UpperCase(Trim(name)));
  return it == section_index_.end() ? nullptr : &sections_[it->second];
}

const TIniFile::Key* TIniFile::FindKey(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return nullptr;
  const auto it = s->key_index.find(UpperCase(Trim(key)));
  return it == s->key_index.end() ? nullptr : &s->keys[it->second];
}

std::vector<std::string> TIniFile::ReadSections() const {
  std::vector<std::string> names;
  for (size_t i = 0; i < sections_.size(); ++i) {
    // Only the first of sections with the same name is visible.
    if (section_index_.at(UpperCase(sections_[i].name)) == i) names.push_back(sections_[i].name);
  }
  return names;
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> names;
  const Section* s = FindSection(section);
  if (s == nullptr) return names;
  for (size_t i = 0; i < s->keys.size(); ++i) {
    if (s->key_index.at(UpperCase(s->keys[i].name)) == i) names.push_back(s->keys[i].name);
  }
  return names;
}

bool TIniFile::SectionExists(std::string_view section) const {
  return FindSection(section) != nullptr;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  return FindKey(section, key) != nullptr;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
  const Key* k = FindKey(section, key);
  return k == nullptr ? std::string(def) : k->value;
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                              int32_t def) const {
  const std::string text = ReadString(section, key, "");
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    // Hexadecimal texts may use all 32 bits ("0xFFFFFFFF" is -1).
    uint64_t value = 0;
    for (size_t i = 2; i < text.size(); ++i) {
      const char c = text[i];
      int digit;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        return def;
      }
      value = value * 16 + static_cast<uint64_t>(digit);
      if (value > 0xFFFFFFFFu) return def;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(value));
  }
  return TryStrToInt(text).value_or(def);
}

std::string TIniFile::NewLineEnd() const {
  // New lines follow the file's own convention; a new file gets plain line feeds.
  for (const std::string& line : lines_) {
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) return "\r\n";
    if (!line.empty() && line.back() == '\n') return "\n";
  }
  return "\n";
}

void TIniFile::WriteString(std::string_view section, std::string_view key,
                           std::string_view value) {
  const std::string eol = NewLineEnd();
  const std::string entry = OneLine(Trim(key)) + "=" + OneLine(value) + eol;
  if (const Key* k = FindKey(section, key)) {
    lines_[k->line] = entry;
  } else if (const Section* s = FindSection(section)) {
    const size_t at = s->last_key;
    // An unterminated last line gets its terminator before a line is added after it.
    if (!lines_[at].empty() && lines_[at].back() != '\n') lines_[at] += eol;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at + 1), entry);
  } else {
    if (!lines_.empty()) {
      if (lines_.back().back() != '\n') lines_.back() += eol;
      if (!Trim(Content(lines_.back())).empty()) lines_.push_back(eol);
    }
    // Appended piece by piece: the one-expression form trips a false -Wrestrict in g++ 12 at -O3.
    std::string header = "[";
    header += OneLine(Trim(section));
    header += ']';
    header += eol;
    lines_.push_back(std::move(header));
    lines_.push_back(entry);
  }
  modified_ = true;
  Reindex();
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::EraseSection(std::string_view section) {
  const Section* s = FindSection(section);
  if (s == nullptr) return;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(s->header),
               lines_.begin() + static_cast<std::ptrdiff_t>(s->end));
  modified_ = true;
  Reindex();
}

void TIniFile::UpdateFile() {
  if (!modified_) return;
  std::string text;
  for (const std::string& line : lines_) text += line;
  const std::string tmp = path_ + ".tmp";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    throw EIniFileError(Format("Cannot create file \"%s\". %s", path_.c_str(),
                               ErrorText(errno).c_str()));
  }
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      throw EIniFileError(Format("Cannot write file \"%s\". %s", path_.c_str(),
                                 ErrorText(err).c_str()));
    }
    done += static_cast<size_t>(n);
  }
  int err = 0;
  if (::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmp.c_str(), path_.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(tmp.c_str());
    throw EIniFileError(Format("Cannot write file \"%s\". %s", path_.c_str(),
                               ErrorText(err).c_str()));
  }
  modified_ = false;
}

}  // namespace tarvane

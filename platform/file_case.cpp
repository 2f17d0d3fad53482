#include "file_case.h"

#include <filesystem>
#include <string_view>
#include <system_error>

namespace platform {

namespace fs = std::filesystem;

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameNameAnyCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

}  // namespace

std::string ExecutableFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec).string();
  return exe.parent_path().string();
}

std::string ResolveFileCase(const std::string& path) {
  std::error_code ec;
  const fs::path p(path);
  if (fs::exists(p, ec)) return path;
  const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
  const std::string name = p.filename().string();
  fs::directory_iterator it(folder, ec);
  if (ec) return path;
  std::string best;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string candidate = it->path().filename().string();
    // Several matches are possible on Linux: the smallest name keeps the choice stable.
    if (SameNameAnyCase(candidate, name) && (best.empty() || candidate < best)) best = candidate;
  }
  if (best.empty()) return path;
  return (p.has_parent_path() ? (p.parent_path() / best) : fs::path(best)).string();
}

}  // namespace platform

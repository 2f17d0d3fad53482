#include "tool_launchers.h"

#include <unistd.h>

#include <fstream>

namespace quillmere {

namespace {

bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

bool FoundOnPath(const std::string& program, std::string_view pathVariable) {
  if (program.empty()) return false;
  if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
  while (true) {
    const size_t colon = pathVariable.find(':');
    const std::string_view dir = pathVariable.substr(0, colon);
    if (!dir.empty() && access((std::string(dir) + "/" + program).c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) return false;
    pathVariable.remove_prefix(colon + 1);
  }
}

}  // namespace

const char* ToolSettingsKey(AccessTool tool) {
  static const char* const keys[kAccessToolCount] = {"Magnifier",      "OnScreenKeyboard",
                                                     "AccessibilityWizard", "UtilityManager",
                                                     "VolumeControl",  "TextEditor"};
  return keys[static_cast<int>(tool)];
}

ToolFailure ToolFailureOf(AccessTool tool) {
  switch (tool) {
    case AccessTool::Magnifier: return {"Could not find Magnifier", true};
    case AccessTool::OnScreenKeyboard: return {"Could not find On-ScreenKeyboard.", true};
    case AccessTool::AccessibilityWizard: return {"Could not find Accessibility Wizard", true};
    case AccessTool::UtilityManager: return {"Could not find Utility Manager", true};
    case AccessTool::VolumeControl: return {"Volume Control panel not found.", false};
    case AccessTool::TextEditor: return {"Could not find the text editor.", false};
  }
  return {};
}

const std::vector<std::string>& ToolCandidates(AccessTool tool) {
  static const std::vector<std::string> candidates[kAccessToolCount] = {
      {"magnus", "kmag", "xzoom"},
      {"onboard", "florence", "xvkbd"},
      {"gnome-control-center universal-access", "systemsettings kcm_access"},
      {"gnome-control-center universal-access", "systemsettings kcm_access"},
      {"pavucontrol", "pavucontrol-qt", "gnome-control-center sound", "xfce4-mixer"},
      {"gnome-text-editor", "gedit", "mousepad", "kate", "kwrite", "featherpad", "pluma", "xed",
       "leafpad"},
  };
  return candidates[static_cast<int>(tool)];
}

ToolCommand ParseToolCommand(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (const char c : line) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  ToolCommand command;
  if (words.empty()) return command;
  command.program = words.front();
  command.arguments.assign(words.begin() + 1, words.end());
  return command;
}

ToolCommand FirstInstalled(const std::vector<std::string>& programs, std::string_view pathVariable) {
  for (const std::string& line : programs) {
    ToolCommand command = ParseToolCommand(line);
    if (FoundOnPath(command.program, pathVariable)) return command;
  }
  return programs.empty() ? ToolCommand() : ParseToolCommand(programs.front());
}

ToolLauncherSettings::ToolLauncherSettings(std::string_view pathVariable) {
  for (int i = 0; i < kAccessToolCount; ++i)
    commands_[static_cast<size_t>(i)] = FirstInstalled(ToolCandidates(static_cast<AccessTool>(i)), pathVariable);
}

bool ToolLauncherSettings::Load(const std::string& path) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    const std::string_view text = Trim(line);
    if (text.empty() || text.front() == ';' || text.front() == '#') continue;
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = Trim(text.substr(0, equals));
    ToolCommand command = ParseToolCommand(Trim(text.substr(equals + 1)));
    if (command.program.empty()) continue;
    for (int i = 0; i < kAccessToolCount; ++i)
      if (SameKey(key, ToolSettingsKey(static_cast<AccessTool>(i)))) commands_[static_cast<size_t>(i)] = command;
  }
  return true;
}

std::optional<ToolFailure> LaunchTool(AccessTool tool, const ToolLauncherSettings& settings,
                                      const ProgramStarter& start) {
  const ToolCommand& command = settings.Command(tool);
  if (command.program.empty() || !start || !start(command.program, command.arguments))
    return ToolFailureOf(tool);
  return std::nullopt;
}

}  // namespace quillmere

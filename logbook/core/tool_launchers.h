// tool_launchers: which program each entry of the Tools and Accessibility menus starts, and what
// the operator is told when it cannot be started.
//
// Each tool's program is a setting: a command line (program and arguments, double quotes group
// words) read from the lines "Key=command line" of the launcher settings file. Without a line the
// tool takes the first of its usual Linux programs found on the PATH (the first of them when none
// is installed, so that starting it fails with the tool's message).
//
// Keys: Magnifier, OnScreenKeyboard, AccessibilityWizard, UtilityManager, VolumeControl,
// TextEditor. Starting goes through a starter the caller supplies (a detached process in the
// program, a recorder in tests).
//
// Settings objects are values; the functions are safe from any thread.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

enum class AccessTool {
  Magnifier,            // "Xp's Magnifier"
  OnScreenKeyboard,     // "Xp's On-ScreenKeyboard"
  AccessibilityWizard,  // "Xp's Accessibility Wizard"
  UtilityManager,       // "Xp's Utility Manager"
  VolumeControl,        // "Windows Volume Control"
  TextEditor,           // "Launch Notepad"
};
inline constexpr int kAccessToolCount = 6;

inline constexpr const char* kToolSettingsFileName = "QuillmereTools.cfg";

struct ToolCommand {
  std::string program;
  std::vector<std::string> arguments;
  bool operator==(const ToolCommand&) const = default;
};

// What the operator is told when the tool cannot be started: an error box, or a plain message.
struct ToolFailure {
  std::string text;
  bool errorBox = true;
  bool operator==(const ToolFailure&) const = default;
};

// The settings file's key of a tool.
const char* ToolSettingsKey(AccessTool tool);
// The failure message of a tool ("Could not find Magnifier", "Volume Control panel not found." ...).
ToolFailure ToolFailureOf(AccessTool tool);
// The programs tried, in order, when the settings name none.
const std::vector<std::string>& ToolCandidates(AccessTool tool);

// Splits a command line into program and arguments: blanks separate words, double quotes group
// them (the quotes are dropped).
ToolCommand ParseToolCommand(std::string_view line);

// The first of `programs` (command lines) whose program is found on `pathVariable` (a PATH
// value); the first of them when none is.
ToolCommand FirstInstalled(const std::vector<std::string>& programs, std::string_view pathVariable);

class ToolLauncherSettings {
 public:
  // Each tool's default: FirstInstalled(ToolCandidates(tool), pathVariable).
  explicit ToolLauncherSettings(std::string_view pathVariable);

  // Reads the settings file over the defaults: lines "Key=command line" (key without regard to
  // case; blank lines, lines starting with ';' or '#', unknown keys and empty values skipped). A
  // missing file keeps the defaults; false then.
  bool Load(const std::string& path);

  const ToolCommand& Command(AccessTool tool) const { return commands_[static_cast<size_t>(tool)]; }
  void SetCommand(AccessTool tool, ToolCommand command) {
    commands_[static_cast<size_t>(tool)] = std::move(command);
  }

 private:
  std::array<ToolCommand, kAccessToolCount> commands_;
};

// Starts a program with its arguments; false when it could not be started.
using ProgramStarter =
    std::function<bool(const std::string& program, const std::vector<std::string>& arguments)>;

// Starts the tool's program through `start`; the tool's failure message when there is no program
// or it could not be started, nothing when it started.
std::optional<ToolFailure> LaunchTool(AccessTool tool, const ToolLauncherSettings& settings,
                                      const ProgramStarter& start);

}  // namespace quillmere

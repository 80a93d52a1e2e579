#include "window/window_texts.h"

#include <map>

namespace talvo::window {

std::string menuHelpText(int id) {
  static const std::map<int, std::string> kStrings = {
      {kCmdOutput, "Set level of trace output information"},
      {kCmdConfiguration, "Display Daemon configuration"},
      {kCmdStop, "Stop the Daaemon"},
      {kCmdExit, "Close this Window"},
      {kCmdClear, "Clear the text from Daemon window"},
      {kCmdStatusBar, "Show or hide the status bar"},
      {kCmdContents, "Show Help contents"},
      {kCmdOptions, "Set Daemon Options"},
      {kCmdHide, "Hide the Daemon Window"},
      {kSysSize, "Changes the Window size"},
      {kSysMove, "Changes the window position"},
      {kSysMinimize, "Reduces the window to an icon"},
      {kSysMaximize, "Enlarges the window to full size"},
      {kSysClose, "Exit the application"},
      {kSysRestore, "Restores the widow to normal size"},
      {kSysTaskList, "Activates the task list"},
  };
  if (id < 4) return kReady;
  auto it = kStrings.find(id);
  if (it == kStrings.end()) return kReady;
  return it->second.substr(0, 80);
}

std::string idName(int id) { return std::to_string(id); }

}  // namespace talvo::window

// The process entry: the command line, the dispatch of the actions, and the
// list of target products shown by /i.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "process_state.h"

namespace sp {

/// What the command line asks for.
struct LauncherOptions {
  bool quiet_mode = false;
  /// True exactly when none of /e, /p and /i was given.
  bool install_requested = true;
  bool extract_requested = false;
  std::wstring extract_path;
  bool patch_list_requested = false;
  std::wstring patch_list_path;
  bool list_requested = false;
};

/// Reads the options from the arguments (index 0, the program, is skipped).
/// /q, /e, /p and /i are recognised as whole arguments in any letter case;
/// /e and /p take the next argument, whatever it is, as their path; /i ends
/// the walk. Anything else is skipped.
LauncherOptions ParseArguments(const std::vector<std::wstring>& arguments);

/// Caption of the /i box.
inline constexpr wchar_t kListCaption[] = L"List of Products";

/// Runs the service pack as the command line asks and returns the process
/// exit code, which is always 0.
int RunServicePack(Platform& platform, ModuleHandle module);

}  // namespace sp

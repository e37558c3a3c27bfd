#pragma once
// Where the program and its settings file live.
#include <string>

namespace kino {

// The absolute path of the running executable (8-bit, as the system gives it).
std::string ExecutablePath();

// The settings file: "KINOLITE.ini" in `programFolder` when that folder can be
// written; otherwise "$XDG_CONFIG_HOME/kinolite/KINOLITE.ini" (with "~/.config"
// when the variable is unset or not absolute). The XDG folder is created when
// missing. `programFolder` has no trailing "/" (except the root "/").
std::string SettingsFilePath(const std::string& programFolder);

} // namespace kino

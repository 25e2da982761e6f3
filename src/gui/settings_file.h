#ifndef TLY_GUI_SETTINGS_FILE_H_
#define TLY_GUI_SETTINGS_FILE_H_

#include <string>
#include <string_view>

#include "support/process_env.h"

namespace tly {

// The settings file of an executable: its path with the extension of the file
// name replaced by ".ini", or ".ini" appended when the name has none.
// "/opt/gen/tly-generator" gives "/opt/gen/tly-generator.ini".
std::string IniFileNameFor(std::string_view exe_path);

// The settings file in the user's configuration folder: "tly-generator.ini"
// in the folder QSettings' user scope uses ($XDG_CONFIG_HOME, by default
// ~/.config), read from the environment at each call.
std::string UserSettingsFileName();

// The settings file of this process, which the window and `run` share: beside
// the executable (IniFileNameFor) when the executable's folder is writable
// (AppDirWritable(): the portable layout), else UserSettingsFileName(). Call
// after InitProcessEnvironment().
std::string SettingsFileName();

// The output directory stored as key "OutDir" of section [General] in the INI
// file `ini_file_name`, trimmed of blanks and control characters; empty when
// the file, the section or the key is missing. Never writes the file.
std::string ReadOutDirSetting(const std::string& ini_file_name);

// Stores `out_dir` as key "OutDir" of section [General] in `ini_file_name`,
// creating the file when missing and keeping its other entries. Returns false
// when the file could not be written.
bool WriteOutDirSetting(const std::string& ini_file_name, const std::string& out_dir);

}  // namespace tly

#endif  // TLY_GUI_SETTINGS_FILE_H_

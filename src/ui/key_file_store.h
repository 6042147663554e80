// Writing the configuration folder's key and switch files from the settings section.
//
// A pasted key is trimmed and written whole to its key file with mode 0600 through
// core/atomic_file (a new file renamed over the old one, so a reader never sees half a
// key); the folder is created with mode 0700 when missing. The key is never logged and
// never shown back in full: `maskedKey` keeps its length and last four characters. Only
// the three key files, the three switch files and the setting files (the tap key) of
// config_folder.h can be written. Main queue (blocking file calls, small files).
#pragma once

#include <string>
#include <string_view>

namespace sorvane {

enum class KeyWriteResult { saved, empty, invalid, failed };

bool isKnownKeyFile(std::string_view fileName);
bool isKnownSwitchFile(std::string_view fileName);

KeyWriteResult writeKeyFile(const std::string& configFolder, std::string_view fileName, std::string_view pasted);
bool removeKeyFile(const std::string& configFolder, std::string_view fileName);
// Creates (empty) or removes a switch file; true when the file now matches `enabled`.
bool setSwitchFile(const std::string& configFolder, std::string_view fileName, bool enabled);

// Writes a setting file's word the same way as a key (whole, 0600, folder 0700); an empty
// string on success, else what went wrong.
std::string writeSettingFile(const std::string& configFolder, std::string_view fileName, std::string_view word);

// "已设置（40 位，末尾 …abcd）"; keys of 8 characters or fewer show no characters at all.
std::string maskedKey(std::string_view key);
// The status line for a write result.
std::string keyWriteStatus(KeyWriteResult result);

}  // namespace sorvane

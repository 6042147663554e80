#include "ui/key_file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <span>

#include "core/atomic_file.h"
#include "core/config_folder.h"
#include "core/log.h"
#include "core/unicode_text.h"

namespace sorvane {
namespace {

constexpr std::string_view kKeyFiles[] = {kDashScopeKeyFile, kDeepSeekKeyFile, kDeepgramKeyFile};
constexpr std::string_view kSwitchFiles[] = {kVoiceProcessingSwitch, kFfmpegSpeechNormSwitch, kQwenCorpusHintSwitch};
constexpr std::string_view kSettingFiles[] = {kTapKeyFile};
constexpr std::size_t kMaxKeyBytes = 4096;

bool ensureFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) == 0) return true;
  struct stat info {};
  return errno == EEXIST && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string pathIn(const std::string& folder, std::string_view name) { return folder + "/" + std::string(name); }

}  // namespace

bool isKnownKeyFile(std::string_view fileName) {
  return std::find(std::begin(kKeyFiles), std::end(kKeyFiles), fileName) != std::end(kKeyFiles);
}

bool isKnownSwitchFile(std::string_view fileName) {
  return std::find(std::begin(kSwitchFiles), std::end(kSwitchFiles), fileName) != std::end(kSwitchFiles);
}

KeyWriteResult writeKeyFile(const std::string& configFolder, std::string_view fileName, std::string_view pasted) {
  if (!isKnownKeyFile(fileName)) return KeyWriteResult::failed;
  const std::string key = text::trim(pasted);
  if (key.empty()) return KeyWriteResult::empty;
  // A key is one printable token: a line break or space inside means a paste of
  // something else (and would end up in an HTTP header).
  const bool printable = std::all_of(key.begin(), key.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u != 0x7f;
  });
  if (!printable || key.size() > kMaxKeyBytes) return KeyWriteResult::invalid;
  if (!ensureFolder(configFolder)) {
    appLog("key file not saved name=" + std::string(fileName) + " reason=config-folder-unusable");
    return KeyWriteResult::failed;
  }
  // The mode is set explicitly there: a umask must not widen or narrow it.
  const std::string failure = writeFileAtomically(pathIn(configFolder, fileName), std::span<const char>(key), 0600);
  if (!failure.empty()) {
    appLog("key file not saved name=" + std::string(fileName) + " reason=write-failed");
    return KeyWriteResult::failed;
  }
  appLog("key file saved name=" + std::string(fileName) + " chars=" + std::to_string(key.size()));
  return KeyWriteResult::saved;
}

bool removeKeyFile(const std::string& configFolder, std::string_view fileName) {
  if (!isKnownKeyFile(fileName)) return false;
  const std::string target = pathIn(configFolder, fileName);
  if (::unlink(target.c_str()) == 0 || errno == ENOENT) {
    appLog("key file removed name=" + std::string(fileName));
    return true;
  }
  return false;
}

bool setSwitchFile(const std::string& configFolder, std::string_view fileName, bool enabled) {
  if (!isKnownSwitchFile(fileName)) return false;
  const std::string target = pathIn(configFolder, fileName);
  if (!enabled) return ::unlink(target.c_str()) == 0 || errno == ENOENT;
  if (!ensureFolder(configFolder)) return false;
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::string writeSettingFile(const std::string& configFolder, std::string_view fileName, std::string_view word) {
  if (std::find(std::begin(kSettingFiles), std::end(kSettingFiles), fileName) == std::end(kSettingFiles)) {
    return "unknown setting file";
  }
  if (!ensureFolder(configFolder)) return "config folder unusable";
  const std::string content = std::string(word) + "\n";
  return writeFileAtomically(pathIn(configFolder, fileName), std::span<const char>(content), 0600);
}

std::string maskedKey(std::string_view key) {
  const std::string trimmed = text::trim(key);
  const std::size_t count = text::graphemeCount(trimmed);
  std::string shown = "已设置（" + std::to_string(count) + " 位";
  if (count > 8) shown += "，末尾 …" + text::graphemeSuffix(trimmed, 4);
  return shown + "）";
}

std::string keyWriteStatus(KeyWriteResult result) {
  switch (result) {
    case KeyWriteResult::saved:
      return "已保存，下一次说话就会用上。";
    case KeyWriteResult::empty:
      return "先粘贴密钥。";
    case KeyWriteResult::invalid:
      return "密钥里不能有空格、换行或控制字符。";
    case KeyWriteResult::failed:
      return "保存失败：配置文件夹不可写。";
  }
  return {};
}

}  // namespace sorvane

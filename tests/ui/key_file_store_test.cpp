#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/config_folder.h"
#include "support/test_support.h"
#include "ui/key_file_store.h"
#include "ui/provider_summary.h"

namespace sorvane {
namespace {

unsigned modeOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

TEST(KeyFileStore, WritesTrimmedKeyWithMode0600AndNeverLogsIt) {
  testing::TempDir home;
  const std::string folder = home.file(".sorvane");
  testing::LogCapture log;
  const mode_t previous = ::umask(0);  // a permissive umask must not widen the file
  const auto result = writeKeyFile(folder, kDashScopeKeyFile, "  sk-secret-value-1234\n");
  ::umask(previous);
  ASSERT_EQ(result, KeyWriteResult::saved);
  EXPECT_EQ(home.read(".sorvane/dashscope-api-key"), "sk-secret-value-1234");
  EXPECT_EQ(modeOf(folder + "/dashscope-api-key"), 0600u);
  EXPECT_EQ(modeOf(folder), 0700u);
  EXPECT_EQ(ConfigFolder(folder).key(kDashScopeKeyFile), "sk-secret-value-1234");
  EXPECT_EQ(log.count("sk-secret"), 0u);
  EXPECT_EQ(log.count("key file saved name=dashscope-api-key"), 1u);

  // Replacing keeps the mode; the shown form never holds the whole key.
  ASSERT_EQ(writeKeyFile(folder, kDashScopeKeyFile, "sk-second-key-5678"), KeyWriteResult::saved);
  EXPECT_EQ(home.read(".sorvane/dashscope-api-key"), "sk-second-key-5678");
  EXPECT_EQ(modeOf(folder + "/dashscope-api-key"), 0600u);
  EXPECT_EQ(maskedKey("sk-second-key-5678"), "已设置（18 位，末尾 …5678）");
  EXPECT_EQ(maskedKey("short"), "已设置（5 位）");

  // The temporary files of both writes are gone: the folder holds the key file alone.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"dashscope-api-key"});
}

TEST(KeyFileStore, RefusesBlankMultilineAndUnknownFiles) {
  testing::TempDir home;
  const std::string folder = home.file(".sorvane");
  EXPECT_EQ(writeKeyFile(folder, kDeepSeekKeyFile, " \n\t"), KeyWriteResult::empty);
  EXPECT_EQ(writeKeyFile(folder, kDeepSeekKeyFile, "sk-a\nAuthorization: x"), KeyWriteResult::invalid);
  EXPECT_EQ(writeKeyFile(folder, kDeepSeekKeyFile, "two words"), KeyWriteResult::invalid);
  EXPECT_EQ(writeKeyFile(folder, "../escape", "sk-a"), KeyWriteResult::failed);
  EXPECT_EQ(writeKeyFile(folder, kProvidersFile, "sk-a"), KeyWriteResult::failed);
  EXPECT_FALSE(ConfigFolder(folder).key(kDeepSeekKeyFile).has_value());
  EXPECT_FALSE(writeSettingFile(folder, kDeepSeekKeyFile, "sk-a").empty());
}

TEST(KeyFileStore, SettingFilesAreWrittenPrivateLikeKeys) {
  testing::TempDir home;
  const std::string folder = home.file(".sorvane");
  const mode_t previous = ::umask(0);
  const std::string failure = writeSettingFile(folder, kTapKeyFile, "super");
  ::umask(previous);
  ASSERT_EQ(failure, "");
  EXPECT_EQ(ConfigFolder(folder).key(kTapKeyFile), "super");
  EXPECT_EQ(modeOf(folder + "/tap-key"), 0600u);
  EXPECT_EQ(modeOf(folder), 0700u);
}

TEST(KeyFileStore, SwitchFilesAndProviderChoiceFollowTheFiles) {
  testing::TempDir home;
  const std::string folder = home.file(".sorvane");
  const ConfigFolder config(folder);
  ProviderSettings providers;

  auto choice = describeProviderChoice(config, providers);
  EXPECT_EQ(choice.recogniser, "on-device");
  EXPECT_EQ(choice.languageModel, "raw-fallback");

  ASSERT_EQ(writeKeyFile(folder, kDeepgramKeyFile, "dg-key"), KeyWriteResult::saved);
  EXPECT_EQ(describeProviderChoice(config, providers).recogniser, "deepgram-streaming");
  ASSERT_EQ(writeKeyFile(folder, kDashScopeKeyFile, "ds-key"), KeyWriteResult::saved);
  choice = describeProviderChoice(config, providers);
  EXPECT_EQ(choice.recogniser, "qwen3-asr-flash-realtime");
  EXPECT_EQ(choice.languageModel, "qwen-llm-direct");
  ASSERT_EQ(writeKeyFile(folder, kDeepSeekKeyFile, "dk-key"), KeyWriteResult::saved);
  EXPECT_EQ(describeProviderChoice(config, providers).languageModel, "deepseek-direct + qwen-llm-direct");
  ASSERT_TRUE(removeKeyFile(folder, kDashScopeKeyFile));
  EXPECT_EQ(describeProviderChoice(config, providers).languageModel, "deepseek-direct");
  providers.workerBaseURL = "https://worker.test";
  ASSERT_TRUE(removeKeyFile(folder, kDeepSeekKeyFile));
  EXPECT_EQ(describeProviderChoice(config, providers).languageModel, "timeline-worker");

  ASSERT_TRUE(setSwitchFile(folder, kFfmpegSpeechNormSwitch, true));
  EXPECT_TRUE(config.isEnabled(kFfmpegSpeechNormSwitch));
  ASSERT_TRUE(setSwitchFile(folder, kFfmpegSpeechNormSwitch, false));
  EXPECT_FALSE(config.isEnabled(kFfmpegSpeechNormSwitch));
  EXPECT_FALSE(setSwitchFile(folder, kDashScopeKeyFile, true));
}

}  // namespace
}  // namespace sorvane

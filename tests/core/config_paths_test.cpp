#include <gtest/gtest.h>

#include "core/config_folder.h"
#include "core/paths.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

TEST(ConfigFolder, KeyFilesAreTrimmedAndReadAtEveryUse) {
  testing::TempDir dir;
  ConfigFolder config(dir.path());
  EXPECT_EQ(config.key(kDeepSeekKeyFile), std::nullopt);

  struct Case {
    std::string content;
    std::optional<std::string> key;
  };
  const Case cases[] = {
      {"sk-abc\n", "sk-abc"},
      {"  sk-abc \r\n\t", "sk-abc"},
      {"   ", std::nullopt},
      {"", std::nullopt},
      {"\xE3\x80\x80sk-wide\xE3\x80\x80", "sk-wide"},  // ideographic spaces around the key
  };
  for (const Case& c : cases) {
    dir.write(std::string(kDeepSeekKeyFile), c.content);
    EXPECT_EQ(config.key(kDeepSeekKeyFile), c.key) << "content=" << c.content;
  }
}

TEST(ConfigFolder, SwitchFilesCountByExistence) {
  testing::TempDir dir;
  ConfigFolder config(dir.path());
  EXPECT_FALSE(config.isEnabled(kFfmpegSpeechNormSwitch));
  dir.write(std::string(kFfmpegSpeechNormSwitch), "");
  EXPECT_TRUE(config.isEnabled(kFfmpegSpeechNormSwitch));
  EXPECT_FALSE(config.isEnabled(kQwenCorpusHintSwitch));
}

TEST(ConfigFolder, ProvidersFileOverridesDefaultsAndSurvivesBadInput) {
  testing::TempDir dir;
  ConfigFolder config(dir.path());
  const ProviderSettings defaults;
  {
    testing::LogCapture log;
    ProviderSettings settings = config.providers();
    EXPECT_EQ(settings.deepseekChatURL(), "https://api.deepseek.com/chat/completions");
    EXPECT_EQ(settings.deepseekModel, "deepseek-v4-flash");
    EXPECT_EQ(settings.workerInterpretURL(), "");  // no worker host is built in
    EXPECT_EQ(settings.websiteURL, "");
    EXPECT_EQ(log.count("providers config missing; using defaults"), 1u);
  }
  dir.write("providers.json", R"({"deepseek":{"baseURL":"http://127.0.0.1:8080/","model":"m1"},)"
                              R"("dashscope":{"model":42},"worker":{"baseURL":"http://127.0.0.1:9"}})");
  ProviderSettings settings = config.providers();
  EXPECT_EQ(settings.deepseekChatURL(), "http://127.0.0.1:8080/chat/completions");
  EXPECT_EQ(settings.deepseekModel, "m1");
  EXPECT_EQ(settings.qwenModel, defaults.qwenModel);  // wrong type keeps the default
  EXPECT_EQ(settings.workerInterpretURL(), "http://127.0.0.1:9/api/interpret");
  EXPECT_EQ(settings.qwenChatURL(), defaults.dashscopeBaseURL + "/compatible-mode/v1/chat/completions");

  for (const char* bad : {"{not json", "[1,2]", "\xff\xfe"}) {
    dir.write("providers.json", bad);
    testing::LogCapture log;
    ProviderSettings fallback = config.providers();
    EXPECT_EQ(fallback.deepseekBaseURL, defaults.deepseekBaseURL);
    EXPECT_EQ(log.count("providers config invalid; using defaults"), 1u);
  }
}

TEST(Paths, FromEnvironment) {
  auto env = [](std::map<std::string, std::string> values) {
    return [values](const char* name) -> std::optional<std::string> {
      auto it = values.find(name);
      if (it == values.end()) return std::nullopt;
      return it->second;
    };
  };
  auto passwd = [] { return std::optional<std::string>("/home/pw"); };

  Paths plain = Paths::fromEnvironment(env({{"HOME", "/home/u/"}}), passwd, 1000);
  EXPECT_EQ(plain.home, "/home/u");
  EXPECT_EQ(plain.configFolder, "/home/u/.sorvane");
  EXPECT_EQ(plain.dataFolder, "/home/u/.local/share/Mirla");
  EXPECT_EQ(plain.audioFolder, "/home/u/.local/share/Mirla/audio");
  EXPECT_EQ(plain.metricsFolder, "/home/u/.local/state/Sorvane");
  EXPECT_EQ(plain.logPath, "/tmp/sorvane.log");
  EXPECT_EQ(plain.runtimeFolder, "/tmp/sorvane-1000");
  EXPECT_EQ(plain.settingsFile, "/home/u/.config/Sorvane/Sorvane.conf");
  EXPECT_EQ(plain.autostartFolder, "/home/u/.config/autostart");
  EXPECT_EQ(plain.applicationsFolder, "/home/u/.local/share/applications");
  EXPECT_EQ(plain.systemApplicationsFolders,
            (std::vector<std::string>{"/usr/local/share/applications", "/usr/share/applications"}));

  Paths session = Paths::fromEnvironment(env({{"HOME", "/home/u"},
                                              {"XDG_RUNTIME_DIR", "/run/user/1000"},
                                              {"XDG_CONFIG_HOME", "/cfg"},
                                              {"SORVANE_LOG_FILE", "/home/u/t/sorvane.log"}}),
                                         passwd, 1000);
  EXPECT_EQ(session.runtimeFolder, "/run/user/1000");
  EXPECT_EQ(session.settingsFile, "/cfg/Sorvane/Sorvane.conf");
  EXPECT_EQ(session.autostartFolder, "/cfg/autostart");
  EXPECT_EQ(session.logPath, "/home/u/t/sorvane.log");
  EXPECT_EQ(Paths::fromEnvironment(env({{"HOME", "/h"}, {"SORVANE_LOG_FILE", "rel.log"}}), passwd).logPath,
            "/tmp/sorvane.log");

  Paths xdg = Paths::fromEnvironment(
      env({{"HOME", "/home/u"}, {"XDG_DATA_HOME", "/data"}, {"XDG_STATE_HOME", "relative/state"}}), passwd);
  EXPECT_EQ(xdg.dataFolder, "/data/Mirla");
  EXPECT_EQ(xdg.applicationsFolder, "/data/applications");
  EXPECT_EQ(Paths::fromEnvironment(env({{"HOME", "/h"}, {"XDG_DATA_DIRS", "/var/lib/flatpak/exports/share/:rel::/usr/share"}}),
                                   passwd)
                .systemApplicationsFolders,
            (std::vector<std::string>{"/var/lib/flatpak/exports/share/applications", "/usr/share/applications"}));
  EXPECT_EQ(xdg.metricsFolder, "/home/u/.local/state/Sorvane");  // relative XDG values are ignored

  EXPECT_EQ(Paths::fromEnvironment(env({}), passwd).home, "/home/pw");
  EXPECT_EQ(Paths::fromEnvironment(env({{"HOME", "relative"}}), passwd).home, "/home/pw");
}

}  // namespace
}  // namespace sorvane

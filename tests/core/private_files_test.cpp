#include "core/private_files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

using testing::TempDir;

mode_t modeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(previous_); }

 private:
  mode_t previous_;
};

TEST(PrivateFiles, FoldersAndFilesArePrivateWhateverTheUmask) {
  for (mode_t mask : {mode_t{022}, mode_t{0}, mode_t{0277}}) {
    TempDir dir;
    ScopedUmask umask(mask);
    const std::string folder = dir.path() + "/state/Sorvane";
    ASSERT_EQ(appendLineToFile(folder, "turns.jsonl", "{}"), std::nullopt);
    EXPECT_EQ(modeOf(dir.path() + "/state"), 0700u) << "umask " << mask;
    EXPECT_EQ(modeOf(folder), 0700u) << "umask " << mask;
    EXPECT_EQ(modeOf(folder + "/turns.jsonl"), 0600u) << "umask " << mask;
  }
}

TEST(PrivateFiles, LooseModesOfOurOwnFolderAndFileAreTightened) {
  TempDir dir;
  const std::string folder = dir.path() + "/Mirla";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  dir.write("Mirla/history.jsonl", "{}\n");
  ASSERT_EQ(::chmod((folder + "/history.jsonl").c_str(), 0644), 0);
  ASSERT_EQ(appendLineToFile(folder, "history.jsonl", "{}"), std::nullopt);
  EXPECT_EQ(modeOf(folder), 0700u);
  EXPECT_EQ(modeOf(folder + "/history.jsonl"), 0600u);
}

TEST(PrivateFiles, LineAfterATornTailStartsOnItsOwnLine) {
  TempDir dir;
  dir.write("log.jsonl", "{\"a\":1}\n{\"b\":");
  ASSERT_EQ(appendLineToFile(dir.path(), "log.jsonl", "{\"c\":3}"), std::nullopt);
  EXPECT_EQ(dir.read("log.jsonl"), "{\"a\":1}\n{\"b\":\n{\"c\":3}\n");
}

TEST(PrivateFiles, AppendCutShortByTheFileSizeLimitLeavesNoHalfLine) {
  TempDir dir;
  const std::string before = "{\"first\":1}\n";
  dir.write("log.jsonl", before);
  const std::string longLine(4096, 'x');
  // In a child: a file-size limit just above the current size makes the write short.
  const int status = testing::runInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    limit.rlim_cur = before.size() + 100;
    limit.rlim_max = RLIM_INFINITY;
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
    auto error = appendLineToFile(dir.path(), "log.jsonl", longLine);
    return error ? 0 : 2;
  });
  ASSERT_EQ(status, 0) << "the cut-short append must report an error";
  EXPECT_EQ(dir.read("log.jsonl"), before);
  ASSERT_EQ(appendLineToFile(dir.path(), "log.jsonl", "{\"next\":2}"), std::nullopt);
  EXPECT_EQ(dir.read("log.jsonl"), before + "{\"next\":2}\n");
}

TEST(PrivateFiles, ErrorsAreDescribedNotThrown) {
  TempDir dir;
  dir.write("plain", "");
  auto error = appendLineToFile(dir.path() + "/plain", "x.jsonl", "{}");
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("plain"), std::string::npos);
  ASSERT_EQ(::mkdir(dir.file("folder.jsonl").c_str(), 0700), 0);
  EXPECT_TRUE(appendLineToFile(dir.path(), "folder.jsonl", "{}"));
}

TEST(PrivateFiles, ConcurrentAppendersNeverInterleaveWithinALine) {
  TempDir dir;
  constexpr int kWriters = 6;
  constexpr int kLinesEach = 300;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      // Long lines make a torn or interleaved write visible.
      const std::string body(1500 + w * 97, static_cast<char>('a' + w));
      for (int i = 0; i < kLinesEach; ++i) {
        appendLineToFile(dir.path(), "log.jsonl", std::to_string(w) + ":" + std::to_string(i) + ":" + body);
      }
    });
  }
  for (auto& writer : writers) writer.join();
  const std::string content = dir.read("log.jsonl");
  std::vector<int> seen(kWriters * kLinesEach, 0);
  std::size_t start = 0;
  int lines = 0;
  while (start < content.size()) {
    const std::size_t end = content.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = content.substr(start, end - start);
    const int w = std::stoi(line);
    const int i = std::stoi(line.substr(line.find(':') + 1));
    const std::string body = line.substr(line.find(':', line.find(':') + 1) + 1);
    ASSERT_EQ(body, std::string(1500 + w * 97, static_cast<char>('a' + w))) << "line " << lines;
    ++seen[w * kLinesEach + i];
    ++lines;
    start = end + 1;
  }
  EXPECT_EQ(lines, kWriters * kLinesEach);
  for (int count : seen) EXPECT_EQ(count, 1);
}

}  // namespace
}  // namespace sorvane

#include "learning/mirla_data_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/paths.h"
#include "core/turn_metrics.h"
#include "core/unicode_text.h"
#include "learning/tail_reader.h"
#include "support/child_process.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using testing::LogCapture;
using testing::TempDir;
using testing::VirtualDispatcher;

std::string repeat(std::string_view unit, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += unit;
  return out;
}

mode_t modeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

MirlaTurnRecord turn(std::string id, std::string finalText = "今天下午三点开会。") {
  MirlaTurnRecord record;
  record.id = std::move(id);
  record.rawText = "今天下午三点开会";
  record.finalText = std::move(finalText);
  record.context.appName = "微信";
  record.context.bundleIdentifier = "com.tencent.xinWeChat";
  record.mode = "dictation";
  record.asrProvider = "qwen3-asr-flash-realtime";
  record.refineProvider = "local-fastpath";
  record.status = "pasted";
  return record;
}

MirlaFeedbackAnalysis analysisWith(std::vector<std::string> terms, double confidence = 0.9) {
  MirlaFeedbackAnalysis analysis;
  analysis.provider = "deepseek-feedback-analyzer";
  analysis.summary = "英文产品名识别错误";
  analysis.likelyIssue = "asr_proper_noun";
  analysis.dictionaryTerms = std::move(terms);
  analysis.strategy = "保留专名";
  analysis.confidence = confidence;
  return analysis;
}

class MirlaDataStoreTest : public ::testing::Test {
 protected:
  MirlaDataStoreTest() : paths_(Paths::underHome(home_.path(), home_.file("sorvane.log"))) {}

  MirlaDataStore& store() {
    if (!store_) store_ = std::make_unique<MirlaDataStore>(dispatcher_, paths_);
    return *store_;
  }
  std::string data(const std::string& name) const { return paths_.dataFolder + "/" + name; }
  void writeData(const std::string& name, const std::string& content) const {
    ::mkdir((home_.path() + "/.local").c_str(), 0700);
    ::mkdir((home_.path() + "/.local/share").c_str(), 0700);
    ::mkdir(paths_.dataFolder.c_str(), 0700);
    const int fd = ::open(data(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
  }
  std::string readData(const std::string& name) const {
    std::string content;
    const int fd = ::open(data(name).c_str(), O_RDONLY);
    if (fd < 0) return content;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return content;
  }
  std::vector<std::string> dataFiles() const {
    std::vector<std::string> names;
    if (DIR* folder = ::opendir(paths_.dataFolder.c_str())) {
      while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
      }
      ::closedir(folder);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir home_;
  Paths paths_;
  VirtualDispatcher dispatcher_;
  LogCapture log_;
  std::unique_ptr<MirlaDataStore> store_;
};

TEST_F(MirlaDataStoreTest, RecordTurnTakesDurationsFromTheMetricsAndReadsBackNewestFirst) {
  TurnMetrics metrics(dispatcher_.clock(), paths_.metricsFolder, "TURN-1");
  dispatcher_.advance(100ms);
  metrics.mark("recordingShown");
  dispatcher_.advance(2000ms);
  metrics.mark("stopRequested");
  dispatcher_.advance(300ms);
  metrics.mark("refineStart");
  dispatcher_.advance(400ms);
  metrics.mark("refineDone");
  dispatcher_.advance(50ms);
  metrics.mark("pasteDone");
  MirlaTurnRecord first = turn("TURN-1", repeat("长", 3601));
  first.audioPath = paths_.audioFolder + "/TURN-1.wav";
  const MirlaHistoryEntry written = store().recordTurn(first, metrics);
  EXPECT_EQ(written.recordingMs, 2000);
  EXPECT_EQ(written.stopToPasteMs, 750);
  EXPECT_EQ(written.refineMs, 400);
  EXPECT_EQ(written.totalMs, 2850);
  EXPECT_EQ(written.finalChars, 3601);  // the delivered text, not the stored clip
  EXPECT_EQ(text::graphemeCount(written.finalText), 3600u);
  EXPECT_EQ(written.createdAtMs, dispatcher_.clock().wallMilliseconds());
  EXPECT_EQ(written.scene, std::string(first.context.scene()));
  EXPECT_EQ(written.inputBoxIdentifier, first.context.inputBoxIdentifier());

  TurnMetrics empty(dispatcher_.clock(), paths_.metricsFolder, "TURN-2");
  const MirlaHistoryEntry second = store().recordTurn(turn("TURN-2"), empty);
  EXPECT_EQ(second.recordingMs, 0);
  EXPECT_EQ(second.totalMs, 0);

  const auto history = store().recentHistory(10);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0], second);
  EXPECT_EQ(history[1], written);
  EXPECT_EQ(store().recentHistory(1), std::vector<MirlaHistoryEntry>{second});
  EXPECT_TRUE(store().recentHistory(0).empty());
}

TEST_F(MirlaDataStoreTest, ManualFeedbackRecord) {
  InputContext context;
  context.appName = "Code";
  const auto entry = store().recordManualFeedback(repeat("原", 2601), "最终", "最终", context,
                                                  "用户从菜单手动记录了上一条结果，等待后续复盘。", std::nullopt,
                                                  std::string("/a.wav"));
  EXPECT_EQ(text::graphemeCount(entry.rawText), 2600u);
  EXPECT_EQ(entry.status, "manual-feedback");
  EXPECT_DOUBLE_EQ(entry.confidence, 0.4);
  EXPECT_FALSE(entry.turnID);
  EXPECT_FALSE(entry.oldSegment);
  EXPECT_EQ(entry.learnedTerm, "");
  EXPECT_EQ(entry.strategySuggestion, "用户从菜单手动记录了上一条结果，等待后续复盘。");
  EXPECT_EQ(entry.id.size(), 36u);
  EXPECT_EQ(store().feedbackEntries(5), std::vector<MirlaFeedbackEntry>{entry});
}

TEST_F(MirlaDataStoreTest, DashboardCountsOnlyTheLastTwoThousandAndSkipsBadLinesLoggingThemOnce) {
  std::string history;
  for (int i = 0; i < 2500; ++i) {
    MirlaHistoryEntry entry;
    entry.id = "T" + std::to_string(i);
    entry.createdAtMs = dispatcher_.clock().wallMilliseconds() - 100;
    entry.finalChars = i < 500 ? 1000 : 1;
    history += encodeRecordLine(entry) + "\n";
    if (i == 2200) history += "{\"id\":\"torn\n";
    if (i == 2300) history += "{\"id\":\"\xff\xfe\",\"x\":1}\n\n";
  }
  writeData("history.jsonl", history);
  writeData("feedback.jsonl", "not json\n" + encodeRecordLine(MirlaFeedbackEntry{}) + "\n");
  const MirlaDashboardStats stats = store().dashboardStats();
  // The last 2000 pieces hold two undecodable lines.
  EXPECT_EQ(stats.turnCount, 1998);
  EXPECT_EQ(stats.totalChars, 1998);
  EXPECT_EQ(stats.feedbackCount, 1);
  EXPECT_EQ(store().dashboardStats(), stats);
  EXPECT_EQ(log_.count("mirla data skipped undecodable lines file=history.jsonl count=2"), 1u);
  EXPECT_EQ(log_.count("mirla data skipped undecodable lines file=feedback.jsonl count=1"), 1u);
  EXPECT_EQ(store().recentHistory(3).front().id, "T2499");
}

TEST_F(MirlaDataStoreTest, AnUnreadableFileReadsAsEmptyAndIsLoggedOnce) {
  store();
  ASSERT_EQ(::mkdir(data("history.jsonl").c_str(), 0700), 0);  // a folder where the file should be
  EXPECT_TRUE(store().recentHistory(10).empty());
  EXPECT_EQ(store().dashboardStats().turnCount, 0);
  EXPECT_EQ(log_.count("mirla data read failed history.jsonl"), 1u);
  TurnMetrics metrics(dispatcher_.clock(), paths_.metricsFolder);
  store().recordTurn(turn("T"), metrics);
  EXPECT_EQ(log_.count("mirla data append failed history.jsonl"), 1u);
  // The other files are unaffected.
  store().recordManualFeedback("r", "f", "f", {}, "note", std::nullopt, std::nullopt);
  EXPECT_EQ(store().feedbackEntries(1).size(), 1u);
}

TEST_F(MirlaDataStoreTest, ARecordAfterATornTailReadsBack) {
  MirlaHistoryEntry old;
  old.id = "OLD";
  writeData("history.jsonl", encodeRecordLine(old) + "\n" + encodeRecordLine(old).substr(0, 30));
  TurnMetrics metrics(dispatcher_.clock(), paths_.metricsFolder);
  store().recordTurn(turn("NEW"), metrics);
  const auto history = store().recentHistory(10);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].id, "NEW");
  EXPECT_EQ(history[1].id, "OLD");
}

TEST_F(MirlaDataStoreTest, AnAppendCutShortByTheFileSizeLimitLosesOnlyThatRecord) {
  TurnMetrics metrics(dispatcher_.clock(), paths_.metricsFolder);
  store().recordTurn(turn("FIRST"), metrics);
  const std::string before = readData("history.jsonl");
  const int status = testing::runInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    limit.rlim_cur = before.size() + 64;
    limit.rlim_max = RLIM_INFINITY;
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
    LogCapture childLog;
    VirtualDispatcher childDispatcher;
    MirlaDataStore childStore(childDispatcher, paths_);
    TurnMetrics childMetrics(childDispatcher.clock(), paths_.metricsFolder);
    childStore.recordTurn(turn("TOO-LONG", repeat("字", 500)), childMetrics);
    return childLog.count("mirla data append failed history.jsonl cannot write") == 1 ? 0 : 2;
  });
  ASSERT_EQ(status, 0);
  EXPECT_EQ(readData("history.jsonl"), before);
  store().recordTurn(turn("NEXT"), metrics);
  const auto history = store().recentHistory(10);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].id, "NEXT");
  EXPECT_EQ(history[1].id, "FIRST");
}

TEST_F(MirlaDataStoreTest, FilesAndFoldersArePrivateUnderUmask022) {
  const mode_t previous = ::umask(022);
  TurnMetrics metrics(dispatcher_.clock(), paths_.metricsFolder);
  store().recordTurn(turn("T"), metrics);
  store().recordManualFeedback("r", "f", "f", {}, "note", std::nullopt, std::nullopt);
  store().addDictionaryTerm("Claude", "manual");
  metrics.finish("pasted");
  ::umask(previous);
  EXPECT_EQ(modeOf(paths_.dataFolder), 0700u);
  EXPECT_EQ(modeOf(paths_.audioFolder), 0700u);
  EXPECT_EQ(modeOf(paths_.metricsFolder), 0700u);
  for (const char* name : {"history.jsonl", "feedback.jsonl", "dictionary.json"}) EXPECT_EQ(modeOf(data(name)), 0600u);
  EXPECT_EQ(modeOf(paths_.metricsFolder + "/turns.jsonl"), 0600u);
}

TEST_F(MirlaDataStoreTest, DictionaryTermsAddUpdateAndFeedTheCorpus) {
  EXPECT_EQ(store().dictionaryCorpusText(90), "");
  EXPECT_EQ(store().dictionaryCorpusCount(90), 0u);
  EXPECT_FALSE(store().addDictionaryTerm("12345", "manual"));
  EXPECT_FALSE(store().addDictionaryTerm("Processing", "manual"));
  EXPECT_TRUE(dataFiles().empty() || dataFiles() == std::vector<std::string>{"audio"});

  const auto added = store().addDictionaryTerm("这个 Claude。", "manual", std::string("用户在 Mirla 面板手动添加"));
  ASSERT_TRUE(added);
  EXPECT_EQ(added->term, "Claude");
  EXPECT_EQ(added->count, 1);
  EXPECT_TRUE(log_.contains("dictionary term added term=Claude source=manual"));
  dispatcher_.advance(10ms);
  store().addDictionaryTerm("Codex", "llm-feedback");
  dispatcher_.advance(10ms);
  // Another case updates the existing term: its text and source stay, a new reason wins.
  const auto updated = store().addDictionaryTerm("CLAUDE", "llm-feedback", std::string("再次确认"));
  ASSERT_TRUE(updated);
  EXPECT_EQ(updated->term, "Claude");
  EXPECT_EQ(updated->source, "manual");
  EXPECT_EQ(updated->count, 2);
  EXPECT_EQ(updated->reason, "再次确认");
  EXPECT_EQ(updated->createdAtMs, added->createdAtMs);
  EXPECT_EQ(updated->updatedAtMs, added->createdAtMs + 20);
  dispatcher_.advance(10ms);
  EXPECT_EQ(store().addDictionaryTerm("claude", "x")->reason, "再次确认");  // an empty reason keeps the old one

  const auto terms = store().dictionaryTerms();
  ASSERT_EQ(terms.size(), 2u);
  EXPECT_EQ(terms[0].term, "Claude");
  EXPECT_EQ(store().dictionaryTermTexts(), (std::vector<std::string>{"Claude", "Codex"}));
  store().addDictionaryTerm("林晓", "manual");
  EXPECT_EQ(store().dictionaryCorpusText(90), "Claude, 林晓, Codex");  // by count, then newest
  EXPECT_EQ(store().dictionaryCorpusText(1), "Claude");
  EXPECT_EQ(store().dictionaryCorpusText(0), "");
  EXPECT_EQ(store().dictionaryCorpusCount(2), 2u);
  EXPECT_EQ(store().dictionaryCorpusCount(90), 3u);
  const std::vector<std::string> candidates{"codex", "“Gemini”", "Gemini", "1234", "Qwen3-ASR"};
  EXPECT_EQ(store().newDictionaryTerms(candidates), (std::vector<std::string>{"Gemini", "Qwen3-ASR"}));
  const auto file = decodeDictionaryFile(readData("dictionary.json"));
  EXPECT_FALSE(file.damaged);
  EXPECT_EQ(file.file.candidates, (std::map<std::string, int64_t>{{"Claude", 1}, {"Codex", 1}, {"林晓", 1}}));
}

TEST_F(MirlaDataStoreTest, ADamagedDictionaryIsKeptAsideByteForByteBeforeTheNextSave) {
  DictionaryFile file;
  for (int i = 0; i < 200; ++i) file.terms.push_back({"Term" + std::to_string(i), "manual", std::nullopt, 1, i, i});
  std::string damaged = toJsonLine(toJson(file));
  // One term loses its count.
  const std::string count = "\"count\":1,";
  damaged.erase(damaged.find(count), count.size());
  writeData("dictionary.json", damaged);

  EXPECT_EQ(store().dictionaryTerms().size(), 199u);  // what decodes is still used
  EXPECT_EQ(store().dictionaryTerms().size(), 199u);
  EXPECT_EQ(log_.count("dictionary file damaged"), 1u);
  ASSERT_TRUE(store().addDictionaryTerm("Claude", "manual"));
  const std::string backup = "dictionary.json.bad-" + std::to_string(dispatcher_.clock().wallMilliseconds());
  EXPECT_EQ(readData(backup), damaged);
  EXPECT_TRUE(log_.contains("dictionary damaged file kept path=" + data(backup)));
  const auto saved = decodeDictionaryFile(readData("dictionary.json"));
  EXPECT_FALSE(saved.damaged);
  EXPECT_EQ(saved.file.terms.size(), 200u);
  // Healthy again: the next save keeps nothing aside.
  dispatcher_.advance(5ms);
  store().addDictionaryTerm("Codex", "manual");
  EXPECT_EQ(dataFiles(), (std::vector<std::string>{"audio", "dictionary.json", backup}));
}

TEST_F(MirlaDataStoreTest, AnUnreadableDictionaryIsMovedAsideAndAMissingOneIsEmpty) {
  store();
  ASSERT_EQ(::mkdir(data("dictionary.json").c_str(), 0700), 0);
  writeData("dictionary.json/inside", "x");
  EXPECT_TRUE(store().dictionaryTerms().empty());
  ASSERT_TRUE(store().addDictionaryTerm("Claude", "manual"));
  const std::string backup = "dictionary.json.bad-" + std::to_string(dispatcher_.clock().wallMilliseconds());
  EXPECT_EQ(readData(backup + "/inside"), "x");
  EXPECT_EQ(store().dictionaryTermTexts(), std::vector<std::string>{"Claude"});
}

TEST_F(MirlaDataStoreTest, AProcessKilledDuringASaveLeavesTheOldOrTheNewDictionary) {
  DictionaryFile file;
  for (int i = 0; i < 3000; ++i) {
    file.terms.push_back({"Term" + std::to_string(i), "manual", std::string(repeat("理由", 20)), 1, i, i});
  }
  writeData("dictionary.json", toJsonLine(toJson(file)));
  std::mt19937 random(7);
  for (int round = 0; round < 12; ++round) {
    const pid_t child = testing::startChild([&] {
      VirtualDispatcher childDispatcher;
      MirlaDataStore childStore(childDispatcher, paths_);
      for (int i = 0;; ++i) childStore.addDictionaryTerm("Round" + std::to_string(round) + "x" + std::to_string(i), "manual");
      return 0;
    });
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 40));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    const auto decoded = decodeDictionaryFile(readData("dictionary.json"));
    ASSERT_FALSE(decoded.damaged) << "round " << round;
    ASSERT_GE(decoded.file.terms.size(), 3000u);
  }
  // Temporary files left by the kills are swept once they are old (here: at once, by
  // moving the clock past the limit).
  dispatcher_.virtualClock().setElapsed(int64_t{365} * 86'400'000 * 30);
  store().addDictionaryTerm("Final", "manual");
  for (const auto& name : dataFiles()) EXPECT_TRUE(name == "audio" || name == "dictionary.json") << name;
}

TEST(TailReader, ReadsTheLastLinesAcrossBlocks) {
  TempDir dir;
  const std::string big(70'000, 'b');  // longer than one read block
  dir.write("f", "first\n" + big + "\n\nthird\nlast-without-newline");
  const TailLines all = readLastLines(dir.file("f"), 10);
  ASSERT_FALSE(all.error);
  ASSERT_EQ(all.lines.size(), 4u);
  EXPECT_EQ(all.lines[0].text, "first");
  EXPECT_EQ(all.lines[0].offset, 0u);
  EXPECT_EQ(all.lines[1].text, big);
  EXPECT_EQ(all.lines[1].offset, 6u);
  EXPECT_EQ(all.lines[2].text, "third");
  EXPECT_EQ(all.lines[3].text, "last-without-newline");
  const TailLines two = readLastLines(dir.file("f"), 2);
  ASSERT_EQ(two.lines.size(), 2u);
  EXPECT_EQ(two.lines[0].text, "third");
  EXPECT_TRUE(readLastLines(dir.file("f"), 0).lines.empty());
  EXPECT_TRUE(readLastLines(dir.file("missing"), 5).missing);

  // A runaway line is reported by offset without its text.
  dir.write("g", "a\n" + std::string(kMaxLineBytes + 10, 'x') + "\nz\n");
  const TailLines runaway = readLastLines(dir.file("g"), 5);
  ASSERT_EQ(runaway.lines.size(), 3u);
  EXPECT_EQ(runaway.lines[0].text, "a");
  EXPECT_TRUE(runaway.lines[1].oversized);
  EXPECT_TRUE(runaway.lines[1].text.empty());
  EXPECT_EQ(runaway.lines[1].offset, 2u);
  EXPECT_EQ(runaway.lines[2].text, "z");
}

// --- term learning ---

class TermLearningStoreTest : public MirlaDataStoreTest {
 protected:
  std::optional<LearningResult> learn(std::string_view finalText, std::string_view edited,
                                      const std::optional<MirlaFeedbackAnalysis>& analysis,
                                      std::string_view raw = "原始识别") {
    InputContext context;
    context.appName = "Code";
    return store().learnFromEdit(raw, finalText, edited, context, std::string("TURN-9"), std::nullopt, "return-key",
                                 analysis);
  }
};

TEST_F(TermLearningStoreTest, ACorrectionWithAnAnalysisLearnsItsTerms) {
  const auto result = learn("你觉得 Cloud 好还是 Kodak 好？", "你觉得 Claude 好还是 Codex 好？",
                            analysisWith({"Claude", "Codex", "claude", "123"}));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->learnedTerms, "Claude, Codex");
  EXPECT_EQ(result->message, "检测到可能识别错误，已加入词典：Claude, Codex");
  EXPECT_DOUBLE_EQ(result->confidence, 0.9);
  const auto terms = store().dictionaryTerms();
  ASSERT_EQ(terms.size(), 2u);
  EXPECT_EQ(terms[0].source, "llm-feedback");
  EXPECT_EQ(terms[0].reason, "英文产品名识别错误；类型：asr_proper_noun；策略：保留专名");
  const auto feedback = store().feedbackEntries(5);
  ASSERT_EQ(feedback.size(), 1u);
  const MirlaFeedbackEntry& entry = feedback[0];
  EXPECT_EQ(entry.status, "llm-learned-dictionary-terms");
  EXPECT_EQ(entry.turnID, "TURN-9");
  EXPECT_EQ(entry.learnedTerm, "Claude, Codex");
  EXPECT_EQ(entry.oldSegment, "oud 好还是 Kodak");
  EXPECT_EQ(entry.newSegment, "aude 好还是 Codex");
  EXPECT_EQ(entry.strategySuggestion,
            "Mirla 分析：结论：英文产品名识别错误；类型：asr_proper_noun；词典：Claude, Codex, claude, 123；"
            "策略：保留专名；已加入词典：Claude, Codex 触发：return-key。原因：用户修正了英文/产品/技术词，优先判断为专有词识别错误。");
  EXPECT_EQ(entry.appName, "Code");

  // The same terms again, in another case: counted up, not duplicated.
  dispatcher_.advance(1ms);
  learn("用 Cloud 写代码", "用 Claude 写代码", analysisWith({"CLAUDE"}));
  EXPECT_EQ(store().dictionaryTerms()[0].term, "Claude");
  EXPECT_EQ(store().dictionaryTerms()[0].count, 2);
}

TEST_F(TermLearningStoreTest, EditsThatAreNotEvidenceLearnNothing) {
  // Unrelated replacement: nothing learnt, nothing written.
  EXPECT_FALSE(learn("今天下午三点开会讨论预算", "明早九点去机场接人吧", analysisWith({"Claude"})));
  EXPECT_FALSE(learn("好", "好的", analysisWith({"Claude"})));         // too short
  EXPECT_FALSE(learn(" 相同文本 ", "相同文本", analysisWith({"Claude"})));  // equal once trimmed
  EXPECT_TRUE(store().feedbackEntries(5).empty());
  EXPECT_TRUE(store().dictionaryTerms().empty());

  // An echo of the dictionary is ignored.
  for (const char* term : {"Claude", "Codex", "DeepSeek", "Qwen3-ASR"}) store().addDictionaryTerm(term, "manual");
  EXPECT_FALSE(learn("Claude, Codex", "Claude, Codex, DeepSeek, Qwen3-ASR", analysisWith({"Gemini"})));
  EXPECT_TRUE(log_.contains("edit learning ignored personal dictionary echo turn=TURN-9"));
  EXPECT_TRUE(store().feedbackEntries(5).empty());
}

TEST_F(TermLearningStoreTest, AnInsertionOnlyEditIsRecordedWithoutTerms) {
  const std::string paste = repeat("今天开会讨论方案和预算。", 8) + "四个字吧";  // 100 characters
  ASSERT_EQ(text::graphemeCount(paste), 100u);
  const auto result = learn(paste, paste + "另外请 Orrin 明天发一下纪要。", analysisWith({"Orrin"}));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->learnedTerms, "");
  EXPECT_EQ(result->message, "已记录这次修改，后续可作为策略优化样本。");
  EXPECT_TRUE(store().dictionaryTerms().empty());
  EXPECT_TRUE(log_.contains("edit learning treated as insertion-only turn=TURN-9"));
  const auto entry = store().feedbackEntries(1).at(0);
  EXPECT_EQ(entry.status, "llm-captured-feedback");
  EXPECT_EQ(entry.oldSegment, "");
  EXPECT_NE(entry.strategySuggestion.find("；本次修改是纯新增内容，不作为 ASR 纠错加词。 触发：return-key"), std::string::npos);
}

TEST_F(TermLearningStoreTest, WithoutAnAnalysisOrItsReasonTheEditReasonIsUsed) {
  const auto none = learn("改到8点开会", "改到9点开会", std::nullopt);
  ASSERT_TRUE(none);
  EXPECT_DOUBLE_EQ(none->confidence, 0.46);
  const auto entry = store().feedbackEntries(1).at(0);
  EXPECT_EQ(entry.status, "captured-edit-feedback-no-llm");
  EXPECT_EQ(entry.strategySuggestion,
            "用户修改了 Mirla 输出，但本次没有可用的 Mirla 分析；仅记录样本，不加入词典。 触发：return-key。"
            "原因：用户修正了数字、时间或数量，优先判断为关键数值识别错误。");

  MirlaFeedbackAnalysis bare;
  bare.dictionaryTerms = {"Claude"};
  bare.confidence = 0.7;
  const auto learned = learn("问一下 Cloud", "问一下 Claude", bare);
  ASSERT_TRUE(learned);
  EXPECT_EQ(store().dictionaryTerms().at(0).reason, "用户修正了英文/产品/技术词，优先判断为专有词识别错误。");
  EXPECT_EQ(store().feedbackEntries(1).at(0).strategySuggestion.rfind("Mirla 分析：词典：Claude；已加入词典：Claude 触发", 0), 0u);
}

TEST_F(TermLearningStoreTest, ConfirmedPassiveTermsAreAddedOnce) {
  store().addDictionaryTerm("Codex", "manual");
  dispatcher_.advance(1ms);
  const std::vector<std::string> suggested{"codex", "Qwen3-ASR", "林晓"};
  MirlaFeedbackAnalysis analysis = analysisWith({"Qwen3-ASR", "林晓"}, 0.8);
  analysis.summary = "DeepSeek 建议加入";
  const auto result =
      store().confirmPassiveDictionaryTerms(suggested, "raw", "最终文本", {}, std::string("T"), std::nullopt, analysis);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->learnedTerms, "Qwen3-ASR, 林晓");
  EXPECT_EQ(result->message, "已加入词典：Qwen3-ASR, 林晓");
  EXPECT_DOUBLE_EQ(result->confidence, 0.8);
  EXPECT_EQ(store().dictionaryTerms().at(0).source, "llm-passive-confirmed");
  const auto entry = store().feedbackEntries(1).at(0);
  EXPECT_EQ(entry.status, "llm-passive-dictionary-confirmed");
  EXPECT_FALSE(entry.oldSegment);
  EXPECT_EQ(entry.newSegment, "Qwen3-ASR, 林晓");
  EXPECT_EQ(entry.finalText, "最终文本");
  EXPECT_EQ(entry.editedText, "最终文本");
  EXPECT_EQ(entry.strategySuggestion.rfind("Mirla 建议加入词典，用户已确认。结论：Mirla 建议加入；", 0), 0u);
  // Nothing new: nothing written.
  EXPECT_FALSE(store().confirmPassiveDictionaryTerms(suggested, "raw", "最终文本", {}, std::nullopt, std::nullopt, analysis));
  EXPECT_EQ(store().feedbackEntries(5).size(), 1u);
}

}  // namespace
}  // namespace sorvane

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/unicode_text.h"
#include "postprocess/mode_prompts.h"
#include "postprocess/recording_mode.h"
#include "postprocess/refine_profile.h"

namespace sorvane {
namespace {

TEST(RefineProfile, NamedPresets) {
  struct Case {
    const char* given;
    const char* id;
    double timeout;
    int maxTokens;
    bool includeContext;
    const char* structureMode;
    const char* styleMode;
    bool protectKeyTerms;
    bool allowWorker;
  } cases[] = {
      {"baseline", "baseline", 8.0, 420, false, "legacy", "legacy", false, true},
      {"context-lite", "context-lite", 7.5, 480, true, "conservative", "verbatim-contextual", true, true},
      {"context-structure", "context-structure", 7.5, 560, true, "aggressive", "structured", true, true},
      {"Context-Guarded-V4", "context-guarded-v4", 7.5, 520, true, "balanced", "verbatim-contextual", true, true},
      {"context-policy-v6", "context-policy-v6", 7.5, 520, true, "balanced", "verbatim-contextual", true, true},
      {"local-guard", "local-guard", 0, 0, true, "balanced", "local", true, false},
      {"context-policy-v7", "context-policy-v7-murmly-structured", 4.5, 620, true, "balanced",
       "verbatim-contextual", true, true},
      {"no-such-profile", "context-policy-v7-murmly-structured", 4.5, 620, true, "balanced", "verbatim-contextual",
       true, true},
      {"", "context-policy-v7-murmly-structured", 4.5, 620, true, "balanced", "verbatim-contextual", true, true},
  };
  for (const auto& c : cases) {
    const RefineProfile p = RefineProfile::named(c.given);
    EXPECT_EQ(p.id, c.id) << c.given;
    EXPECT_EQ(p.remoteTimeout, c.timeout) << c.given;
    EXPECT_EQ(p.maxTokens, c.maxTokens) << c.given;
    EXPECT_EQ(p.includeContext, c.includeContext) << c.given;
    EXPECT_EQ(p.structureMode, c.structureMode) << c.given;
    EXPECT_EQ(p.styleMode, c.styleMode) << c.given;
    EXPECT_EQ(p.protectKeyTerms, c.protectKeyTerms) << c.given;
    EXPECT_EQ(p.allowWorker, c.allowWorker) << c.given;
  }
  EXPECT_EQ(RefineProfile::named().id, "context-policy-v7-murmly-structured");
}

InputContext contextWithBundle(const char* bundle) {
  InputContext context;
  context.bundleIdentifier = bundle;
  return context;
}

TEST(RefineProfile, SystemPromptGolden) {
  const InputContext workChat = contextWithBundle("com.electron.lark");
  const InputContext developer = contextWithBundle("org.gnome.Terminal");

  EXPECT_EQ(RefineProfile::named().systemPrompt(workChat),
      "你是一个接近 Murmly 体验的 Linux 全局语音输入法后处理模型。\n"
      "你会收到 ASR 原始文本，以及类似 Murmly 的 audioContext/focusedInput/appInfo/modeMeta/clientMetadata。你的任务不是创作，而是把用户刚说的话变成可以直接粘贴到当前输入框的文本。\n"
      "硬性约束：保留用户原意、语气、情绪、否定、数字、日期、金额、专有名词、英文术语、粗口和攻击性表达。\n"
      "禁止：总结、扩写、翻译、审查、弱化、删除脏话、替用户增加事实或承诺。\n"
      "允许：纠正 ASR 同音错字、专有名词、标点、断句、明显重复片段；删除独立的“嗯、呃、额、啊、呀”等无意义停顿词；删除已经被后文纠正的 false start；在不改含义的前提下做轻量结构化和温和表达增强。\n"
      "显式自我纠错：当用户说“X，不对/说错了/不是，应该是/是/改成 Y”时，X 是被用户废弃的旧值，最终文本要融合成只含 Y 的自然句。例如“我想把这个会订到八点，不对，是九点”应输出“我把会议订到九点”。不能把 X 当成必须保留的数字或事实。\n"
      "温和表达增强：可以删除“其实、就是、我觉得吧、怎么说呢、这个东西”等不承载信息的口水话；可以把明显不连贯的口语碎片整理成更顺的书面口语；可以把“想干嘛”改成“想干什么”。但不能改变判断强弱、因果关系、责任主体、数字、否定和情绪。\n"
      "口语清理边界：只能让文本更干净利索、更连贯，不能改变用户原始问题、请求、判断、态度、强弱语气或措辞含义；拿不准时宁可保留。\n"
      "语气和言语行为保护：如果原文包含“我觉得、我想问一下、是不是、能不能、可不可以、要不要、吧、吗、呢、对吗、你觉得、是不是可以”等试探、征求意见、疑问或弱判断标记，最终文本必须保持这种不确定/商量语气，不能改成命令、强结论或祈使句。例如“我觉得功能差不多了吧，可以上线了吧”应保持为“我觉得功能差不多了吧，可以上线了吧？”而不是“功能差不多了，可以上线了。”\n"
      "上下文优先级：1. focusedInput 的 selected_text/text_before_cursor/text_after_cursor/full_field_content；2. appInfo.visible_screen_content；3. browser_context/window_title；4. clientMetadata。上下文只用于消歧指代、专有名词、称呼和语境，不能把用户没说的话写进输出。\n"
      "标点策略：中文为主时使用中文标点；问句用问号；长口语按语义切逗号；中英混排保留英文原形并合理加空格；不要为了显得正式而改写用户语气。\n"
      "结构化策略：先判断“第一/第二/第三、首先/其次/最后”在语义里是不是清单项。只有用户真的在逐项列举问题、需求、步骤、风险、结论或说“流程如下/分别是/包括/列一下”时才编号；如果这些词只是被用户拿来询问、引用、比较、确认归属或讨论某一步，例如“是不是第一步和第二步你帮我做，第三步我自己准备”“第一和第二的区分不是很明显”，必须保持自然句，不要拆成 1/2/3。\n"
      "整体段落控制：先在心里判断这段话有几个意思单元，再决定段落数。短文本不分段；80-160 字通常 1-2 段；160-260 字通常 2-3 段；更长才 3-5 段。每段承载一个中心意思，避免最后只剩一个孤零零的小尾巴。\n"
      "长文本排版：优先在语义边界换段，而不是机械看转折词。常见边界包括：问题描述到结论、原因到动作、现状到风险、主观点到补充条件。分段只是视觉呈现，不能改变原意、语气或强弱。不要为了好看硬切，不要每句话都换行，不要主动加标题，除非用户明确说要背景/问题/方案/结论。\n"
      "技术词保护：保留用户说出的英文产品名、API、字段名和命令词，比如 Murmly、Codex、DeepSeek、Deepgram、Qwen3-ASR、JSONL、speechMs、refineMs、paste。不要把 paste 改成“粘贴进去”，除非用户原本就是中文表达。\n"
      "标点风格：不要使用破折号或过度书面化连接词，优先用中文逗号、句号、冒号和自然换行。\n"
      "明显列举时整理成编号列表；中长表达如果包含多个独立意思，可以按语义自然换成 2-5 个短段落，让阅读有呼吸感；不要主动加标题，除非用户明确说背景/问题/方案/结论等结构。普通表达保持自然段，不要过度提纲化。\n"
      "当前场景偏聊天/对话，输出要像用户直接打出来的话，少用公文腔。\n"
      "输出形态是聊天回复：去掉“跟他说/帮我回他”这类口头命令，只保留真正要发给对方的话；短句可以保持口语。\n"
      "上下文包括输入框附近文本和当前窗口最近可见文本。它可以用来理解用户追问的对象、消歧术语、承接上文概念。\n"
      "不能把上下文里没有被用户说出来的内容擅自加入输出；如果用户只说“这个概念/这个方案/刚才那个”，可以用上下文把指代对象写清楚，但不要复述整段上文。\n"
      "如果原文很短或是强情绪表达，宁可少改，也不要过度润色。\n"
      "输出只返回 JSON：{\"text\":\"最终文本\"}");
  EXPECT_EQ(RefineProfile::named("context-structure").systemPrompt(developer),
      "你是一个接近 Murmly 体验的 Linux 全局语音输入法后处理模型。\n"
      "你会收到 ASR 原始文本，以及类似 Murmly 的 audioContext/focusedInput/appInfo/modeMeta/clientMetadata。你的任务不是创作，而是把用户刚说的话变成可以直接粘贴到当前输入框的文本。\n"
      "硬性约束：保留用户原意、语气、情绪、否定、数字、日期、金额、专有名词、英文术语、粗口和攻击性表达。\n"
      "禁止：总结、扩写、翻译、审查、弱化、删除脏话、替用户增加事实或承诺。\n"
      "允许：纠正 ASR 同音错字、专有名词、标点、断句、明显重复片段；删除独立的“嗯、呃、额、啊、呀”等无意义停顿词；删除已经被后文纠正的 false start；在不改含义的前提下做轻量结构化和温和表达增强。\n"
      "显式自我纠错：当用户说“X，不对/说错了/不是，应该是/是/改成 Y”时，X 是被用户废弃的旧值，最终文本要融合成只含 Y 的自然句。例如“我想把这个会订到八点，不对，是九点”应输出“我把会议订到九点”。不能把 X 当成必须保留的数字或事实。\n"
      "温和表达增强：可以删除“其实、就是、我觉得吧、怎么说呢、这个东西”等不承载信息的口水话；可以把明显不连贯的口语碎片整理成更顺的书面口语；可以把“想干嘛”改成“想干什么”。但不能改变判断强弱、因果关系、责任主体、数字、否定和情绪。\n"
      "口语清理边界：只能让文本更干净利索、更连贯，不能改变用户原始问题、请求、判断、态度、强弱语气或措辞含义；拿不准时宁可保留。\n"
      "语气和言语行为保护：如果原文包含“我觉得、我想问一下、是不是、能不能、可不可以、要不要、吧、吗、呢、对吗、你觉得、是不是可以”等试探、征求意见、疑问或弱判断标记，最终文本必须保持这种不确定/商量语气，不能改成命令、强结论或祈使句。例如“我觉得功能差不多了吧，可以上线了吧”应保持为“我觉得功能差不多了吧，可以上线了吧？”而不是“功能差不多了，可以上线了。”\n"
      "上下文优先级：1. focusedInput 的 selected_text/text_before_cursor/text_after_cursor/full_field_content；2. appInfo.visible_screen_content；3. browser_context/window_title；4. clientMetadata。上下文只用于消歧指代、专有名词、称呼和语境，不能把用户没说的话写进输出。\n"
      "标点策略：中文为主时使用中文标点；问句用问号；长口语按语义切逗号；中英混排保留英文原形并合理加空格；不要为了显得正式而改写用户语气。\n"
      "结构化策略：先判断“第一/第二/第三、首先/其次/最后”在语义里是不是清单项。只有用户真的在逐项列举问题、需求、步骤、风险、结论或说“流程如下/分别是/包括/列一下”时才编号；如果这些词只是被用户拿来询问、引用、比较、确认归属或讨论某一步，例如“是不是第一步和第二步你帮我做，第三步我自己准备”“第一和第二的区分不是很明显”，必须保持自然句，不要拆成 1/2/3。\n"
      "整体段落控制：先在心里判断这段话有几个意思单元，再决定段落数。短文本不分段；80-160 字通常 1-2 段；160-260 字通常 2-3 段；更长才 3-5 段。每段承载一个中心意思，避免最后只剩一个孤零零的小尾巴。\n"
      "长文本排版：优先在语义边界换段，而不是机械看转折词。常见边界包括：问题描述到结论、原因到动作、现状到风险、主观点到补充条件。分段只是视觉呈现，不能改变原意、语气或强弱。不要为了好看硬切，不要每句话都换行，不要主动加标题，除非用户明确说要背景/问题/方案/结论。\n"
      "技术词保护：保留用户说出的英文产品名、API、字段名和命令词，比如 Murmly、Codex、DeepSeek、Deepgram、Qwen3-ASR、JSONL、speechMs、refineMs、paste。不要把 paste 改成“粘贴进去”，除非用户原本就是中文表达。\n"
      "标点风格：不要使用破折号或过度书面化连接词，优先用中文逗号、句号、冒号和自然换行。\n"
      "如果出现第一/第二/第三、首先/其次/最后、几个问题/需求/步骤/风险/结论，优先整理成短编号列表；如果长段落包含背景/问题/风险/方案/建议/下一步，可用短小标题和空行分层；每一项保留原始含义，不补充新内容。\n"
      "当前场景偏技术开发，保留英文 API、文件名、命令、错误码和代码词。\n"
      "输出形态是技术输入：保留 API、模型名、文件名、URL、命令、英文大小写和版本号。\n"
      "上下文包括输入框附近文本和当前窗口最近可见文本。它可以用来理解用户追问的对象、消歧术语、承接上文概念。\n"
      "不能把上下文里没有被用户说出来的内容擅自加入输出；如果用户只说“这个概念/这个方案/刚才那个”，可以用上下文把指代对象写清楚，但不要复述整段上文。\n"
      "如果原文很短或是强情绪表达，宁可少改，也不要过度润色。\n"
      "输出只返回 JSON：{\"text\":\"最终文本\"}");

  const std::string baseline =
      "你是一个中文语音输入法的后处理模型。\n"
      "任务：修正 ASR 识别错误、同音错字、断句、标点、明显重复片段和口语填充词。\n"
      "口语清理：可以删除独立的“嗯、呃、额、啊、呀”等无意义停顿词，以及“说错了/不对”这类随后已被纠正的 false start；不能删除真实观点、情绪、否定、粗口或关键信息。\n"
      "显式自我纠错：如果用户说“八点，不对，是九点”“说错了，改成周五”，最终文本只保留修正后的值或句子，旧值视为废弃，不要同时保留。\n"
      "保持用户原意，不要扩写，不要总结，不要翻译。\n"
      "必须保留用户的真实语气、情绪、粗口、脏话、辱骂和攻击性表达；不要审查、淡化、替换成礼貌说法，也不要删除。\n"
      "如果用户明显在列举问题、需求、步骤或事项，整理成简洁编号列表；否则保持自然段。\n"
      "只返回 JSON：{\"text\":\"最终文本\"}";
  // The baseline prompt ignores the scene.
  EXPECT_EQ(RefineProfile::named("baseline").systemPrompt(workChat), baseline);
  EXPECT_EQ(RefineProfile::named("baseline").systemPrompt(developer), baseline);
}

TEST(RefineProfile, PromptLinesFollowSceneStyleAndStructure) {
  struct Case {
    const char* profile;
    const char* bundle;
    const char* expectedLine;
  } cases[] = {
      {"context-lite", "com.example.notes", "只有用户明确列举时才整理列表；长段落优先按语义自然换段，不主动加标题；普通口语保持自然段，避免过度书面化。"},
      {"context-lite", "com.example.notes", "当前场景普通，按自然输入法文本处理。"},
      {"context-lite", "com.example.notes", "输出形态是普通听写：按用户原话生成自然可读文本。"},
      {"context-guarded-v3", "com.apple.mail", "当前场景偏邮件，可以更清楚礼貌，但不能替用户新增承诺或事实。"},
      {"context-guarded-v3", "com.apple.mail", "输出形态是邮件正文：可以补齐礼貌断句和称呼大小写，但不能新增事实、承诺、收件人或没有说出口的内容。"},
      {"context-guarded-v3", "com.google.Chrome", "当前场景偏浏览器，优先利用页面标题和 URL 理解专有名词。"},
      {"context-guarded-v3", "com.openai.codex", "输出形态是 AI 对话输入：保留用户的追问、命令和强语气；如果用户追问“这个概念/第二点/刚才那个方案”，可以用上下文把指代对象点明。"},
  };
  for (const auto& c : cases) {
    const std::string prompt = RefineProfile::named(c.profile).systemPrompt(contextWithBundle(c.bundle));
    EXPECT_NE(prompt.find(std::string(c.expectedLine) + "\n"), std::string::npos) << c.bundle << " " << c.expectedLine;
  }
}

TEST(RefineProfile, WorkerInstruction) {
  const InputContext workChat = contextWithBundle("com.electron.lark");
  EXPECT_EQ(RefineProfile::named("baseline").workerInstruction(workChat),
            "保留用户原意、情绪、粗口、脏话和攻击性表达；只能纠错、断句和结构化，不能审查、弱化或删除原话。");
  const std::string instruction = RefineProfile::named("context-lite").workerInstruction(workChat);
  EXPECT_TRUE(instruction.starts_with("按 Linux 语音输入法后处理方式处理 rawTranscript。 利用 context/"));
  EXPECT_TRUE(instruction.ends_with(
      "不要随意翻成中文。 场景=work-chat，输出形态=direct_chat_reply，结构化策略=conservative。"));
}

}  // namespace
}  // namespace sorvane

namespace sorvane {
namespace {

// The texts a model reads describe this system as a Linux input method, nowhere another
// platform's.
TEST(RefineProfile, PromptsNameLinux) {
  const InputContext context = contextWithBundle("org.gnome.Terminal");
  std::vector<std::string> prompts;
  for (const char* id : {"baseline", "context-lite", "context-policy-v7-murmly-structured", "local-only"}) {
    const RefineProfile profile = RefineProfile::named(id);
    prompts.push_back(profile.systemPrompt(context));
    prompts.push_back(profile.workerInstruction(context));
  }
  prompts.push_back(translationSystemPrompt(context));
  for (VoiceStylePreset preset : VoiceStylePreset::all()) prompts.push_back(styleSystemPrompt(preset, context));
  for (const std::string& prompt : prompts) {
    EXPECT_FALSE(text::containsCaseInsensitive(prompt, "macos")) << prompt;
    EXPECT_FALSE(text::containsCaseInsensitive(prompt, "mac ")) << prompt;
  }
  EXPECT_TRUE(text::contains(RefineProfile::named().systemPrompt(context), "Linux 全局语音输入法"));
  EXPECT_TRUE(text::contains(translationSystemPrompt(context), "for a Linux voice input app"));
}

}  // namespace
}  // namespace sorvane

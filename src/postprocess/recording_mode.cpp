#include "postprocess/recording_mode.h"

namespace sorvane {
namespace {

struct PresetRow {
  VoiceStylePreset::Case value;
  std::string_view key;
  std::string_view hudTitle;
  std::string_view styleName;
  std::string_view instruction;
};

// Indexed by raw value - 1.
constexpr std::array<PresetRow, 8> kPresets{{
    {VoiceStylePreset::flirt, "style_flirt", "调情上头", "调情上头模式",
     "把用户原意改写成暧昧、上头、会拉扯的表达。要像一句能被转发的金句，甜但不油，肉麻但不低俗，不要露骨性暗示，不要新增事实。"},
    {VoiceStylePreset::highEQ, "style_high_eq", "高情商", "高情商模式",
     "把用户原意改写成高情商、不冒犯、会做人但不油腻的表达。适合拒绝、催促、提要求、缓和冲突；短、稳、漂亮。"},
    {VoiceStylePreset::mouthpiece, "style_mouthpiece", "嘴替开麦", "嘴替开麦模式",
     "把用户原意改写成替用户开麦的嘴替表达。要像一句精准爆梗，锋利、好笑、有态度，可以有攻击性和粗口，但不要威胁、歧视或人身危险。"},
    {VoiceStylePreset::wicked, "style_wicked", "贱兮兮", "贱兮兮模式",
     "把用户原意改写成贱兮兮、阴阳怪气、欠欠的表达。要坏笑感、轻挑衅、强记忆点，但不要恶毒、歧视或真实伤害。"},
    {VoiceStylePreset::rage, "style_rage", "暴躁开喷", "暴躁开喷模式",
     "把用户原意改写成暴躁、火大、直接开喷的表达。情绪要强，句子要短，允许粗口，但不要生成威胁、暴力号召、歧视或违法内容。"},
    {VoiceStylePreset::meltdown, "style_meltdown", "发疯文学", "发疯文学模式",
     "把用户原意改写成发疯文学。要戏剧化、崩溃、疯感强，但必须像高级短文案，不要堆无意义排比，不要改变事实。"},
    {VoiceStylePreset::doubao, "style_doubao", "豆包语气", "豆包语气模式",
     ""},
    {VoiceStylePreset::kalovStatement, "style_kalov_statement", "卡式新闻稿", "卡洛维转会新闻稿模式",
     "把用户原意改写成卡洛维每次做重大转会决定时那种官方媒体新闻稿/声明口吻：庄重、宏大、感谢过去、展望下一章、强调家庭/团队/冠军心态/城市情感。要像体育媒体可直接发布的短声明，但必须保留用户真实意思，不要凭空增加球队、人名、时间或成绩。"},
}};

const PresetRow& row(VoiceStylePreset::Case value) { return kPresets[static_cast<std::size_t>(value) - 1]; }

}  // namespace

std::optional<VoiceStylePreset> VoiceStylePreset::fromDigit(int digit) {
  if (digit < 1 || digit > 8) return std::nullopt;
  return VoiceStylePreset(static_cast<Case>(digit));
}

const std::array<VoiceStylePreset, 8>& VoiceStylePreset::all() {
  static const std::array<VoiceStylePreset, 8> kAll{flirt, highEQ, mouthpiece, wicked,
                                                    rage,  meltdown, doubao,   kalovStatement};
  return kAll;
}

std::string_view VoiceStylePreset::key() const { return row(value_).key; }
std::string_view VoiceStylePreset::hudTitle() const { return row(value_).hudTitle; }
std::string_view VoiceStylePreset::styleName() const { return row(value_).styleName; }
std::string_view VoiceStylePreset::instruction() const { return row(value_).instruction; }

std::string_view RecordingMode::metricValue() const {
  switch (kind_) {
    case Kind::dictation:
      return "dictation";
    case Kind::englishTranslation:
      return "english_translation";
    case Kind::morseCipher:
      return "morse_cipher";
    case Kind::styled:
      return preset_ ? preset_->key() : "dictation";
  }
  return "dictation";
}

}  // namespace sorvane

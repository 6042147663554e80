// Data of the list and section steps (text_normalizer_lists.cpp): process and ordinal
// list markers, spoken section cues and their labels. Data only.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "core/regex.h"

namespace sorvane::TextNormalizer::tables {

// "流程如下，先……然后……再……最后……" dictated as a process.
inline constexpr std::array<ReplaceRule, 4> kProcessList{{
    {R"(流程如下[：:，,、\s]*先)", "流程如下：\n1. "},
    {R"([，,、\s]+然后)", "\n2. "},
    {R"([，,、\s]+再)", "\n3. "},
    {R"([，,、\s]+最后)", "\n4. "},
}};

inline constexpr std::array<ReplaceRule, 2> kListTidy{{
    {R"(\s*\n\s*)", "\n"},
    {R"(([^\n：:])\n1\. )", "$1：\n1. "},
}};

inline constexpr std::array<std::string_view, 10> kChineseNumerals{"一", "二", "三", "四", "五",
                                                            "六", "七", "八", "九", "十"};
inline constexpr std::array<std::string_view, 13> kOrdinalNouns{
    "个问题", "个需求", "件事情", "件事", "个步骤", "个风险", "个指标",
    "项优化", "部分",   "步",     "部",   "点",     "项"};
// After 第N: the bare form comes sixth, so the five after it never find anything left.
inline constexpr std::array<std::string_view, 11> kOrdinalSuffixes{"个", "件", "项", "点", "步", "",
                                                            "，", "、", ":", "：", " "};

inline constexpr std::array<ReplaceRule, 6> kOrdinalHeadings{{
    {"流程如下", "流程如下："},
    {"具体流程", "具体流程："},
    {"主要有", "主要有："},
    {"有两个问题", "有两个问题："},
    {"有三个问题", "有三个问题："},
    {"：：", "："},
}};
inline constexpr std::array<ReplaceRule, 4> kOrdinalTidy{{
    {R"(([；;])\s*\n(\d+\. ))", "\n$2"},
    {R"(\s*\n\s*)", "\n"},
    {R"(^[:：]\s*)", ""},
    {R"(([^\n：:])\n1\. )", "$1：\n1. "},
}};

// Spoken section announcements ("先说背景", "风险是") become labelled sections. Each
// pattern starts at the text start or after a mark, which the label replaces.
#define SORVANE_SECTION_START R"((^|[。！？；;，,]\s*))"
#define SORVANE_CUE_TAIL R"([，,、\s]*)"
inline constexpr std::array<ReplaceRule, 28> kSectionCues{{
    {SORVANE_SECTION_START "先说背景" SORVANE_CUE_TAIL, "\n背景："},
    {SORVANE_SECTION_START "先说结论" SORVANE_CUE_TAIL, "\n结论："},
    {SORVANE_SECTION_START "先说问题" SORVANE_CUE_TAIL, "\n问题："},
    {SORVANE_SECTION_START "先说风险" SORVANE_CUE_TAIL, "\n风险："},
    {SORVANE_SECTION_START "先说数据" SORVANE_CUE_TAIL, "\n数据："},
    {SORVANE_SECTION_START "再说问题" SORVANE_CUE_TAIL, "\n问题："},
    {SORVANE_SECTION_START "再说机会" SORVANE_CUE_TAIL, "\n机会："},
    {SORVANE_SECTION_START "再说风险" SORVANE_CUE_TAIL, "\n风险："},
    {SORVANE_SECTION_START "再说方案" SORVANE_CUE_TAIL, "\n方案："},
    {SORVANE_SECTION_START "再说动作" SORVANE_CUE_TAIL, "\n动作："},
    {SORVANE_SECTION_START "然后说机会" SORVANE_CUE_TAIL, "\n机会："},
    {SORVANE_SECTION_START "然后说风险" SORVANE_CUE_TAIL, "\n风险："},
    {SORVANE_SECTION_START "然后说方案" SORVANE_CUE_TAIL, "\n方案："},
    {SORVANE_SECTION_START "然后说动作" SORVANE_CUE_TAIL, "\n动作："},
    {SORVANE_SECTION_START "最后说动作" SORVANE_CUE_TAIL, "\n下一步："},
    {SORVANE_SECTION_START "最后说结论" SORVANE_CUE_TAIL, "\n结论："},
    {SORVANE_SECTION_START "最后说建议" SORVANE_CUE_TAIL, "\n建议："},
    {SORVANE_SECTION_START "最后说下一步" SORVANE_CUE_TAIL, "\n下一步："},
    {SORVANE_SECTION_START "背景是", "\n背景："},
    {SORVANE_SECTION_START "问题是", "\n问题："},
    {SORVANE_SECTION_START R"(风险[，,、\s]*是)", "\n风险："},
    {SORVANE_SECTION_START "风险[：:]", "\n风险："},
    {SORVANE_SECTION_START "机会是", "\n机会："},
    {SORVANE_SECTION_START "方案是", "\n方案："},
    {SORVANE_SECTION_START "方案[：:]", "\n方案："},
    {SORVANE_SECTION_START "建议是", "\n建议："},
    {SORVANE_SECTION_START "下一步是", "\n下一步："},
    {SORVANE_SECTION_START "结论是", "\n结论："},
}};
inline constexpr std::array<ReplaceRule, 6> kSectionTidy{{
    {R"(^\s*\n)", ""},
    {R"(\s*\n\s*)", "\n"},
    {R"((\n方案：[^。\n]*)(，|,)\s*\n1\. )", "$1：\n1. "},
    {"：：", "："},
    {R"(([。！？])\n)", "$1\n\n"},
    {R"(([^\n：:])\n([^\n]{1,8}：))", "$1\n\n$2"},
}};
inline constexpr std::size_t kSectionMinChars = 42;

inline constexpr std::array<std::string_view, 8> kTripleCues{"做到三点：", "做到三点 ", "有三个点：",
                                                      "有三个点 ", "三个点：",   "三个点 ",
                                                      "三点：",     "三点 "};
inline constexpr std::size_t kTripleItemMaxChars = 8;

inline constexpr std::array<std::string_view, 9> kSectionPrefixes{
    "背景：", "结论：", "问题：", "数据：", "机会：", "风险：", "方案：", "建议：", "下一步："};

#undef SORVANE_SECTION_START
#undef SORVANE_CUE_TAIL

}  // namespace sorvane::TextNormalizer::tables

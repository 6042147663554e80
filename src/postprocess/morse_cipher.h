// The Morse cipher recording mode: the spoken text rendered as Morse code, locally.
//
// Letters, digits and common punctuation use International Morse code; any other
// character (a user-perceived character: Chinese, an emoji with its modifier, a letter
// with a combining accent) is spelt byte by byte from its UTF-8 form, eight symbols per
// byte, its bytes separated by spaces. Dots are written as the middle dot "·", dashes as "-", character
// tokens are separated by " / " and white space becomes its own "/" token, so the
// output reads back unambiguously. Pure function, any queue; no network.
#pragma once

#include <string>
#include <string_view>

namespace sorvane::MorseCipher {

std::string encode(std::string_view text);

}  // namespace sorvane::MorseCipher

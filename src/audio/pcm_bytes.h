// The byte buffer that carries audio through the conditioning path: little-endian
// signed 16-bit mono samples (linear16), as captured, enhanced, delayed and sent.
#pragma once

#include <cstdint>
#include <vector>

namespace sorvane {

using PcmBytes = std::vector<std::uint8_t>;

}  // namespace sorvane

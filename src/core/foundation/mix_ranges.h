#pragma once

namespace vernalo {

// The ranges the mixer accepts for its gains and ducking strength (ducking starts at 0).
inline constexpr double kMinGain = 0.1;
inline constexpr double kMaxGain = 2.0;
inline constexpr double kMaxDuckingStrength = 0.9;

} // namespace vernalo

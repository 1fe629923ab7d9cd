#pragma once
// A sign's brightness: automatic, or a manual level 0..9.

namespace sign_sim {

inline constexpr int kBrightnessAutomatic = -1;

inline bool IsBrightness(int value) {
  return value == kBrightnessAutomatic || (value >= 0 && value <= 9);
}

}  // namespace sign_sim

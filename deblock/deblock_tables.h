#pragma once
// Constant tables of the deblocking filter, read by the scalar and the vector code alike.
#include <cstdint>

#include "core/tracks.h"

namespace deblock {

// Thresholds in 8-bit sample units, index 0..60. Entries 0..51 are the customary block-edge
// thresholds (tc0: the boundary-strength-2 column); 52..60 continue them for this filter (alpha
// stays 255, beta grows by 1, tc0 by 2).
// clang-format off
inline constexpr int32_t AlphaTable[61] = {
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,            // 0..15
    4,   4,   5,   6,   7,   8,   9,   10,  12,  13,  15,  17,  20,  22,  25,  28,           // 16..31
    32,  36,  40,  45,  50,  56,  63,  71,  80,  90,  101, 113, 127, 144, 162, 182,         // 32..47
    203, 226, 255, 255,                                                                    // 48..51
    255, 255, 255, 255, 255, 255, 255, 255, 255};                                          // 52..60
inline constexpr int32_t BetaTable[61] = {
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,                         // 0..15
    2,  2,  2,  3,  3,  3,  3,  4,  4,  4,  6,  6,  7,  7,  8,  8,                         // 16..31
    9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16,                        // 32..47
    17, 17, 18, 18,                                                                        // 48..51
    19, 20, 21, 22, 23, 24, 25, 26, 27};                                                   // 52..60
inline constexpr int32_t Tc0Table[61] = {
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,     // 0..20
    1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  2,  2,  2,  2,  3,  3,                         // 21..36
    3,  4,  4,  5,  5,  6,  7,  8,  8,  10, 11, 12, 13, 15, 17,                            // 37..51
    19, 21, 23, 25, 27, 29, 31, 33, 35};                                                   // 52..60
// clang-format on

inline constexpr int kTableSize = 61;
static_assert(sizeof(AlphaTable) / sizeof(AlphaTable[0]) == kTableSize);
static_assert(sizeof(BetaTable) / sizeof(BetaTable[0]) == kTableSize);
static_assert(sizeof(Tc0Table) / sizeof(Tc0Table[0]) == kTableSize);

// The filter's full name, and its tracks by position.
inline constexpr char kTitle[] = "deblock for AviUtl";
enum { kTrackQuant = 0, kTrackAOffset = 1, kTrackBOffset = 2, kTrackCount = 3 };
inline constexpr core::Track kTracks[kTrackCount] = {
    {"quant", core::TrackKind::kBar, 0, 60, 25, nullptr},
    {"aOffset", core::TrackKind::kBar, 0, 60, 0, nullptr},
    {"bOffset", core::TrackKind::kBar, 0, 60, 0, nullptr},
};
static_assert(core::TracksAreSound(kTracks));

}  // namespace deblock

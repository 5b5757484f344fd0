#pragma once
// Constant tables of the smoothing filter, read by the scalar and the vector code alike.
#include <cstdint>
#include <iterator>

#include "core/tracks.h"

namespace velour {

// Base quantiser steps, entry (v, u) at 8 * v + u, coefficients in natural Hadamard order.
// clang-format off
inline constexpr int32_t QuantMatrices[5][64] = {
    {8,  11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
     14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
     18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
     49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99},
    {8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37,
     19, 22, 26, 27, 29, 34, 34, 38, 22, 22, 26, 27, 29, 34, 37, 40,
     22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32, 35, 40, 48, 58,
     26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83},
    {6,  10, 13, 16, 18, 23, 25, 27, 10, 11, 16, 18, 23, 25, 27, 29,
     13, 16, 18, 23, 25, 27, 29, 31, 16, 18, 23, 25, 27, 29, 31, 33,
     18, 23, 25, 27, 29, 31, 33, 36, 23, 25, 27, 29, 31, 33, 36, 38,
     25, 27, 29, 31, 33, 36, 38, 40, 27, 29, 31, 33, 36, 38, 40, 42},
    {8,  11, 12, 12, 13, 15, 16, 17, 11, 11, 12, 12, 14, 15, 16, 17,
     12, 12, 13, 14, 15, 16, 17, 18, 12, 12, 14, 16, 17, 18, 19, 19,
     13, 14, 15, 17, 19, 20, 20, 20, 15, 15, 16, 18, 20, 21, 22, 22,
     16, 16, 17, 19, 21, 22, 23, 24, 17, 17, 18, 19, 20, 22, 24, 24},
    {8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
     8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
     8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8},
};
// clang-format on

// Grid offsets of the passes, (dx, dy) each; a frame of P passes uses entries 0 .. P - 1.
// clang-format off
inline constexpr int32_t ShiftTable[64][2] = {
    {3, 4}, {1, 0}, {6, 7}, {2, 2}, {5, 5}, {0, 6}, {7, 1}, {2, 5},
    {5, 2}, {7, 6}, {0, 1}, {1, 7}, {6, 0}, {4, 6}, {0, 3}, {4, 1},
    {7, 3}, {4, 3}, {3, 7}, {3, 0}, {1, 4}, {6, 4}, {0, 5}, {5, 1},
    {5, 7}, {0, 2}, {7, 5}, {0, 7}, {4, 2}, {2, 1}, {7, 7}, {1, 2},
    {4, 5}, {1, 6}, {6, 2}, {2, 3}, {6, 6}, {0, 4}, {6, 1}, {2, 6},
    {3, 1}, {4, 7}, {1, 5}, {5, 3}, {1, 3}, {5, 0}, {3, 5}, {6, 5},
    {7, 0}, {3, 2}, {5, 6}, {1, 1}, {3, 6}, {7, 4}, {2, 0}, {5, 4},
    {6, 3}, {2, 7}, {3, 3}, {4, 0}, {2, 4}, {4, 4}, {7, 2}, {0, 0},
};
// clang-format on

// The filter's full name, and its tracks by position.
inline constexpr char kTitle[] = "Velour for AviUtl";
enum { kTrackQuant = 0, kTrackNShift = 1, kTrackMatrix = 2, kTrackZeroWeight = 3, kTrackCount = 4 };
// The base quantiser matrices by their index in QuantMatrices.
inline constexpr const char* const kMatrixLabels[] = {"JPEG luma", "MPEG-2 intra", "diagonal ramp",
                                                      "gentle ramp", "flat"};
inline constexpr core::Track kTracks[kTrackCount] = {
    {"quant", core::TrackKind::kBar, 1, 31, 1, nullptr},
    {"n_shift", core::TrackKind::kBar, 1, 64, 8, nullptr},
    {"matrix", core::TrackKind::kList, 0, 4, 3, kMatrixLabels},
    {"zero_weight", core::TrackKind::kBar, 0, 64, 0, nullptr},
};
static_assert(core::TracksAreSound(kTracks));
static_assert(std::size(kMatrixLabels) == std::size(QuantMatrices));

}  // namespace velour

#pragma once
// The vector tiers of the RGBA conversion: each sets the kernels of the table that it improves.
#include "core/rgba_dsp.h"

namespace core {

void InitRgbaDsp_SSE2(RgbaDsp& dsp);
void InitRgbaDsp_AVX2(RgbaDsp& dsp);
void InitRgbaDsp_AVX512(RgbaDsp& dsp);

}  // namespace core

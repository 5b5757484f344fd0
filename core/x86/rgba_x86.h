#pragma once
// The vector tiers of the RGBA conversion: each sets the kernels of the table that it improves.
#include "core/rgba_dsp.h"

namespace core {

void InitRgbaDsp_Sse2(RgbaDsp& dsp);
void InitRgbaDsp_Avx2(RgbaDsp& dsp);
void InitRgbaDsp_Avx512(RgbaDsp& dsp);

}  // namespace core

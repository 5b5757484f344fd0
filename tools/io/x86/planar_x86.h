#pragma once
// The vector tiers of the planar conversions: each sets the kernels of the table that it improves.
#include "tools/io/planar.h"

namespace io {

void InitPlanarDsp_SSE2(PlanarDsp& dsp);
void InitPlanarDsp_AVX2(PlanarDsp& dsp);

}  // namespace io

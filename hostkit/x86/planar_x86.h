#pragma once
// The vector tiers of the planar conversions: each sets the kernels of the table that it improves.
#include "hostkit/planar.h"

namespace io {

void InitPlanarDsp_Sse2(PlanarDsp& dsp);
void InitPlanarDsp_Avx2(PlanarDsp& dsp);

}  // namespace io
